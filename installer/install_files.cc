#include "installer/install_files.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive/attachment_reader.h"
#include "archive/crc16.h"
#include "engine/install/install_run.h"
#include "engine/present/text_escape.h"
#include "installer/post_install.h"
#include "installer/answers.h"
#include "installer/installation_notes.h"
#include "installer/installer_state.h"
#include "installer/pages.h"
#include "installer/progress_line.h"
#include "installer/signature_check.h"
#include "installer/termination.h"

namespace {

struct Progress {
  uint32_t index;       // of the entry in hand
  uint64_t bytes_done;  // file_size of the entries written so far
};

int entries_percent(const Progress& p) {
  uint32_t count = header_entry_count(attachment_header);
  return count ? int(uint64_t(100) * p.index / count) : 0;
}

// Not clamped: a header that understates its total shows more than 100.
int bytes_percent(uint64_t done) {
  uint32_t total = header_total_file_size(attachment_header);
  if (total == 0) return 100;
  uint64_t percent = done * 100 / total;
  return percent > INT_MAX ? INT_MAX : int(percent);
}

// What a run holds across entries. It lives here rather than on the run's
// stack so that it stays reachable when a failure ends the process from
// inside the run, and so that release_installation can free it then.
struct Installation {
  uint8_t* crc_table;
  EntryStream stream;  // over attachment_file
  InstallRun run;
  bool running;
  Progress progress;
};
Installation installation;
// Kept from its entry until the end of the run.
PostInstall post_install_step = {-1, ""};

}  // namespace

void release_installation() {
  if (installation.running) install_run_end(&installation.run);
  entry_stream_release(&installation.stream);
  free(installation.crc_table);
  installation.crc_table = nullptr;
  installation.running = false;
}

namespace {

// The record is brought up to date before the process ends.
[[noreturn]] void stop(const char* message) {
  release_installation();
  error(message);
}

[[noreturn]] void stop(const EngineFailure& f) {
  release_installation();
  error_failure(f);
}

// The path in the way, below the directory as the user gave it.
[[noreturn]] void stop_in_the_way(const char* path) {
  // Static: the run ends here, and a harness that runs many installations
  // in one process would lose an allocation with every such ending.
  static char line[256 + sizeof install_dir + escaped_size(EXTRACTION_PATH_SIZE)];
  size_t length = strnlen(path, EXTRACTION_PATH_SIZE - 1);
  int n = snprintf(line, 256 + sizeof install_dir, "%s %s%s", failure_message(FAILURE_IN_THE_WAY), install_dir,
                   ends_with_slash(install_dir) ? "" : "/");
  escape_text(path, length, line + n);
  stop(line);
}

[[noreturn]] void stop(const InstallFailure& f) {
  if (f.step == INSTALL_NO_ROOM) stop(f.message);
  if (f.failure.code == FAILURE_IN_THE_WAY) stop_in_the_way(installation.run.extraction.blocked);
  if (f.failure.code == FAILURE_SIGNER_CHANGED) {
    char line[EXTRACTION_PATH_SIZE + 128];
    snprintf(line, sizeof line, "%s %s", failure_message(f.failure.code), installation.run.extraction.blocked);
    stop(line);
  }
  stop(f.failure);
}

void entry_begins(void* context, uint32_t index, const Entry&) { static_cast<Progress*>(context)->index = index; }

void show_slice(void* context, const Entry& entry, uint32_t decoded) {
  const Progress& p = *static_cast<const Progress*>(context);
  progress_line(entry.name, entries_percent(p), bytes_percent(p.bytes_done + decoded));
}

void entry_done(void* context, uint32_t, const Entry& entry) {
  if (entry.type == ENTRY_DELETE) return;
  Progress& p = *static_cast<Progress*>(context);
  // Links and directories count as entries of size 0.
  p.bytes_done += entry_installs_file(entry.type) ? entry.file_size : 0;
  progress_line(entry.name, entries_percent(p), bytes_percent(p.bytes_done));
  progress_line(nullptr, 0, 0);
}

// A name may hold any byte: shown escaped, it cannot drive the terminal.
void note_path(const char* lead, const char* why, const char* path) {
  char prefix[escaped_size(sizeof install_dir) + 128];
  snprintf(prefix, sizeof prefix, "%s, %s: %s%s", lead, why, shown_install_dir(),
           ends_with_slash(install_dir) ? "" : "/");
  size_t length = strlen(path);
  char* escaped = static_cast<char*>(malloc(escaped_size(length)));
  if (!escaped) return;
  escape_text(path, length, escaped);
  note_after_installation(prefix, escaped);
  free(escaped);
}

void note_left(const char* why, const char* path) { note_path("Left as it is", why, path); }
void note_kept(void*, const char* path) { note_left("changed since it was installed", path); }
void note_not_owned(void*, const char* path) { note_left("not installed by this product", path); }

void note_beside(void*, const char* path, int config) {
  if (config) note_left("changed since it was installed; the new version is beside it", path);
  else note_path("Replaced", "changed since it was installed; your copy is kept as", path);
}

void note_no_record(void*, const EngineFailure& why) {
  char line[escaped_size(sizeof install_dir) + 240];
  if (why.code == FAILURE_RECORD_UNTRUSTED)
    snprintf(line, sizeof line,
             "No installation record is kept in %s, as another user could have written it: nothing was removed on "
             "its word, and later installations will neither update nor remove these files.",
             shown_install_dir());
  else
    snprintf(line, sizeof line,
             "No installation record could be kept in %s (%s): later installations will neither update nor remove "
             "these files.",
             shown_install_dir(), strerror(why.error_number));
  note_after_installation(line, nullptr);
}

int keep_post_install(void*, EntryStream* stream, const Entry& entry, const uint8_t* held, int data_fault,
                      EngineFailure* f) {
  if (held && data_fault != FAILURE_NONE) {
    *f = EngineFailure{data_fault, 0};
    return -1;
  }
  int fault = FAILURE_NONE;
  if (post_install_keep(&post_install_step, stream, installation.crc_table, entry, held, &fault) == 0) return 0;
  *f = fault != FAILURE_NONE ? EngineFailure{fault, 0} : EngineFailure{FAILURE_CREATE_FILE, errno};
  return -1;
}

}  // namespace

