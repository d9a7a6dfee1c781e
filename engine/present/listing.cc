#include "engine/present/listing.h"

#include <cinttypes>
#include <cstring>

#include "archive/text_characters.h"
#include "engine/present/mode_word.h"
#include "engine/present/text_escape.h"
#include "engine/present/utc_time.h"

namespace {

constexpr const char* STUB_OWN = "(the stub's own)";

// In pieces that end between UTF-8 sequences, so that a text of any length
// escapes as it would whole.
void print_escaped(FILE* out, const char* text, size_t length) {
  constexpr size_t PIECE = 1024;
  char escaped[escaped_size(PIECE + 4)];
  for (size_t i = 0; i < length;) {
    size_t end = i;
    while (end < length && end - i < PIECE) {
      uint32_t code;
      size_t n = uint8_t(text[end]) < 0x80 ? 1 : utf8_sequence_at(text, length, end, &code);
      end += n ? n : 1;
    }
    fwrite(escaped, 1, escape_text(text + i, end - i, escaped), out);
    i = end;
  }
}

void print_escaped(FILE* out, const char* text) { print_escaped(out, text, strlen(text)); }

// "2023-05-02 21:21:47" in UTC.
void print_utc(FILE* out, int32_t seconds) {
  const UtcTime t = utc_time(seconds);
  fprintf(out, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

void print_lines(FILE* out, uint64_t lines) { fprintf(out, " (%" PRIu64 " line%s)\n", lines, lines == 1 ? "" : "s"); }

// A text of lines by its first line and line count (a newline at its end ends
// its last line).
void print_described(FILE* out, const char* label, const char* text) {
  fputs(label, out);
  if (!text) {
    fprintf(out, "%s\n", STUB_OWN);
    return;
  }
  size_t length = strlen(text);
  uint64_t lines = 1;
  for (size_t i = 0; i + 1 < length; i++) lines += text[i] == '\n';
  const char* end = strchr(text, '\n');
  print_escaped(out, text, end ? size_t(end - text) : length);
  print_lines(out, lines);
}

void print_line_text(FILE* out, const char* label, const char* text) {
  fputs(label, out);
  if (text)
    print_escaped(out, text);
  else
    fputs(STUB_OWN, out);
  fputc('\n', out);
}

// "12.3 MiB", "512 B": a size for people, in binary units.
void print_short_size(FILE* out, uint64_t bytes) {
  static const char* const units[] = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) {
    fprintf(out, "%" PRIu64 " B", bytes);
    return;
  }
  double value = double(bytes) / 1024;
  int unit = 0;
  while (value >= 1024 && unit < 3) {
    value /= 1024;
    unit++;
  }
  fprintf(out, "%.1f %s", value, units[unit]);
}

void print_header_text(FILE* out, const char* label, const AttachmentHeader& h, uint32_t offset) {
  char text[HEADER_TEXT_SIZE];
  header_text(h, offset, text);
  fputs(label, out);
  print_escaped(out, text);
  fputc('\n', out);
}

const char* method_name(uint32_t type) {
  if (type == ENTRY_STORED) return "stored";
  if (type == ENTRY_DELETE) return "delete";
  if (type == ENTRY_ZSTD_FRAME) return "zstd";
  if (type == ENTRY_ZSTD_CONTINUED) return "zstd+";
  if (type == ENTRY_SYMLINK) return "link";
  if (type == ENTRY_HARD_LINK) return "hlink";
  if (type == ENTRY_DIRECTORY) return "dir";
  if (type == ENTRY_POST_INSTALL) return "post";
  return "lh5";
}

}  // namespace

void list_header(FILE* out, const AttachmentHeader& h, const VendorTexts& t, const char* signer) {
  print_header_text(out, "Product:   ", h, HEADER_PRODUCT_NAME);
  print_header_text(out, "Version:   ", h, HEADER_PRODUCT_VERSION);
  print_header_text(out, "Platform:  ", h, HEADER_PLATFORM);
  fputs("Built:     ", out);
  print_utc(out, header_build_time(h));
  fputs(" UTC\n", out);
  fprintf(out, "Entries:   %" PRIu32 "\n", header_entry_count(h));
  fprintf(out, "Files:     %" PRIu32 " bytes\n", header_total_file_size(h));
  fprintf(out, "Stored:    %" PRIu32 " bytes\n", get_u32(h.bytes + HEADER_TOTAL_STORED));
  fputs(header_whole_product(h) ? "Upgrade:   removes the unchanged files of earlier versions it does not install\n"
                                 : "Upgrade:   keeps the files of earlier versions it does not install\n",
        out);
  uint32_t space = header_space_required(h);
  fprintf(out, "Space:     %" PRIu32 " bytes (", space);
  print_short_size(out, space);
  fputs(")\n", out);
  print_line_text(out, "Title:     ", t.text[VENDOR_TITLE]);
  print_described(out, "Thanks:    ", t.text[VENDOR_THANKS]);
  print_line_text(out, "Directory: ", t.text[VENDOR_DIRECTORY]);
  if (t.licence_lines) {
    fputs("Licence:   ", out);
    print_escaped(out, t.licence_lines[0]);
    print_lines(out, t.licence_line_count);
  } else {
    print_described(out, "Licence:   ", nullptr);
  }
  print_described(out, "Notes:     ", t.text[VENDOR_NOTES]);
  if (signer) fprintf(out, "Signed:    %s\n", signer);
  fputc('\n', out);
}

void list_entry(FILE* out, const Entry& e) {
  char mode[11];
  mode_word(e.mode, mode);
  bool deletion = e.type == ENTRY_DELETE;
  fprintf(out, "%s %10" PRIu32 " %10" PRIu32 " %-6s ", mode, deletion ? 0 : e.file_size, deletion ? 0 : e.stored_size,
          method_name(e.type));
  if (e.mod_time)
    print_utc(out, e.mod_time);
  else
    fputs("-------------------", out);
  fputc(' ', out);
  print_escaped(out, e.name);
  if (entry_is_link(e.type) && e.data) {
    fputs(e.type == ENTRY_HARD_LINK ? " => " : " -> ", out);
    print_escaped(out, reinterpret_cast<const char*>(e.data), e.file_size);
  }
  if (e.type == ENTRY_DIRECTORY) fputc('/', out);
  if (e.type == ENTRY_POST_INSTALL) fputs(" (post-install step, run once the installation is complete)", out);
  if (entry_is_config(e)) fputs(" (configuration file: a changed copy is kept)", out);
  fputc('\n', out);
}
