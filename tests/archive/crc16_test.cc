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
