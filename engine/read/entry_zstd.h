// Decoding the Zstandard entries of an attachment (ENTRY_ZSTD_FRAME,
// ENTRY_ZSTD_CONTINUED). A frame runs across the entries of a solid run, so
// its decoder must see every one of them, in order. The installer decodes
// entries in order and one at a time, but through more than one
// EntryStreamer (the read-ahead thread's and the extraction's, which takes
// the large files), so the entry stream holds one decoding context for all
// of them, made by the first entry_zstd_open and freed by the last
// entry_zstd_close on that stream. Its history is at most
// 2^ZSTD_WINDOW_LOG_MAX bytes whatever a frame asks, which bounds the memory.
//
// A program built without libzstd links entry_zstd_absent.cc instead: every
// Zstandard entry is then a decoding fault, found before anything changes.
#pragma once

#include <cstdint>

#include "engine/read/entry_reader.h"
#include "engine/read/entry_stream.h"

// 1 when this program decodes Zstandard entries.
extern const int ENTRY_ZSTD_SUPPORTED;
// Held in the image of every program that decodes them, so that zolt-pack
// can tell a stub that does from one that does not.
// A stub of an earlier build has a shorter tag: without " by column" where
// it read the records of a block one after another, without " and record
// blocks by column" where it read no blocks.
#define ENTRY_ZSTD_TAG "zolt-setup decodes Zstandard entries and record blocks by column"

// Counted per stream; 0, or FAILURE_NO_MEMORY with nothing held.
int entry_zstd_open(EntryStream* stream);
void entry_zstd_close(EntryStream* stream);

// Where the stored data of one entry comes from, a piece at a time: 0 with
// the next piece (`*size` 0 once all of it was given), or an entry fault.
struct ZstdSource {
  int (*next)(void* context, const uint8_t** data, uint32_t* size);
  void* context;
};

// Decodes the entry's stored data into `sink` (may be null), keeps the file
// CRC running in `*crc` over exactly file_size bytes, and reports the
// decoded windows to `progress` (may be null) as the -lh5- path does. An
// ENTRY_ZSTD_CONTINUED entry goes on from the entry before it: its file
// begins with what the decoder holds from the last block of the files
// before it, and its stored data (possibly none) is the blocks that begin in
// it. After any fault it cannot, until a frame begins again. A frame that
// ends before the file does, stored data the file is complete without, or
// stored data too short for the file, is ENTRY_FAULT_DECODE. Must be called
// between open and close of `stream`, whose context it uses; the data comes
// from `source`, not from the stream's file.
int entry_zstd_decode(EntryStream* stream, const uint8_t* crc_table, const Entry& entry, const ZstdSource& source,
                      const EntrySink* sink, const EntryProgress* progress, uint16_t* crc);

// The start of a frame entry's stored data: FAILURE_NONE when it begins a
// frame this decoder takes (the magic number, no dictionary, a window within
// 2^ZSTD_WINDOW_LOG_MAX), else ENTRY_FAULT_DECODE. Read by the check pass,
// so that such a frame is refused before anything changes.
int entry_zstd_frame_header(const uint8_t* start, uint32_t size);

// The run of the entries decoded last is over (a new frame begins, or no
// entry is left): FAILURE_NONE when its frame ended
// with the last file, ENTRY_FAULT_DECODE when the frame runs on or gave
// more than its files. Either way no frame is open afterwards.
int entry_zstd_run_end(EntryStream* stream);

// Decodes the stored data of a record block (one frame of its own, apart
// from the stream's context) into `out`: 0 with `*produced` set, or
// ENTRY_FAULT_DECODE (also in a program without Zstandard) or
// FAILURE_NO_MEMORY.
int entry_zstd_decode_block(const uint8_t* stored, uint32_t stored_size, uint8_t* out, uint32_t capacity,
                            uint32_t* produced);
