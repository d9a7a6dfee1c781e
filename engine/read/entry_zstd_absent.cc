// The Zstandard side of the engine for programs built without libzstd, the
// -lh5- installer stub among them.
#include "engine/read/entry_zstd.h"
#include "engine/read/record_block.h"

const int ENTRY_ZSTD_SUPPORTED = 0;

int entry_zstd_open(EntryStream*) { return FAILURE_NONE; }
void entry_zstd_close(EntryStream*) {}

int entry_zstd_decode(EntryStream*, const uint8_t*, const Entry&, const ZstdSource&, const EntrySink*, const EntryProgress*,
                      uint16_t*) {
  return ENTRY_FAULT_DECODE;
}

int entry_zstd_decode_block(const uint8_t*, uint32_t, uint8_t*, uint32_t, uint32_t*) { return ENTRY_FAULT_DECODE; }

int record_block_load(EntryStream*, const uint8_t*, const Entry&, long) { return ENTRY_FAULT_DECODE; }

int entry_zstd_frame_header(const uint8_t*, uint32_t) { return ENTRY_FAULT_DECODE; }
int entry_zstd_run_end(EntryStream*) { return FAILURE_NONE; }
