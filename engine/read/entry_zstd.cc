#include "engine/read/entry_zstd.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_getFrameHeader
#include <zstd.h>

#include <cstdlib>
#include <cstring>

#include "archive/crc16.h"
#include "codec/codec_context.h"

const int ENTRY_ZSTD_SUPPORTED = 1;

// Decoded bytes of the files behind the entry being decoded, in order: what
// the rest of its data gave once its file was complete (a stored block
// comes out as it goes in). At most one block's worth in a sound run.
constexpr uint32_t CARRY = 128u << 10;

// A stream's one context (see the header) and whether a frame is open in
// it that a continued entry may go on with.
struct ZstdDecoder {
  ZSTD_DCtx* context;
  bool in_frame;
  bool frame_ended;  // the decoder has given the frame's last byte
  uint32_t carry_start, carry_end;
  uint8_t carry[CARRY];
};

namespace {

// Decoded bytes passed on together: one write of the file per this many.
constexpr uint32_t BATCH = 64u << 10;

void pass_on(const EntrySink*& sink, const uint8_t* data, uint32_t size) {
  if (sink && size > 0 && sink->write(sink->context, data, size) != 0) sink = nullptr;
}

}  // namespace

int entry_zstd_open(EntryStream* stream) {
  // Read through a volatile pointer, so that the tag stays in the image.
  static const char* volatile tag = ENTRY_ZSTD_TAG;
  if (!*tag) return FAILURE_NO_MEMORY;
  if (stream->zstd_users == 0) {
    ZstdDecoder* d = static_cast<ZstdDecoder*>(malloc(sizeof(ZstdDecoder)));
    if (!d) return FAILURE_NO_MEMORY;
    d->context = ZSTD_createDCtx();
    if (!d->context || ZSTD_isError(ZSTD_DCtx_setParameter(d->context, ZSTD_d_windowLogMax, ZSTD_WINDOW_LOG_MAX))) {
      ZSTD_freeDCtx(d->context);
      free(d);
      return FAILURE_NO_MEMORY;
    }
    d->in_frame = d->frame_ended = false;
    d->carry_start = d->carry_end = 0;
    stream->zstd = d;
  }
  stream->zstd_users++;
  return FAILURE_NONE;
}

void entry_zstd_close(EntryStream* stream) {
  if (stream->zstd_users == 0 || --stream->zstd_users > 0) return;
  ZSTD_freeDCtx(stream->zstd->context);
  free(stream->zstd);
  stream->zstd = nullptr;
}

