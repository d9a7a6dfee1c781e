#include "installer/installer_state.h"

#include <cstring>

#include "engine/present/text_escape.h"

AttachmentHeader attachment_header;
VendorTexts vendor_texts;
int autonext = 0;
char install_dir[INSTALL_DIR_SIZE];
int unattended = 0;
int quiet = 0;
int licence_accepted = 0;
int cancel_status = 0;
int accept_new_signer = 0;

const char* shown_install_dir() {
  static char shown[escaped_size(INSTALL_DIR_SIZE)];
  escape_text(install_dir, strnlen(install_dir, INSTALL_DIR_SIZE), shown);
  return shown;
}

void recorded_product(char* product) {
  memcpy(product, attachment_header.bytes + HEADER_PRODUCT_NAME, HEADER_TEXT_SIZE);
  product[HEADER_TEXT_SIZE] = 0;
}
