// Names and texts from an installer shown on a terminal or in a listing that
// other programs read: control characters come out escaped, as "ls -b" and
// tar show them, so that no name can forge a line or send an escape
// sequence to the terminal.
#pragma once

#include <string>

// A backslash as "\\", \a \b \t \n \v \f \r as such, every other control
// character (C0, DEL, and the C1 range in UTF-8) and every byte that is not
// part of valid UTF-8 as a backslash and three octal digits. Everything else
// is kept.
std::string escaped_text(const std::string& text);
