#include "engine/read/entry_reader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive/attachment_reader.h"
#include "archive/crc16.h"
#include "codec/codec_context.h"
#include "codec/decoder.h"
#include "engine/read/entry_zstd.h"
#include "engine/read/record_block.h"

const char* entry_fault_message(int fault) {
  switch (fault) {
    case ENTRY_FAULT_RECORD_LENGTH: return "Corrupted file(s) (err=1).";
    case ENTRY_FAULT_RECORD_SHORT: return "Corrupted file(s) (err=2).";
    case ENTRY_FAULT_STORED_SHORT: return "Corrupted file(s) (err=3).";
    case ENTRY_FAULT_STORED_CRC: return "Corrupted file(s) (err=4).";
    case ENTRY_FAULT_FILE_CRC: return "Corrupted file(s) (err=5).";
    case ENTRY_FAULT_RECORD_CRC: return "Corrupted file(s) (err=6).";
    case ENTRY_FAULT_NAME_UNTERMINATED: return "Corrupted file(s) (err=7).";
    case ENTRY_FAULT_NAME_ESCAPES: return "Corrupted file(s) (err=8).";
    case ENTRY_FAULT_DECODE: return "Decompression error (err=1).";
    case ENTRY_FAULT_NO_MEMORY: return "Memory allocation error (err=3).";
    case ENTRY_FAULT_TREE_OBJECT: return "Corrupted file(s) (err=10).";
    default: return nullptr;
  }
}

namespace {

// One record, from the block held or else from the file, never from both.
int read_one_record(const uint8_t* crc_table, Entry* e, bool from_block) {
  uint32_t (*read)(void*, uint32_t) = from_block ? record_block_read : read_attachment;
  uint8_t* r = e->record;
  if (read(r, 4) < 4) return ENTRY_FAULT_RECORD_LENGTH;
  e->record_length = get_u32(r + RECORD_LENGTH);
  if (e->record_length < RECORD_MIN_LENGTH || e->record_length > RECORD_MAX_LENGTH)
    return ENTRY_FAULT_RECORD_LENGTH;
  if (read(r + 4, e->record_length - 4) < e->record_length - 4) return ENTRY_FAULT_RECORD_SHORT;
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
  // A link's target is held whole, as the system can store it; a directory
  // carries nothing.
  if (e->type == ENTRY_SYMLINK &&
      (e->file_size != e->stored_size || e->file_size == 0 || e->file_size > LINK_TARGET_MAX))
    return ENTRY_FAULT_TREE_OBJECT;
  if (e->type == ENTRY_DIRECTORY && (e->file_size != 0 || e->stored_size != 0)) return ENTRY_FAULT_TREE_OBJECT;
  return ENTRY_FAULT_NONE;
}

}  // namespace

int read_entry_record(const uint8_t* crc_table, Entry* e) {
  for (;;) {
    bool from_block = record_block_has_more();
    int fault = read_one_record(crc_table, e, from_block);
    // A program without Zstandard reads the type as any unknown one, as
    // -lh5-: the -lh5- stub stays as it was.
    if (fault != ENTRY_FAULT_NONE || e->type != ENTRY_RECORD_BLOCK || !ENTRY_ZSTD_SUPPORTED) return fault;
    if (from_block) return ENTRY_FAULT_TREE_OBJECT;  // a block inside a block
    long offset = ftell(attachment_file);
    if (offset < 0) return ENTRY_FAULT_RECORD_SHORT;
    fault = record_block_load(crc_table, *e, offset - long(e->record_length));
    if (fault != ENTRY_FAULT_NONE) {
      e->name = nullptr;  // the block's, which is no entry's
      return fault;
    }
  }
}

