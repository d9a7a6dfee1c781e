// Building attachments: header blocks, entry records, and an attachment
// appended to an executable image. The installer never writes attachments;
// the packing tool and the tests do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "archive/format.h"

struct HeaderFields {
  const char* product_name;     // each text at most 63 bytes
  const char* product_version;
  const char* platform;
  int32_t build_time;
  uint32_t space_required;
  uint32_t flags;  // HEADER_FLAG_* bits
};

struct EntryTotals {
  uint32_t entry_count;
  uint32_t total_file_size;
  uint32_t total_stored_size;
  uint32_t total_record_size;
};

struct EntryFields {
  const char* name;       // relative path with '/', at most RECORD_MAX_NAME bytes
  uint32_t entry_type;    // ENTRY_STORED, ENTRY_COMPRESSED, ENTRY_DELETE, ENTRY_SYMLINK, ENTRY_DIRECTORY
  uint32_t file_size;
  uint32_t stored_size;   // 0 for a deletion entry
  uint16_t file_crc;      // crc16 of the installed bytes (stored form)
  uint16_t stored_crc;    // crc16 of the stored data (stored form)
  uint32_t stream_offset;
  int32_t mod_time;
  uint16_t mode;
  uint16_t flags;  // RECORD_FLAG_* bits
};

enum WriteResult {
  WRITE_OK = 0,
  WRITE_BAD_TEXT = 1,    // a header text is longer than 63 bytes
  WRITE_BAD_NAME = 2,    // a name is empty or longer than a record can hold
  WRITE_TOO_LARGE = 3,   // a total or an offset does not fit its 32-bit field
  WRITE_NO_MEMORY = 4,
  WRITE_IO = 5,          // errno tells why
};

// Fills the 1028-byte block: marker, totals, texts, fixed reserved values and
// header_crc over the finished block.
int build_header(AttachmentHeader* header, const HeaderFields& fields, const EntryTotals& totals);

// Writes a record of 38 + name + 8 bytes into `record` (RECORD_MAX_LENGTH
// bytes available) with record_crc over the finished record. Returns its
// length, or 0 when the name cannot be held.
uint32_t build_record(uint8_t record[RECORD_MAX_LENGTH], const EntryFields& fields);

// Appends entries to an image, then the header in front of them. Use:
// writer_begin, writer_add_entry for each entry in order, writer_finish.
struct AttachmentWriter {
  FILE* out;
  long header_offset;
  uint8_t* crc_table;
  EntryTotals totals;
  uint64_t stream_offset;  // wide so that overflow of the u32 fields is seen
  uint64_t file_total;
  uint64_t stored_total;
};

// Writes `image`, zero filler up to the next multiple of 1024 (at least 1024)
// and room for the header.
int writer_begin(AttachmentWriter* w, FILE* out, const uint8_t* image, size_t image_size);

// Writes one record and its stored data. `fields.stored_crc` and
// `fields.stream_offset` are computed here; `fields.file_crc` is the caller's.
int writer_add_entry(AttachmentWriter* w, EntryFields fields, const uint8_t* stored_data);

// Record blocks (ENTRY_RECORD_BLOCK), for entries whose records travel
// compressed: the caller builds each entry's record with
// writer_block_record, `data_offset` counting from the first byte behind
// the block; compresses the records' column form (records_to_columns,
// record_columns.h); then writes the block with writer_add_record_block and each entry's stored data with
// writer_add_block_data, in the records' order. Only the entries count
// towards the header's totals.
uint32_t writer_block_record(AttachmentWriter* w, EntryFields fields, const uint8_t* stored_data,
                             uint32_t data_offset, uint8_t record[RECORD_MAX_LENGTH]);
int writer_add_record_block(AttachmentWriter* w, const uint8_t* columns, uint32_t columns_size,
                            const uint8_t* stored, uint32_t stored_size);
int writer_add_block_data(AttachmentWriter* w, const EntryFields& fields, uint32_t record_length,
                          const uint8_t* stored_data);

// Writes the header block with the totals and releases the writer's memory.
// The stream is flushed but not closed.
int writer_finish(AttachmentWriter* w, const HeaderFields& fields);

// Releases the writer's memory after a failure; safe after writer_finish.
void writer_abandon(AttachmentWriter* w);
