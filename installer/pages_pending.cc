// Stand-ins for the pages that the dialogue does not have yet: each passes on
// silently.
#include "installer/answers.h"
#include "installer/pages.h"

int welcome_page() { return ANSWER_NEXT; }
int licence_page() { return ANSWER_NEXT; }
int select_install_dir() { return ANSWER_NEXT; }
int existing_directory_page() { return ANSWER_NEXT; }
int install_page() { return ANSWER_NEXT; }
int files_installed_page() { return ANSWER_NEXT; }
