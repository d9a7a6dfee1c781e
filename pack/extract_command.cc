// zolt-pack extract: installs an attachment into a directory without the
// dialogue, with the installer's own extraction code, so that packagers and
// pipelines get exactly the tree that users get. As the installer does, it
// checks every record, name and stored CRC before anything on disk changes,
// then decodes each entry once, straight into its file, in constant memory.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/read/entry_prefetch.h"
#include "engine/install/extraction.h"
#include "engine/filesystem/free_space.h"
#include "archive/attachment_reader.h"
#include "archive/entry_paths.h"
#include "archive/format.h"
#include "pack/command_line.h"
#include "pack/commands.h"
#include "pack/failure.h"
#include "pack/installer_reader.h"
#include "pack/messages.h"
#include "pack/progress_display.h"
#include "pack/text_escape.h"

const char* const EXTRACT_USAGE =
    "Usage: zolt-pack extract [-q] [--no-sync] FILE -C DIR\n"
    "Install the files of installer FILE into DIR without the dialogue, by the\n"
    "installer's own rules: before each entry is written, stale copies of the\n"
    "same base name that an earlier installation of the product recorded below\n"
    "DIR are removed (never other files); deletion entries remove their file;\n"
    "at the end, what the product's record lists and this installer no longer\n"
    "installs is removed. Only files still as installed go: one changed since\n"
    "stays, and is named. Links are made as links, never followed; directories\n"
    "are made with mode 0755 or their entry's; times and modes are restored.\n"
    "Every record, name and stored CRC is checked first, and the free space in\n"
    "DIR: if any is damaged or the files do not fit, nothing is written. An\n"
    "entry whose data fails its check once decoded keeps its old file, the\n"
    "entries before it stay installed, and the exit status is 1.\n"
    "Each file's data is flushed to disk before it takes its name, so that a\n"
    "power cut leaves every file whole, old or new.\n"
    "\n"
    "  -C, --directory=DIR  install into DIR (required; made if missing)\n"
    "  -q, --quiet          no progress line and no summary\n"
    "      --no-sync        flush nothing: faster on a disk, but a power cut may\n"
    "                       leave files empty (for scratch trees only)\n"
    "  -h, --help           show this help and exit\n";

namespace {

enum { OPT_HELP = 1, OPT_QUIET, OPT_DIRECTORY, OPT_NO_SYNC };

std::string failure_text(const ExtractFailure& f) {
  std::string text = f.message;
  if (f.with_error_number) {
    const char* system = f.error_number ? strerror(f.error_number) : "";
    if (system && *system) text += std::string(" - ") + system;
    text += std::string(" ") + f.detail;
  }
  return text;
}

struct KeptNotes {
  ProgressDisplay* display;
  std::string directory;
};

void note_kept(void* context, const char* path) {
  KeptNotes& k = *static_cast<KeptNotes*>(context);
  k.display->clear();
  print_note(escaped_text(k.directory + "/" + path) + ": left as it is, changed since it was installed");
}

std::string entry_label(const InstallerReader& r, uint32_t index, const Entry& e) {
  return "entry " + std::to_string(index + 1) + " of " + std::to_string(r.entry_count()) + " (" + escaped_text(e.name) + ")";
}

}  // namespace