namespace {

// The one run of the install driver, for an installation and a repair alike.
void run_installation(uint8_t* crc_table, const InstallHooks& hooks) {
  InstallRun& run = installation.run;
  entry_stream_init(&installation.stream, attachment_file);
  install_run_init(&run, install_dir, &attachment_header, &installation.stream, crc_table, &hooks);
  run.extraction.signer = checked_signer;
  run.extraction.accept_new_signer = accept_new_signer;
  installation.running = true;
  InstallFailure failure;
  if (install_run_check(&run, &failure) != 0 || install_run_entries(&run, &failure) != 0) stop(failure);
  release_installation();
}

uint8_t* fresh_crc_table() {
  release_installation();
  uint8_t* crc_table = installation.crc_table = crc16_table();
  if (!crc_table) stop("Insufficient memory (err=3).");
  return crc_table;
}

}  // namespace

int install_files() {
  uint8_t* crc_table = fresh_crc_table();
  if (!quiet) fputs("\n\n.... Installing files ....\n\n", stderr);
  progress_line(nullptr, 0, 0);

  installation.progress = Progress{0, 0};
  const InstallHooks hooks{&installation.progress, entry_begins, show_slice, entry_done,
                           note_kept, note_not_owned, note_no_record, keep_post_install, note_beside, nullptr};
  run_installation(crc_table, hooks);
  progress_line(nullptr, 0, 0);
  progress_flush();
  return 0;
}

void install_selected(const EntrySelection& selection) {
  uint8_t* crc_table = fresh_crc_table();
  // The vendor's step ran when the product was installed; a repair puts
  // files back and runs nothing.
  const InstallHooks hooks{selection.context, nullptr, nullptr, selection.installed,
                           note_kept, note_not_owned, note_no_record, nullptr, note_beside, selection.wanted};
  run_installation(crc_table, hooks);
}

int run_post_install_step() {
  // Only someone at the terminal can answer it; an unattended run cannot.
  int status = post_install_run(&post_install_step, install_dir, !unattended && isatty(STDIN_FILENO));
  post_install_release(&post_install_step);
  if (status == 0) return 0;
  fprintf(stderr, "Post-install step failed (status %d).\n", status);
  return 1;
}

int install_page() {
  install_files();
  return ANSWER_NEXT;
}
