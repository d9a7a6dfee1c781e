#include "engine/present/text_escape.h"

#include <cstdint>

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
    uint8_t b = uint8_t(text[i]);
    if (b == '\\') {
      *out++ = '\\';
      *out++ = '\\';
      i++;
    } else if (b >= 7 && b <= 13) {
      *out++ = '\\';
      *out++ = letters[b - 7];
      i++;
    } else if (b < 0x20 || b == 0x7F) {
      out = octal(out, b);
      i++;
    } else if (b < 0x80) {
      *out++ = char(b);
      i++;
    } else {
      uint32_t code = 0;
      size_t n = utf8_sequence_at(text, length, i, &code);
      if (n == 0 || code < 0xA0) {
        // Not UTF-8, or a C1 control, which some terminals obey: escaped
        // byte by byte.
        for (size_t k = 0; k < (n ? n : 1); k++) out = octal(out, uint8_t(text[i + k]));
        i += n ? n : 1;
      } else {
        for (size_t k = 0; k < n; k++) *out++ = text[i + k];
        i += n;
      }
    }
  }
  *out = 0;
  return size_t(out - start);
}

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
