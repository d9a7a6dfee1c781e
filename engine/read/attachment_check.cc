#include "engine/read/attachment_check.h"

#include <cstdio>

#include "archive/crc16.h"
#include "archive/entry_paths.h"
#include "archive/format.h"
#include "codec/codec_context.h"
#include "engine/read/earlier_files.h"
#include "engine/read/entry_zstd.h"
#include "engine/read/record_block.h"

int check_entry_stored_data(EntryStream* s, const uint8_t* crc_table, const Entry& e) {
  if (e.type == ENTRY_DELETE) return FAILURE_NONE;
  // A stored file is copied out of its stored data: it cannot be longer.
  if (entry_data_is_stored(e.type) && e.file_size > e.stored_size) return ENTRY_FAULT_STORED_SHORT;
  // A method this program cannot decode is found before anything changes.
  if (entry_is_zstd(e.type) && !ENTRY_ZSTD_SUPPORTED) return ENTRY_FAULT_DECODE;
  uint8_t slice[CODEC_WINDOW];
  uint16_t crc = 0;
  // A frame's header says all a decoder needs to take it: read here, before
  // anything changes, not when its entry comes.
  if (e.type == ENTRY_ZSTD_FRAME && e.stored_size == 0) return ENTRY_FAULT_DECODE;
  for (uint32_t left = e.stored_size; left > 0;) {
    uint32_t n = left < sizeof slice ? left : uint32_t(sizeof slice);
    if (entry_stream_read(s, slice, n) < n) return ENTRY_FAULT_STORED_SHORT;
    if (e.type == ENTRY_ZSTD_FRAME && left == e.stored_size && entry_zstd_frame_header(slice, n) != FAILURE_NONE)
      return ENTRY_FAULT_DECODE;
    crc = crc16_continue(crc_table, crc, slice, n);
    left -= n;
  }
  return crc == get_u16(e.record + RECORD_STORED_CRC) ? FAILURE_NONE : ENTRY_FAULT_STORED_CRC;
}

namespace {

int check_entries(EntryStream* s, const uint8_t* crc_table, uint32_t entry_count, const CheckedEntry* checked,
                  uint32_t* index, EarlierFiles* files) {
  int fault = FAILURE_NONE;
  for (*index = 0; fault == FAILURE_NONE && *index < entry_count; ++*index) {
    Entry e;
    e.stored = e.data = nullptr;
    fault = read_entry_record(s, crc_table, &e);
    // A link's target is small and what a listing shows: it is kept for
    // `accept`. The record's check bounds it; it is stored as it is.
    uint8_t target[LINK_TARGET_MAX];
    if (fault == FAILURE_NONE && entry_is_link(e.type) && e.stored_size <= sizeof target) {
      if (entry_stream_read(s, target, e.stored_size) < e.stored_size)
        fault = ENTRY_FAULT_STORED_SHORT;
      else if (crc16(crc_table, target, e.stored_size) != get_u16(e.record + RECORD_STORED_CRC))
        fault = ENTRY_FAULT_STORED_CRC;
      else if (e.type == ENTRY_SYMLINK &&
               link_target_escape(e.name, reinterpret_cast<const char*>(target), e.stored_size) == LINK_RECORD_DIRECTORY)
        fault = ENTRY_FAULT_NAME_ESCAPES;  // nothing may reach the installer's own records
      else
        e.stored = e.data = target;
      if (fault == FAILURE_NONE && e.type == ENTRY_HARD_LINK) fault = earlier_files_check_link(files, e);
    } else if (fault == FAILURE_NONE) {
      fault = check_entry_stored_data(s, crc_table, e);
    }
    if (fault == FAILURE_NONE) fault = earlier_files_note(files, e);
    if (fault == FAILURE_NONE && checked) fault = checked->accept(checked->context, e);
  }
  if (fault == FAILURE_NONE) return FAILURE_NONE;
  --*index;
  return fault;
}

}  // namespace

int check_attachment(EntryStream* s, const uint8_t* crc_table, uint32_t entry_count, const CheckedEntry* checked, uint32_t* index) {
  EntryPosition start;
  int fault = entry_position(s, &start) != 0 ? ENTRY_FAULT_RECORD_SHORT : FAILURE_NONE;
  if (fault != FAILURE_NONE) {
    *index = 0;
    return fault;
  }
  // A hard link names a file of an earlier entry: those are remembered for the pass.
  EarlierFiles files;
  earlier_files_init(&files);
  fault = check_entries(s, crc_table, entry_count, checked, index, &files);
  earlier_files_release(&files);
  if (fault != FAILURE_NONE) return fault;
  fault = entry_stream_end(s);
  if (fault != FAILURE_NONE) {
    *index = entry_count - 1;
    return fault;
  }
  return entry_seek(s, crc_table, start);
}
