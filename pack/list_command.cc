// zolt-pack list: the header and one line per entry, in the manner of
// "tar tv". Every entry is read and checked as the installer would, so a
// listing that ends without complaint is one of a sound installer.
#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include "archive/format.h"
#include "pack/command_line.h"
#include "pack/commands.h"
#include "pack/failure.h"
#include "pack/installer_reader.h"
#include "pack/messages.h"
#include "pack/text_escape.h"

const char* const LIST_USAGE =
    "Usage: zolt-pack list FILE\n"
    "Show the header of installer FILE, the vendor's texts (those of several\n"
    "lines by their first line and line count), and one line per entry: mode,\n"
    "size, stored size, method (stored, lh5, delete; zstd begins a solid run,\n"
    "zstd+ goes on with it; link, dir, post), modification time (UTC), name; a\n"
    "link as \"NAME -> TARGET\", a directory as \"NAME/\". A post-install step\n"
    "is listed last, by the name of the vendor's file.\n"
    "Control characters and backslashes in names and texts are shown escaped.\n"
    "Every entry is checked as the installer checks it; a damaged one ends the\n"
    "listing with exit status 1.\n"
    "\n"
    "  -h, --help   show this help and exit\n";

namespace {

enum { OPT_HELP = 1 };

const char* method_name(uint32_t type) {
  if (type == ENTRY_STORED) return "stored";
  if (type == ENTRY_DELETE) return "delete";
  if (type == ENTRY_ZSTD_FRAME) return "zstd";
  if (type == ENTRY_ZSTD_CONTINUED) return "zstd+";
  if (type == ENTRY_SYMLINK) return "link";
  if (type == ENTRY_DIRECTORY) return "dir";
  if (type == ENTRY_POST_INSTALL) return "post";
  return "lh5";
}

std::string text_field(const AttachmentHeader& h, uint32_t offset) {
  char text[HEADER_TEXT_SIZE];
  header_text(h, offset, text);
  return escaped_text(text);
}

// A text of lines by its first line and line count (a newline at its end ends
// its last line). The texts were checked to hold no control characters.
std::string described(const char* text) {
  if (!text) return "(the stub's own)";
  std::string all = text;
  uint64_t lines = 1;
  for (size_t i = 0; i + 1 < all.size(); i++) lines += all[i] == '\n';
  return escaped_text(all.substr(0, all.find('\n'))) + " (" + counted(lines, "line") + ")";
}

void print_texts(const VendorTexts& t) {
  printf("Title:     %s\n", t.text[VENDOR_TITLE] ? escaped_text(t.text[VENDOR_TITLE]).c_str() : "(the stub's own)");
  printf("Thanks:    %s\n", described(t.text[VENDOR_THANKS]).c_str());
  printf("Directory: %s\n", t.text[VENDOR_DIRECTORY] ? escaped_text(t.text[VENDOR_DIRECTORY]).c_str() : "(the stub's own)");
  std::string licence = t.licence_lines ? escaped_text(t.licence_lines[0]) + " (" + counted(t.licence_line_count, "line") + ")"
                                        : described(nullptr);
  printf("Licence:   %s\n", licence.c_str());
  printf("Notes:     %s\n", described(t.text[VENDOR_NOTES]).c_str());
}

}  // namespace

int list_command(const Arguments& args) {
  ParsedCommandLine cl = parse_command_line("list", args, {{"help", 'h', false, OPT_HELP}});
  for (const ParsedOption& o : cl.options)
    if (o.id == OPT_HELP) {
      fputs(LIST_USAGE, stdout);
      return 0;
    }
  if (cl.operands.size() != 1)
    throw UsageError("list", cl.operands.empty() ? "no installer named" : "one installer at a time");

  InstallerReader reader(cl.operands[0]);
  const AttachmentHeader& h = reader.header();
  uint32_t space = header_space_required(h);
  printf("Product:   %s\n", text_field(h, HEADER_PRODUCT_NAME).c_str());
  printf("Version:   %s\n", text_field(h, HEADER_PRODUCT_VERSION).c_str());
  printf("Platform:  %s\n", text_field(h, HEADER_PLATFORM).c_str());
  printf("Built:     %s UTC\n", utc_time_text(header_build_time(h)).c_str());
  printf("Entries:   %" PRIu32 "\n", reader.entry_count());
  printf("Files:     %" PRIu32 " bytes\n", header_total_file_size(h));
  printf("Stored:    %" PRIu32 " bytes\n", get_u32(h.bytes + HEADER_TOTAL_STORED));
  printf("Space:     %" PRIu32 " bytes (%s)\n", space, short_size(space).c_str());
  print_texts(reader.texts());
  printf("\n");
  fflush(stdout);

  Entry entry;
  uint32_t index;
  while (reader.next(&entry, &index, nullptr, InstallerReader::CHECK_DATA)) {
    std::string time = entry.mod_time ? utc_time_text(entry.mod_time) : "-------------------";
    bool deletion = entry.type == ENTRY_DELETE;
    std::string name = escaped_text(entry.name);
    if (entry.type == ENTRY_SYMLINK)
      name += " -> " + escaped_text(std::string(reinterpret_cast<const char*>(entry.data), entry.file_size));
    if (entry.type == ENTRY_DIRECTORY) name += "/";
    if (entry.type == ENTRY_POST_INSTALL) name += " (post-install step, run once the installation is complete)";
    printf("%s %10" PRIu32 " %10" PRIu32 " %-6s %s %s\n", mode_text(entry.mode).c_str(), deletion ? 0 : entry.file_size,
           deletion ? 0 : entry.stored_size, method_name(entry.type), time.c_str(), name.c_str());
    release_entry(&entry);
  }
  if (fflush(stdout) != 0) throw Failure(system_failure("standard output", "cannot write", errno));
  return 0;
}
