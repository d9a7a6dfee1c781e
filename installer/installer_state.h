// Process-wide state of the installer, alive for the whole run.
#pragma once

#include "archive/entry_paths.h"
#include "archive/format.h"
#include "archive/vendor_texts.h"

constexpr int INSTALL_DIR_SIZE = SYSTEM_PATH_SIZE;  // directory selection accepts at most INSTALL_DIR_MAX bytes
static_assert(VENDOR_DIRECTORY_MAX + 2 <= INSTALL_DIR_SIZE, "a vendor's default directory must fit install_dir");

// The header block found at start-up; never changes afterwards.
extern AttachmentHeader attachment_header;
// The vendor's texts found at start-up; where a text is null the page shows
// its own.
extern VendorTexts vendor_texts;
// 1 when "-autonext" was given: prompts with a default answer themselves.
extern int autonext;
// The installation directory, NUL-terminated.
extern char install_dir[INSTALL_DIR_SIZE];
// install_dir as the installer prints it: escaped (text_escape.h), so that a
// directory's name cannot drive the terminal. Valid until the next call.
const char* shown_install_dir();
// The name the installation record is kept under: all of the header's
// product field. `product` holds HEADER_TEXT_SIZE + 1 bytes.
void recorded_product(char* product);
// From the command line (command_line.h): no question is asked (autonext is
// set too); no pages and no progress line; the licence counts as accepted;
// the exit status of a cancellation chosen with a key.
extern int unattended;
extern int quiet;
extern int licence_accepted;
extern int cancel_status;
// --accept-new-signer: an installation signed by another key may be upgraded.
extern int accept_new_signer;

// The vendor's text `which`, or `built_in` when the installer carries none.
inline const char* vendor_text_or(int which, const char* built_in) {
  return vendor_texts.text[which] ? vendor_texts.text[which] : built_in;
}
