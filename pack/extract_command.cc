// zolt-pack extract: installs an attachment into a directory without the
// dialogue, with the installer's own extraction code, so that packagers and
// pipelines get exactly the tree that users get. As the installer does, it
// checks every record, name and stored CRC before anything on disk changes,
// then decodes each entry once, straight into its file, in constant memory.
#include <sys/stat.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "engine/install/install_run.h"
#include "archive/attachment_reader.h"
#include "archive/entry_paths.h"
#include "archive/format.h"
#include "pack/command_line.h"
#include "pack/commands.h"
#include "pack/failure.h"
#include "pack/installer_reader.h"
#include "pack/messages.h"
#include "pack/progress_display.h"
#include "pack/signing.h"
#include "pack/text_escape.h"

const char* const EXTRACT_USAGE =
    "Usage: zolt-pack extract [-q] [--no-sync] [--key PUBLIC_KEY] FILE -C DIR\n"
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
    "A signed installation is upgraded only by installers of the same signer.\n"
    "\n"
    "  -C, --directory=DIR  install into DIR (required; made if missing)\n"
    "  -k, --key=PUBLIC_KEY first check the installer's signature with this key\n"
    "                       (the key line as minisign prints it, or its file);\n"
    "                       nothing is written unless it holds\n"
    "      --accept-new-signer  upgrade an installation that another key signed\n"
    "  -q, --quiet          no progress line and no summary\n"
    "      --no-sync        flush nothing: faster on a disk, but a power cut may\n"
    "                       leave files empty (for scratch trees only)\n"
    "  -h, --help           show this help and exit\n";

namespace {

enum { OPT_HELP = 1, OPT_QUIET, OPT_DIRECTORY, OPT_NO_SYNC, OPT_KEY, OPT_ACCEPT_NEW_SIGNER };

std::string failure_text(const EngineFailure& f) {
  std::string text(failure_text(f, nullptr, 0) + 1, '\0');
  text.resize(failure_text(f, text.data(), text.size()));
  return text;
}

// What the hooks of the run need, and the counts of the summary.
struct Extract {
  const InstallerReader* reader;
  ProgressDisplay* display;
  std::string directory;
  std::string count;
  bool quiet;
  std::string problem = {};  // why the post-install step's data could not be passed over
  uint32_t files = 0, deletions = 0, objects = 0;
  uint64_t bytes = 0;
};

void note_left(void* context, const char* path, const char* why) {
  Extract& x = *static_cast<Extract*>(context);
  x.display->clear();
  print_note(escaped_text(x.directory + "/" + path) + ": left as it is, " + why);
}

void note_kept(void* context, const char* path) { note_left(context, path, "changed since it was installed"); }
void note_not_owned(void* context, const char* path) { note_left(context, path, "not installed by this product"); }

void note_beside(void* context, const char* path, int config) {
  Extract& x = *static_cast<Extract*>(context);
  x.display->clear();
  print_note(escaped_text(x.directory + "/" + path) +
             (config ? ": the new version, beside a configuration file left as it is, changed since it was installed"
                     : ": your copy of a file changed since it was installed, kept beside its new version"));
}

void note_no_record(void* context, const EngineFailure& why) {
  Extract& x = *static_cast<Extract*>(context);
  x.display->clear();
  if (why.code == FAILURE_RECORD_UNTRUSTED)
    print_note(escaped_text(x.directory) +
               ": no installation record is kept there, as another user could have written it: nothing is removed "
               "on its word, and later installations will neither update nor remove these files");
  else
    print_note(escaped_text(x.directory) + ": no installation record can be kept there (" +
               strerror(why.error_number) +
               "): nothing is removed, and later installations will neither update nor remove these files");
}

void show_entry(void* context, uint32_t index, const Entry& e) {
  Extract& x = *static_cast<Extract*>(context);
  x.display->update("[" + std::to_string(index + 1) + "/" + x.count + "] " + escaped_text(e.name));
}

void count_entry(void* context, uint32_t, const Entry& e) {
  Extract& x = *static_cast<Extract*>(context);
  if (e.type == ENTRY_DELETE) {
    x.deletions++;
  } else if (entry_is_tree_object(e.type)) {
    x.objects++;
  } else {
    x.files++;
    x.bytes += e.file_size;
  }
}

// Running the vendor's program is the installer's business, not a
// packager's: its data is passed over.
int pass_over_post_install(void* context, EntryStream* stream, const Entry& e, const uint8_t* held, int, EngineFailure*) {
  Extract& x = *static_cast<Extract*>(context);
  if (!held && entry_stream_skip(stream, long(e.stored_size)) != 0) {
    x.problem = system_failure(x.reader->path(), "cannot read", errno);
    return -1;
  }
  if (!x.quiet) print_note("post-install step " + escaped_text(e.name) + " not run (only the installer runs it)");
  return 0;
}

std::string entry_label(const InstallerReader& r, uint32_t index, const Entry& e) {
  return "entry " + std::to_string(index + 1) + " of " + std::to_string(r.entry_count()) + " (" + escaped_text(e.name) + ")";
}

// The run's failure in this command's words.
[[noreturn]] void fail(const Extract& x, const InstallFailure& f, const char* blocked = "") {
  const InstallerReader& r = *x.reader;
  switch (f.step) {
    case INSTALL_NO_ROOM: throw Failure(x.directory + ": " + f.message);
    case INSTALL_READ_AHEAD: throw Failure(r.path() + ": " + failure_text(f.failure));
    case INSTALL_RECORD:
      throw Failure(r.path() + ": entry " + std::to_string(f.index + 1) + " of " + x.count + ": " +
                    failure_text(f.failure));
    case INSTALL_POST_INSTALL: throw Failure(x.problem);
    case INSTALL_ENTRY:
      if (failure_is_data_fault(f.failure.code)) r.fail_entry(*f.entry, f.index, f.failure.code);
      throw Failure(r.path() + ": " + entry_label(r, f.index, *f.entry) + ": " + failure_text(f.failure));
    default:
      if (f.failure.code == FAILURE_IN_THE_WAY)
        throw Failure(failure_text(f.failure) + " " + escaped_text(x.directory + "/" + blocked));
      if (f.failure.code == FAILURE_SIGNER_CHANGED)
        throw Failure(x.directory + ": " + failure_text(f.failure) + " " + blocked);
      throw Failure(x.directory + ": " + failure_text(f.failure));
  }
}

}  // namespace

