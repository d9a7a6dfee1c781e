#include "installer/termination.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive/attachment_reader.h"
#include "installer/installer_state.h"
#include "installer/progress_line.h"

namespace {

int exit_status = 0;

// A failure, or input that ended before the dialogue did, is not a choice
// the user made: scripts must be able to tell it from success.
[[noreturn]] void terminate_installation(int status) {
  fputs(quiet ? "Installation terminated.\n" : "\n\nInstallation terminated.\n", stderr);
  exit_status = status;
  close_and_exit();
}

}  // namespace

#ifdef ZOLT_FUZZ_HOOKS
std::jmp_buf* termination_jump = nullptr;
#endif

void error(const char* message) {
  progress_flush();
  if (message) fprintf(stderr, "%s\n", message);
  terminate_installation(message || feof(stdin) || ferror(stdin) ? 1 : cancel_status);
}

void error_errno(const char* message, const char* detail, int error_number) {
  progress_flush();
  if (message) fputs(message, stderr);
  if (error_number != 0) {
    const char* text = strerror(error_number);
    if (text && *text) fprintf(stderr, " - %s", text);
  }
  if (detail) fprintf(stderr, " %s", detail);
  fputc('\n', stderr);
  terminate_installation(1);
}

void error_failure(const EngineFailure& failure) {
  char text[256];
  failure_text(failure, text, sizeof text);
  error(text);
}

void close_and_exit() {
  if (attachment_file) {
    fclose(attachment_file);
    attachment_file = nullptr;
  }
#ifdef ZOLT_FUZZ_HOOKS
  if (termination_jump) std::longjmp(*termination_jump, 1);
#endif
  exit(exit_status);
}
