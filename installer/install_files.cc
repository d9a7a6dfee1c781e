#include "installer/install_files.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/read/attachment_check.h"
#include "archive/attachment_reader.h"
#include "archive/crc16.h"
#include "engine/read/entry_prefetch.h"
#include "engine/read/entry_reader.h"
#include "engine/install/extraction.h"
#include "engine/present/text_escape.h"
#include "engine/filesystem/free_space.h"
#include "installer/post_install.h"
#include "installer/answers.h"
#include "installer/installation_notes.h"
#include "installer/installer_state.h"
#include "installer/pages.h"
#include "installer/progress_line.h"
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

void show_slice(void* context, const Entry& entry, uint32_t decoded) {
  const Progress& p = *static_cast<const Progress*>(context);
  progress_line(entry.name, entries_percent(p), bytes_percent(p.bytes_done + decoded));
}

// What a run holds across entries. It lives here rather than on the run's
// stack so that it stays reachable when a failure ends the process from
// inside the run, and so that release_installation can free it then.
struct Installation {
  uint8_t* crc_table;
  Extraction extraction;
  bool extracting;
  EntryPrefetch prefetch;  // its thread reads the file, so it ends first
  bool prefetching;
  FreeSpace space;
  bool measuring;
};
Installation installation;
// Kept from its entry until the end of the run.
PostInstall post_install_step = {-1, ""};

}  // namespace

void release_installation() {
  if (installation.prefetching) entry_prefetch_stop(&installation.prefetch);
  if (installation.extracting) extraction_end(&installation.extraction);
  if (installation.measuring) free_space_close(&installation.space);
  free(installation.crc_table);
  installation = Installation{};
}

namespace {

// The record is brought up to date before the process ends.
[[noreturn]] void stop(const char* message) {
  release_installation();
  error(message);
}

[[noreturn]] void stop(const ExtractFailure& f) {
  release_installation();
  if (f.with_error_number) error_errno(f.message, f.detail, f.error_number);
  error(f.message);
}

// A name may hold any byte: shown escaped, it cannot drive the terminal.
void note_kept(void*, const char* path) {
  char prefix[sizeof install_dir + 64];
  snprintf(prefix, sizeof prefix, "Left as it is, changed since it was installed: %s%s", install_dir,
           ends_with_slash(install_dir) ? "" : "/");
  size_t length = strlen(path);
  char* escaped = static_cast<char*>(malloc(escaped_size(length)));
  if (!escaped) return;
  escape_text(path, length, escaped);
  note_after_installation(prefix, escaped);
  free(escaped);
}

int expect_entry(void* context, const Entry& entry) {
  Installation& i = *static_cast<Installation*>(context);
  if (entry.type != ENTRY_POST_INSTALL)
    free_space_add(&i.space, entry.name, entry.type == ENTRY_DELETE ? -1 : entry_space(entry));
  return extraction_expect(&i.extraction, entry) == 0 ? ENTRY_FAULT_NONE : ENTRY_FAULT_NO_MEMORY;
}

}  // namespace

int install_files() {
  release_installation();
  uint8_t* crc_table = installation.crc_table = crc16_table();
  if (!crc_table) stop("Insufficient memory (err=3).");
  if (!quiet) fputs("\n\n.... Installing files ....\n\n", stderr);
  progress_line(nullptr, 0, 0);

  Extraction& extraction = installation.extraction;
  extraction_init(&extraction, install_dir);
  installation.extracting = true;
  uint32_t count = header_entry_count(attachment_header);
  // The whole attachment is checked before anything on disk changes: a
  // damaged or truncated installer leaves the old installation as it was.
  free_space_open(&installation.space, install_dir);
  installation.measuring = true;
  const CheckedEntry expect{expect_entry, &installation};
  uint32_t bad;
  int fault = check_attachment(crc_table, count, &expect, &bad);
  if (fault != ENTRY_FAULT_NONE) stop(entry_fault_message(fault));
  char space_message[160];
  if (!free_space_fits(&installation.space, space_message, sizeof space_message)) stop(space_message);
  char product[HEADER_TEXT_SIZE + 1];
  memcpy(product, attachment_header.bytes + HEADER_PRODUCT_NAME, HEADER_TEXT_SIZE);
  product[HEADER_TEXT_SIZE] = 0;
  ExtractFailure failure;
  // An empty attachment touches nothing, not even the record.
  extraction_on_kept(&extraction, note_kept, nullptr);
  if (count > 0 && extraction_begin(&extraction, product, &failure) != 0) stop(failure);
  if (extraction.no_record_error) {
    char line[sizeof install_dir + 160];
    snprintf(line, sizeof line, "No installation record could be kept in %s (%s): later installations will neither update nor remove these files.",
             install_dir, strerror(extraction.no_record_error));
    note_after_installation(line, nullptr);
  }

  Progress progress{0, 0};
  const EntryProgress on_slice{show_slice, &progress};
  // The entries behind the one being written are read and decoded meanwhile.
  EntryPrefetch& prefetch = installation.prefetch;
  fault = entry_prefetch_start(&prefetch, crc_table, count);
  if (fault != ENTRY_FAULT_NONE) stop(entry_fault_message(fault));
  installation.prefetching = true;
  for (; progress.index < count; progress.index++) {
    PrefetchedEntry& next = *entry_prefetch_next(&prefetch);
    const Entry& entry = next.entry;
    if (next.record_fault != ENTRY_FAULT_NONE) stop(entry_fault_message(next.record_fault));
    if (entry.type == ENTRY_POST_INSTALL) {
      if (next.held && next.data_fault != ENTRY_FAULT_NONE) stop(entry_fault_message(next.data_fault));
      if (post_install_keep(&post_install_step, crc_table, entry, next.held ? entry.data : nullptr, &fault) != 0) {
        if (fault != ENTRY_FAULT_NONE) stop(entry_fault_message(fault));
        stop(ExtractFailure{"Can't create file", "(err=5).", errno, 1});
      }
      entry_prefetch_done(&prefetch);
      continue;
    }
    if (extract_make_way(&extraction, entry, &failure) != 0) stop(failure);
    if (next.held) {
      entry_prefetch_replay(next, &on_slice);
      if (next.data_fault != ENTRY_FAULT_NONE) stop(entry_fault_message(next.data_fault));
      if (extract_write_held(&extraction, entry, entry.data, &failure) != 0) stop(failure);
    } else if (extract_write(&extraction, crc_table, entry, &on_slice, &fault, &failure) != 0) {
      fault != ENTRY_FAULT_NONE ? stop(entry_fault_message(fault)) : stop(failure);
    }
    if (entry.type != ENTRY_DELETE) {
      // Links and directories count as entries of size 0.
      progress.bytes_done += entry_installs_file(entry.type) ? entry.file_size : 0;
      progress_line(entry.name, entries_percent(progress), bytes_percent(progress.bytes_done));
      progress_line(nullptr, 0, 0);
    }
    entry_prefetch_done(&prefetch);  // the entry's slot is then refilled
  }
  if (extraction_finish(&extraction, &failure) != 0) stop(failure);
  release_installation();
  progress_line(nullptr, 0, 0);
  progress_flush();
  return 0;
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