int entry_zstd_decode(EntryStream* stream, const uint8_t* crc_table, const Entry& e, const ZstdSource& source,
                      const EntrySink* sink, const EntryProgress* progress, uint16_t* crc) {
  ZstdDecoder* d = stream->zstd;
  if (!d) return ENTRY_FAULT_DECODE;
  ZSTD_DCtx* context = d->context;
  bool& in_frame = d->in_frame;
  bool& frame_ended = d->frame_ended;
  uint32_t& carry_start = d->carry_start;
  uint32_t& carry_end = d->carry_end;
  uint8_t* carry = d->carry;
  if (e.type == ENTRY_ZSTD_FRAME) {
    ZSTD_DCtx_reset(context, ZSTD_reset_session_only);
    in_frame = true;
    frame_ended = false;
    carry_start = carry_end = 0;
  } else if (!in_frame) {
    return ENTRY_FAULT_DECODE;
  }
  in_frame = false;  // until this entry has decoded as it should
  uint8_t batch[BATCH];
  uint32_t held = 0, done = 0;
  bool more = true;  // the source may have more
  ZSTD_inBuffer in{nullptr, 0, 0};
  for (;;) {
    if (in.pos == in.size && more) {
      const uint8_t* data;
      uint32_t size;
      int fault = source.next(source.context, &data, &size);
      if (fault != FAILURE_NONE) return fault;
      in = ZSTD_inBuffer{data, size, 0};
      more = size > 0;
      continue;
    }
    if (done == e.file_size) {
      if (in.pos == in.size) {
        if (!more) break;
        continue;
      }
      // The rest of the entry's data once its file is complete: the rest
      // of the block that ends the file, or the frame's end. What it gives
      // is kept for the files behind.
      if (frame_ended) return ENTRY_FAULT_DECODE;
      if (carry_start == carry_end) carry_start = carry_end = 0;
      ZSTD_outBuffer keep{carry + carry_end, CARRY - carry_end, 0};
      size_t before = in.pos;
      size_t result = ZSTD_decompressStream(context, &keep, &in);
      if (ZSTD_isError(result) || (in.pos == before && keep.pos == 0)) return ENTRY_FAULT_DECODE;
      carry_end += uint32_t(keep.pos);
      frame_ended = result == 0;
      continue;
    }
    uint32_t room = BATCH - held < e.file_size - done ? BATCH - held : e.file_size - done;
    uint32_t n = carry_end - carry_start < room ? carry_end - carry_start : room;
    if (n > 0) {
      memcpy(batch + held, carry + carry_start, n);
      carry_start += n;
    } else {
      if (frame_ended) return ENTRY_FAULT_DECODE;  // the frame ended before the file did
      ZSTD_outBuffer out{batch + held, room, 0};
      size_t in_before = in.pos;
      size_t result = ZSTD_decompressStream(context, &out, &in);
      if (ZSTD_isError(result)) return ENTRY_FAULT_DECODE;
      frame_ended = result == 0;
      n = uint32_t(out.pos);
      // No output: short of data when the input is spent, stuck when not.
      if (n == 0 && ((in.pos == in.size && !more) || (in.pos == in_before && in.pos < in.size)))
        return ENTRY_FAULT_DECODE;
    }
    if (n > 0) {
      *crc = crc16_continue(crc_table, *crc, batch + held, n);
      // The windows a -lh5- entry would have reported, so that progress
      // looks alike whatever the method.
      for (uint32_t w = (done / CODEC_WINDOW + 1) * CODEC_WINDOW; progress && w <= done + n && w < e.file_size;
           w += CODEC_WINDOW)
        progress->slice_done(progress->context, e, w);
      held += n;
      done += n;
      if (held == BATCH) {
        pass_on(sink, batch, held);
        held = 0;
      }
    }
  }
  pass_on(sink, batch, held);
  in_frame = !frame_ended || carry_start < carry_end;
  return FAILURE_NONE;
}

int entry_zstd_frame_header(const uint8_t* start, uint32_t size) {
  ZSTD_frameHeader h;
  if (ZSTD_getFrameHeader(&h, start, size) != 0) return ENTRY_FAULT_DECODE;
  // A skippable frame is no file's data; a dictionary is one the installer
  // does not have.
  if (h.frameType != ZSTD_frame || h.dictID != 0 || h.windowSize > (1ull << ZSTD_WINDOW_LOG_MAX))
    return ENTRY_FAULT_DECODE;
  return FAILURE_NONE;
}

int entry_zstd_run_end(EntryStream* stream) {
  ZstdDecoder* d = stream->zstd;
  if (!d || !d->in_frame) return FAILURE_NONE;
  d->in_frame = false;
  // Decoded bytes no file took: the frame holds more than its records say.
  if (d->carry_start < d->carry_end) return ENTRY_FAULT_DECODE;
  if (d->frame_ended) return FAILURE_NONE;
  // The last call may have spent the input with the frame's end still to be
  // confirmed; with no more input it must end now, giving nothing.
  uint8_t byte;
  ZSTD_outBuffer out{&byte, 1, 0};
  ZSTD_inBuffer in{nullptr, 0, 0};
  size_t result = ZSTD_decompressStream(d->context, &out, &in);
  return ZSTD_isError(result) || result != 0 || out.pos != 0 ? ENTRY_FAULT_DECODE : FAILURE_NONE;
}

int entry_zstd_decode_block(const uint8_t* stored, uint32_t stored_size, uint8_t* out, uint32_t capacity,
                            uint32_t* produced) {
  // A context of its own: the shared one may be inside a run's frame.
  ZSTD_DCtx* block = ZSTD_createDCtx();
  if (!block) return FAILURE_NO_MEMORY;
  size_t n = ZSTD_DCtx_setParameter(block, ZSTD_d_windowLogMax, ZSTD_WINDOW_LOG_MAX);
  if (!ZSTD_isError(n)) n = ZSTD_decompressDCtx(block, out, capacity, stored, stored_size);
  ZSTD_freeDCtx(block);
  if (ZSTD_isError(n)) return ENTRY_FAULT_DECODE;
  *produced = uint32_t(n);
  return FAILURE_NONE;
}
