// The directory page runs passes until a path is accepted or the user
// cancels. Each pass shows the heading, offers the current directory in the
// first pass only, reads a path and puts it through the checks in a fixed
// order: rejections always start a new pass, warnings let the user insist.
// The path is not normalised and the directory is not created here.
#include "installer/directory_selection.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "installer/answers.h"
#include "installer/installer_state.h"
#include "installer/prompts.h"
#include "installer/termination.h"

namespace {

constexpr int PATH_BUFFER_SIZE = SYSTEM_PATH_SIZE;
constexpr size_t PATH_MAX_TYPED = INSTALL_DIR_MAX;  // longer lines are refused as too long
// What getcwd may fill, its NUL included.
constexpr int WORKING_DIR_SIZE = PATH_BUFFER_SIZE - 1;
// A working directory and a relative path longer than this together are
// refused, so that a "/" between them still keeps within PATH_MAX_TYPED.
constexpr size_t PATH_MAX_JOINED = PATH_MAX_TYPED - 1;

static_assert(PATH_MAX_TYPED + 1 < PATH_BUFFER_SIZE);
static_assert(PATH_BUFFER_SIZE <= INSTALL_DIR_SIZE, "an accepted path must fit install_dir");

enum CheckResult { CHECK_PASSED, CHECK_NEW_PASS, CHECK_CANCEL };

void write_heading() {
  char name[HEADER_TEXT_SIZE], version[HEADER_TEXT_SIZE];
  header_text(attachment_header, HEADER_PRODUCT_NAME, name);
  header_text(attachment_header, HEADER_PRODUCT_VERSION, version);
  fputs("\n\nPlease select a directory for installation of\n", stderr);
  fprintf(stderr, "    %s  %s\n", name, version);
  fprintf(stderr, "requiring approximately %.3f MiByte of space.\n",
          header_space_required(attachment_header) / 1048576.0);
}

// Reads one line into `path`: the first PATH_MAX_TYPED bytes are kept, the
// newline is not. Returns 0 at the end of input, else 1, with `too_long` set
// when bytes were dropped.
int read_path(char* path, bool* too_long) {
  size_t length = 0;
  *too_long = false;
  for (;;) {
    int c = getchar();
    if (c == EOF) return 0;
    if (c == '\n') break;
    if (length < PATH_MAX_TYPED)
      path[length++] = char(c);
    else
      *too_long = true;
  }
  path[length] = 0;
  return 1;
}

// The page's texts stand between blank lines: "\n\nTEXT\n". An unattended
// run shows TEXT alone, as a note or as its error.
int inner_length(const char* message) { return int(strlen(message) - 3); }

CheckResult reject(const char* message) {
  if (unattended) {
    char text[128];
    snprintf(text, sizeof text, "%.*s", inner_length(message), message + 2);
    error(text);
  }
  fputs(message, stderr);
  return ask_ok_cancel("Select a different directory!") == ANSWER_CANCEL ? CHECK_CANCEL : CHECK_NEW_PASS;
}

// No lets the path go on to the next check.
CheckResult warn(const char* message) {
  if (unattended) {
    if (!quiet) fprintf(stderr, "\n\nNote: %.*s\n", inner_length(message), message + 2);
    return CHECK_PASSED;
  }
  fputs(message, stderr);
  switch (ask_no_yes_cancel("Select a different directory?", 0)) {
    case ANSWER_CANCEL: return CHECK_CANCEL;
    case ANSWER_YES: return CHECK_NEW_PASS;
    default: return CHECK_PASSED;
  }
}

// Makes a relative `path` absolute against the working directory. It stays
// relative when the working directory cannot be had.
CheckResult join_working_dir(char* path) {
  char working_dir[PATH_BUFFER_SIZE];
  if (!getcwd(working_dir, WORKING_DIR_SIZE) || !working_dir[0]) return CHECK_PASSED;
  size_t dir_length = strlen(working_dir), path_length = strlen(path);
  if (dir_length + path_length > PATH_MAX_JOINED) return reject("\n\nDirectory path is too long.\n");
  if (working_dir[dir_length - 1] != '/') working_dir[dir_length++] = '/';
  memcpy(working_dir + dir_length, path, path_length + 1);
  memcpy(path, working_dir, dir_length + path_length + 1);
  return CHECK_PASSED;
}

CheckResult check_path(char* path, bool too_long) {
  CheckResult r;
  // Only what was typed: the working directory joined below may hold blanks.
  if (strpbrk(path, " \t"))
    return reject("\n\nInstallation into a directory path containing spaces is not recommended.\n");
  if (path[0] != '/' && (r = join_working_dir(path)) != CHECK_PASSED) return r;
  if (too_long) return reject("\n\nDirectory path is too long.\n");
  if (strcmp(path, "/") == 0 || strcmp(path, "/.") == 0 || strcmp(path, "/..") == 0) {
    if ((r = warn("\n\nInstallation into the root directory is not recommended.\n")) != CHECK_PASSED)
      return r;
  }
  if (is_directory(path) == 0) return reject("\n\nThe directory already exists as a file.\n");
  // A loop rather than strstr, whose general search the installer would
  // carry for this one test.
  bool in_bin = false;
  for (const char* p = path; *p && !in_bin; p++) in_bin = strncmp(p, "/bin/", 5) == 0;
  if (in_bin) {
    if ((r = warn("\n\nInstalling into a 'bin' directory is not recommended.\n")) != CHECK_PASSED)
      return r;
  }
  if (strncmp(path, "/usr/", 5) != 0 && strncmp(path, "/home/", 6) != 0) {
    r = warn("\n\nInstalling anywhere other than under '/usr' or '/home' directories is not recommended.\n");
    if (r != CHECK_PASSED) return r;
  }
  return CHECK_PASSED;
}

}  // namespace

