// Huffman decoding tables of the block decoder.
//
// A table of 2^width entries is indexed by the next `width` bits of the
// stream. An entry below the symbol count is the symbol whose code starts with
// those bits; an entry at or above it is a tree node, because the code is
// longer than `width`: the walk goes on bit by bit through the context's
// `tree_left` (0 bit) and `tree_right` (1 bit), whose entries again hold a
// symbol or a further node. Nodes are numbered from the symbol count upward,
// so one table's nodes never collide with its symbols, and a complete code of
// nsym symbols needs fewer than nsym nodes: every entry of a table or a tree
// stays below 2 * 510 - 1 = CODEC_TREE_NODES, whatever the stream says.
//
// Codes are canonical (shorter codes first, equal lengths in symbol order), so
// the lengths alone define them.
#pragma once

#include <cstdint>

#include "codec/codec_context.h"

// Fills `table` (2^width entries) and, for codes longer than `width`, nodes
// from `symbol_count` upward of the context's trees, from the code lengths of
// `symbol_count` symbols (0: the symbol does not occur).
//
// Requires symbol_count <= CODEC_LIT_SYMBOLS and width from 1 to 15; the
// decoder uses 510 and 12, 19 or 14 and 8.
//
// Returns 0, also for a set of lengths that are all 0 (which leaves the table
// as it was). Returns CODEC_BAD_TABLE and stores it in `status` when the
// lengths are not a complete code: incomplete, over-full (even when the sum
// wraps to 0 in 16 bits), or with a length above 16. Table and trees are then
// left exactly as they were.
int32_t build_decode_table(CodecContext* context, uint32_t symbol_count, const uint8_t* lengths,
                           uint32_t width, uint16_t* table);
