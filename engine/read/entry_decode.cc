#include "engine/read/entry_decode.h"

#include <cstdlib>
#include <cstring>

#include "archive/crc16.h"
#include "codec/decoder.h"
#include "engine/read/entry_zstd.h"

namespace {

constexpr uint32_t STORED_LOW = STORED_SLICE / 2;

// Decoded windows passed on together, so that a file takes one write per
// this many bytes.
constexpr uint32_t BATCH_WINDOWS = 8;

// Moves what is unread to the front and reads more behind it.
int top_up(StoredInput* s) {
  uint32_t held = uint32_t(s->range.end - s->range.cur);
  if (!s->stream || held >= STORED_LOW || s->left == 0) return FAILURE_NONE;
  memmove(s->buffer, s->range.cur, held);
  uint32_t n = s->left < s->capacity - held ? s->left : s->capacity - held;
  if (entry_stream_read(s->stream, s->buffer + held, n) < n) return ENTRY_FAULT_STORED_SHORT;
  s->left -= n;
  s->range.cur = s->range.start = s->buffer;
  s->range.end = s->buffer + held + n;
  return FAILURE_NONE;
}

// A call of the decoder that reached the end of what was held may have read
// the zeros past it instead of the stream: the whole stored data is then read
// in again and held, as a stream that dense needs.
int hold_whole(StoredInput* s) {
  uint8_t* whole = static_cast<uint8_t*>(malloc(s->size));
  if (!whole) return FAILURE_NO_MEMORY;
  if (entry_stream_skip(s->stream, -long(s->size - s->left)) != 0 ||
      entry_stream_read(s->stream, whole, s->size) < s->size) {
    free(whole);
    return ENTRY_FAULT_STORED_SHORT;
  }
  free(s->whole);
  s->buffer = s->whole = whole;
  s->capacity = s->size;
  s->left = 0;
  s->range.cur = s->range.start = whole;
  s->range.end = whole + s->size;
  return FAILURE_NONE;
}

// The next piece of the stored data: what is held, else the next slice of
// the stream; `*size` 0 at the end.
int next_piece(void* context, const uint8_t** data, uint32_t* size) {
  StoredInput* s = static_cast<StoredInput*>(context);
  if (s->range.cur == s->range.end && s->stream && s->left > 0) {
    uint32_t n = s->left < s->capacity ? s->left : s->capacity;
    if (entry_stream_read(s->stream, s->buffer, n) < n) return ENTRY_FAULT_STORED_SHORT;
    s->left -= n;
    s->range.cur = s->range.start = s->buffer;
    s->range.end = s->buffer + n;
  }
  *data = s->range.cur;
  *size = uint32_t(s->range.end - s->range.cur);
  s->range.cur = s->range.end;
  return FAILURE_NONE;
}

// Data for the sink; once it has failed it is passed no more.
void pass_on(DecodeOutput* out, const uint8_t* data, uint32_t size) {
  if (out->crc_table) out->crc = crc16_continue(out->crc_table, out->crc, data, size);
  if (out->sink && size > 0 && out->sink->write(out->sink->context, data, size) != 0) out->sink = nullptr;
}

int copy_stored(const Entry& e, StoredInput* s, DecodeOutput* out) {
  for (uint32_t passed = 0;;) {
    const uint8_t* data;
    uint32_t n;
    int fault = next_piece(s, &data, &n);
    if (fault != FAILURE_NONE || n == 0) return fault;
    // What lies behind the file's bytes is read past, never passed on.
    uint32_t take = e.file_size - passed < n ? e.file_size - passed : n;
    pass_on(out, data, take);
    passed += take;
  }
}

}  // namespace

StoredInput stored_held(const uint8_t* data, size_t size) {
  StoredInput s{};
  s.range.cur = s.range.start = const_cast<uint8_t*>(data);
  s.range.end = s.range.cur + size;
  return s;
}

StoredInput stored_in_stream(EntryStream* stream, uint8_t* buffer, uint32_t size) {
  StoredInput s{};
  s.stream = stream;
  s.buffer = buffer;
  s.capacity = size < STORED_SLICE ? size : STORED_SLICE;
  s.size = s.left = size;
  s.range.cur = s.range.end = s.range.start = buffer;
  return s;
}

void stored_input_release(StoredInput* s) {
  free(s->whole);
  s->whole = nullptr;
}

int decode_lh5(CodecContext* codec, StoredInput* s, uint64_t size, DecodeOutput* out) {
  codec_reset(codec);
  uint8_t batch[BATCH_WINDOWS * CODEC_WINDOW];
  uint32_t held = 0;  // bytes of `batch` not yet passed on
  ByteRange slice{};
  uint64_t done = 0;
  uint64_t passed = 0;  // bytes handled before the stored data came to be held whole
  int fault = FAILURE_NONE;
  for (;;) {
    fault = top_up(s);
    if (fault != FAILURE_NONE) break;
    if (held == sizeof batch) {
      pass_on(out, batch, held);
      held = 0;
    }
    uint32_t chunk = size - done < CODEC_WINDOW ? uint32_t(size - done) : CODEC_WINDOW;
    slice.cur = slice.start = batch + held;
    slice.end = slice.cur + chunk;
    slice.size = int32_t(chunk);
    int32_t result = codec_decode(codec, &s->range, &slice);
    if (s->range.cur >= s->range.end && s->stream && s->left > 0) {
      // Decoded again from the start; the slices already handled are
      // produced once more and dropped.
      fault = hold_whole(s);
      if (fault != FAILURE_NONE) return fault;
      codec_reset(codec);
      passed = done;
      done = 0;
      continue;
    }
    done += chunk;
    if (done > passed) held += chunk;
    if (result < 0) out->at = done - chunk;
    if (done == size) {
      if (result < 0) fault = ENTRY_FAULT_DECODE;
      break;
    }
    if (out->progress && done > passed) out->progress->slice_done(out->progress->context, *out->entry, uint32_t(done));
    if (result < 0) {
      fault = ENTRY_FAULT_DECODE;
      break;
    }
  }
  if (fault == FAILURE_NONE) pass_on(out, batch, held);
  // Compressed data left behind the last window is passed over.
  if (fault == FAILURE_NONE && s->stream && s->left > 0) {
    if (entry_stream_skip(s->stream, long(s->left)) != 0) fault = ENTRY_FAULT_STORED_SHORT;
    else s->left = 0;
  }
  return fault;
}

int decode_entry_data(EntryStream* stream, const uint8_t* crc_table, CodecContext* codec, const Entry& e,
                      StoredInput* in, const EntrySink* sink, const EntryProgress* progress) {
  DecodeOutput out{sink, progress, &e, crc_table, 0, 0};
  int fault;
  if (entry_data_is_stored(e.type)) {
    fault = copy_stored(e, in, &out);
  } else if (entry_is_zstd(e.type)) {
    // The CRC is kept as the bytes come, by the decoder itself.
    fault = entry_zstd_decode(stream, crc_table, e, ZstdSource{next_piece, in}, sink, progress, &out.crc);
  } else {
    fault = decode_lh5(codec, in, e.file_size, &out);
  }
  if (fault == FAILURE_NONE && out.crc != get_u16(e.record + RECORD_FILE_CRC)) fault = ENTRY_FAULT_FILE_CRC;
  return fault;
}
