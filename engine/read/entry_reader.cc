#include "engine/read/entry_reader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive/crc16.h"
#include "codec/codec_context.h"
#include "engine/read/entry_decode.h"
#include "engine/read/entry_zstd.h"
#include "engine/read/record_block.h"

namespace {

// One record, from the block held or else from the file, never from both.
int read_one_record(EntryStream* s, const uint8_t* crc_table, Entry* e, bool from_block) {
  uint32_t (*read)(EntryStream*, void*, uint32_t) = from_block ? record_block_read : entry_stream_read;
  uint8_t* r = e->record;
  if (read(s, r, 4) < 4) return ENTRY_FAULT_RECORD_LENGTH;
  e->record_length = get_u32(r + RECORD_LENGTH);
  if (e->record_length < RECORD_MIN_LENGTH || e->record_length > RECORD_MAX_LENGTH)
    return ENTRY_FAULT_RECORD_LENGTH;
  if (read(s, r + 4, e->record_length - 4) < e->record_length - 4) return ENTRY_FAULT_RECORD_SHORT;
  uint16_t saved = get_u16(r + RECORD_CRC);
  put_u16(r + RECORD_CRC, 0);
  uint16_t computed = crc16(crc_table, r, e->record_length);
  put_u16(r + RECORD_CRC, saved);
  if (computed != saved) return ENTRY_FAULT_RECORD_CRC;
  if (!memchr(r + RECORD_NAME, 0, e->record_length - RECORD_NAME)) return ENTRY_FAULT_NAME_UNTERMINATED;
  e->name = reinterpret_cast<const char*>(r + RECORD_NAME);
  if (!name_stays_inside(e->name)) return ENTRY_FAULT_NAME_ESCAPES;
  e->type = get_u32(r + RECORD_ENTRY_TYPE);
  e->file_size = get_u32(r + RECORD_FILE_SIZE);
  e->stored_size = get_u32(r + RECORD_STORED_SIZE);
  e->mod_time = get_i32(r + RECORD_MOD_TIME);
  e->mode = get_u16(r + RECORD_MODE);
  // A link's target is held whole, as the system can store it, and a hard
  // link's first name as a record holds it; a directory carries nothing.
  if (e->type == ENTRY_SYMLINK &&
      (e->file_size != e->stored_size || e->file_size == 0 || e->file_size > LINK_TARGET_MAX))
    return ENTRY_FAULT_TREE_OBJECT;
  if (e->type == ENTRY_HARD_LINK &&
      (e->file_size != e->stored_size || e->file_size == 0 || e->file_size > RECORD_MAX_NAME))
    return ENTRY_FAULT_TREE_OBJECT;
  if (e->type == ENTRY_DIRECTORY && (e->file_size != 0 || e->stored_size != 0)) return ENTRY_FAULT_TREE_OBJECT;
  return FAILURE_NONE;
}

}  // namespace

int read_entry_record(EntryStream* s, const uint8_t* crc_table, Entry* e) {
  for (;;) {
    bool from_block = record_block_has_more(s);
    int fault = read_one_record(s, crc_table, e, from_block);
    // A new frame finds the one before it ended with its last file (entries
    // of other kinds may come between a run's, the frame going on behind).
    if (fault == FAILURE_NONE && e->type == ENTRY_ZSTD_FRAME) fault = entry_zstd_run_end(s);
    // A program without Zstandard reads the type as any unknown one, as
    // -lh5-: the -lh5- stub stays as it was.
    if (fault != FAILURE_NONE || e->type != ENTRY_RECORD_BLOCK || !ENTRY_ZSTD_SUPPORTED) return fault;
    if (from_block) return ENTRY_FAULT_TREE_OBJECT;  // a block inside a block
    long offset = ftell(s->file);
    if (offset < 0) return ENTRY_FAULT_RECORD_SHORT;
    fault = record_block_load(s, crc_table, *e, offset - long(e->record_length));
    if (fault != FAILURE_NONE) {
      e->name = nullptr;  // the block's, which is no entry's
      return fault;
    }
  }
}

int entry_stream_end(EntryStream* s) {
  // What no counted record took: a cut record, or data behind the files.
  if (record_block_has_more(s)) return ENTRY_FAULT_RECORD_SHORT;
  return entry_zstd_run_end(s);
}

