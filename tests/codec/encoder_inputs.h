// Inputs of many shapes for the tests that hold the compressor's output fixed:
// each is made from a seed alone, so the same seed always gives the same bytes
// on every machine.
#pragma once

#include <cstdint>
#include <string>

// A block of random bytes repeated: every match lies `period` back.
std::string periodic_bytes(size_t size, size_t period, uint32_t seed);
// Random bytes over an alphabet of `letters` values: long, deeply nested
// matches and many strings equal in all 256 bytes when it is small.
std::string small_alphabet(size_t size, uint32_t letters, uint32_t seed);
// Something like machine code and its tables: short opcode patterns, 32-bit
// little-endian addresses that grow, zero padding and symbol names.
std::string binary_like(size_t size, uint32_t seed);
// Runs of one byte, of random lengths (1..600) and values.
std::string byte_runs(size_t size, uint32_t seed);
// Pieces of the shapes above and of text, joined, with a few bytes flipped.
std::string mixed_bytes(size_t size, uint32_t seed);
// One of the shapes above, chosen by the seed, of the given size.
std::string any_shape(size_t size, uint32_t seed);
