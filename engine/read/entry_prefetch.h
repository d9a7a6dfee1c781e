// Reading and decoding the entries of the attachment ahead of their
// installation, on a second thread: while one file is written, the records
// and data behind it are read, decoded and checked. Decoding and writing
// files each take about half of an installation's time, so the two
// processors of a small machine overlap them.
//
// The consumer sees exactly what reading the entries one after another
// would give, in the same order: a fault of entry k+1 is handed over only
// after entry k, and the slices a display would have been told of can be
// replayed. Only files up to PREFETCH_LARGEST bytes are held in memory; the
// data of a larger one is left in the entry stream for the consumer to
// stream, and the reading ahead waits until it has, so memory stays bounded
// whatever the attachment holds. Where no thread can be started, each entry
// is read when the consumer asks for it. Who reads the stream when is told
// in entry_stream.h.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>

#include "engine/read/entry_reader.h"

constexpr uint32_t PREFETCH_SLOTS = 8;
constexpr uint32_t PREFETCH_LARGEST = 1u << 20;
static_assert(uint64_t(PREFETCH_SLOTS) * PREFETCH_LARGEST <= 8u << 20, "entries held ahead stay within 8 MiB");
// A file left to the consumer may be decoded twice (extraction.h), which
// only a Zstandard entry that begins its frame allows: a continued one is
// held, or failed for want of memory, never left.
static_assert(ZSTD_CONTINUED_LARGEST <= PREFETCH_LARGEST, "a continued Zstandard entry is always held");

// Grows a slot's buffer: realloc, or in a test one that fails.
extern void* (*entry_prefetch_realloc)(void* buffer, size_t size);

struct PrefetchedEntry {
  Entry entry;       // the record; entry.data holds the file when `held`
  int record_fault;  // the record could not be read or failed a check: nothing else is set
  int held;          // data read, decoded and checked here (or none: a deletion)
  int data_fault;    // when held: the data's fault; the file must not be written
  uint32_t shown;    // when held: decoded bytes at the last slice reported to a display
  uint8_t* buffer;   // the slot's own, kept for the next entry in the slot
  uint32_t capacity;
};

struct EntryPrefetch {
  EntryStream* stream;  // the read-ahead thread's while it runs (entry_stream.h)
  const uint8_t* crc_table;
  uint32_t count;    // entries in the attachment
  uint32_t filled;   // entries read into slots so far
  uint32_t taken;    // entries the consumer is done with
  uint32_t wake_at;  // the reading thread waits for `taken` to reach this
  int reader_waits;
  int consumer_waits;
  int ended;         // nothing more will be read: all read, or a fault
  int stopping;      // the consumer asks the thread to end
  int threaded;
  EntryStreamer streamer;
  PrefetchedEntry slots[PREFETCH_SLOTS];
  pthread_t thread;
  pthread_mutex_t lock;
  pthread_cond_t changed;
};

// Starts reading `count` entries from the current position of `stream`,
// which the read-ahead thread owns from now on. 0, or FAILURE_NO_MEMORY / ENTRY_FAULT_DECODE when the
// decoder cannot be set up (nothing is left to stop then).
int entry_prefetch_start(EntryPrefetch* prefetch, EntryStream* stream, const uint8_t* crc_table, uint32_t count);

// The next entry, once it is read; valid until entry_prefetch_done. For an
// entry not held, the stream is the consumer's until entry_prefetch_done and
// stands at the entry's data, which the consumer reads or passes over in
// that time. At most `count` calls.
PrefetchedEntry* entry_prefetch_next(EntryPrefetch* prefetch);
void entry_prefetch_done(EntryPrefetch* prefetch);

// Tells `progress` of the slices of a held entry, as decoding it in the
// consumer's own thread would have.
void entry_prefetch_replay(const PrefetchedEntry& held, const EntryProgress* progress);

// Ends the thread and frees everything; the stream is then the caller's
// again. Harmless on a zeroed, stopped or never started record.
void entry_prefetch_stop(EntryPrefetch* prefetch);
