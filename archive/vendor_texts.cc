#include "archive/vendor_texts.h"

#include <cstdlib>
#include <cstring>

#include "archive/crc16.h"
#include "archive/format.h"
#include "archive/text_characters.h"

namespace {

// Builds the licence's line table in place: its line ends become NULs.
int split_licence(VendorTexts* texts) {
  char* licence = const_cast<char*>(texts->text[VENDOR_LICENCE]);
  uint32_t count = 1;
  for (const char* p = licence; *p; p++) count += *p == '\n';
  texts->lines = static_cast<const char**>(malloc((size_t(count) + 1) * sizeof(char*)));
  if (!texts->lines) return VENDOR_TEXTS_NO_MEMORY;
  uint32_t n = 0;
  texts->lines[n++] = licence;
  for (char* p = licence; *p; p++)
    if (*p == '\n') {
      *p = 0;
      texts->lines[n++] = p + 1;
    }
  texts->lines[n] = nullptr;
  texts->licence_lines = texts->lines;
  texts->licence_line_count = count;
  return VENDOR_TEXTS_OK;
}

}  // namespace

const char* vendor_text_problem(int which, const char* text, size_t length, uint32_t* line) {
  *line = 1;
  size_t line_length = 0;
  for (size_t i = 0; i < length;) {
    uint32_t c;
    size_t size = text_character_at(text, length, i, &c);
    if (size == 0) size = 1;
    if (c == '\n' && which != VENDOR_TITLE && which != VENDOR_DIRECTORY) {
      ++*line;
      line_length = 0;
      i++;
      continue;
    }
    if (c == '\n') return "more than one line";
    // The installer prints every text as it is: a C1 control would reach
    // the terminal as surely as a C0 one.
    if (is_control_code(c)) return "a control character (such as a tab)";
    if (which == VENDOR_DIRECTORY && c == ' ') return "a blank, which the directory page refuses";
    // Counted in bytes, as the page has always measured its lines.
    line_length += size;
    if (line_length > VENDOR_LINE_MAX && which != VENDOR_NOTES && which != VENDOR_DIRECTORY)
      return "a line longer than 74 characters";
    i += size;
  }
  static_assert(VENDOR_LINE_MAX == 74 && VENDOR_DIRECTORY_MAX == 4094, "the messages name these limits");
  if (which == VENDOR_DIRECTORY) {
    if (length == 0 || text[0] != '/') return "not an absolute path";
    if (length > VENDOR_DIRECTORY_MAX) return "longer than the 4094 characters the directory page accepts";
  }
  return nullptr;
}

int parse_vendor_texts(uint8_t* block, uint32_t size, VendorTexts* texts) {
  memset(texts, 0, sizeof *texts);
  texts->bad_text = -1;
  if (size < VENDOR_TRAILER_SIZE) return VENDOR_TEXTS_BAD_SIZE;
  const uint8_t* trailer = block + size - VENDOR_TRAILER_SIZE;
  uint32_t body_size = size - VENDOR_TRAILER_SIZE;
  if (memcmp(trailer, VENDOR_TEXTS_MAGIC, VENDOR_TRAILER_BODY_SIZE) != 0 ||
      get_u32(trailer + VENDOR_TRAILER_BODY_SIZE) != body_size || body_size > VENDOR_TEXTS_MAX_BODY)
    return VENDOR_TEXTS_BAD_SIZE;

  uint8_t* table = crc16_table();
  if (!table) return VENDOR_TEXTS_NO_MEMORY;
  uint16_t saved = get_u16(trailer + VENDOR_TRAILER_CRC);
  put_u16(block + size - 2, 0);
  uint16_t computed = crc16(table, block, size);
  put_u16(block + size - 2, saved);
  free(table);
  if (computed != saved) return VENDOR_TEXTS_BAD_CRC;

  unsigned present = trailer[VENDOR_TRAILER_PRESENT];
  if (trailer[VENDOR_TRAILER_FORMAT] != VENDOR_TEXTS_FORMAT || present >> VENDOR_TEXT_COUNT) {
    texts->problem = "a format this installer does not know";
    return VENDOR_TEXTS_BAD_TEXT;
  }
  uint32_t at = 0;
  for (int which = 0; which < VENDOR_TEXT_COUNT; which++) {
    if (!(present & 1u << which)) continue;
    const char* text = reinterpret_cast<const char*>(block + at);
    const void* end = memchr(text, 0, body_size - at);
    if (!end) {
      texts->bad_text = which;
      texts->problem = "a text without its end";
      return VENDOR_TEXTS_BAD_TEXT;
    }
    size_t length = size_t(static_cast<const char*>(end) - text);
    uint32_t line;
    if (const char* problem = vendor_text_problem(which, text, length, &line)) {
      texts->bad_text = which;
      texts->bad_line = line;
      texts->problem = problem;
      return VENDOR_TEXTS_BAD_TEXT;
    }
    texts->text[which] = text;
    at += uint32_t(length) + 1;
  }
  if (at != body_size) {
    texts->problem = "bytes behind the last text";
    return VENDOR_TEXTS_BAD_TEXT;
  }
  texts->block_size = size;
  return texts->text[VENDOR_LICENCE] ? split_licence(texts) : VENDOR_TEXTS_OK;
}

