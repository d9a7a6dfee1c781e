// The pages of the installation dialogue. Each takes no arguments, writes its
// own text to standard error and returns a page result (installer/answers.h).
#pragma once

#include "installer/directory_selection.h"  // select_install_dir

int welcome_page();
int licence_page();
int existing_directory_page();
int install_page();  // install_files, then ANSWER_NEXT
int files_installed_page();
