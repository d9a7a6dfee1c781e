// The one way the installer ends early: a message, "Installation terminated.",
// the attachment file closed. The exit status is 1 after a message or when
// standard input ended, cancel_status (0 unless --fail-on-cancel) after a
// cancellation chosen with a key.
#pragma once

#include "engine/failure.h"

#ifdef ZOLT_FUZZ_HOOKS
#include <csetjmp>
#endif

// Writes `message` and a newline (nothing when null), then the ending.
[[noreturn]] void error(const char* message);

// Writes `message`, " - " and strerror(error_number) when the number is not 0
// and its text is not empty, " " and `detail` when not null, a newline, then
// the ending. Any argument may be null or 0.
[[noreturn]] void error_errno(const char* message, const char* detail, int error_number);

// error() with the engine's text for `failure` (failure_text).
[[noreturn]] void error_failure(const EngineFailure& failure);

// Closes attachment_file if it is open and exits: status 0 unless error or
// error_errno chose 1.
[[noreturn]] void close_and_exit();

#ifdef ZOLT_FUZZ_HOOKS
// Fuzz builds only: when not null, close_and_exit jumps here (with the value
// 1) after closing attachment_file instead of exiting, so that a harness can
// run many installations in one process. The frames it leaves hold no objects
// with destructors; what the installation allocated is released by
// release_installation.
extern std::jmp_buf* termination_jump;
#endif
