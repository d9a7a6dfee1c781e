// zolt-setup: the console installer that carries its payload behind its own
// image. All dialogue is on standard error; standard output is never written.
#include "installer/answers.h"
#include "installer/pages.h"
#include "installer/sequencer.h"
#include "installer/startup.h"

int main(int argc, char** argv) {
  start_installer(argc, argv);
  const WizardPages pages = {welcome_page,           licence_page, select_install_dir,
                             existing_directory_page, install_page, files_installed_page};
  run_sequencer(pages, PAGE_WELCOME);
  return 0;
}
