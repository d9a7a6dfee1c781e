// Reading one entry of the attachment and checking it completely: the record,
// its name, the stored data and the decoded data. Nothing on disk is touched
// here, so an entry that fails a check has changed nothing below the
// installation directory.
#pragma once

#include <cstdint>

#include "archive/entry_paths.h"  // the rules for entries' names
#include "archive/format.h"
#include "engine/failure.h"  // the faults an entry reports
#include "engine/read/entry_stream.h"


// One entry, read and checked. `name` points into `record`.
struct Entry {
  uint8_t record[RECORD_MAX_LENGTH];
  uint32_t record_length;
  uint32_t type;  // ENTRY_STORED, ENTRY_DELETE, Zstandard (entry_is_zstd), a link, a directory, or else -lh5-
  uint32_t file_size;
  uint32_t stored_size;
  int32_t mod_time;
  uint16_t mode;
  const char* name;
  uint8_t* stored;  // stored_size bytes; null for a deletion entry
  uint8_t* data;    // file_size bytes to install; for a stored entry the same buffer as `stored`
};

// A configuration file (RECORD_FLAG_CONFIG): a user's changed copy is kept
// in place and the new version written beside it; --repair leaves it alone.
inline bool entry_is_config(const Entry& entry) { return record_is_config(entry.record); }

// What an entry takes in the installation directory, for the free-space
// check: its file's size; a link or a directory counts as 0.
inline int64_t entry_space(const Entry& entry) { return entry_installs_file(entry.type) ? int64_t(entry.file_size) : 0; }

// Called between decoded slices of a compressed entry with the bytes decoded
// so far, so that a display can follow long entries.
struct EntryProgress {
  void (*slice_done)(void* context, const Entry& entry, uint32_t decoded);
  void* context;
};

// Reads the next entry from `stream` and checks it. On
// FAILURE_NONE the entry's buffers are owned by `entry` until
// release_entry. On a fault nothing stays allocated. `crc_table` is a table
// from crc16_table. `progress` may be null.
int read_entry(EntryStream* stream, const uint8_t* crc_table, Entry* entry, const EntryProgress* progress);

void release_entry(Entry* entry);

// read_entry in two steps: the record alone (length, CRC, name; the buffers
// stay null), then the data behind it.
int read_entry_record(EntryStream* stream, const uint8_t* crc_table, Entry* entry);
int read_entry_data(EntryStream* stream, const uint8_t* crc_table, Entry* entry, const EntryProgress* progress);
// After the last entry: FAILURE_NONE when the stored data ended where the
// records say, else ENTRY_FAULT_RECORD_SHORT (the record block holds bytes
// no entry took) or ENTRY_FAULT_DECODE (the last run's frame runs on).
int entry_stream_end(EntryStream* stream);

// read_entry_data without keeping the file: only the stored data is held,
// so memory is its size and no more whatever size the file declares.
int check_entry_data(EntryStream* stream, const uint8_t* crc_table, const Entry& entry,
                     const EntryProgress* progress);

// Receives an entry's file data slice by slice, in order. A nonzero result
// stops the passing of data; the rest is still decoded and checked, so that a
// damaged entry is reported as such whatever became of its output.
struct EntrySink {
  int (*write)(void* context, const uint8_t* data, uint32_t size);
  void* context;
};

// What decoding an entry's data needs, made once and used for one entry
// after another of one stream: a codec context and a buffer for the stored
// data.
struct EntryStreamer {
  struct CodecContext* codec;
  uint8_t* stored;
  EntryStream* zstd;  // the stream whose Zstandard context (entry_zstd.h) it holds a use of
};

// 0, or with nothing allocated FAILURE_NO_MEMORY (the buffer) or
// ENTRY_FAULT_DECODE (the codec could not be set up). Called by the thread
// that owns `stream`.
int entry_streamer_open(EntryStreamer* streamer, EntryStream* stream);
// Frees what open obtained; a closed or zeroed streamer is left alone. Called
// by the thread that owns its stream.
void entry_streamer_close(EntryStreamer* streamer);

// The data behind a record just read, in constant memory: the stored data is
// read in bounded slices and decoded one window at a time straight into
// `sink` (may be null), the file CRC kept running and compared at the end,
// so a fault can come after data has been passed on. Nothing stays
// allocated. The stored CRC is not checked here: check_attachment has done
// so before anything was installed. On success the stream's file stands
// behind the stored data. `progress` may be null.
int stream_entry_data(EntryStream* stream, const uint8_t* crc_table, EntryStreamer* streamer, const Entry* entry, const EntrySink* sink,
                      const EntryProgress* progress);

