#include "pack/text_escape.h"

#include "engine/text_escape.h"

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

size_t utf8_sequence(const std::string& text, size_t i, uint32_t* code) {
  uint8_t b = uint8_t(text[i]);
  size_t n = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 && b < 0xF0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
  if (n == 0 || i + n > text.size()) return 0;
  uint32_t c = b & (0x7F >> n);
  for (size_t k = 1; k < n; k++) {
    uint8_t next = uint8_t(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    c = c << 6 | (next & 0x3F);
  }
  static const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < smallest[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  *code = c;
  return n;
}
