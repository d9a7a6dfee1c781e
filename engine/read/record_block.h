// Record blocks (ENTRY_RECORD_BLOCK) as the entry reader meets them. The
// reader takes the next record from the block its stream holds while that
// has bytes left, else from the stream's file; the block's own record is
// read, loaded and passed over inside read_entry_record, so no caller sees
// it. One block is held per stream, beside its file.
//
// A record from a block has no place in the file, so code that comes back
// to an entry later keeps an EntryPosition instead of a file offset.
#pragma once

#include <cstdint>

#include "engine/read/entry_reader.h"
#include "engine/read/entry_stream.h"

// Where the entry stream stands.
struct EntryPosition {
  long offset;     // in the stream's file
  long block;      // the block's offset then
  uint32_t taken;  // the block's taken then
};

// 0, or -1 when the file's position cannot be had.
int entry_position(EntryStream* stream, EntryPosition* at);
// Comes back to `at`: the file's position, and the block held then, read and
// decoded again if another is held now. 0 or an entry fault.
int entry_seek(EntryStream* stream, const uint8_t* crc_table, const EntryPosition& at);

// Whether the next record comes from the block.
inline bool record_block_has_more(const EntryStream* s) { return s->block.records && s->block.taken < s->block.length; }
// Up to `length` bytes of the block's records; fewer at its end.
uint32_t record_block_read(EntryStream* stream, void* buffer, uint32_t length);

// Reads the stored data of the block whose record `e` was just read from
// the file at `offset`, checks it, decodes it and holds its records. On a
// fault no block is held. Linked with the Zstandard decoder
// (record_block_load.cc); without it ENTRY_FAULT_DECODE.
int record_block_load(EntryStream* stream, const uint8_t* crc_table, const Entry& e, long offset);

void record_block_release(EntryStream* stream);