namespace {

// Decodes the stored stream into e->data in slices of at most one window:
// every call but the last must produce exactly CODEC_WINDOW bytes.
int decode_entry(Entry* e, const EntryProgress* progress) {
  CodecContext* codec = nullptr;
  if (codec_create(&codec) < 0) return ENTRY_FAULT_DECODE;
  ByteRange in{}, out{};
  in.cur = in.start = e->stored;
  in.end = e->stored + e->stored_size;
  in.size = int32_t(e->stored_size);
  uint8_t* position = e->data;
  uint8_t* end = e->data + e->file_size;
  for (;;) {
    uint32_t chunk = uint32_t(end - position) < CODEC_WINDOW ? uint32_t(end - position) : CODEC_WINDOW;
    out.cur = out.start = position;
    out.end = position + chunk;
    out.size = int32_t(chunk);
    int32_t result = codec_decode(codec, &in, &out);
    position += chunk;
    if (position == end) {
      codec_release(&codec);
      return result < 0 ? ENTRY_FAULT_DECODE : ENTRY_FAULT_NONE;
    }
    if (progress) progress->slice_done(progress->context, *e, uint32_t(position - e->data));
    if (result < 0) {
      codec_release(&codec);
      return ENTRY_FAULT_DECODE;
    }
  }
}

// Hands out a buffer once, then its end.
struct HeldSource {
  const uint8_t* data;
  uint32_t size;
};

int next_held(void* context, const uint8_t** data, uint32_t* size) {
  HeldSource* h = static_cast<HeldSource*>(context);
  *data = h->data;
  *size = h->size;
  h->size = 0;
  return ENTRY_FAULT_NONE;
}

struct FillOutput {
  uint8_t* position;
};

int fill_output(void* context, const uint8_t* data, uint32_t size) {
  FillOutput* out = static_cast<FillOutput*>(context);
  memcpy(out->position, data, size);  // never more than file_size in all
  out->position += size;
  return 0;
}

int decode_zstd_held(const uint8_t* crc_table, Entry* e, const EntryProgress* progress) {
  if (entry_zstd_open() != ENTRY_FAULT_NONE) return ENTRY_FAULT_NO_MEMORY;
  HeldSource held{e->stored, e->stored_size};
  FillOutput out{e->data};
  const EntrySink sink{fill_output, &out};
  uint16_t crc = 0;
  int fault = entry_zstd_decode(crc_table, *e, ZstdSource{next_held, &held}, &sink, progress, &crc);
  entry_zstd_close();
  return fault;
}

}  // namespace

int read_entry(const uint8_t* crc_table, Entry* e, const EntryProgress* progress) {
  e->stored = e->data = nullptr;
  int fault = read_entry_record(crc_table, e);
  return fault != ENTRY_FAULT_NONE ? fault : read_entry_data(crc_table, e, progress);
}

int read_entry_data(const uint8_t* crc_table, Entry* e, const EntryProgress* progress) {
  e->stored = e->data = nullptr;
  if (e->type == ENTRY_DELETE) return ENTRY_FAULT_NONE;
  // A stored file is copied out of its stored data: it cannot be longer.
  bool stored = entry_data_is_stored(e->type);
  if (stored && e->file_size > e->stored_size) return ENTRY_FAULT_STORED_SHORT;
  // Both buffers are requested before either is examined; a stored file is
  // its stored data, so it needs no second buffer.
  e->stored = static_cast<uint8_t*>(malloc(e->stored_size ? e->stored_size : 1));
  e->data = stored ? e->stored : static_cast<uint8_t*>(malloc(e->file_size ? e->file_size : 1));
  int fault = ENTRY_FAULT_NONE;
  if (!e->stored || !e->data) fault = ENTRY_FAULT_NO_MEMORY;
  else if (read_attachment(e->stored, e->stored_size) < e->stored_size) fault = ENTRY_FAULT_STORED_SHORT;
  else if (crc16(crc_table, e->stored, e->stored_size) != get_u16(e->record + RECORD_STORED_CRC))
    fault = ENTRY_FAULT_STORED_CRC;
  else if (entry_is_zstd(e->type)) fault = decode_zstd_held(crc_table, e, progress);
  else if (!stored) fault = decode_entry(e, progress);
  if (fault == ENTRY_FAULT_NONE && crc16(crc_table, e->data, e->file_size) != get_u16(e->record + RECORD_FILE_CRC))
    fault = ENTRY_FAULT_FILE_CRC;
  if (fault != ENTRY_FAULT_NONE) release_entry(e);
  return fault;
}

