#include "codec/decode_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "codec/bit_input.h"

namespace {

// A context whose tables and trees hold a recognisable pattern, so that what
// a build leaves alone can be seen.
class TableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(codec_create(&c_), 0);
    for (uint32_t i = 0; i < CODEC_TREE_NODES; ++i) c_->tree_left[i] = c_->tree_right[i] = uint16_t(0x5000 + i);
    for (uint16_t& e : c_->lit_table) e = 0x7777;
    for (uint16_t& e : c_->aux_table) e = 0x6666;
    memcpy(&saved_, c_, sizeof saved_);
  }
  void TearDown() override { codec_release(&c_); }

  int32_t build(std::vector<uint8_t> lengths, uint32_t symbols, bool lit) {
    lengths.resize(symbols, 0);
    return build_decode_table(c_, symbols, lengths.data(), lit ? CODEC_LIT_TABLE_BITS : CODEC_AUX_TABLE_BITS,
                              lit ? c_->lit_table : c_->aux_table);
  }
  bool unchanged() const {
    return memcmp(saved_.lit_table, c_->lit_table, sizeof saved_.lit_table) == 0 &&
           memcmp(saved_.aux_table, c_->aux_table, sizeof saved_.aux_table) == 0 &&
           memcmp(saved_.tree_left, c_->tree_left, sizeof saved_.tree_left) == 0 &&
           memcmp(saved_.tree_right, c_->tree_right, sizeof saved_.tree_right) == 0;
  }

  CodecContext* c_ = nullptr;
  CodecContext saved_;
};

TEST_F(TableTest, TwoOneBitCodesSplitTheTable) {
  std::vector<uint8_t> lengths(14, 0);
  lengths[3] = lengths[9] = 1;
  ASSERT_EQ(build(lengths, 14, false), 0);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(c_->aux_table[i], i < 128 ? 3 : 9) << i;
  EXPECT_EQ(memcmp(saved_.tree_left, c_->tree_left, sizeof saved_.tree_left), 0);
  EXPECT_EQ(c_->status, 0);
}

TEST_F(TableTest, LongCodesGrowTreesFromTheSymbolCount) {
  // Symbol 100 + i has length i + 1 (i < 13); 400 and 401 have 14. The
  // 13-bit code is twelve 1 bits and a 0, the 14-bit codes twelve 1 bits,
  // then 10 and 11: all three share table entry 4095.
  std::vector<uint8_t> lengths(510, 0);
  for (int i = 0; i < 13; ++i) lengths[100 + i] = uint8_t(i + 1);
  lengths[400] = lengths[401] = 14;
  ASSERT_EQ(build(lengths, 510, true), 0);
  EXPECT_EQ(c_->lit_table[0], 100);
  EXPECT_EQ(c_->lit_table[2047], 100);
  EXPECT_EQ(c_->lit_table[2048], 101);
  EXPECT_EQ(c_->lit_table[4094], 111);  // twelve bits: 1111 1111 1110
  EXPECT_EQ(c_->lit_table[4095], 510);
  EXPECT_EQ(c_->tree_left[510], 112);
  EXPECT_EQ(c_->tree_right[510], 511);
  EXPECT_EQ(c_->tree_left[511], 400);
  EXPECT_EQ(c_->tree_right[511], 401);
  EXPECT_EQ(c_->tree_left[512], saved_.tree_left[512]);  // two nodes, the second reused
}

TEST_F(TableTest, RefusedSetsChangeNothing) {
  struct Case {
    const char* what;
    std::vector<uint8_t> lengths;
    uint32_t symbols;
    bool lit;
  };
  std::vector<uint8_t> long_overfull(510, 0);  // 3 * 2^15 + (2^15 - 4) + 2 * 2 = 2^17
  long_overfull[0] = long_overfull[1] = long_overfull[2] = 1;
  for (int i = 2; i <= 14; ++i) long_overfull[i + 1] = uint8_t(i);
  long_overfull[16] = long_overfull[17] = 15;
  const Case cases[] = {
      {"one code of length 1", {1}, 19, false},
      {"four codes of length 1 (wraps to 0)", {1, 1, 1, 1}, 14, false},
      {"over-full with long codes (wraps to 0)", long_overfull, 510, true},
      {"length 17", {1, 1, 17}, 19, false},
      {"length 20", {1, 2, 3, 20}, 19, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    c_->status = 0;
    EXPECT_EQ(build(k.lengths, k.symbols, k.lit), CODEC_BAD_TABLE);
    EXPECT_EQ(c_->status, CODEC_BAD_TABLE);
    EXPECT_TRUE(unchanged());
  }
}

TEST_F(TableTest, AllZeroLengthsPassAndChangeNothing) {
  EXPECT_EQ(build({}, 510, true), 0);
  EXPECT_EQ(c_->status, 0);
  EXPECT_TRUE(unchanged());
}

TEST(BitInput, MostSignificantBitFirstThenZeroBits) {
  CodecContext* c = nullptr;
  ASSERT_EQ(codec_create(&c), 0);
  uint8_t bytes[] = {0xA5, 0x3C, 0xF0};
  ByteRange in = {bytes, bytes + 3, 0, bytes, 3};
  c->in_range = &in;
  fill_bits(c, 16);
  EXPECT_EQ(c->bit_word, 0xA53C);
  EXPECT_EQ(in.count, 2u);
  EXPECT_EQ(get_bits(c, 0), 0u);
  EXPECT_EQ(c->bit_word, 0xA53C);
  EXPECT_EQ(in.count, 2u);
  EXPECT_EQ(get_bits(c, 3), 0x5u);    // 101
  EXPECT_EQ(get_bits(c, 7), 0x14u);   // 0010100
  EXPECT_EQ(get_bits(c, 9), 0x1E7u);  // 111100 111
  EXPECT_EQ(in.count, 3u);
  EXPECT_EQ(get_bits(c, 16), 0x8000u);  // the last 1 bit, then zeros
  EXPECT_EQ(get_bits(c, 16), 0u);
  EXPECT_EQ(in.count, 3u);
  EXPECT_EQ(in.cur, bytes + 3);
  codec_release(&c);
}

}  // namespace
