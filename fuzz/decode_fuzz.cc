// Arbitrary bytes through the block decoder, sliced in many ways.
//
// Input: one byte of slicing mode, two bytes of output size, eight bytes of
// slice choices, then the compressed stream. The stream is copied to the very
// end of its own heap block, and every output slice is a heap block of exactly
// its length, so that reading or writing one byte too far faults at once.
//
// Besides memory safety, what a caller can observe is checked after every
// call: the result, how far the output advanced, the state, and the input's
// cur and count. So are the compressor's fields of the context, which the
// decoder never writes: the sanitizers do not see an overrun from one array
// of the record into the next, but these lie behind the decoder's arrays.
// Any violation traps.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codec/decoder.h"

namespace {

constexpr size_t PREFIX = 11;
constexpr int MAX_CALLS = 16;

void check(bool ok) {
  if (!ok) __builtin_trap();
}

// Slice lengths that matter: empty, tiny, around the window size, beyond it.
size_t chosen_length(uint8_t choice) {
  static const size_t base[8] = {0, 1, 3, 100, 4096, 8191, 8192, 8193};
  return base[choice & 7] + (choice >> 3) * ((choice & 7) >= 5 ? 1 : 37);
}

// The compressor's fields, which the decoder must leave as they were.
bool same_compressor_fields(const CodecContext& a, const CodecContext& b) {
  return a.out_full == b.out_full && a.work_size == b.work_size &&
         memcmp(a.lit_freq, b.lit_freq, sizeof a.lit_freq) == 0 &&
         memcmp(a.lit_codes, b.lit_codes, sizeof a.lit_codes) == 0 &&
         memcmp(a.pos_freq, b.pos_freq, sizeof a.pos_freq) == 0 &&
         memcmp(a.aux_codes, b.aux_codes, sizeof a.aux_codes) == 0 &&
         memcmp(a.pre_freq, b.pre_freq, sizeof a.pre_freq) == 0 && a.flag_index == b.flag_index &&
         a.node_position == b.node_position && a.node_next == b.node_next && a.text_buf == b.text_buf &&
         a.node_level == b.node_level && a.text_left == b.text_left && a.match_len == b.match_len &&
         a.heap_size == b.heap_size && memcmp(a.heap, b.heap, sizeof a.heap) == 0 &&
         memcmp(a.length_count, b.length_count, sizeof a.length_count) == 0 && a.tree_depth == b.tree_depth;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < PREFIX) return 0;
  const uint8_t mode = data[0];
  // Output size for the modes that keep the calling rule: up to 8 windows.
  const size_t total = size_t(data[1] | data[2] << 8);
  const uint8_t* choices = data + 3;

  const size_t stream_size = size - PREFIX;
  uint8_t* stream = static_cast<uint8_t*>(malloc(stream_size ? stream_size : 1));
  if (stream_size) memcpy(stream, data + PREFIX, stream_size);
  ByteRange in = {stream, stream + stream_size, 0, stream, int32_t(stream_size)};

  CodecContext* context = nullptr;
  check(codec_create(&context) == 0);
  CodecContext* const fresh = static_cast<CodecContext*>(malloc(sizeof(CodecContext)));
  memcpy(fresh, context, sizeof(CodecContext));
  size_t done = 0;
  for (int call = 0; call < MAX_CALLS; ++call) {
    size_t length;
    if (mode & 1) {
      // Any lengths, the calling rule broken at will.
      length = chosen_length(choices[call % 8] + uint8_t(call / 8));
    } else {
      // The calling rule: 8192 until the last call, which asks for the rest.
      if (done >= total) break;
      length = total - done < 8192 ? total - done : 8192;
    }
    const bool stopped = context->state == DECODER_STOPPED;
    uint8_t* slice = static_cast<uint8_t*>(malloc(length ? length : 1));
    ByteRange out = {slice, slice + length, 0, slice, int32_t(length)};
    const int32_t result = codec_decode(context, &in, &out);
    const size_t produced = size_t(out.cur - slice);

    check(result == 0 || result == CODEC_BAD_TABLE);
    check(result == context->status);
    check(out.count == 0);
    check(same_compressor_fields(*context, *fresh));
    check(in.cur >= stream && in.cur <= stream + stream_size && in.count == uint32_t(in.cur - stream));
    if (stopped) {
      check(result == CODEC_BAD_TABLE && produced == 0);
    } else {
      check(produced == (length < 8192 ? length : 8192));
      check(context->state == (result == 0 ? DECODER_RUNNING : DECODER_STOPPED));
    }
    done += produced;
    free(slice);
    if ((mode & 2) && result != 0) break;
  }
  codec_release(&context);
  free(fresh);
  free(stream);
  return 0;
}
