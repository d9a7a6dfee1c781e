// Compresses arbitrary bytes and reads them back through the decoder with
// slices of 8192 bytes: the result must be the input. The same input is then
// compressed into a room one byte short of the stream, which must give 0,
// fill the room exactly and write nothing beyond it.
//
// Input and output rooms are heap buffers of exactly their size, so that any
// read or write past a range faults at once under AddressSanitizer.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/decoder.h"
#include "codec/encoder.h"

namespace {

ByteRange range(uint8_t* p, size_t n) { return ByteRange{p, p + n, 0, p, int32_t(n)}; }

// The stream of `data` in a room of `room` bytes; the result of codec_encode.
int32_t encode(const std::vector<uint8_t>& data, size_t room, std::vector<uint8_t>* stream) {
  CodecContext* context = nullptr;
  if (codec_create(&context) != CODEC_OK) abort();
  std::vector<uint8_t> in(data);
  stream->assign(room, 0);
  ByteRange input = range(in.data(), in.size());
  ByteRange output = range(stream->data(), stream->size());
  int32_t result = codec_encode(context, &input, &output);
  if (input.cur != input.end && result == 1) abort();
  if (output.cur > output.end || output.count != size_t(output.cur - output.start)) abort();
  stream->resize(output.count);
  codec_release(&context);
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  const std::vector<uint8_t> data(bytes, bytes + size);
  std::vector<uint8_t> stream;
  if (encode(data, size + size / 8 + 64, &stream) != 1) abort();

  CodecContext* context = nullptr;
  if (codec_create(&context) != CODEC_OK) abort();
  std::vector<uint8_t> back(size);
  ByteRange input = range(stream.data(), stream.size());
  for (size_t done = 0; done < size;) {
    size_t slice = size - done < CODEC_WINDOW ? size - done : CODEC_WINDOW;
    ByteRange output = range(back.data() + done, slice);
    if (codec_decode(context, &input, &output) != CODEC_OK) abort();
    done += slice;
  }
  codec_release(&context);
  if (size && memcmp(back.data(), bytes, size) != 0) abort();

  std::vector<uint8_t> short_stream;
  if (encode(data, stream.size() - 1, &short_stream) != 0) abort();
  if (short_stream.size() != stream.size() - 1) abort();
  if (memcmp(short_stream.data(), stream.data(), short_stream.size()) != 0) abort();
  return 0;
}
