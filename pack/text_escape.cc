#include "pack/text_escape.h"

#include "engine/present/text_escape.h"

std::string escaped_text(const std::string& text) {
  std::string out(escaped_size(text.size()), '\0');
  out.resize(escape_text(text.data(), text.size(), out.data()));
  return out;
}

std::string terminal_safe_text(const std::string& text) {
  // Every escape begins with a backslash, so a doubled one stands for a
  // backslash of the text.
  std::string escaped = escaped_text(text), out;
  out.reserve(escaped.size());
  for (size_t i = 0; i < escaped.size(); i++) {
    out.push_back(escaped[i]);
    if (escaped[i] == '\\' && i + 1 < escaped.size() && escaped[i + 1] == '\\') i++;
  }
  return out;
}
