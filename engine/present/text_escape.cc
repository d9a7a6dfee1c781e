#include "engine/present/text_escape.h"

#include <cstdint>

#include "archive/text_characters.h"

namespace {

char* octal(char* out, uint8_t byte) {
  *out++ = '\\';
  *out++ = char('0' + (byte >> 6));
  *out++ = char('0' + ((byte >> 3) & 7));
  *out++ = char('0' + (byte & 7));
  return out;
}

}  // namespace

size_t escape_text(const char* text, size_t length, char* out) {
  static const char letters[] = "abtnvfr";  // for 7 to 13
  char* start = out;
  for (size_t i = 0; i < length;) {
    uint32_t code;
    size_t n = text_character_at(text, length, i, &code);
    if (code == '\\') {
      *out++ = '\\';
      *out++ = '\\';
      i++;
    } else if (code >= 7 && code <= 13) {
      *out++ = '\\';
      *out++ = letters[code - 7];
      i++;
    } else if (n == 0 || is_control_code(code)) {
      // Byte by byte: a C1 control in UTF-8 shows as its two bytes.
      for (size_t k = 0; k < (n ? n : 1); k++) out = octal(out, uint8_t(text[i + k]));
      i += n ? n : 1;
    } else {
      for (size_t k = 0; k < n; k++) *out++ = text[i + k];
      i += n;
    }
  }
  *out = 0;
  return size_t(out - start);
}
