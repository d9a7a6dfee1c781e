#include "engine/read/record_block.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive/crc16.h"
#include "engine/read/entry_zstd.h"

void record_block_release(EntryStream* s) {
  free(s->block.records);
  s->block = {nullptr, 0, 0, -1};
}

uint32_t record_block_read(EntryStream* s, void* buffer, uint32_t length) {
  RecordBlock& b = s->block;
  uint32_t left = b.records ? b.length - b.taken : 0;
  uint32_t n = length < left ? length : left;
  if (n) memcpy(buffer, b.records + b.taken, n);
  b.taken += n;
  return n;
}

int record_block_load(EntryStream* s, const uint8_t* crc_table, const Entry& e, long offset) {
  record_block_release(s);
  // Checked before anything is read or allocated: the sizes bound both.
  if (e.file_size < RECORD_MIN_LENGTH || e.file_size > RECORD_BLOCK_MAX || e.stored_size == 0 ||
      e.stored_size > RECORD_BLOCK_STORED_MAX)
    return ENTRY_FAULT_TREE_OBJECT;
  uint8_t* stored = static_cast<uint8_t*>(malloc(e.stored_size));
  uint8_t* records = static_cast<uint8_t*>(malloc(e.file_size));
  uint32_t produced = 0;
  int fault = FAILURE_NONE;
  if (!stored || !records)
    fault = FAILURE_NO_MEMORY;
  else if (entry_stream_read(s, stored, e.stored_size) < e.stored_size)
    fault = ENTRY_FAULT_STORED_SHORT;
  else if (crc16(crc_table, stored, e.stored_size) != get_u16(e.record + RECORD_STORED_CRC))
    fault = ENTRY_FAULT_STORED_CRC;
  else if ((fault = entry_zstd_decode_block(stored, e.stored_size, records, e.file_size, &produced)) ==
               FAILURE_NONE &&
           produced != e.file_size)
    fault = ENTRY_FAULT_DECODE;
  else if (fault == FAILURE_NONE && crc16(crc_table, records, e.file_size) != get_u16(e.record + RECORD_FILE_CRC))
    fault = ENTRY_FAULT_FILE_CRC;
  free(stored);
  if (fault != FAILURE_NONE) {
    free(records);
    return fault;
  }
  s->block = {records, e.file_size, 0, offset};
  return FAILURE_NONE;
}

int entry_position(EntryStream* s, EntryPosition* at) {
  at->offset = ftell(s->file);
  at->block = s->block.offset;
  at->taken = s->block.taken;
  return at->offset < 0 ? -1 : 0;
}

int entry_seek(EntryStream* s, const uint8_t* crc_table, const EntryPosition& at) {
  RecordBlock& b = s->block;
  if (at.block != b.offset) {
    record_block_release(s);
    if (at.block >= 0) {
      Entry e;
      if (fseek(s->file, at.block, SEEK_SET) != 0) return ENTRY_FAULT_RECORD_SHORT;
      int fault = read_entry_record(s, crc_table, &e);
      // The record there began a block when the position was taken.
      if (fault == FAILURE_NONE && b.offset != at.block) fault = ENTRY_FAULT_RECORD_SHORT;
      if (fault != FAILURE_NONE) return fault;
    }
  }
  if (b.records) b.taken = at.taken <= b.length ? at.taken : b.length;
  return fseek(s->file, at.offset, SEEK_SET) == 0 ? FAILURE_NONE : ENTRY_FAULT_RECORD_SHORT;
}
