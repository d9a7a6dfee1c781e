// The entry stream of one attachment as a reader walks it: the open file,
// the record block whose records come before the file's, and the Zstandard
// decoding state that a solid run carries from one entry to the next. The
// three move together (a record from the block, the data behind it from the
// file, the frame across entries), so every function that reads entries
// takes the stream they belong to, and nothing of it is process-wide.
//
// Threads: a stream is read by one thread at a time, its owner, which alone
// calls the functions that take it (reading, seeking, entry_zstd_open and
// entry_zstd_close among them). The thread that makes it owns it. For
// entry_prefetch_start .. entry_prefetch_stop the read-ahead thread owns it,
// with two hand-overs back, each made under the prefetch's lock:
//   - from entry_prefetch_next returning an entry that is not held until
//     the consumer's entry_prefetch_done for that entry: the file stands at
//     the entry's data, which the consumer reads (or passes over), while
//     the read-ahead thread waits;
//   - once entry_prefetch_stop has returned, for good.
// A thread that reads it outside those times races the read-ahead thread
// for the file position, the block and the frame.
#pragma once

#include <cstdint>
#include <cstdio>

// The records of one record block, decoded (record_block.h).
struct RecordBlock {
  uint8_t* records;  // decoded, `length` bytes; null when none is held
  uint32_t length;
  uint32_t taken;    // bytes of records read so far
  long offset;       // where the block's own record lies in the file; -1 when none is held
};

struct EntryStream {
  FILE* file;  // the caller's, standing at the next unread byte of the entry stream; never closed here
  RecordBlock block;
  // The Zstandard context with its carry (entry_zstd.cc), made by the first
  // entry_zstd_open and freed by the last entry_zstd_close.
  struct ZstdDecoder* zstd;
  unsigned zstd_users;
};

// A stream over `file` with nothing held.
void entry_stream_init(EntryStream* stream, FILE* file);
// Frees the block it holds; the file stays open and the Zstandard context
// is its users' to close. A zeroed stream is left alone.
void entry_stream_release(EntryStream* stream);

// Reads up to `length` bytes of the file; fewer only at its end or on a read
// error.
uint32_t entry_stream_read(EntryStream* stream, void* buffer, uint32_t length);
// Moves the file `distance` bytes on (or back): 0, or -1.
int entry_stream_skip(EntryStream* stream, long distance);