int extract_command(const Arguments& args) {
  ParsedCommandLine cl = parse_command_line(
      "extract", args,
      {{"help", 'h', false, OPT_HELP}, {"quiet", 'q', false, OPT_QUIET}, {"directory", 'C', true, OPT_DIRECTORY},
       {"no-sync", 0, false, OPT_NO_SYNC}});
  bool quiet = false, flush = true;
  std::string directory;
  for (const ParsedOption& o : cl.options) {
    if (o.id == OPT_HELP) {
      fputs(EXTRACT_USAGE, stdout);
      return 0;
    }
    if (o.id == OPT_QUIET) quiet = true;
    if (o.id == OPT_DIRECTORY) directory = o.value;
    if (o.id == OPT_NO_SYNC) flush = false;
  }
  if (cl.operands.size() != 1)
    throw UsageError("extract", cl.operands.empty() ? "no installer named" : "one installer at a time");
  if (directory.empty()) throw UsageError("extract", "no directory named: give -C DIR");
  if (directory.size() > INSTALL_DIR_MAX)
    throw UsageError("extract", "directory name longer than " + std::to_string(INSTALL_DIR_MAX) + " bytes");

  InstallerReader reader(cl.operands[0]);
  ProgressDisplay display(!quiet);
  std::string count = std::to_string(reader.entry_count());
  Entry entry;
  uint32_t index;
  Extraction extraction;
  extraction_init(&extraction, directory.c_str());
  extraction.flush_data = flush;
  FreeSpace space;
  free_space_open(&space, directory.c_str());
  std::unique_ptr<FreeSpace, void (*)(FreeSpace*)> close_space(&space, free_space_close);
  try {
    // First pass: records, names, the tree they make and stored CRCs,
    // nothing decoded or written; the sweep learns which paths the
    // attachment installs.
    while (reader.next(&entry, &index, nullptr, InstallerReader::CHECK_STORED)) {
      display.update("checking [" + std::to_string(index + 1) + "/" + count + "] " + escaped_text(entry.name));
      if (extraction_expect(&extraction, entry) != 0) throw Failure("not enough memory");
      if (entry.type != ENTRY_POST_INSTALL)
        free_space_add(&space, entry.name, entry.type == ENTRY_DELETE ? -1 : entry_space(entry));
      release_entry(&entry);  // a link's target, which the reader keeps
    }
    char space_message[160];
    if (!free_space_fits(&space, space_message, sizeof space_message)) throw Failure(directory + ": " + space_message);

    std::vector<char> made(directory.begin(), directory.end());
    made.push_back(0);
    errno = 0;
    if (!make_directories(made.data()))
      throw Failure(system_failure(made.data(), "cannot make directory", errno));

    char product[HEADER_TEXT_SIZE + 1];
    memcpy(product, reader.header().bytes + HEADER_PRODUCT_NAME, HEADER_TEXT_SIZE);
    product[HEADER_TEXT_SIZE] = 0;
    ExtractFailure failure;
    KeptNotes kept{&display, directory};
    extraction_on_kept(&extraction, note_kept, &kept);
    if (extraction_begin(&extraction, product, &failure) != 0)
      throw Failure(directory + ": " + failure_text(failure));
    if (extraction.no_record_error)
      print_note(escaped_text(directory) + ": no installation record can be kept there (" +
                 strerror(extraction.no_record_error) + "): nothing is removed, and later installations will neither update nor remove these files");
    uint32_t files = 0, deletions = 0, objects = 0;
    uint64_t bytes = 0;
    // Second pass: the entries behind the one being written are read and
    // decoded meanwhile, as the installer does.
    reader.rewind();
    auto prefetch = std::make_unique<EntryPrefetch>();
    std::unique_ptr<EntryPrefetch, void (*)(EntryPrefetch*)> stop_prefetch(prefetch.get(), entry_prefetch_stop);
    int started = entry_prefetch_start(prefetch.get(), reader.crc_table(), reader.entry_count());
    if (started != ENTRY_FAULT_NONE) throw Failure(reader.path() + ": " + entry_fault_message(started));
    for (index = 0; index < reader.entry_count(); index++) {
      PrefetchedEntry& next = *entry_prefetch_next(prefetch.get());
      const Entry& e = next.entry;
      // The first pass read every record: the file changed since.
      if (next.record_fault != ENTRY_FAULT_NONE)
        throw Failure(reader.path() + ": entry " + std::to_string(index + 1) + " of " + count + ": " +
                      entry_fault_message(next.record_fault));
      display.update("[" + std::to_string(index + 1) + "/" + count + "] " + escaped_text(e.name));
      // Running the vendor's program is the installer's business, not a
      // packager's: its data is passed over.
      if (e.type == ENTRY_POST_INSTALL) {
        if (!next.held && fseek(attachment_file, long(e.stored_size), SEEK_CUR) != 0)
          throw Failure(system_failure(reader.path(), "cannot read", errno));
        if (!quiet) print_note("post-install step " + escaped_text(e.name) + " not run (only the installer runs it)");
        entry_prefetch_done(prefetch.get());
        continue;
      }
      int fault = ENTRY_FAULT_NONE;
      bool written = extract_make_way(&extraction, e, &failure) == 0;
      if (written && next.held && next.data_fault != ENTRY_FAULT_NONE) reader.fail_entry(e, index, next.data_fault);
      if (written)
        written = (next.held ? extract_write_held(&extraction, e, e.data, &failure)
                             : extract_write(&extraction, reader.crc_table(), e, nullptr, &fault, &failure)) == 0;
      if (!written) {
        if (fault != ENTRY_FAULT_NONE) reader.fail_entry(e, index, fault);
        throw Failure(reader.path() + ": " + entry_label(reader, index, e) + ": " + failure_text(failure));
      }
      if (e.type == ENTRY_DELETE) {
        deletions++;
      } else if (entry_is_tree_object(e.type)) {
        objects++;
      } else {
        files++;
        bytes += e.file_size;
      }
      entry_prefetch_done(prefetch.get());
    }
    if (extraction_finish(&extraction, &failure) != 0) throw Failure(directory + ": " + failure_text(failure));
    // What the sweep and the end of an upgrade removed counts with the
    // deletion entries.
    deletions += uint32_t(extraction.swept);
    extraction_end(&extraction);
    display.clear();
    if (!quiet)
      printf("%s: installed %s (%s)%s, %s, into %s\n", terminal_safe_text(reader.path()).c_str(),
             counted(files, "file").c_str(), counted(bytes, "byte").c_str(),
             objects ? (", " + counted(objects, "link or directory", "links and directories")).c_str() : "",
             counted(deletions, "deletion").c_str(), terminal_safe_text(directory).c_str());
  } catch (...) {
    extraction_end(&extraction);
    display.clear();
    throw;
  }
  return 0;
}
