// Record blocks (ENTRY_RECORD_BLOCK) as the entry reader meets them. The
// reader takes the next record from the block it holds while that has bytes
// left, else from attachment_file; the block's own record is read, loaded
// and passed over inside read_entry_record, so no caller sees it. One block
// is held per process, beside attachment_file: whoever reads the entry
// stream reads its records through it.
//
// A record from a block has no place in the file, so code that comes back
// to an entry later keeps an EntryPosition instead of a file offset.
#pragma once

#include <cstdint>

#include "engine/read/entry_reader.h"

struct RecordBlock {
  uint8_t* records;  // decoded, `length` bytes; null when none is held
  uint32_t length;
  uint32_t taken;    // bytes of records read so far
  long offset;       // where the block's own record lies in attachment_file; -1 when none is held
};
extern RecordBlock record_block;

// Where the entry stream stands.
struct EntryPosition {
  long offset;     // in attachment_file
  long block;      // record_block.offset then
  uint32_t taken;  // record_block.taken then
};

// 0, or -1 when the file's position cannot be had.
int entry_position(EntryPosition* at);
// Comes back to `at`: the file's position, and the block held then, read and
// decoded again if another is held now. 0 or an entry fault.
int entry_seek(const uint8_t* crc_table, const EntryPosition& at);

// Whether the next record comes from the block.
inline bool record_block_has_more() { return record_block.records && record_block.taken < record_block.length; }
// Up to `length` bytes of the block's records; fewer at its end.
uint32_t record_block_read(void* buffer, uint32_t length);

// Reads the stored data of the block whose record `e` was just read from
// the file at `offset`, checks it, decodes it and holds its records. On a
// fault no block is held.
int record_block_load(const uint8_t* crc_table, const Entry& e, long offset);

void record_block_release();
