// The bytes a record block's frame decodes to: its records stored column by
// column, so that what is alike lies together for the compressor (the sizes
// with the sizes, the names with the names). For n records:
//   u32 n;
//   n u32: each record_length;
//   for each byte of the record from RECORD_CRC up to RECORD_NAME, that byte
//     of every record in turn; the stream_offset taken as the difference
//     from the end of the previous record's data (stream_offset plus
//     stored_size, 0 before the first), modulo 2^32, so that entries whose
//     data follow one another give zeros;
//   n bytes: how many leading bytes the name shares with the previous
//     record's name (0 for the first, at most 255);
//   each name's remaining bytes with its NUL, one name after another;
//   the bytes behind each name's NUL up to its record's end.
// The form holds any record whose name ends inside it, so the records come
// back byte for byte and are then checked as records in the open are.
#pragma once

#include <cstdint>

#include "archive/format.h"

enum RecordColumnsResult {
  COLUMNS_OK = 0,
  COLUMNS_BAD_LENGTH,  // a record_length outside 41..4136, or more records than a block holds
  COLUMNS_SHORT,       // a column cut short, or bytes left over behind the last
  COLUMNS_BAD_NAME,    // a name without its NUL inside its record, or sharing more than the name before it holds
  COLUMNS_NO_MEMORY,
};

// Room that records_to_columns may need for `size` bytes of records.
constexpr uint32_t record_columns_bound(uint32_t size) { return 4 + size + size / RECORD_MIN_LENGTH + 1; }
// The longest column form of a block's records.
constexpr uint32_t RECORD_BLOCK_COLUMNS_MAX = record_columns_bound(RECORD_BLOCK_MAX);
static_assert(RECORD_BLOCK_STORED_MAX >= RECORD_BLOCK_COLUMNS_MAX + 8192, "room for an incompressible block's frame");

// The column form of `size` bytes of whole records, written to `out`
// (record_columns_bound(size) bytes). Its length, or 0 when `records` are
// not whole records each with its name's NUL.
uint32_t records_to_columns(const uint8_t* records, uint32_t size, uint8_t* out);

// The records of `size` bytes of column form, into a buffer of malloc's
// that the caller frees; at most `limit` bytes of records, `*length` of
// them. Every byte read is bounds-checked first. A RecordColumnsResult;
// nothing is left allocated when it is not COLUMNS_OK.
int columns_to_records(const uint8_t* columns, uint32_t size, uint32_t limit, uint8_t** records, uint32_t* length);
