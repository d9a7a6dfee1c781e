// Names and texts from an installer shown on a terminal or in a listing that
// other programs read: control characters come out escaped, as "ls -b" and
// tar show them, so that no name can forge a line or send an escape
// sequence to the terminal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A backslash as "\\", \a \b \t \n \v \f \r as such, every other control
// character (C0, DEL, and the C1 range in UTF-8) and every byte that is not
// part of valid UTF-8 as a backslash and three octal digits. Everything else
// is kept.
std::string escaped_text(const std::string& text);

// The same with backslashes kept as they are: for messages, where a name must
// not reach the terminal raw but need not read back unambiguously.
std::string terminal_safe_text(const std::string& text);

// The length of the valid UTF-8 sequence (not overlong, no surrogate, at
// most U+10FFFF) that begins text[i], with its code point in `code`, or 0.
size_t utf8_sequence(const std::string& text, size_t i, uint32_t* code);