namespace {

// Stored data held at once while an entry is decoded. Before each call of the
// decoder at least half of it is held, or all that is left: far more than
// one window of output takes from any stream an encoder makes.
constexpr uint32_t STORED_SLICE = 1u << 17;
constexpr uint32_t STORED_LOW = STORED_SLICE / 2;

struct StoredInput {
  uint8_t* buffer;  // the streamer's, or the whole stored data held by hold_whole
  uint8_t* whole;   // the latter, to be freed
  uint32_t capacity;
  uint32_t left;  // stored bytes not yet read from the attachment
  ByteRange range;
};

// Moves what is unread to the front and reads more behind it.
int top_up(StoredInput* s) {
  uint32_t held = uint32_t(s->range.end - s->range.cur);
  if (held >= STORED_LOW || s->left == 0) return ENTRY_FAULT_NONE;
  memmove(s->buffer, s->range.cur, held);
  uint32_t n = s->left < s->capacity - held ? s->left : s->capacity - held;
  if (read_attachment(s->buffer + held, n) < n) return ENTRY_FAULT_STORED_SHORT;
  s->left -= n;
  s->range.cur = s->range.start = s->buffer;
  s->range.end = s->buffer + held + n;
  return ENTRY_FAULT_NONE;
}

// A call of the decoder that reached the end of what was held may have read
// the zeros past it instead of the stream: the whole stored data is then read
// in again and held, as a stream that dense needs.
int hold_whole(StoredInput* s, uint32_t stored_size) {
  uint8_t* whole = static_cast<uint8_t*>(malloc(stored_size));
  if (!whole) return ENTRY_FAULT_NO_MEMORY;
  if (fseek(attachment_file, -long(stored_size - s->left), SEEK_CUR) != 0 ||
      read_attachment(whole, stored_size) < stored_size) {
    free(whole);
    return ENTRY_FAULT_STORED_SHORT;
  }
  free(s->whole);
  s->buffer = s->whole = whole;
  s->capacity = stored_size;
  s->left = 0;
  s->range.cur = s->range.start = whole;
  s->range.end = whole + stored_size;
  return ENTRY_FAULT_NONE;
}

// Data for the sink; once it has failed it is passed no more.
void pass_on(const EntrySink*& sink, const uint8_t* data, uint32_t size) {
  if (sink && size > 0 && sink->write(sink->context, data, size) != 0) sink = nullptr;
}

int stream_stored(const uint8_t* crc_table, const Entry* e, StoredInput* s, const EntrySink* sink, uint16_t* crc) {
  for (uint32_t passed = 0; s->left > 0;) {
    uint32_t n = s->left < s->capacity ? s->left : s->capacity;
    if (read_attachment(s->buffer, n) < n) return ENTRY_FAULT_STORED_SHORT;
    s->left -= n;
    // What lies behind the file's bytes is read past, never passed on.
    uint32_t take = e->file_size - passed < n ? e->file_size - passed : n;
    *crc = crc16_continue(crc_table, *crc, s->buffer, take);
    pass_on(sink, s->buffer, take);
    passed += take;
  }
  return ENTRY_FAULT_NONE;
}

// Decoded windows passed on together, so that a file takes one write per
// this many bytes.
constexpr uint32_t BATCH_WINDOWS = 8;

// Every call but the last produces exactly one window, as the decoder needs.
int stream_compressed(const uint8_t* crc_table, CodecContext* codec, const Entry* e, StoredInput* s,
                      const EntrySink* sink, const EntryProgress* progress, uint16_t* crc) {
  codec_reset(codec);
  uint8_t batch[BATCH_WINDOWS * CODEC_WINDOW];
  uint32_t held = 0;  // bytes of `batch` not yet passed on
  ByteRange out{};
  uint32_t done = 0;
  uint32_t passed = 0;  // bytes handled before the stored data came to be held whole
  int fault = ENTRY_FAULT_NONE;
  for (;;) {
    fault = top_up(s);
    if (fault != ENTRY_FAULT_NONE) break;
    if (held == sizeof batch) {
      pass_on(sink, batch, held);
      held = 0;
    }
    uint32_t chunk = e->file_size - done < CODEC_WINDOW ? e->file_size - done : CODEC_WINDOW;
    out.cur = out.start = batch + held;
    out.end = out.cur + chunk;
    out.size = int32_t(chunk);
    int32_t result = codec_decode(codec, &s->range, &out);
    if (s->range.cur >= s->range.end && s->left > 0) {
      // Decoded again from the start; the slices already handled are
      // produced once more and dropped.
      fault = hold_whole(s, e->stored_size);
      if (fault != ENTRY_FAULT_NONE) return fault;
      codec_reset(codec);
      passed = done;
      done = 0;
      continue;
    }
    done += chunk;
    if (done > passed) {
      *crc = crc16_continue(crc_table, *crc, batch + held, chunk);
      held += chunk;
    }
    if (done == e->file_size) {
      if (result < 0) fault = ENTRY_FAULT_DECODE;
      break;
    }
    if (progress && done > passed) progress->slice_done(progress->context, *e, done);
    if (result < 0) {
      fault = ENTRY_FAULT_DECODE;
      break;
    }
  }
  if (fault == ENTRY_FAULT_NONE) pass_on(sink, batch, held);
  // Compressed data left behind the last window is passed over.
  if (fault == ENTRY_FAULT_NONE && s->left > 0 && fseek(attachment_file, long(s->left), SEEK_CUR) != 0)
    fault = ENTRY_FAULT_STORED_SHORT;
  return fault;
}

}  // namespace

