// Length-limited canonical Huffman codes for the compressor.
//
// The tree is built with a binary heap in the context (`heap`, ties broken in
// a fixed way so that the code, and so the stream, is fully determined by the
// frequencies), its leaf depths are counted, and depths beyond 16 are folded
// back by taking codes from the longest lengths until the code is complete
// again. Lengths are then handed to the symbols in the order they left the
// heap, rarest first, and codes are assigned canonically: shorter codes first,
// and within one length in increasing symbol order, as the decoder rebuilds
// them.
#pragma once

#include <cstdint>

#include "codec/codec_context.h"

// Builds the code of n symbols (2 <= n <= 510) from `freq`, writing `lengths`
// (0 for a symbol that does not occur) and `codes` (only those of occurring
// symbols mean anything). `freq` must have room for 2n - 1 entries: those from
// n upward receive the weights of the internal nodes, whose children go to
// `tree_left` and `tree_right`. The frequencies must sum to below 65536.
//
// Returns the root node. When fewer than two symbols occur it is a symbol
// number instead (0 when none occurs), all lengths are 0 and that symbol's
// code is 0, so that it is written as no bits at all.
int32_t build_code(CodecContext* context, int32_t n, uint16_t* freq, uint8_t* lengths, uint16_t* codes);
