#include "pack/text_escape.h"

#include "engine/text_escape.h"

std::string escaped_text(const std::string& text) {
  std::string out(escaped_size(text.size()), '\0');
  out.resize(escape_text(text.data(), text.size(), out.data()));
  return out;
}
