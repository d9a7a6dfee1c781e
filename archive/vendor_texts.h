// The vendor's texts that an installer carries besides its attachment: the
// welcome page's title and thanks, the default installation directory, the
// licence agreement and the notes shown once the files are installed.
//
// They travel in a block of their own that ends exactly where the attachment's
// header block begins, so the attachment's layout is untouched, the block is
// found without a search (the header block is found first), and a bare
// installer, whose zero filler or image ends there, simply has none. The
// block is the body, then a 16-byte trailer:
//
//   body     the texts present, in the order of VendorText, each ended by a NUL
//   trailer  0  8 bytes  VENDOR_TEXTS_MAGIC
//            8  u32      size of the body
//           12  u8       the texts present: bit (1 << VendorText)
//           13  u8       VENDOR_TEXTS_FORMAT
//           14  CRC      over the body and the trailer, with these 2 bytes zero
//
// Only a whole trailer makes a block: the magic, this format and a body no
// larger than what lies in front. Without one there is no block (a stub's
// filler may begin like one by chance) and the installer shows its own
// texts; with one, anything that does not pass every check below is a
// damaged block.
// This file is the one reader and checker of the block, for the installer
// and for zolt-pack alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "archive/entry_paths.h"

enum VendorText {
  VENDOR_TITLE = 0,      // one line
  VENDOR_THANKS = 1,     // lines
  VENDOR_DIRECTORY = 2,  // absolute, no blank or tab, at most VENDOR_DIRECTORY_MAX bytes
  VENDOR_LICENCE = 3,    // lines
  VENDOR_NOTES = 4,      // lines of any length
  VENDOR_TEXT_COUNT = 5,
};

constexpr uint32_t VENDOR_TRAILER_SIZE = 16;
constexpr char VENDOR_TEXTS_MAGIC[9] = "ZoltText";
constexpr uint8_t VENDOR_TEXTS_FORMAT = 1;
constexpr uint32_t VENDOR_TRAILER_BODY_SIZE = 8;
constexpr uint32_t VENDOR_TRAILER_PRESENT = 12;
constexpr uint32_t VENDOR_TRAILER_FORMAT = 13;
constexpr uint32_t VENDOR_TRAILER_CRC = 14;
// Far above any agreement, and small enough to hold in memory for the run.
constexpr uint32_t VENDOR_TEXTS_MAX_BODY = 256 * 1024;
// The page width: no line of the title, the thanks or the licence is longer.
constexpr uint32_t VENDOR_LINE_MAX = 74;
// The longest path the directory page accepts.
constexpr uint32_t VENDOR_DIRECTORY_MAX = INSTALL_DIR_MAX;

static_assert(VENDOR_TRAILER_CRC + 2 == VENDOR_TRAILER_SIZE);
static_assert(sizeof VENDOR_TEXTS_MAGIC - 1 == VENDOR_TRAILER_BODY_SIZE);

enum VendorTextsResult {
  VENDOR_TEXTS_OK = 0,         // also when the installer carries none
  VENDOR_TEXTS_BAD_SIZE = 1,   // the body is larger than allowed or than what lies before it, or cannot be read
  VENDOR_TEXTS_BAD_CRC = 2,
  VENDOR_TEXTS_BAD_TEXT = 3,   // a text breaks its rules, or the body is not the texts the trailer names
  VENDOR_TEXTS_NO_MEMORY = 4,
};

struct VendorTexts {
  // Each text as a C string, null when the installer has none of its own.
  const char* text[VENDOR_TEXT_COUNT];
  // The licence split into its lines, ended by a null entry; null without one.
  const char* const* licence_lines;
  uint32_t licence_line_count;
  uint32_t block_size;  // body and trailer; 0 without a block
  // Where the texts broke their rules (VENDOR_TEXTS_BAD_TEXT): the text (-1:
  // none in particular), its line from 1 (0: none in particular), and why.
  int bad_text;
  uint32_t bad_line;
  const char* problem;
  // What release_vendor_texts frees.
  uint8_t* block;
  const char** lines;
};

// Reads the block that ends at `header_offset` in `file`, checks it and fills
// `texts`. The file is left at header_offset + HEADER_SIZE, where the entry
// stream begins. Nothing stays allocated unless the result is VENDOR_TEXTS_OK.
int read_vendor_texts(FILE* file, long header_offset, VendorTexts* texts);

// Checks `block` (body and trailer, `size` bytes, which stays the caller's
// and must outlive `texts`) and fills `texts`: read_vendor_texts on memory.
// The licence's line ends in `block` become NULs.
int parse_vendor_texts(uint8_t* block, uint32_t size, VendorTexts* texts);

void release_vendor_texts(VendorTexts* texts);

// Why `length` bytes of `text` cannot be the given vendor text, or null when
// they can. `line` learns the line, from 1, that breaks the rule.
const char* vendor_text_problem(int which, const char* text, size_t length, uint32_t* line);

// The installer's message for a result other than VENDOR_TEXTS_OK.
const char* vendor_texts_message(int result);
