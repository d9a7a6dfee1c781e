// The compressor against the frozen step-by-step copy kept in
// tests/codec/reference_encoder.cc: for every input, every output room and
// every context history the two must agree in result, stream bytes, range
// positions and counts, the context's `out_full` and `status`, the bit
// writer's state after a complete stream and the text buffer that the next
// input on the same context starts from.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "codec/encoder.h"
#include "tests/codec/encode_helpers.h"
#include "tests/codec/encoder_inputs.h"
#include "tests/codec/reference_encoder.h"

namespace {

using EncodeFunction = int32_t (*)(CodecContext*, ByteRange*, ByteRange*);

constexpr size_t GUARD = 64;  // bytes behind the output range that must stay untouched
constexpr char GUARD_BYTE = char(0xA5);

struct Outcome {
  int32_t result;
  std::string out;  // the whole buffer, guard included
  size_t out_advance, in_advance;
  uint32_t out_count, in_count;
};

Outcome run(EncodeFunction encode, CodecContext* c, const std::string& input, size_t room) {
  std::string in = input;
  Outcome o;
  o.out.assign(room + GUARD, GUARD_BYTE);
  auto* ip = reinterpret_cast<uint8_t*>(in.data());
  auto* op = reinterpret_cast<uint8_t*>(o.out.data());
  ByteRange in_range{ip, ip + in.size(), 0, ip, int32_t(in.size())};
  ByteRange out_range{op, op + room, 0, op, int32_t(room)};
  o.result = encode(c, &in_range, &out_range);
  o.out_advance = size_t(out_range.cur - op);
  o.in_advance = size_t(in_range.cur - ip);
  o.out_count = out_range.count;
  o.in_count = in_range.count;
  return o;
}

// Two contexts that have seen the same history, one for each compressor.
class Pair {
 public:
  ::testing::AssertionResult encode_both(const std::string& input, size_t room) {
    const Outcome got = run(codec_encode, now_.get(), input, room);
    const Outcome want = run(reference_encoder::codec_encode, then_.get(), input, room);
    CodecContext* a = now_.get();
    CodecContext* b = then_.get();
    if (got.result != want.result)
      return ::testing::AssertionFailure() << "result " << got.result << ", reference " << want.result;
    if (got.out_advance != want.out_advance || got.out_count != want.out_count)
      return ::testing::AssertionFailure() << "output advanced " << got.out_advance << ", reference "
                                           << want.out_advance;
    if (got.in_advance != want.in_advance || got.in_count != want.in_count)
      return ::testing::AssertionFailure() << "input advanced " << got.in_advance;
    if (got.out != want.out) {
      size_t at = 0;
      while (got.out[at] == want.out[at]) at++;
      return ::testing::AssertionFailure() << "output differs at byte " << at << " of " << want.out_advance;
    }
    if (got.out.compare(room, GUARD, std::string(GUARD, GUARD_BYTE)) != 0)
      return ::testing::AssertionFailure() << "written past the end of the output range";
    if (a->out_full != b->out_full || a->status != b->status)
      return ::testing::AssertionFailure() << "out_full " << a->out_full << ", status " << a->status;
    if (got.result == 1 && (a->spare_bits != b->spare_bits || (a->spare_byte & 0xFF) != (b->spare_byte & 0xFF)))
      return ::testing::AssertionFailure() << "bit writer state differs";
    if (memcmp(a->text_buf, b->text_buf, CODEC_TEXT_SIZE) != 0)
      return ::testing::AssertionFailure() << "text buffer differs";
    return ::testing::AssertionSuccess();
  }

  // Lets the next call start as the caller of a context that ran out of room would.
  void clear_out_full() { now_->out_full = then_->out_full = 0; }
  void set_status(int32_t s) { now_->status = then_->status = s; }

 private:
  ContextHolder now_, then_;
};

size_t room_for(const std::string& input) { return input.size() + input.size() / 8 + 64; }

// Sizes weighted towards the places where the window moves and blocks end.
size_t some_size(std::mt19937& generator) {
  switch (generator() % 4) {
    case 0: return generator() % 300;
    case 1: return generator() % 20000;
    case 2: return size_t(8192 * (1 + generator() % 4) + 256 * (generator() % 2)) + generator() % 7 - 3;
    default: return generator() % 70000;
  }
}

TEST(EncoderDifferential, ThousandsOfInputsOnFreshContexts) {
  std::mt19937 generator(20240601);
  for (uint32_t i = 0; i < 2500; i++) {
    const size_t size = some_size(generator);
    const uint32_t seed = generator();
    const std::string input = any_shape(size, seed);
    Pair pair;
    ASSERT_TRUE(pair.encode_both(input, room_for(input))) << "input " << i << ", shape " << seed % 9 << ", size "
                                                         << size;
  }
}

// One pair of contexts for a long series, so that every call starts from the
// text buffer, the bit writer and the tree arrays that the previous one left.
TEST(EncoderDifferential, ReusedContexts) {
  std::mt19937 generator(7);
  Pair pair;
  for (uint32_t i = 0; i < 600; i++) {
    const size_t size = some_size(generator);
    const uint32_t seed = generator();
    const std::string input = any_shape(size, seed);
    ASSERT_TRUE(pair.encode_both(input, room_for(input))) << "input " << i << ", size " << size;
  }
}

// Output ranges too small: the first byte that does not fit ends the
// stream, at every point of a block's head, its codes and its items.
TEST(EncoderDifferential, OutputRangesThatRunOut) {
  std::mt19937 generator(99);
  for (uint32_t i = 0; i < 300; i++) {
    const std::string input = any_shape(some_size(generator), generator());
    const size_t full = compress(input).size();
    Pair pair;
    for (size_t room : {size_t(0), size_t(1), full - 1, full, size_t(generator() % (full + 1)),
                        size_t(generator() % (full + 1))}) {
      if (room > full) continue;
      ASSERT_TRUE(pair.encode_both(input, room)) << "input " << i << ", room " << room << " of " << full;
      pair.clear_out_full();
    }
  }
}

// A context whose out_full is still set, or whose status a failed decode
// left non-zero, does its resets and first read and then stops.
TEST(EncoderDifferential, StoppedContexts) {
  const std::string input = mixed_bytes(30000, 3);
  Pair full;
  ASSERT_TRUE(full.encode_both(input, 100));
  ASSERT_TRUE(full.encode_both(input, room_for(input)));
  Pair bad;
  bad.set_status(CODEC_BAD_TABLE);
  ASSERT_TRUE(bad.encode_both(input, room_for(input)));
}

// Large inputs that cross many window moves and blocks.
TEST(EncoderDifferential, LargeInputs) {
  for (uint32_t seed = 0; seed < 9; seed++) {
    const std::string input = any_shape((1u << 20) + seed * 4097, seed);
    Pair pair;
    ASSERT_TRUE(pair.encode_both(input, room_for(input))) << "shape " << seed;
  }
}

}  // namespace
