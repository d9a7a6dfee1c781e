// zolt-pack verify: every check the installer makes, from the header block
// to the CRC of every decoded file, and the names against the tree they
// make, with nothing written: what passes installs into an empty directory.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <optional>

#include "archive/entry_paths.h"
#include "archive/format.h"
#include "engine/install/extraction.h"
#include "pack/command_line.h"
#include "pack/commands.h"
#include "pack/failure.h"
#include "pack/installer_reader.h"
#include "pack/messages.h"
#include "pack/progress_display.h"
#include "pack/signing.h"
#include "pack/text_escape.h"

const char* const VERIFY_USAGE =
    "Usage: zolt-pack verify [-q] [--key PUBLIC_KEY] FILE\n"
    "Check installer FILE as the installer itself would: the header block, every\n"
    "entry record, the stored data and the decoded data with their CRCs, and\n"
    "that every name installs as it reads, into an empty directory: the\n"
    "installer's default directory, or one of 64 bytes where it carries none,\n"
    "without a path longer than the system takes. Nothing\n"
    "is written. Prints \"FILE: OK\" and the counts, or names the damaged entry\n"
    "and the installer's message for it and exits with status 1.\n"
    "\n"
    "  -k, --key=PUBLIC_KEY  first check the installer's signature with this\n"
    "               key (the key line as minisign prints it, or its file), as\n"
    "               the installer's --verify-signature does\n"
    "  -q, --quiet  no progress line and no OK line; the exit status tells\n"
    "  -h, --help   show this help and exit\n";

namespace {

enum { OPT_HELP = 1, OPT_QUIET, OPT_KEY };

// A directory as long as most that users choose, for an installer that does
// not say where it installs.
constexpr size_t ASSUMED_DIRECTORY_LENGTH = 64;

// The installer joins the directory and a name into one path; a name that
// only fits a short directory fails where users install. The directory
// assumed is the one the installer offers. Returns the problem, or empty.
std::string path_length_problem(const InstallerReader& reader, const Entry& entry, uint32_t index) {
  const char* offered = reader.texts().text[VENDOR_DIRECTORY];
  size_t directory = offered ? strlen(offered) : ASSUMED_DIRECTORY_LENGTH;
  size_t path = (offered ? joined_prefix_length(offered, directory) : directory + 1) + strlen(entry.name);
  if (entry.type == ENTRY_DELETE || path_fits(path)) return "";
  std::string where = offered ? std::string("its default directory ") + offered
                              : "a directory of " + std::to_string(ASSUMED_DIRECTORY_LENGTH) + " bytes (it offers none)";
  return reader.path() + ": entry " + std::to_string(index + 1) + " of " + std::to_string(reader.entry_count()) + " (" +
         escaped_text(entry.name) + "): installed into " + where + ", its path takes " + std::to_string(path + 1) +
         " bytes, more than the " + std::to_string(EXTRACTION_PATH_SIZE) + " the system takes (File name too long)";
}

struct VerifyProgress {
  ProgressDisplay* display;
  uint32_t index, count;
};

void show_slice(void* context, const Entry& entry, uint32_t decoded) {
  auto* p = static_cast<VerifyProgress*>(context);
  p->display->update("[" + std::to_string(p->index + 1) + "/" + std::to_string(p->count) + "] " + escaped_text(entry.name) + " " +
                     std::to_string(uint64_t(decoded) * 100 / (entry.file_size ? entry.file_size : 1)) + "%");
}

}  // namespace

int verify_command(const Arguments& args) {
  ParsedCommandLine cl =
      parse_command_line("verify", args, {{"help", 'h', false, OPT_HELP}, {"quiet", 'q', false, OPT_QUIET},
                                          {"key", 'k', true, OPT_KEY}});
  bool quiet = false;
  std::optional<SignerKey> key;
  for (const ParsedOption& o : cl.options) {
    if (o.id == OPT_HELP) {
      fputs(VERIFY_USAGE, stdout);
      return 0;
    }
    if (o.id == OPT_QUIET) quiet = true;
    if (o.id == OPT_KEY) key = read_public_key_argument("verify", o.value);
  }
  if (cl.operands.size() != 1)
    throw UsageError("verify", cl.operands.empty() ? "no installer named" : "one installer at a time");

  InstallerReader reader(cl.operands[0]);
  if (key) check_installer_signature(reader.descriptor(), reader.path(), *key);
  ProgressDisplay display(!quiet);
  VerifyProgress progress{&display, 0, reader.entry_count()};
  const EntryProgress on_slice{show_slice, &progress};
  uint32_t files = 0, deletions = 0, objects = 0, steps = 0;
  bool zstd_stub_checked = false;
  uint64_t bytes = 0;
  Entry entry;
  uint32_t index;
  try {
    for (;;) {
      progress.index = files + deletions + objects + steps;
      if (!reader.next(&entry, &index, display.shown() ? &on_slice : nullptr, InstallerReader::CHECK_DATA)) break;
      // zolt-pack decodes Zstandard whatever stub the installer carries; the
      // installer decodes it only with the stub that does.
      if ((entry_is_zstd(entry.type) || reader.stream()->block.records) && !zstd_stub_checked) {
        zstd_stub_checked = true;
        if (!reader.stub_decodes_zstd()) {
          release_entry(&entry);
          throw Failure(reader.path() + ": entry " + std::to_string(index + 1) + " of " +
                        std::to_string(reader.entry_count()) + " (" + escaped_text(entry.name) +
                        "): " + failure_message(ENTRY_FAULT_DECODE) +
                        " (its stub does not decode Zstandard; pack it with zolt-setup-zstd)");
        }
      }
      std::string problem = path_length_problem(reader, entry, index);
      if (!problem.empty()) {
        release_entry(&entry);
        throw Failure(problem);
      }
      if (entry.type == ENTRY_DELETE) {
        deletions++;
      } else if (entry_is_tree_object(entry.type)) {
        objects++;
      } else if (entry.type == ENTRY_POST_INSTALL) {
        // The installer would run the last one only.
        if (steps++ > 0) release_entry(&entry);
        if (steps > 1)
          throw Failure(reader.path() + ": entry " + std::to_string(index + 1) + ": a second post-install step");
      } else {
        files++;
        bytes += entry.file_size;
      }
      display.update("[" + std::to_string(index + 1) + "/" + std::to_string(progress.count) + "] " + escaped_text(entry.name));
      release_entry(&entry);
    }
  } catch (...) {
    display.clear();
    throw;
  }
  display.clear();
  if (!quiet)
    printf("%s: OK, %s (%s, %s%s), %s\n", terminal_safe_text(reader.path()).c_str(),
           counted(reader.entry_count(), "entry", "entries").c_str(), counted(files, "file").c_str(),
           counted(deletions, "deletion").c_str(),
           (std::string(objects ? ", " + counted(objects, "link or directory", "links and directories") : "") +
            (steps ? ", a post-install step" : ""))
               .c_str(),
           counted(bytes, "byte").c_str());
  if (key && !quiet) printf("%s: signed with key ID %s\n", terminal_safe_text(reader.path()).c_str(),
                            key_id_string(key->id).c_str());
  return 0;
}