int extract_command(const Arguments& args) {
  ParsedCommandLine cl = parse_command_line(
      "extract", args,
      {{"help", 'h', false, OPT_HELP}, {"quiet", 'q', false, OPT_QUIET}, {"directory", 'C', true, OPT_DIRECTORY},
       {"no-sync", 0, false, OPT_NO_SYNC}, {"key", 'k', true, OPT_KEY},
       {"accept-new-signer", 0, false, OPT_ACCEPT_NEW_SIGNER}});
  bool quiet = false, flush = true, accept_new_signer = false;
  std::optional<SignerKey> key;
  std::string directory;
  for (const ParsedOption& o : cl.options) {
    if (o.id == OPT_HELP) {
      fputs(EXTRACT_USAGE, stdout);
      return 0;
    }
    if (o.id == OPT_QUIET) quiet = true;
    if (o.id == OPT_DIRECTORY) directory = o.value;
    if (o.id == OPT_NO_SYNC) flush = false;
    if (o.id == OPT_KEY) key = read_public_key_argument("extract", o.value);
    if (o.id == OPT_ACCEPT_NEW_SIGNER) accept_new_signer = true;
  }
  if (cl.operands.size() != 1)
    throw UsageError("extract", cl.operands.empty() ? "no installer named" : "one installer at a time");
  if (directory.empty()) throw UsageError("extract", "no directory named: give -C DIR");
  if (directory.size() > INSTALL_DIR_MAX)
    throw UsageError("extract", "directory name longer than " + std::to_string(INSTALL_DIR_MAX) + " bytes");

  InstallerReader reader(cl.operands[0]);
  // As the installer: the user's key must have signed it; else a signature
  // that holds with the key it carries makes that key the signer.
  InstallerSignature signature;
  SignerKey signer;
  bool is_signed = false;
  if (key) {
    check_installer_signature(reader.descriptor(), reader.path(), *key);
    signer = *key;
    is_signed = true;
  } else {
    is_signed = installer_signer(reader.descriptor(), nullptr, &signer, &signature) == FAILURE_NONE;
  }
  ProgressDisplay display(!quiet);
  Extract x{&reader, &display, directory, std::to_string(reader.entry_count()), quiet};
  const InstallHooks hooks{&x,        show_entry,     nullptr,       count_entry,
                           note_kept, note_not_owned, note_no_record, pass_over_post_install, note_beside, nullptr};
  auto run = std::make_unique<InstallRun>();
  install_run_init(run.get(), directory.c_str(), &reader.header(), reader.stream(), reader.crc_table(), &hooks);
  run->extraction.flush_data = flush;
  run->extraction.signer = is_signed ? &signer : nullptr;
  run->extraction.accept_new_signer = accept_new_signer;
  run->begin_when_empty = 1;
  std::unique_ptr<InstallRun, void (*)(InstallRun*)> end_run(run.get(), install_run_end);
  try {
    // First pass: records, names, the tree they make and stored CRCs,
    // nothing decoded or written; the sweep learns which paths the
    // attachment installs.
    Entry entry;
    uint32_t index;
    InstallFailure failure;
    while (reader.next(&entry, &index, nullptr, InstallerReader::CHECK_STORED)) {
      display.update("checking [" + std::to_string(index + 1) + "/" + x.count + "] " + escaped_text(entry.name));
      int expected = install_run_expect(run.get(), entry);
      release_entry(&entry);  // a link's target, which the reader keeps
      if (expected != 0) throw Failure("not enough memory");
    }
    if (install_run_fits(run.get(), &failure) != 0) fail(x, failure);

    std::vector<char> made(directory.begin(), directory.end());
    made.push_back(0);
    // A directory made here is new to the installation, as one the
    // installer makes itself.
    struct stat before;
    run->extraction.target_new = stat(directory.c_str(), &before) != 0 && errno == ENOENT;
    errno = 0;
    if (!make_directories(made.data()))
      throw Failure(system_failure(made.data(), "cannot make directory", errno));

    // Second pass: the entries behind the one being written are read and
    // decoded meanwhile, as the installer does.
    reader.rewind();
    if (install_run_entries(run.get(), &failure) != 0) fail(x, failure, run->extraction.blocked);
    // What the sweep and the end of an upgrade removed counts with the
    // deletion entries.
    x.deletions += uint32_t(run->extraction.swept);
    end_run.reset();
    display.clear();
    if (!quiet)
      printf("%s: installed %s (%s)%s, %s, into %s\n", terminal_safe_text(reader.path()).c_str(),
             counted(x.files, "file").c_str(), counted(x.bytes, "byte").c_str(),
             x.objects ? (", " + counted(x.objects, "link or directory", "links and directories")).c_str() : "",
             counted(x.deletions, "deletion").c_str(), terminal_safe_text(directory).c_str());
  } catch (...) {
    end_run.reset();
    display.clear();
    throw;
  }
  return 0;
}