int read_vendor_texts(FILE* file, long header_offset, VendorTexts* texts) {
  memset(texts, 0, sizeof *texts);
  texts->bad_text = -1;
  uint8_t trailer[VENDOR_TRAILER_SIZE];
  int result = VENDOR_TEXTS_OK;
  uint8_t* block = nullptr;
  uint32_t size = 0;
  if (header_offset < long(VENDOR_TRAILER_SIZE)) {
    // Nothing in front of the header: no room for a block.
  } else if (fseek(file, header_offset - long(VENDOR_TRAILER_SIZE), SEEK_SET) != 0 ||
      fread(trailer, 1, VENDOR_TRAILER_SIZE, file) != VENDOR_TRAILER_SIZE) {
    result = VENDOR_TEXTS_BAD_SIZE;
  } else if (memcmp(trailer, VENDOR_TEXTS_MAGIC, VENDOR_TRAILER_BODY_SIZE) == 0 &&
             trailer[VENDOR_TRAILER_FORMAT] == VENDOR_TEXTS_FORMAT &&
             get_u32(trailer + VENDOR_TRAILER_BODY_SIZE) <= uint64_t(header_offset) - VENDOR_TRAILER_SIZE) {
    // Bounded before anything is allocated or read.
    uint32_t body_size = get_u32(trailer + VENDOR_TRAILER_BODY_SIZE);
    if (body_size > VENDOR_TEXTS_MAX_BODY) {
      result = VENDOR_TEXTS_BAD_SIZE;
    } else if (!(block = static_cast<uint8_t*>(malloc(body_size + VENDOR_TRAILER_SIZE)))) {
      result = VENDOR_TEXTS_NO_MEMORY;
    } else {
      size = body_size + VENDOR_TRAILER_SIZE;
      if (fseek(file, header_offset - long(size), SEEK_SET) != 0 || fread(block, 1, size, file) != size)
        result = VENDOR_TEXTS_BAD_SIZE;
      else
        result = parse_vendor_texts(block, size, texts);
    }
  }
  if (fseek(file, header_offset + long(HEADER_SIZE), SEEK_SET) != 0 && result == VENDOR_TEXTS_OK)
    result = VENDOR_TEXTS_BAD_SIZE;
  if (result != VENDOR_TEXTS_OK) {
    // What went wrong stays for the caller's message; the texts go.
    free(texts->lines);
    texts->lines = nullptr;
    texts->licence_lines = nullptr;
    memset(texts->text, 0, sizeof texts->text);
    free(block);
    return result;
  }
  texts->block = block;
  return VENDOR_TEXTS_OK;
}

void release_vendor_texts(VendorTexts* texts) {
  free(texts->lines);
  free(texts->block);
  memset(texts, 0, sizeof *texts);
}

const char* vendor_texts_message(int result) {
  switch (result) {
    case VENDOR_TEXTS_NO_MEMORY: return "Insufficient memory (4).";
    case VENDOR_TEXTS_BAD_CRC: return "Installer texts corrupted (2).";
    case VENDOR_TEXTS_BAD_TEXT: return "Installer texts corrupted (3).";
    default: return "Installer texts corrupted (1).";
  }
}
