#include "engine/install/install_run.h"

#include <cstdio>
#include <cstring>

#include "engine/read/attachment_check.h"
#include "engine/read/entry_zstd.h"

namespace {

// The step that failed, with `failure` filled in by it.
int fail(InstallFailure* f, int step, uint32_t index, const Entry* entry) {
  f->step = step;
  f->index = index;
  f->entry = entry;
  return -1;
}

// A fault the step found in the attachment's data.
int fault(InstallFailure* f, int step, int code, uint32_t index, const Entry* entry) {
  f->failure = EngineFailure{code, 0};
  return fail(f, step, index, entry);
}

int expect_checked(void* context, const Entry& entry) {
  return install_run_expect(static_cast<InstallRun*>(context), entry) == 0 ? FAILURE_NONE : FAILURE_NO_MEMORY;
}

// Installs the entry in hand, all but the post-install step.
int install_entry(InstallRun* run, PrefetchedEntry& next, uint32_t index, InstallFailure* f) {
  Extraction& x = run->extraction;
  const Entry& entry = next.entry;
  const EntryProgress on_slice{run->hooks.slice_done, run->hooks.context};
  const EntryProgress* progress = run->hooks.slice_done ? &on_slice : nullptr;
  if (extract_make_way(&x, entry, &f->failure) != 0) return fail(f, INSTALL_ENTRY, index, &entry);
  if (next.held) {
    if (progress) entry_prefetch_replay(next, progress);
    // A fault of the data is told before a failure to write the file, as
    // decoding straight into the file would have told it.
    if (next.data_fault != FAILURE_NONE) return fault(f, INSTALL_ENTRY, next.data_fault, index, &entry);
    if (extract_write_held(&x, entry, entry.data, &f->failure) != 0) return fail(f, INSTALL_ENTRY, index, &entry);
  } else if (extract_write(&x, run->stream, run->crc_table, entry, progress, &f->failure) != 0) {
    return fail(f, INSTALL_ENTRY, index, &entry);
  }
  return 0;
}

// An entry left out of a selection. Its data is passed over, but for a
// Zstandard frame that the entries behind it may go on with: that is decoded
// all the same, into nothing, or they could not be decoded.
int pass_over(InstallRun* run, const PrefetchedEntry& next, uint32_t index, InstallFailure* f) {
  const Entry& entry = next.entry;
  if (next.held) return 0;
  if (!entry_is_zstd(entry.type)) {
    if (entry_stream_skip(run->stream, long(entry.stored_size)) == 0) return 0;
    return fault(f, INSTALL_RECORD, ENTRY_FAULT_STORED_SHORT, index, &entry);
  }
  EntryStreamer& streamer = run->extraction.streamer;
  int code = streamer.codec ? FAILURE_NONE : entry_streamer_open(&streamer, run->stream);
  if (code == FAILURE_NONE) code = stream_entry_data(run->stream, run->crc_table, &streamer, &entry, nullptr, nullptr);
  return code == FAILURE_NONE ? 0 : fault(f, INSTALL_ENTRY, code, index, &entry);
}

// The name the record is kept under: all of the field, which a header that
// passed its CRC may fill.
void product_of(const AttachmentHeader& header, char* product) {
  memcpy(product, header.bytes + HEADER_PRODUCT_NAME, HEADER_TEXT_SIZE);
  product[HEADER_TEXT_SIZE] = 0;
}

// Whether no record was kept is said once the run is over, and only where it
// is so and matters: a run that wrote nothing left the old record as it was.
void tell_no_record(const InstallRun* run) {
  const Extraction& x = run->extraction;
  if (!run->hooks.no_record || !x.no_record_error) return;
  if (x.record.untrusted)
    run->hooks.no_record(run->hooks.context, EngineFailure{FAILURE_RECORD_UNTRUSTED, 0});
  else if (run->written > 0)
    run->hooks.no_record(run->hooks.context, EngineFailure{FAILURE_OPEN_RECORD, x.no_record_error});
}

}  // namespace

void install_run_init(InstallRun* run, const char* install_dir, const AttachmentHeader* header, EntryStream* stream,
                      const uint8_t* crc_table, const InstallHooks* hooks) {
  memset(run, 0, sizeof *run);
  run->stream = stream;
  run->crc_table = crc_table;
  run->header = header;
  run->count = header_entry_count(*header);
  if (hooks) run->hooks = *hooks;
  extraction_init(&run->extraction, install_dir);
  free_space_open(&run->space, install_dir);
  run->measuring = 1;
}

void install_space_add(FreeSpace* space, const Entry& entry) {
  if (entry.type == ENTRY_POST_INSTALL) return;
  if (entry.type == ENTRY_DELETE) return free_space_add(space, entry.name, -1, false);
  free_space_add(space, entry.name, entry_space(entry), entry_installs_file(entry.type));
  space->record_lines += install_record_line_size(entry.name);
  if (entry_is_config(entry)) space->record_lines += install_record_line_size(entry.name);  // its mark
}