int entry_streamer_open(EntryStreamer* w) {
  *w = EntryStreamer{};
  w->stored = static_cast<uint8_t*>(malloc(STORED_SLICE));
  int fault = !w->stored ? ENTRY_FAULT_NO_MEMORY
              : codec_create(&w->codec) != CODEC_OK ? ENTRY_FAULT_DECODE : entry_zstd_open();
  w->zstd = fault == ENTRY_FAULT_NONE;
  if (fault != ENTRY_FAULT_NONE) entry_streamer_close(w);
  return fault;
}

void entry_streamer_close(EntryStreamer* w) {
  codec_release(&w->codec);
  free(w->stored);
  w->stored = nullptr;
  if (w->zstd) entry_zstd_close();
  w->zstd = 0;
}

namespace {

// The stored data read from attachment_file in slices of the streamer's buffer.
struct FileSource {
  uint8_t* buffer;
  uint32_t left;
};

int next_slice(void* context, const uint8_t** data, uint32_t* size) {
  FileSource* f = static_cast<FileSource*>(context);
  uint32_t n = f->left < STORED_SLICE ? f->left : STORED_SLICE;
  if (read_attachment(f->buffer, n) < n) return ENTRY_FAULT_STORED_SHORT;
  f->left -= n;
  *data = f->buffer;
  *size = n;
  return ENTRY_FAULT_NONE;
}

}  // namespace

int stream_entry_data(const uint8_t* crc_table, EntryStreamer* w, const Entry* e, const EntrySink* sink,
                      const EntryProgress* progress) {
  if (e->type == ENTRY_DELETE) return ENTRY_FAULT_NONE;
  bool stored = entry_data_is_stored(e->type);
  if (stored && e->file_size > e->stored_size) return ENTRY_FAULT_STORED_SHORT;
  StoredInput s{};
  s.capacity = e->stored_size < STORED_SLICE ? e->stored_size : STORED_SLICE;
  s.left = e->stored_size;
  s.buffer = w->stored;
  s.range.cur = s.range.end = s.range.start = s.buffer;
  uint16_t crc = 0;
  FileSource file{w->stored, e->stored_size};
  int fault = stored                   ? stream_stored(crc_table, e, &s, sink, &crc)
              : entry_is_zstd(e->type) ? entry_zstd_decode(crc_table, *e, ZstdSource{next_slice, &file}, sink, progress, &crc)
                                       : stream_compressed(crc_table, w->codec, e, &s, sink, progress, &crc);
  free(s.whole);
  if (fault == ENTRY_FAULT_NONE && crc != get_u16(e->record + RECORD_FILE_CRC)) fault = ENTRY_FAULT_FILE_CRC;
  return fault;
}

void release_entry(Entry* e) {
  if (e->data != e->stored) free(e->data);
  free(e->stored);
  e->stored = e->data = nullptr;
}
