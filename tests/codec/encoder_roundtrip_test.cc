// Streams of the compressor read back through the project's decoder, in
// slices of 8192 bytes as the installer reads them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/codec/encode_helpers.h"

namespace {

// Reports the first differing byte rather than megabytes of both.
void expect_round_trip(const std::string& input, const std::string& what) {
  std::string back = decompress(compress(input), input.size());
  size_t at = 0;
  while (at < input.size() && back[at] == input[at]) at++;
  EXPECT_EQ(at, input.size()) << what << ": first difference at byte " << at;
}

// A block of random bytes repeated: every match lies `period` back.
std::string periodic(size_t size, size_t period, uint32_t seed) {
  std::string unit = random_bytes(period, seed), s;
  while (s.size() < size) s += unit;
  return s.substr(0, size);
}

// Where the window moves (every 8192 positions, with 8448 bytes read ahead)
// and where slices end, with data of each kind.
TEST(EncoderRoundTrip, SizesAroundWindowAndSliceBoundaries) {
  std::vector<size_t> sizes = {0, 1, 2, 3, 4, 5, 255, 256, 257, 258};
  for (size_t base : {8192, 8448, 16384, 16640, 16896, 24576, 25344, 32768})
    for (size_t delta : {-2, -1, 0, 1, 2}) sizes.push_back(base + delta);
  for (size_t n : sizes) {
    std::string at = " of " + std::to_string(n);
    expect_round_trip(wordy_text(n, uint32_t(n)), "text" + at);
    expect_round_trip(std::string(n, '\0'), "zeros" + at);
    expect_round_trip(random_bytes(n, uint32_t(n)), "random" + at);
    expect_round_trip(periodic(n, 7, 1), "period 7" + at);
  }
}

// Matches at and near the window's reach, and periods that make the tree
// replace leaves equal in all 256 bytes over and over.
TEST(EncoderRoundTrip, PeriodicInputs) {
  for (size_t period : {1, 2, 3, 4, 13, 255, 256, 257, 300, 4096, 8190, 8191, 8192, 8193, 8300})
    expect_round_trip(periodic(70000, period, uint32_t(period)), "period " + std::to_string(period));
}

TEST(EncoderRoundTrip, SeveralMegabytesOfMixedData) {
  std::string input;
  for (uint32_t part = 0; input.size() < (5u << 20); part++) {
    if (part % 5 == 0) input += wordy_text(300000 + part * 1000, part);
    if (part % 5 == 1) input += random_bytes(100000, part);
    if (part % 5 == 2) input += std::string(50000 + part, char(part));
    if (part % 5 == 3) input += periodic(200000, 8191 + part % 3, part);
    if (part % 5 == 4) input += no_repeat_text(40000);
  }
  expect_round_trip(input, "mixed");
}

// Zeros shrink to a few bits per 256-byte match; random bytes cost more than
// 8 bits each, so their stream is longer than they are.
TEST(EncoderRoundTrip, ZerosShrinkAndRandomBytesGrow) {
  std::string zeros(1 << 20, '\0'), noise = random_bytes(200000, 99);
  std::string small = compress(zeros), large = compress(noise);
  EXPECT_LT(small.size(), zeros.size() / 100);
  EXPECT_GT(large.size(), noise.size());
  EXPECT_LT(large.size(), noise.size() + noise.size() / 50);
  EXPECT_EQ(decompress(small, zeros.size()), zeros);
  EXPECT_EQ(decompress(large, noise.size()), noise);
}

}  // namespace
