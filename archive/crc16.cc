#include "archive/crc16.h"

#include <cstdlib>

uint8_t* crc16_table() {
  auto* table = static_cast<uint8_t*>(malloc(CRC_TABLE_SIZE));
  if (!table) return nullptr;
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t r = i;
    for (int bit = 0; bit < 8; bit++) r = (r & 1) ? (r >> 1) ^ 0xA001 : r >> 1;
    table[i] = uint8_t(r);
    table[256 + i] = uint8_t(r >> 8);
  }
  return table;
}

// The register is kept as its two bytes, H and L; ending with L in the high
// position gives the byte-exchanged (stored) form without a final swap.
uint16_t crc16(const uint8_t* table, const uint8_t* data, uint32_t length) {
  uint32_t h = 0, l = 0;
  for (uint32_t i = 0; i < length; i++) {
    uint32_t index = l ^ data[i];
    l = h ^ table[index];
    h = table[256 + index];
  }
  return uint16_t(l << 8 | h);
}
