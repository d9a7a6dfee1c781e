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

#ifdef ZOLT_FUZZ_HOOKS
std::jmp_buf* termination_jump = nullptr;
#endif

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
#ifdef ZOLT_FUZZ_HOOKS
  if (termination_jump) std::longjmp(*termination_jump, 1);
#endif
  exit(0);
}
