#include "installer/startup.h"

#include <cstring>

#include "archive/attachment_reader.h"
#include "installer/installer_state.h"
#include "installer/termination.h"

void locate_attachment(FILE* file, AttachmentHeader* header) {
  int result = find_attachment(file, header);
  if (result != LOCATE_OK) error(locate_message(result));
}

int find_autonext(int argc, char** argv) {
  // Equal over all ten bytes, the NUL included: prefixes, extensions and other
  // letter cases do not match.
  for (int i = 0; i < argc; i++)
    if (argv[i] && strcmp(argv[i], "-autonext") == 0) return 1;
  return 0;
}

void start_installer(int argc, char** argv) {
  // argv[0] as given: a bare name started through the search path is not
  // looked up, so it names the installer only relative to the working directory.
  attachment_file = argc > 0 && argv[0] ? fopen(argv[0], "rb") : nullptr;
  if (!attachment_file) error("Can't find attachments (err=1).");
  locate_attachment(attachment_file, &attachment_header);
  if (header_volume(attachment_header) != VOLUME_WHOLE) error("Can't find attachments (err=2).");
  // The vendor's texts end where the header block begins; a damaged block
  // stops the installer before any page shows part of it.
  int texts = read_vendor_texts(attachment_file, ftell(attachment_file) - long(HEADER_SIZE), &vendor_texts);
  if (texts != VENDOR_TEXTS_OK) error(vendor_texts_message(texts));
  autonext = find_autonext(argc, argv);
  strcpy(install_dir, vendor_text_or(VENDOR_DIRECTORY, "/usr/local/qumba"));
}
