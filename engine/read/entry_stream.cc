#include "engine/read/entry_stream.h"

#include "engine/read/record_block.h"

void entry_stream_init(EntryStream* s, FILE* file) { *s = EntryStream{file, {nullptr, 0, 0, -1}, nullptr, 0}; }

void entry_stream_release(EntryStream* s) { record_block_release(s); }

uint32_t entry_stream_read(EntryStream* s, void* buffer, uint32_t length) {
  return uint32_t(fread(buffer, 1, length, s->file));
}

int entry_stream_skip(EntryStream* s, long distance) { return fseek(s->file, distance, SEEK_CUR) == 0 ? 0 : -1; }
