#include "installer/installer_state.h"

AttachmentHeader attachment_header;
VendorTexts vendor_texts;
int autonext = 0;
char install_dir[INSTALL_DIR_SIZE];
int unattended = 0;
int quiet = 0;
int licence_accepted = 0;
int cancel_status = 0;