namespace {

struct FillOutput {
  uint8_t* position;
};

int fill_output(void* context, const uint8_t* data, uint32_t size) {
  FillOutput* out = static_cast<FillOutput*>(context);
  memcpy(out->position, data, size);  // never more than file_size in all
  out->position += size;
  return 0;
}

// Reads the stored data into `stored`, checks it against its CRC and decodes
// it from there into `sink`.
int decode_held(EntryStream* s, const uint8_t* crc_table, const Entry& e, uint8_t* stored, const EntrySink* sink,
                const EntryProgress* progress) {
  if (entry_stream_read(s, stored, e.stored_size) < e.stored_size) return ENTRY_FAULT_STORED_SHORT;
  if (crc16(crc_table, stored, e.stored_size) != get_u16(e.record + RECORD_STORED_CRC)) return ENTRY_FAULT_STORED_CRC;
  bool zstd = entry_is_zstd(e.type);
  CodecContext* codec = nullptr;
  if (zstd && entry_zstd_open(s) != FAILURE_NONE) return FAILURE_NO_MEMORY;
  if (!zstd && !entry_data_is_stored(e.type) && codec_create(&codec) < 0) return ENTRY_FAULT_DECODE;
  StoredInput in = stored_held(stored, e.stored_size);
  int fault = decode_entry_data(s, crc_table, codec, e, &in, sink, progress);
  codec_release(&codec);
  if (zstd) entry_zstd_close(s);
  return fault;
}

}  // namespace

int read_entry(EntryStream* s, const uint8_t* crc_table, Entry* e, const EntryProgress* progress) {
  e->stored = e->data = nullptr;
  int fault = read_entry_record(s, crc_table, e);
  return fault != FAILURE_NONE ? fault : read_entry_data(s, crc_table, e, progress);
}

int read_entry_data(EntryStream* s, const uint8_t* crc_table, Entry* e, const EntryProgress* progress) {
  e->stored = e->data = nullptr;
  if (e->type == ENTRY_DELETE) return FAILURE_NONE;
  // A stored file is copied out of its stored data: it cannot be longer.
  bool stored = entry_data_is_stored(e->type);
  if (stored && e->file_size > e->stored_size) return ENTRY_FAULT_STORED_SHORT;
  // Both buffers are requested before either is examined; a stored file is
  // its stored data, so it needs no second buffer.
  e->stored = static_cast<uint8_t*>(malloc(e->stored_size ? e->stored_size : 1));
  e->data = stored ? e->stored : static_cast<uint8_t*>(malloc(e->file_size ? e->file_size : 1));
  int fault = FAILURE_NONE;
  if (!e->stored || !e->data) {
    fault = FAILURE_NO_MEMORY;
  } else {
    FillOutput out{e->data};
    const EntrySink sink{fill_output, &out};
    fault = decode_held(s, crc_table, *e, e->stored, stored ? nullptr : &sink, progress);
  }
  if (fault != FAILURE_NONE) release_entry(e);
  return fault;
}

int check_entry_data(EntryStream* s, const uint8_t* crc_table, const Entry& e, const EntryProgress* progress) {
  if (e.type == ENTRY_DELETE) return FAILURE_NONE;
  if (entry_data_is_stored(e.type) && e.file_size > e.stored_size) return ENTRY_FAULT_STORED_SHORT;
  uint8_t* stored = static_cast<uint8_t*>(malloc(e.stored_size ? e.stored_size : 1));
  if (!stored) return FAILURE_NO_MEMORY;
  int fault = decode_held(s, crc_table, e, stored, nullptr, progress);
  free(stored);
  return fault;
}

int entry_streamer_open(EntryStreamer* w, EntryStream* stream) {
  *w = EntryStreamer{};
  w->stored = static_cast<uint8_t*>(malloc(STORED_SLICE));
  int fault = !w->stored ? FAILURE_NO_MEMORY
              : codec_create(&w->codec) != CODEC_OK ? ENTRY_FAULT_DECODE : entry_zstd_open(stream);
  if (fault == FAILURE_NONE) w->zstd = stream;
  if (fault != FAILURE_NONE) entry_streamer_close(w);
  return fault;
}

void entry_streamer_close(EntryStreamer* w) {
  codec_release(&w->codec);
  free(w->stored);
  w->stored = nullptr;
  if (w->zstd) entry_zstd_close(w->zstd);
  w->zstd = nullptr;
}

int stream_entry_data(EntryStream* s, const uint8_t* crc_table, EntryStreamer* w, const Entry* e,
                      const EntrySink* sink, const EntryProgress* progress) {
  if (e->type == ENTRY_DELETE) return FAILURE_NONE;
  if (entry_data_is_stored(e->type) && e->file_size > e->stored_size) return ENTRY_FAULT_STORED_SHORT;
  StoredInput in = stored_in_stream(s, w->stored, e->stored_size);
  int fault = decode_entry_data(s, crc_table, w->codec, *e, &in, sink, progress);
  stored_input_release(&in);
  return fault;
}

void release_entry(Entry* e) {
  if (e->data != e->stored) free(e->data);
  free(e->stored);
  e->stored = e->data = nullptr;
}
