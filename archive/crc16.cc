#include "archive/crc16.h"

#include <array>
#include <cstdlib>

namespace {

// Entry k of row j is the CRC register after byte k followed by j zero bytes.
// Row 0 is the byte table that crc16_table hands out; the other rows let the
// loop below take eight bytes per step, which is what makes checking every
// record and every byte of an installation cheap.
using SliceTables = std::array<std::array<uint16_t, 256>, 8>;

constexpr SliceTables make_slice_tables() {
  SliceTables t{};
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t r = i;
    for (int bit = 0; bit < 8; bit++) r = (r & 1) ? (r >> 1) ^ 0xA001 : r >> 1;
    t[0][i] = uint16_t(r);
  }
  for (int j = 1; j < 8; j++)
    for (uint32_t i = 0; i < 256; i++) t[j][i] = uint16_t(t[j - 1][i] >> 8 ^ t[0][t[j - 1][i] & 0xFF]);
  return t;
}

constexpr SliceTables slice = make_slice_tables();
static_assert(slice[0][1] == 0xC0C1 && slice[0][255] == 0x4040, "the CRC-16/ARC byte table");

}  // namespace

uint8_t* crc16_table() {
  auto* table = static_cast<uint8_t*>(malloc(CRC_TABLE_SIZE));
  if (!table) return nullptr;
  for (uint32_t i = 0; i < 256; i++) {
    table[i] = uint8_t(slice[0][i]);
    table[256 + i] = uint8_t(slice[0][i] >> 8);
  }
  return table;
}

// The register is kept as its two bytes, H and L; ending with L in the high
// position gives the byte-exchanged (stored) form without a final swap. Whole
// groups of eight bytes go through the sliced tables (the same register,
// h << 8 | l), the rest through the caller's byte table.
uint16_t crc16(const uint8_t* table, const uint8_t* data, uint32_t length) {
  return crc16_continue(table, 0, data, length);
}

uint16_t crc16_continue(const uint8_t* table, uint16_t crc, const uint8_t* data, uint32_t length) {
  uint32_t r = uint32_t(crc >> 8 | (crc & 0xFF) << 8);
  uint32_t i = 0;
  for (; length - i >= 8; i += 8) {
    const uint8_t* p = data + i;
    uint32_t x = r ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8);
    r = slice[7][x & 0xFF] ^ slice[6][x >> 8] ^ slice[5][p[2]] ^ slice[4][p[3]] ^ slice[3][p[4]] ^
        slice[2][p[5]] ^ slice[1][p[6]] ^ slice[0][p[7]];
  }
  uint32_t h = r >> 8, l = r & 0xFF;
  for (; i < length; i++) {
    uint32_t index = l ^ data[i];
    l = h ^ table[index];
    h = table[256 + index];
  }
  return uint16_t(l << 8 | h);
}