int install_space_fits(FreeSpace* space, const AttachmentHeader& header, char* message, size_t size) {
  char product[HEADER_TEXT_SIZE + 1];
  product_of(header, product);
  bool directory_exists = false;
  // The old list's lines stay listed beside the new ones.
  uint64_t list = install_record_size(space->dir_fd, product, &directory_exists);
  free_space_add_record(space, list + space->record_lines, !directory_exists);
  return free_space_fits(space, message, size);
}

int install_run_expect(InstallRun* run, const Entry& entry) {
  if (run->hooks.wanted && !run->hooks.wanted(run->hooks.context, entry)) return 0;
  install_space_add(&run->space, entry);
  return extraction_expect(&run->extraction, entry);
}

int install_run_check(InstallRun* run, InstallFailure* f) {
  // The whole attachment is checked before anything on disk changes: a
  // damaged or truncated installer leaves the old installation as it was.
  const CheckedEntry expect{expect_checked, run};
  uint32_t bad = 0;
  int code = check_attachment(run->stream, run->crc_table, run->count, &expect, &bad);
  if (code != FAILURE_NONE) return fault(f, INSTALL_CHECK, code, bad, nullptr);
  return install_run_fits(run, f);
}

int install_run_fits(InstallRun* run, InstallFailure* f) {
  if (install_space_fits(&run->space, *run->header, f->message, sizeof f->message)) return 0;
  return fail(f, INSTALL_NO_ROOM, 0, nullptr);
}

int install_run_entries(InstallRun* run, InstallFailure* f) {
  Extraction& x = run->extraction;
  const InstallHooks& hooks = run->hooks;
  char product[HEADER_TEXT_SIZE + 1];
  product_of(*run->header, product);
  extraction_on_kept(&x, hooks.kept, hooks.not_owned, hooks.context);
  x.beside = hooks.beside;
  x.selective = hooks.wanted != nullptr;
  x.whole_product = header_whole_product(*run->header) && !x.selective;
  if ((run->count > 0 || run->begin_when_empty) && extraction_begin(&x, product, &f->failure) != 0)
    return fail(f, INSTALL_BEGIN, 0, nullptr);

  // The entries behind the one being written are read and decoded meanwhile.
  int code = entry_zstd_open(run->stream);
  if (code != FAILURE_NONE) return fault(f, INSTALL_READ_AHEAD, code, 0, nullptr);
  run->holding_zstd = 1;
  code = entry_prefetch_start(&run->prefetch, run->stream, run->crc_table, run->count);
  if (code != FAILURE_NONE) return fault(f, INSTALL_READ_AHEAD, code, 0, nullptr);
  run->prefetching = 1;
  for (uint32_t index = 0; index < run->count; index++) {
    PrefetchedEntry& next = *entry_prefetch_next(&run->prefetch);
    const Entry& entry = next.entry;
    // The check pass read every record: the file changed since.
    if (next.record_fault != FAILURE_NONE) return fault(f, INSTALL_RECORD, next.record_fault, index, nullptr);
    if (hooks.wanted && !hooks.wanted(hooks.context, entry)) {
      if (pass_over(run, next, index, f) != 0) return -1;
      entry_prefetch_done(&run->prefetch);
      continue;
    }
    if (hooks.entry_begins) hooks.entry_begins(hooks.context, index, entry);
    if (entry.type == ENTRY_POST_INSTALL) {
      const uint8_t* held = next.held ? entry.data : nullptr;
      if (hooks.post_install) {
        if (hooks.post_install(hooks.context, run->stream, entry, held, next.held ? next.data_fault : 0, &f->failure) != 0)
          return fail(f, INSTALL_POST_INSTALL, index, &entry);
      } else if (!held && entry_stream_skip(run->stream, long(entry.stored_size)) != 0) {
        return fault(f, INSTALL_POST_INSTALL, ENTRY_FAULT_STORED_SHORT, index, &entry);
      }
    } else {
      if (install_entry(run, next, index, f) != 0) return -1;
      run->written++;
      if (hooks.entry_done) hooks.entry_done(hooks.context, index, entry);
    }
    entry_prefetch_done(&run->prefetch);  // the entry's slot is then refilled
  }
  // Every entry is read: the stream is this thread's again, and data its
  // records do not account for fails the run before it is called complete.
  entry_prefetch_stop(&run->prefetch);
  run->prefetching = 0;
  code = entry_stream_end(run->stream);
  if (code != FAILURE_NONE) return fault(f, INSTALL_RECORD, code, run->count - 1, nullptr);
  if (extraction_finish(&x, &f->failure) != 0) return fail(f, INSTALL_FINISH, 0, nullptr);
  return 0;
}

void install_run_end(InstallRun* run) {
  if (run->prefetching) entry_prefetch_stop(&run->prefetch);
  run->prefetching = 0;
  if (run->holding_zstd) entry_zstd_close(run->stream);
  run->holding_zstd = 0;
  if (run->header) {
    tell_no_record(run);
    extraction_end(&run->extraction);
  }
  if (run->measuring) free_space_close(&run->space);
  run->measuring = 0;
  run->header = nullptr;
}
