#include "installer/startup.h"

#include <fcntl.h>
#include <sys/auxv.h>

#include <cerrno>
#include <cstring>

#include "archive/attachment_reader.h"
#include "archive/text_characters.h"
#include "installer/command_line.h"
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
  // A standard stream that was closed is taken by /dev/null first: the
  // installer's own file must not become its standard input.
  for (int fd = 0; fd < 3; fd++)
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
  // The kernel's own link to the running program: argv[0] is whatever the
  // caller chose, and a bare name found through PATH would be looked up in
  // the working directory. Where /proc is missing, the path the kernel
  // executed stands in. Any other failure, such as a program that its user
  // may run but not read, is final: no other file may stand in for it.
  attachment_file = fopen("/proc/self/exe", "rb");
  if (!attachment_file && errno == ENOENT) {
    const char* executed = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    if (executed) attachment_file = fopen(executed, "rb");
  }
  if (!attachment_file) error("Can't find attachments (err=1).");
  // The entry stream is read in pieces of a few bytes to a few KiB; a
  // large buffer makes that one read per 64 KiB, not one per record.
  static char attachment_buffer[1 << 16];
  setvbuf(attachment_file, attachment_buffer, _IOFBF, sizeof attachment_buffer);
  locate_attachment(attachment_file, &attachment_header);
  if (header_volume(attachment_header) != VOLUME_WHOLE) error("Can't find attachments (err=2).");
  // The vendor's texts end where the header block begins; a damaged block
  // stops the installer before any page shows part of it.
  int texts = read_vendor_texts(attachment_file, ftell(attachment_file) - long(HEADER_SIZE), &vendor_texts);
  if (texts != VENDOR_TEXTS_OK) error(vendor_texts_message(texts));
  autonext = find_autonext(argc, argv);
  strcpy(install_dir, vendor_text_or(VENDOR_DIRECTORY, "/usr/local/qumba"));
}

void apply_installer_options(const InstallerOptions& options) {
  quiet = options.quiet;
  // A check asks nothing either: the directory page's warnings become notes.
  unattended = options.unattended || options.mode == MODE_CHECK;
  licence_accepted = options.accept_licence;
  accept_new_signer = options.accept_new_signer;
  if (options.fail_on_cancel) cancel_status = STATUS_CANCELLED;
  // Every prompt with a default takes it; the rest are never reached.
  if (unattended) autonext = 1;
  if (options.target) {
    size_t length = strlen(options.target);
    if (length > INSTALL_DIR_MAX) error("Directory path is too long.");
    // A typed line cannot carry them; from the command line they could only
    // drive the terminal that shows the path, or hide a newline in it.
    if (text_has_control(options.target, length))
      error("Installation into a directory path containing control characters is not possible.");
    strcpy(install_dir, options.target);
  }
  if (unattended && !licence_accepted && options.mode == MODE_INSTALL)
    error("An installation without questions needs the licence accepted with --accept-licence.");
}
