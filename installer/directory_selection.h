// Choosing the installation directory, and the directory test that the pages
// and the extraction share.
#pragma once

// -1: stat fails (also: does not exist); 1: a directory (links followed); 0: anything else.
int is_directory(const char* path);

// The directory page: ANSWER_NEXT with the accepted path in install_dir, or ANSWER_CANCEL.
int select_install_dir();
