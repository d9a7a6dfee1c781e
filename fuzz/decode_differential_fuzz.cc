// The fast block decoder against the step-by-step reference on arbitrary
// bytes, sliced in many ways.
//
// Input, as for fuzz_decode (so that the corpora serve both): one byte of
// slicing mode, two bytes of output size, eight bytes of slice choices, then
// the compressed stream. Mode bit 0 breaks the calling rule with slice
// lengths taken from the choices; bits 2 to 7 say, call by call, which
// decoder drives a third context that goes back and forth between the two.
//
// Each context reads its own copy of the stream, placed at the very end of a
// heap block, and writes into slices of exactly their length, so that an
// access one byte too far faults at once. After every call the three must
// agree on the result, the bytes produced, the input's cur and count, and
// all decoder state of the context (state, status, bit input, block and
// match state, lengths, tables, trees, window). Any difference traps.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codec/decoder.h"
#include "tests/codec/reference_decoder.h"

namespace {

constexpr size_t PREFIX = 11;
constexpr int MAX_CALLS = 16;

void check(bool ok) {
  if (!ok) __builtin_trap();
}

size_t chosen_length(uint8_t choice) {
  static const size_t base[8] = {0, 1, 3, 100, 4096, 8191, 8192, 8193};
  return base[choice & 7] + (choice >> 3) * ((choice & 7) >= 5 ? 1 : 37);
}

struct Lane {
  uint8_t* stream;
  ByteRange in;
  CodecContext* context = nullptr;
  uint8_t* slice = nullptr;
  int32_t result = 0;
  size_t produced = 0;

  Lane(const uint8_t* data, size_t size) {
    stream = static_cast<uint8_t*>(malloc(size ? size : 1));
    if (size) memcpy(stream, data, size);
    in = {stream, stream + size, 0, stream, int32_t(size)};
    check(codec_create(&context) == 0);
  }
  ~Lane() {
    codec_release(&context);
    free(slice);
    free(stream);
  }

  void call(int32_t (*decode)(CodecContext*, ByteRange*, ByteRange*), size_t length) {
    free(slice);
    slice = static_cast<uint8_t*>(malloc(length ? length : 1));
    ByteRange out = {slice, slice + length, 0, slice, int32_t(length)};
    result = decode(context, &in, &out);
    produced = size_t(out.cur - slice);
    check(out.count == 0);
  }
};

bool agree(const Lane& a, const Lane& b) {
  return a.result == b.result && a.produced == b.produced && memcmp(a.slice, b.slice, a.produced) == 0 &&
         a.in.cur - a.stream == b.in.cur - b.stream && a.in.count == b.in.count &&
         decoder_state_difference(*a.context, *b.context) == nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < PREFIX) return 0;
  const uint8_t mode = data[0];
  const size_t total = size_t(data[1] | data[2] << 8);
  const uint8_t* choices = data + 3;
  const uint8_t* stream = data + PREFIX;
  const size_t stream_size = size - PREFIX;

  Lane fast(stream, stream_size), reference(stream, stream_size), mixed(stream, stream_size);
  size_t done = 0;
  for (int call = 0; call < MAX_CALLS; ++call) {
    size_t length;
    if (mode & 1) {
      length = chosen_length(uint8_t(choices[call % 8] + call / 8));
    } else {
      if (done >= total) break;
      length = total - done < 8192 ? total - done : 8192;
    }
    reference.call(reference_decode, length);
    fast.call(codec_decode, length);
    mixed.call((mode >> (2 + call % 6)) & 1 ? codec_decode : reference_decode, length);
    check(agree(fast, reference));
    check(agree(mixed, reference));
    done += reference.produced;
  }
  return 0;
}
