#include "archive/crc16.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

uint16_t crc_of(const std::string& s) {
  uint8_t* table = crc16_table();
  uint16_t crc = crc16(table, reinterpret_cast<const uint8_t*>(s.data()), uint32_t(s.size()));
  free(table);
  return crc;
}

// The stored form is CRC-16/ARC with its bytes exchanged.
TEST(Crc16, KnownValuesInStoredForm) {
  EXPECT_EQ(crc_of("abc"), 0x3897);        // ARC 0x9738
  EXPECT_EQ(crc_of(""), 0);
  EXPECT_EQ(crc_of("123456789"), 0x3DBB);  // the catalogue check value 0xBB3D
}

TEST(Crc16, TableHoldsLowBytesThenHighBytes) {
  uint8_t* table = crc16_table();
  ASSERT_NE(table, nullptr);
  // Entry 1 of the reflected 0xA001 table is 0xC0C1, entry 255 is 0x4040.
  EXPECT_EQ(table[1], 0xC1);
  EXPECT_EQ(table[256 + 1], 0xC0);
  EXPECT_EQ(table[255], 0x40);
  EXPECT_EQ(table[256 + 255], 0x40);
  EXPECT_EQ(table[0], 0);
  free(table);
}

}  // namespace

namespace {

// The eight-byte steps and the folding of long runs (from 128 bytes, 64 at a
// time) must agree with the byte-at-a-time definition for every length and
// alignment.
uint16_t bytewise(const std::string& s) {
  uint32_t h = 0, l = 0;
  for (unsigned char b : s) {
    uint32_t r = l ^ b;
    for (int bit = 0; bit < 8; bit++) r = (r & 1) ? (r >> 1) ^ 0xA001 : r >> 1;
    l = h ^ (r & 0xFF);
    h = r >> 8;
  }
  return uint16_t(l << 8 | h);
}

TEST(Crc16, WholeGroupsAgreeWithTheByteDefinition) {
  std::string data;
  uint32_t x = 12345;
  for (int i = 0; i < 700; i++) data.push_back(char((x = x * 1103515245 + 12345) >> 16));
  for (size_t start = 0; start < 9; start++)
    for (size_t n = 0; n + start <= data.size(); n += 7)
      ASSERT_EQ(crc_of(data.substr(start, n)), bytewise(data.substr(start, n))) << start << " " << n;
  // Continued from any cut, the folded runs included, the CRC is the whole's.
  uint8_t* table = crc16_table();
  const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
  for (uint32_t cut = 0; cut <= data.size(); cut += 13)
    ASSERT_EQ(crc16_continue(table, crc16(table, bytes, cut), bytes + cut, uint32_t(data.size() - cut)), bytewise(data)) << cut;
  free(table);
}

}  // namespace
