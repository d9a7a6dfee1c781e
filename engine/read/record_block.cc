#include "engine/read/record_block.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

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
