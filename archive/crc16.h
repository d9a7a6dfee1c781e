// CRC-16/ARC (reflected polynomial 0xA001, initial 0, no final XOR) over the
// attachment's records and data.
#pragma once

#include <cstdint>

constexpr uint32_t CRC_TABLE_SIZE = 512;  // low bytes of 256 entries, then their high bytes

// A new table, or null when memory is exhausted. The caller frees it with free().
uint8_t* crc16_table();

// The CRC of `length` bytes in stored form: the CRC-16/ARC value with its two
// bytes exchanged, i.e. what a CRC field gives when read as a little-endian u16.
uint16_t crc16(const uint8_t* table, const uint8_t* data, uint32_t length);

// The CRC of data that continues the bytes whose CRC (stored form) is `crc`:
// crc16_continue(t, crc16(t, a, n), b, m) is the CRC of a then b.
uint16_t crc16_continue(const uint8_t* table, uint16_t crc, const uint8_t* data, uint32_t length);
