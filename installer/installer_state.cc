#include "installer/installer_state.h"

AttachmentHeader attachment_header;
VendorTexts vendor_texts;
int autonext = 0;
char install_dir[INSTALL_DIR_SIZE];
