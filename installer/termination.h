// The one way the installer ends early: a message, "Installation terminated.",
// the attachment file closed, exit status 0. Nothing is undone.
#pragma once

// Writes `message` and a newline (nothing when null), then the ending.
[[noreturn]] void error(const char* message);

// Writes `message`, " - " and strerror(error_number) when the number is not 0
// and its text is not empty, " " and `detail` when not null, a newline, then
// the ending. Any argument may be null or 0.
[[noreturn]] void error_errno(const char* message, const char* detail, int error_number);

// Closes attachment_file if it is open and exits with status 0.
[[noreturn]] void close_and_exit();
