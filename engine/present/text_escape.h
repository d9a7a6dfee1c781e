// Names and texts from an installer shown on a terminal or in a listing that
// other programs read: control characters come out escaped, as "ls -b" and
// tar show them, so that no name can forge a line or send an escape
// sequence to the terminal. Shared by zolt-pack and the installer, which has
// no C++ run-time library: hence a caller's buffer rather than a string.
#pragma once

#include <cstddef>
#include <cstdint>

// The most bytes that escape_text writes for `length` bytes of text, its NUL
// included: every byte may become a backslash and three octal digits.
constexpr size_t escaped_size(size_t length) { return 4 * length + 1; }

// Writes `text` (`length` bytes) to `out`, which holds escaped_size(length)
// bytes, NUL-terminated; returns the length written. A backslash as "\\",
// \a \b \t \n \v \f \r as such, every other control character (see
// text_characters.h) and every byte that is not part of valid UTF-8 as a
// backslash and three octal digits. Everything else is kept.
size_t escape_text(const char* text, size_t length, char* out);
