#include "engine/read/entry_prefetch.h"

#include <csignal>
#include <cstdlib>
#include <cstring>

#include "codec/codec_context.h"

void* (*entry_prefetch_realloc)(void*, size_t) = realloc;

namespace {

// The decoder keeps its window and about 90 KiB of buffers on the stack;
// some C libraries give a thread only 128 KiB by default.
constexpr size_t PREFETCH_STACK = 512u << 10;

struct HeldOutput {
  PrefetchedEntry* slot;
  uint32_t size;
};

int hold_slice(void* context, const uint8_t* data, uint32_t size) {
  HeldOutput* out = static_cast<HeldOutput*>(context);
  if (size > out->slot->entry.file_size - out->size) return -1;  // never more than the file
  memcpy(out->slot->buffer + out->size, data, size);
  out->size += size;
  return 0;
}

void note_slice(void* context, const Entry&, uint32_t decoded) { static_cast<PrefetchedEntry*>(context)->shown = decoded; }

enum Filled { FILLED_HELD, FILLED_STREAMED, FILLED_FAULT };

// Reads the next entry into `slot`, and its data too when the file is small
// enough to hold; else the data is left in the file for the consumer.
Filled fill(EntryPrefetch* p, PrefetchedEntry* slot) {
  Entry& e = slot->entry;
  slot->held = slot->data_fault = 0;
  slot->shown = 0;
  e.stored = e.data = nullptr;
  slot->record_fault = read_entry_record(p->stream, p->crc_table, &e);
  if (slot->record_fault != FAILURE_NONE) return FILLED_FAULT;
  if (e.type == ENTRY_DELETE) {
    slot->held = 1;
    return FILLED_HELD;
  }
  if (e.file_size > PREFETCH_LARGEST) return FILLED_STREAMED;
  if (e.file_size > slot->capacity) {
    // Rounded up, so that a slot seldom grows twice.
    uint32_t want = e.file_size < 64u << 10 ? 64u << 10 : e.file_size;
    uint8_t* grown = static_cast<uint8_t*>(entry_prefetch_realloc(slot->buffer, want));
    if (!grown && e.type == ENTRY_ZSTD_CONTINUED) {
      // Its frame goes on from the entry before: left to the consumer, it
      // could not be decoded a second time.
      slot->held = 1;
      slot->data_fault = FAILURE_NO_MEMORY;
      return FILLED_FAULT;
    }
    if (!grown) return FILLED_STREAMED;  // in constant memory
    slot->buffer = grown;
    slot->capacity = want;
  }
  HeldOutput out{slot, 0};
  const EntrySink sink{hold_slice, &out};
  const EntryProgress progress{note_slice, slot};
  slot->data_fault = stream_entry_data(p->stream, p->crc_table, &p->streamer, &e, &sink, &progress);
  e.data = slot->buffer;
  slot->held = 1;
  return slot->data_fault != FAILURE_NONE ? FILLED_FAULT : FILLED_HELD;
}

// Waits until the consumer is done with entry `taken` - 1. The thread that
// waits says so, and only then is it woken: a wake-up per entry in each
// direction would cost more than the overlap gains.
void wait_for_consumer(EntryPrefetch* p, uint32_t taken) {
  p->wake_at = taken;
  while (!p->stopping && p->taken < taken) {
    p->reader_waits = 1;
    pthread_cond_wait(&p->changed, &p->lock);
  }
  p->reader_waits = 0;
}

void* read_ahead(void* context) {
  EntryPrefetch* p = static_cast<EntryPrefetch*>(context);
  pthread_mutex_lock(&p->lock);
  while (!p->stopping && !p->ended) {
    // A full ring is refilled once half of it is free, not slot by slot.
    if (p->filled - p->taken == PREFETCH_SLOTS) {
      wait_for_consumer(p, p->filled - PREFETCH_SLOTS / 2);
      continue;
    }
    PrefetchedEntry* slot = &p->slots[p->filled % PREFETCH_SLOTS];
    pthread_mutex_unlock(&p->lock);
    Filled outcome = fill(p, slot);
    pthread_mutex_lock(&p->lock);
    p->filled++;
    if (outcome == FILLED_FAULT || p->filled == p->count) p->ended = 1;
    if (p->consumer_waits) pthread_cond_broadcast(&p->changed);
    // Data left in the file: the consumer reads it, and then reading goes on.
    if (outcome == FILLED_STREAMED) wait_for_consumer(p, p->filled);
  }
  pthread_mutex_unlock(&p->lock);
  return nullptr;
}

}  // namespace

int entry_prefetch_start(EntryPrefetch* p, EntryStream* stream, const uint8_t* crc_table, uint32_t count) {
  memset(p, 0, sizeof *p);
  p->stream = stream;
  p->crc_table = crc_table;
  p->count = count;
  p->ended = count == 0;
  int fault = entry_streamer_open(&p->streamer, stream);
  if (fault != FAILURE_NONE) return fault;
  if (count < 2) return FAILURE_NONE;  // nothing to overlap
  if (pthread_mutex_init(&p->lock, nullptr) != 0) return FAILURE_NONE;
  if (pthread_cond_init(&p->changed, nullptr) != 0) {
    pthread_mutex_destroy(&p->lock);
    return FAILURE_NONE;
  }
  // Signals stay with the consumer's thread, whose handling they expect.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  pthread_attr_t attr;
  bool attr_made = pthread_attr_init(&attr) == 0;
  if (attr_made) pthread_attr_setstacksize(&attr, PREFETCH_STACK);
  p->threaded = pthread_create(&p->thread, attr_made ? &attr : nullptr, read_ahead, p) == 0;
  if (attr_made) pthread_attr_destroy(&attr);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (!p->threaded) {
    pthread_cond_destroy(&p->changed);
    pthread_mutex_destroy(&p->lock);
  }
  return FAILURE_NONE;
}

PrefetchedEntry* entry_prefetch_next(EntryPrefetch* p) {
  if (!p->threaded) {
    fill(p, &p->slots[0]);
    return &p->slots[0];
  }
  pthread_mutex_lock(&p->lock);
  while (p->filled == p->taken) {
    p->consumer_waits = 1;
    pthread_cond_wait(&p->changed, &p->lock);
  }
  p->consumer_waits = 0;
  pthread_mutex_unlock(&p->lock);
  return &p->slots[p->taken % PREFETCH_SLOTS];
}

void entry_prefetch_done(EntryPrefetch* p) {
  if (!p->threaded) return;
  pthread_mutex_lock(&p->lock);
  p->taken++;
  if (p->reader_waits && p->taken >= p->wake_at) pthread_cond_broadcast(&p->changed);
  pthread_mutex_unlock(&p->lock);
}

void entry_prefetch_replay(const PrefetchedEntry& held, const EntryProgress* progress) {
  if (!progress) return;
  for (uint32_t decoded = CODEC_WINDOW; decoded <= held.shown; decoded += CODEC_WINDOW)
    progress->slice_done(progress->context, held.entry, decoded);
}

void entry_prefetch_stop(EntryPrefetch* p) {
  if (p->threaded) {
    pthread_mutex_lock(&p->lock);
    p->stopping = 1;
    pthread_cond_broadcast(&p->changed);
    pthread_mutex_unlock(&p->lock);
    pthread_join(p->thread, nullptr);
    pthread_cond_destroy(&p->changed);
    pthread_mutex_destroy(&p->lock);
    p->threaded = 0;
  }
  for (PrefetchedEntry& slot : p->slots) {
    free(slot.buffer);
    slot.buffer = nullptr;
    slot.capacity = 0;
  }
  entry_streamer_close(&p->streamer);
}
