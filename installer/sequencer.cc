#include "installer/sequencer.h"

#include <cstdio>

#include "installer/answers.h"
#include "installer/installer_state.h"
#include "installer/termination.h"

void run_sequencer(const WizardPages& pages, int first_page) {
  int current_page = first_page;
  for (;;) {
    int back_page, next_page;
    PageAction action;
    switch (current_page) {
      case PAGE_WELCOME:
        back_page = PAGE_WELCOME, next_page = PAGE_LICENCE, action = pages.welcome;
        break;
      case PAGE_LICENCE:
        back_page = PAGE_WELCOME, next_page = PAGE_DIRECTORY, action = pages.licence;
        break;
      case PAGE_DIRECTORY:
        back_page = PAGE_WELCOME, next_page = PAGE_EXISTING_DIRECTORY, action = pages.directory;
        break;
      case PAGE_EXISTING_DIRECTORY:
        back_page = PAGE_DIRECTORY, next_page = PAGE_INSTALL, action = pages.existing_directory;
        break;
      case PAGE_INSTALL:
        back_page = PAGE_INSTALL, next_page = PAGE_FILES_INSTALLED, action = pages.install;
        break;
      case PAGE_FILES_INSTALLED:
        back_page = PAGE_FILES_INSTALLED, next_page = PAGE_COMPLETE, action = pages.files_installed;
        break;
      case PAGE_COMPLETE:
        fputs(quiet ? "Installation complete.\n" : "\n\nInstallation complete.\n\n", stderr);
        return;
      default:
        error("Install error (err=12).");
    }
    int result = action();
    if (result == ANSWER_NEXT)
      current_page = next_page;
    else if (result == ANSWER_BACK)
      current_page = back_page;
    else if (result == ANSWER_CANCEL)
      error(nullptr);
    else if (result == 0)
      error("Install error (err=10).");
    else
      error("Install error (err=11).");
  }
}
