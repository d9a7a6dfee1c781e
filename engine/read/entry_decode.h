// Decoding an entry's stored data into a sink, whatever its method and
// wherever the stored data lies: held whole in memory, or still in the entry
// stream, read a slice at a time. Every reader of entries decodes here: the
// held and the streamed reads of entry_reader.h, the read-ahead, and
// zolt-pack's checks and its decoding of a bare -lh5- stream.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/codec_context.h"
#include "engine/read/entry_reader.h"

// Stored data read from the stream at a time. Before each call of the -lh5-
// decoder at least half of it is held, or all that is left: far more than
// one window of output takes from any stream an encoder makes.
constexpr uint32_t STORED_SLICE = 1u << 17;

// The stored data of one entry, or a bare -lh5- stream, as the decoders take it.
struct StoredInput {
  EntryStream* stream;  // where the rest lies; null when all of it is held
  uint8_t* buffer;      // the slices read from the stream
  uint8_t* whole;       // all of it, read in again by the -lh5- decoder; freed by stored_input_release
  uint32_t capacity;    // of `buffer`
  uint32_t size;        // stored bytes in the stream in all
  uint32_t left;        // stored bytes not yet read from the stream
  ByteRange range;      // held bytes, from the next one not yet taken
};

// Over `size` bytes at `data`, which outlive it.
StoredInput stored_held(const uint8_t* data, size_t size);
// Over the next `size` bytes of `stream`, read into `buffer` (STORED_SLICE
// bytes) a slice at a time.
StoredInput stored_in_stream(EntryStream* stream, uint8_t* buffer, uint32_t size);
void stored_input_release(StoredInput* in);

// Where decoded bytes go.
struct DecodeOutput {
  const EntrySink* sink;          // may be null; passed nothing more once it has failed
  const EntryProgress* progress;  // may be null; told of `entry`
  const Entry* entry;
  const uint8_t* crc_table;       // null: no CRC is kept
  uint16_t crc;                   // of the bytes decoded so far
  uint64_t at;                    // on ENTRY_FAULT_DECODE, the output bytes before the slice that failed
};

// Decodes `size` bytes of a -lh5- stream from `in` with `codec`, which is
// reset first, every call of it but the last producing one whole window as
// it requires. Sink and progress see every byte once in order, even where
// a stream too dense to decode from slices is read in whole and decoded
// again. Bytes of the stream behind the last window are passed over.
// FAILURE_NONE, ENTRY_FAULT_DECODE, ENTRY_FAULT_STORED_SHORT or
// FAILURE_NO_MEMORY; after a fault the sink has not been given the
// slices of the last batch.
int decode_lh5(CodecContext* codec, StoredInput* in, uint64_t size, DecodeOutput* out);

// Decodes the stored data of `entry` from `in` by its method (stored,
// Zstandard with `stream`'s context, else -lh5- with `codec`) into `sink`,
// and checks the file CRC: FAILURE_NONE or the entry's fault. On success
// all of `in` is taken. The stored CRC is the caller's to check.
int decode_entry_data(EntryStream* stream, const uint8_t* crc_table, CodecContext* codec, const Entry& entry,
                      StoredInput* in, const EntrySink* sink, const EntryProgress* progress);
