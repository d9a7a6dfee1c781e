// Length-limited canonical codes: the 16-bit limit, completeness, and the
// tie rules that fix the stream.
#include "codec/huffman_code.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "tests/codec/encode_helpers.h"

namespace {

struct Code {
  int32_t root;
  std::vector<uint8_t> lengths;
  std::vector<uint16_t> codes;
};

Code build(CodecContext* c, const std::vector<uint16_t>& freq) {
  std::vector<uint16_t> f(freq);
  f.resize(2 * freq.size());
  Code code{0, std::vector<uint8_t>(freq.size(), 0xEE), std::vector<uint16_t>(freq.size())};
  code.root = build_code(c, int32_t(freq.size()), f.data(), code.lengths.data(), code.codes.data());
  return code;
}

// Complete (the sum of 2^(16 - length) is exactly 65536), at most 16 bits,
// no shorter code for a rarer symbol, and canonical: in (length, symbol)
// order each code follows from the one before.
void expect_sound_code(const std::vector<uint16_t>& freq, const Code& code) {
  uint32_t kraft = 0;
  std::vector<uint32_t> used;
  for (uint32_t s = 0; s < freq.size(); s++) {
    ASSERT_EQ(code.lengths[s] != 0, freq[s] != 0) << s;
    ASSERT_LE(code.lengths[s], 16) << s;
    if (freq[s]) kraft += 1u << (16 - code.lengths[s]);
    if (freq[s]) used.push_back(s);
  }
  EXPECT_EQ(kraft, 65536u);
  std::stable_sort(used.begin(), used.end(), [&](uint32_t a, uint32_t b) { return code.lengths[a] < code.lengths[b]; });
  for (size_t i = 1; i < used.size(); i++) {
    uint32_t p = used[i - 1], s = used[i];
    EXPECT_EQ(code.codes[s], (code.codes[p] + 1u) << (code.lengths[s] - code.lengths[p])) << s;
    EXPECT_FALSE(freq[s] > freq[p] && code.lengths[s] > code.lengths[p]) << s << " is commoner than " << p;
  }
  ASSERT_FALSE(used.empty());
  EXPECT_EQ(code.codes[used[0]], 0);
}

// Fibonacci weights make a tree as deep as it has symbols.
TEST(HuffmanCode, FibonacciWeightsAreCutToSixteenBits) {
  ContextHolder c;
  for (size_t n : {18, 20, 24}) {
    std::vector<uint16_t> freq(510, 0);
    for (uint32_t i = 0, a = 1, b = 1; i < n; i++, b += a, a = b - a) freq[10 + 7 * i] = uint16_t(a);
    Code code = build(c.get(), freq);
    EXPECT_EQ(*std::max_element(code.lengths.begin(), code.lengths.end()), 16);
    expect_sound_code(freq, code);
  }
}

TEST(HuffmanCode, RandomWeightsGiveCompleteCanonicalCodes) {
  ContextHolder c;
  std::mt19937 generator(5);
  for (int round = 0; round < 300; round++) {
    std::vector<uint16_t> freq(round % 3 == 0 ? 14 : round % 3 == 1 ? 19 : 510, 0);
    uint32_t spread = 1u << (generator() % 12), total = 0, used = 0;
    for (auto& f : freq) {
      if (generator() % 3 == 0) continue;
      f = uint16_t(1 + generator() % spread);
      total += f;
      used++;
    }
    if (used < 2 || total > 65535) continue;
    Code code = build(c.get(), freq);
    EXPECT_GE(code.root, int32_t(freq.size()));
    expect_sound_code(freq, code);
  }
}

// Three equal weights: 0 leaves the heap first, then 2 (moved to the top),
// so 1 alone gets the short code. Fewer than two symbols make no tree: the
// root is the symbol (0 for none), coded in no bits.
TEST(HuffmanCode, TiesAndFewerThanTwoSymbols) {
  ContextHolder c;
  Code code = build(c.get(), {1, 1, 1});
  EXPECT_EQ(code.lengths, (std::vector<uint8_t>{2, 1, 2}));
  EXPECT_EQ(code.codes, (std::vector<uint16_t>{2, 0, 3}));
  code = build(c.get(), std::vector<uint16_t>(19, 0));
  EXPECT_EQ(code.root, 0);
  EXPECT_EQ(code.lengths, std::vector<uint8_t>(19, 0));
  std::vector<uint16_t> one(14, 0);
  one[9] = 40;
  code = build(c.get(), one);
  EXPECT_EQ(code.root, 9);
  EXPECT_EQ(code.lengths, std::vector<uint8_t>(14, 0));
  EXPECT_EQ(code.codes[9], 0);
}

}  // namespace
