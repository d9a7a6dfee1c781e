#include "installer/termination.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive/attachment_reader.h"

namespace {

[[noreturn]] void terminate_installation() {
  fputs("\n\nInstallation terminated.\n", stderr);
  close_and_exit();
}

}  // namespace

void error(const char* message) {
  if (message) fprintf(stderr, "%s\n", message);
  terminate_installation();
}

void error_errno(const char* message, const char* detail, int error_number) {
  if (message) fputs(message, stderr);
  if (error_number != 0) {
    const char* text = strerror(error_number);
    if (text && *text) fprintf(stderr, " - %s", text);
  }
  if (detail) fprintf(stderr, " %s", detail);
  fputc('\n', stderr);
  terminate_installation();
}

void close_and_exit() {
  if (attachment_file) {
    fclose(attachment_file);
    attachment_file = nullptr;
  }
  exit(0);
}
