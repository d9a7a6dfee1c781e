// The block writer on its own: bit packing, where blocks end, the forms of
// the code-length fields, and blocks staged by hand read back through the
// decoder.
#include "codec/block_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "tests/codec/encode_helpers.h"

namespace {

// A context with an empty block, writing into a room of its own.
struct Writer {
  ContextHolder c;
  std::string out;
  ByteRange range;
  explicit Writer(size_t room = 100000) : out(room, '\0'), range(range_over(out)) {
    c->out_range = &range;
    reset_block(c.get());
  }
  std::string bytes() const { return out.substr(0, range.count); }
  size_t bit_count() const { return range.count * 8 + 8 - size_t(c->spare_bits); }
  std::string finish() {
    flush_block(c.get());
    put_bits(c.get(), 7, 0);
    return bytes();
  }
};

// 908 groups of eight literals fill 8172 bytes; the next group would begin
// at 8172, not below 8168, so item 7265 opens a new block, whose head comes
// right after the first block's last item.
TEST(BlockWriter, AllLiteralBlockHolds7264Items) {
  Writer w;
  std::string literals = random_bytes(7265, 11);
  for (char ch : literals.substr(0, 7264)) stage_item(w.c.get(), uint8_t(ch), 0);
  EXPECT_EQ(w.range.count, 0u);
  EXPECT_EQ(w.c->out_index, 8172u);
  stage_item(w.c.get(), uint8_t(literals.back()), 0);
  EXPECT_EQ(w.c->out_index, 2u);
  const size_t second_block = w.bit_count();
  std::string stream = w.finish();
  EXPECT_EQ(BitReader(stream).get(16), 7264u);
  BitReader next(stream);
  next.get(int(second_block));
  EXPECT_EQ(next.get(16), 1u);
  EXPECT_EQ(next.get(5 + 5 + 9), 0u);  // single-symbol pre-tree and literal code
  EXPECT_EQ(next.get(9), uint8_t(literals.back()));
  EXPECT_EQ(decompress(stream, literals.size()), literals);
}

// Groups of eight matches take 25 bytes: the 327th begins at 8150, below the
// limit, and ends at 8175.
TEST(BlockWriter, AllMatchBlockEndsAtTheFirstGroupPastTheLimit) {
  Writer w;
  for (uint32_t i = 0; i < 327 * 8; i++) stage_item(w.c.get(), 256 + i % 254, (i * 37) & 0x1FFF);
  EXPECT_EQ(w.c->out_index, 8175u);
  stage_item(w.c.get(), 300, 5);
  EXPECT_EQ(w.c->out_index, 4u);
  EXPECT_EQ(BitReader(w.finish()).get(16), 327u * 8);
}

// One distinct symbol, a match: single-symbol forms, and no bits per item
// but the extra bits of its distance (2 for distance code 4, position
// symbol 3).
TEST(BlockWriter, SingleSymbolBlock) {
  Writer m;
  for (int i = 0; i < 4; i++) stage_item(m.c.get(), 10 + MATCH_SYMBOL_BASE, 4);
  std::string stream = m.finish();
  BitReader r(stream);
  for (auto [n, value] : {std::pair{16, 4u}, {19, 0u}, {9, 263u}, {4, 0u}, {4, 3u}, {8, 0u}})
    EXPECT_EQ(r.get(n), value) << "field ending at bit " << r.position();
  EXPECT_EQ(stream.size(), (r.position() + 7) / 8);
  EXPECT_EQ(decompress(stream, 40), std::string(40, '\0'));
}

// Zero runs with a plain 5-bit pre-tree code, so that the symbols can be
// read back: 1 and 2 zeros as symbol 0 each, 3..18 as symbol 1 and 4 bits,
// 19 as symbols 0 and 1 and 4 bits of 15, 20 and more as symbol 2 and 9 bits.
// The pre-tree frequencies count the same symbols.
TEST(BlockWriter, LiteralLengthZeroRuns) {
  Writer w;
  CodecContext* c = w.c.get();
  std::vector<uint32_t> expected;  // pre-tree symbols; extra fields as 100 + value
  uint32_t at = 0, k = 0;
  for (uint32_t run : {0, 1, 2, 3, 18, 19, 20, 21, 0, 416}) {
    at += run;
    if (run == 1 || run == 2) expected.insert(expected.end(), run, 0);
    if (run >= 3 && run <= 18) expected.insert(expected.end(), {1, 100 + run - 3});
    if (run == 19) expected.insert(expected.end(), {0, 1, 115});
    if (run >= 20) expected.insert(expected.end(), {2, 100 + run - 20});
    c->lit_lengths[at++] = uint8_t(k % 16 + 1);
    expected.push_back(k++ % 16 + 3);
  }
  ASSERT_EQ(at, 510u);
  for (uint32_t s = 0; s < 19; s++) {
    c->aux_lengths[s] = 5;
    c->aux_codes[s] = uint16_t(s);
  }

  count_pre_freq(c);
  std::vector<uint16_t> counted(19, 0);
  for (uint32_t s : expected)
    if (s < 100) counted[s]++;
  EXPECT_EQ(std::vector<uint16_t>(c->pre_freq, c->pre_freq + 19), counted);

  write_lit_lengths(c);
  put_bits(c, 7, 0);
  std::string stream = w.bytes();
  BitReader r(stream);
  EXPECT_EQ(r.get(9), 510u);
  std::vector<uint32_t> got;
  while (got.size() < expected.size()) {
    got.push_back(r.get(5));
    if (got.back() == 1) got.push_back(100 + r.get(4));
    if (got.back() == 2) got.push_back(100 + r.get(9));
  }
  EXPECT_EQ(got, expected);
}

// Lengths of 7 and more are 111, then length - 7 ones and a zero. The
// pre-tree sends after its third length how many of the next three are zero,
// also when its count ends there; the position code has no such field.
TEST(BlockWriter, AuxiliaryLengthForms) {
  struct Case {
    std::vector<uint8_t> lengths;
    uint32_t count_bits;
    int32_t special;
    std::vector<std::pair<int, uint32_t>> fields;  // (bits, value)
  } cases[] = {
      {{7, 8, 16, 0, 0, 3}, 5, 3, {{5, 6}, {4, 0xE}, {5, 0x1E}, {13, 0x1FFE}, {2, 2}, {3, 3}}},
      {{1, 2, 2}, 5, 3, {{5, 3}, {3, 1}, {3, 2}, {3, 2}, {2, 3}}},
      {{1, 2, 2, 1}, 5, 3, {{5, 4}, {3, 1}, {3, 2}, {3, 2}, {2, 0}, {3, 1}}},
      {{1, 2, 0, 0, 0, 3}, 4, -1, {{4, 6}, {3, 1}, {3, 2}, {3, 0}, {3, 0}, {3, 0}, {3, 3}}},
  };
  for (const auto& test : cases) {
    Writer w;
    std::copy(test.lengths.begin(), test.lengths.end(), w.c->aux_lengths);
    write_aux_lengths(w.c.get(), 19, test.count_bits, test.special);
    size_t bits = w.bit_count(), expected_bits = 0;
    put_bits(w.c.get(), 7, 0);
    std::string stream = w.bytes();
    BitReader r(stream);
    for (auto [n, value] : test.fields) {
      EXPECT_EQ(r.get(n), value) << "field at bit " << expected_bits;
      expected_bits += size_t(n);
    }
    EXPECT_EQ(bits, expected_bits);
  }
}

// Staged by hand and read back: literals leaving gaps of every run form,
// the longest match from the far end of the window, and literal frequencies
// 1, 1, 2, 3, 5, ... whose tree, 17 levels deep, is cut to 16 bits.
TEST(BlockWriter, BlocksDecodeBack) {
  std::string gaps;
  for (uint32_t gap : {0, 1, 2, 3, 18, 19, 20, 21, 0, 100}) gaps += char(gaps.empty() ? 0 : gaps.back() + gap + 1);
  Writer w;
  for (char ch : gaps + gaps) stage_item(w.c.get(), uint8_t(ch), 0);
  stage_item(w.c.get(), 509, 8191);
  EXPECT_EQ(decompress(w.finish(), 2 * gaps.size() + 256), gaps + gaps + std::string(256, '\0'));

  std::string fibonacci;
  for (uint32_t i = 0, a = 1, b = 1; i < 18; i++, b += a, a = b - a) fibonacci += std::string(a, char(i * 13));
  std::mt19937 generator(3);
  std::shuffle(fibonacci.begin(), fibonacci.end(), generator);
  Writer f;
  for (char ch : fibonacci) stage_item(f.c.get(), uint8_t(ch), 0);
  std::string stream = f.finish();
  EXPECT_EQ(*std::max_element(f.c->lit_lengths, f.c->lit_lengths + 510), 16);
  EXPECT_EQ(decompress(stream, fibonacci.size()), fibonacci);
}

}  // namespace
