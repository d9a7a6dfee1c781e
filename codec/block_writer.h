// The compressor's back half: stages the literals and matches of one block in
// `work_buf`, then codes the block with three length-limited canonical Huffman
// codes (literal/length, pre-tree, position) and writes it, most significant
// bit first, into the context's output range.
//
// Items are staged in compact form rather than coded at once because a
// block's codes depend on the frequencies of all its symbols: a flag byte,
// whose bits from bit 7 down mark the match items among the next eight, then
// per item either the literal byte or three bytes (length - 3, distance code
// high byte, low byte).
//
// Output never goes past the range's `end`: the first byte that does not fit
// sets `out_full`, and from then on nothing is written.
#pragma once

#include <cstdint>

#include "codec/codec_context.h"

// A flag group is one flag byte and up to eight items of at most 3 bytes; one
// is begun only while at least that much of `work_buf` is left.
constexpr uint32_t BLOCK_GROUP_MAX = 1 + 8 * 3;
constexpr uint32_t BLOCK_LIMIT_MARGIN = 24;  // a group is begun below work_size - 24
static_assert(BLOCK_GROUP_MAX == BLOCK_LIMIT_MARGIN + 1, "a group begun below the limit fits");
static_assert(CODEC_WINDOW - BLOCK_LIMIT_MARGIN == 8168);

constexpr uint32_t MATCH_SYMBOL_BASE = 256 - CODEC_MIN_MATCH;  // symbol = length + 253

// Count fields of a block head.
constexpr uint32_t BLOCK_SIZE_BITS = 16;
constexpr uint32_t LIT_COUNT_BITS = 9;
constexpr uint32_t PRE_COUNT_BITS = 5;
constexpr uint32_t POS_COUNT_BITS = 4;
constexpr int32_t PRE_ZERO_RUN_INDEX = 3;  // the pre-tree's 2-bit zero run follows its third length
static_assert((1u << LIT_COUNT_BITS) > CODEC_LIT_SYMBOLS && (1u << PRE_COUNT_BITS) > CODEC_PRE_SYMBOLS &&
              (1u << POS_COUNT_BITS) > CODEC_POS_SYMBOLS);

// Position symbol of a distance code: 0 for 0, else its number of
// significant bits (1..13).
uint32_t position_symbol(uint32_t distance_code);

// Starts an empty block and an empty bit writer. `status` and `out_full` are
// left as they are.
void reset_block(CodecContext* context);

// Appends one item: a literal (symbol below 256; distance_code unused) or a
// match (symbol 256..509 for lengths 3..256, distance_code 0..8191 for
// distances 1..8192). When the block is full it is flushed first; if that
// leaves `status` non-zero or `out_full` set, the item is dropped.
void stage_item(CodecContext* context, uint32_t symbol, uint32_t distance_code);

// Codes and writes the staged block, then clears the frequencies. Stops after
// the item during which the output filled up or while `status` is non-zero.
void flush_block(CodecContext* context);

// Appends the low n bits (0..16) of x, first bit most significant. x must
// have no bits set above the low n.
void put_bits(CodecContext* context, uint32_t n, uint32_t x);

// The pre-tree frequencies of the literal/length code lengths in
// `lit_lengths`, as `write_lit_lengths` will send them.
void count_pre_freq(CodecContext* context);

// Sends `lit_lengths` with the pre-tree code in `aux_lengths`/`aux_codes`.
void write_lit_lengths(CodecContext* context);

// Sends the first n entries of `aux_lengths` (trailing zeros dropped) with a
// count field of count_bits; `special` is the index after which a 2-bit run of
// zero lengths (0..3) follows, or -1 for none.
void write_aux_lengths(CodecContext* context, uint32_t n, uint32_t count_bits, int32_t special);
