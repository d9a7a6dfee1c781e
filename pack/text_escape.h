// Names and texts from an installer shown on a terminal or in a listing that
// other programs read: control characters come out escaped, as "ls -b" and
// tar show them, so that no name can forge a line or send an escape
// sequence to the terminal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// escape_text (engine/present/text_escape.h) into a string.
std::string escaped_text(const std::string& text);

// The same with backslashes kept as they are: for messages, where a name must
// not reach the terminal raw but need not read back unambiguously.
std::string terminal_safe_text(const std::string& text);
