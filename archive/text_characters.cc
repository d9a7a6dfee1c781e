#include "archive/text_characters.h"

size_t utf8_sequence_at(const char* text, size_t length, size_t i, uint32_t* code) {
  uint8_t b = uint8_t(text[i]);
  size_t n = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 && b < 0xF0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
  if (n == 0 || i + n > length) return 0;
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

size_t text_character_at(const char* text, size_t length, size_t i, uint32_t* code) {
  uint8_t b = uint8_t(text[i]);
  *code = b;
  return b < 0x80 ? 1 : utf8_sequence_at(text, length, i, code);
}

bool text_has_control(const char* text, size_t length) {
  for (size_t i = 0; i < length;) {
    uint32_t code;
    size_t n = text_character_at(text, length, i, &code);
    if (is_control_code(code)) return true;
    i += n ? n : 1;
  }
  return false;
}
