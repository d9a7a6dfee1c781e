// Hand-made compressed streams for the decoder tests: an MSB-first bit
// writer, the length fields of a block head, and a small block writer that
// codes a list of literals and matches with canonical codes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class BitWriter {
 public:
  // Appends the low `bits` bits of value, most significant first.
  void put(uint32_t value, int bits);
  // Appends the code of `symbol` in a canonical code of `lengths`.
  void put_code(const std::vector<uint8_t>& lengths, uint32_t symbol);
  // The bits so far, the last byte padded with 0 bits.
  std::string bytes() const { return bytes_; }

 private:
  std::string bytes_;
  int free_bits_ = 0;  // unused low bits of the last byte
};

// The canonical codes of a set of lengths: shorter codes first, equal lengths
// in symbol order.
std::vector<uint32_t> canonical_codes(const std::vector<uint8_t>& lengths);

// Pre-tree or position lengths: count (lengths.size()) in count_bits, then
// each length (3 bits, or 111 + ones + 0 for 7 and above); with zero_run, the
// 2-bit count of zeros that follow the third length comes after it.
void put_aux_lengths(BitWriter& w, int count_bits, const std::vector<uint8_t>& lengths, bool zero_run);
// The single-symbol form: count 0, then the symbol in count_bits bits.
void put_single(BitWriter& w, int count_bits, uint32_t symbol);

// The pre-tree every helper uses: symbols 0..12 four bits, 13..18 five.
const std::vector<uint8_t>& fixed_pre_tree();
// That pre-tree, then the 510 literal/length lengths sent with it.
void put_pre_and_lit_lengths(BitWriter& w, const std::vector<uint8_t>& lit_lengths);

// Codes that hold every symbol: literals and lengths 3..254 nine bits, the
// two longest lengths eight; positions 0 and 1 three bits, the rest four.
std::vector<uint8_t> all_lit_lengths();
std::vector<uint8_t> all_pos_lengths();

struct Token {
  uint32_t length;    // 0: literal
  uint32_t value;     // the byte, or the distance 1..8192
};
inline Token lit(uint8_t byte) { return {0, byte}; }
inline Token match(uint32_t length, uint32_t distance) { return {length, distance}; }

// One block: count, pre-tree, the given codes, then the tokens.
void put_block(BitWriter& w, const std::vector<Token>& tokens,
               const std::vector<uint8_t>& lit_lengths = all_lit_lengths(),
               const std::vector<uint8_t>& pos_lengths = all_pos_lengths());

// What the tokens decode to, with the history before the first byte zero.
std::string expand(const std::vector<Token>& tokens);

// Offset of the first byte where a and b differ (a length counts), or npos:
// for outputs too long to print.
size_t first_difference(const std::string& a, const std::string& b);
