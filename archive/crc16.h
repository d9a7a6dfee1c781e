// CRC-16/ARC (reflected polynomial 0xA001, initial 0, no final XOR) over the
// attachment's records and data.
#pragma once

#include <cstdint>

constexpr uint32_t CRC_TABLE_SIZE = 512;  // low bytes of 256 entries, then their high bytes

// A new table, or null when memory is exhausted. The caller frees it with free().
// Only a table from here may be given to crc16 and crc16_continue: the first
// call also fills what they share.
uint8_t* crc16_table();

// The CRC of `length` bytes in stored form: the CRC-16/ARC value with its two
// bytes exchanged, i.e. what a CRC field gives when read as a little-endian u16.
uint16_t crc16(const uint8_t* table, const uint8_t* data, uint32_t length);

// The CRC of bytes that continue those whose CRC is `previous` (stored form):
// crc16 of a whole, taken piece by piece.
uint16_t crc16_continue(const uint8_t* table, uint16_t previous, const uint8_t* data, uint32_t length);
