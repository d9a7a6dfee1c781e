// The pages after directory selection: the warning about an existing
// directory and the notice after the files are installed, with the vendor's
// notes when the installer carries them.
#include <cstdio>

#include "installer/answers.h"
#include "installer/directory_selection.h"
#include "installer/installer_state.h"
#include "installer/pages.h"
#include "installer/prompts.h"

namespace {

// The heading stays; a vendor's notes take the place of what follows it.
const char files_installed_heading[] = "\n\nFiles installed!\n";
const char files_installed_notes[] =
    "See \"Library Installation\" in the QUMBA 'C' Library Reference Manual\n"
    "for hardware and software configuration options.\n"
    "\n"
    "Also, see files:\n"
    "QUMBADST.TXT Describes the various files installed.\n"
    "QUMBARLS.TXT Up-to-the minute release notes.\n"
    "QUMBA.HTM    The full QUMBA Reference Manual.\n"
    "\n"
    "If the TORMA C/C++ Library was also installed:\n"
    "TORMADST.TXT Describes the various files installed.\n"
    "TORMARLS.TXT Up-to-the minute release notes.\n";
static_assert(sizeof files_installed_heading - 1 + sizeof files_installed_notes - 1 == 443);

}  // namespace

int existing_directory_page() {
  // Decided afresh on every entry, from the file system as it is now.
  if (is_directory(install_dir) != 1) return ANSWER_NEXT;
  if (unattended) {
    if (!quiet) fprintf(stderr, "\n\nNote: the directory %s already exists; installing into it.\n", shown_install_dir());
    return ANSWER_NEXT;
  }
  fprintf(stderr,
          "\n\nThe directory \n    %s\nalready exists!\n\n"
          "Installing into a different directory is prudent -\n"
          "in the unlikely event of a media failure, the\n"
          "previous functioning version remains intact.\n"
          "After the new version has been installed\n"
          "into a different directory and sucessfully used,\n"
          "the old version's directory can be deleted with\n"
          "standard O.S. commands.\n\n"
          "Select 'Next' to proceed with the installation,\n"
          "or 'Back' to select a different directory.\n",
          shown_install_dir());
  return ask_back_next_cancel();
}

int files_installed_page() {
  if (quiet) return ANSWER_NEXT;
  fputs(files_installed_heading, stderr);
  fputs(vendor_text_or(VENDOR_NOTES, files_installed_notes), stderr);
  return ask_back_next_cancel();
}
