// Bit input of the decoder: the compressed stream read most significant bit
// first, with the next 16 bits always in view in `bit_word`.
//
// `bit_word` holds the next 16 bits, the earliest at the top; `spare_byte` is
// the byte fetched last, of which the low `spare_bits` bits have not yet
// entered `bit_word`. A code of up to 16 bits can therefore be looked up and
// walked without a refill in the middle, and it is consumed afterwards by one
// `fill_bits` with its length.
//
// Bytes come one at a time straight from the caller's `in_range`; past its end
// the input reads as zero bits for ever and `count` stops growing. The caller
// checks its output and so catches a truncated stream.
//
// Both functions are inline: the block decoder calls them for every symbol.
#pragma once

#include <cstdint>

#include "codec/codec_context.h"

// The longest `fill_bits` the decoder makes: a pre-tree length field of 7 plus
// thirteen 1 bits is consumed as 17 bits, and such a length (up to 20) can
// later be consumed as a code length when its table was refused.
constexpr int32_t BIT_INPUT_MAX_FILL = 20;

// Discards the top n bits of `bit_word` (n from 0 to BIT_INPUT_MAX_FILL) and
// shifts as many new bits in at the bottom.
inline void fill_bits(CodecContext* context, int32_t n) {
  // 32-bit arithmetic: n may exceed 16, and every bit shifted above bit 15 is
  // simply dropped when the word is stored.
  uint32_t word = uint32_t(context->bit_word) << n;
  int32_t spare_bits = context->spare_bits;
  while (n > spare_bits) {
    n -= spare_bits;
    // The already consumed high bits of spare_byte land exactly on the copies
    // of themselves that the previous fill left at the bottom of bit_word, so
    // OR-ing the whole byte is harmless.
    word |= context->spare_byte << n;
    ByteRange* in = context->in_range;
    // `<` rather than `!=`: a range whose cur lies beyond its end reads as
    // exhausted instead of running through memory.
    if (in->cur < in->end) {
      context->spare_byte = *in->cur++;
      ++in->count;
    } else {
      context->spare_byte = 0;
    }
    spare_bits = 8;
  }
  spare_bits -= n;
  word |= context->spare_byte >> spare_bits;
  context->bit_word = uint16_t(word);
  context->spare_bits = spare_bits;
}

// Returns the next n bits (n from 0 to 16), first bit most significant, and
// consumes them. n = 0 returns 0 and consumes nothing.
inline uint32_t get_bits(CodecContext* context, int32_t n) {
  uint32_t bits = uint32_t(context->bit_word) >> (16 - n);
  fill_bits(context, n);
  return bits;
}