int is_directory(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0) return -1;
  return S_ISDIR(st.st_mode) ? 1 : 0;
}

int select_install_dir() {
  char path[PATH_BUFFER_SIZE];
  if (unattended) {
    // install_dir never holds more than PATH_MAX_TYPED bytes.
    snprintf(path, sizeof path, "%s", install_dir);
    check_path(path, false);  // a rejection ends the run
    memcpy(install_dir, path, strlen(path) + 1);
    if (!quiet) fprintf(stderr, "\n\nInstallation directory: %s\n", shown_install_dir());
    return ANSWER_NEXT;
  }
  for (int pass = 0;; pass++) {
    write_heading();
    // Each typed line is judged by its own length: one overlong line must not
    // make every later path "too long" as well.
    bool too_long = false;
    bool have_path = false;
    if (pass == 0 && install_dir[0]) {
      // install_dir never holds more than PATH_MAX_TYPED bytes.
      snprintf(path, sizeof path, "%s", install_dir);
      fprintf(stderr, "\n\nDefault directory: %s.\n", shown_install_dir());
      int answer = ask_no_yes_cancel("Use the default directory?", ANSWER_YES);
      if (answer == ANSWER_CANCEL) return ANSWER_CANCEL;
      have_path = answer == ANSWER_YES;
    }
    if (!have_path) {
      fputs("\n\nEnter directory >", stderr);
      if (!read_path(path, &too_long)) return ANSWER_CANCEL;
      if (!path[0]) {
        fputs("\n\nA directory must be selected.\n", stderr);
        if (ask_ok_cancel("Select a directory?") == ANSWER_CANCEL) return ANSWER_CANCEL;
        continue;
      }
    }
    switch (check_path(path, too_long)) {
      case CHECK_CANCEL: return ANSWER_CANCEL;
      case CHECK_NEW_PASS: continue;
      case CHECK_PASSED: break;
    }
    memcpy(install_dir, path, strlen(path) + 1);
    return ANSWER_NEXT;
  }
}
