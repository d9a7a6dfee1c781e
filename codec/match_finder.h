// The compressor's match finder: a dictionary tree of every string that
// starts in the 8192-byte window, compared up to 256 bytes, in the arrays of
// the codec context.
//
// Each position is a leaf, numbered by the value `text_pos` had when it was
// inserted (8192..16383); an internal node (1..8191) stands where strings
// part, at a depth of `node_level` bytes; each first byte has a root
// (8192 + byte). Children are not kept in per-node tables but in 12528 hash
// chains shared by all nodes, headed at `node_next`[16384 + parent + 16 * byte]
// and told apart by `node_parent`. Inserting a position finds its longest
// match on the way down, so matching and indexing are one walk.
//
// Node positions (the match candidate of an internal node, a leaf number) are
// kept up to date lazily: bit 15 marks a node whose own value is current but
// whose ancestors lag behind. A stored value that is not below the current
// `text_pos` belongs to the previous pass over `text_buf` and stands for the
// text index 8192 lower; the window moves by 8192 bytes every 8192 positions,
// so no stored number ever needs rewriting.
#pragma once

#include <cstdint>

#include "codec/codec_context.h"

constexpr uint32_t NODE_ROOT_BASE = CODEC_WINDOW;       // 8192 + b: root of strings starting with b
constexpr uint32_t NODE_LEAF_BASE = CODEC_WINDOW;       // leaves 8192..16383
constexpr uint32_t NODE_HASH_BASE = CODEC_PARENT_COUNT;  // chain heads 16384..28911
constexpr uint32_t NODE_PENDING = 0x8000;               // in node_position: ancestors not updated
constexpr uint32_t TEXT_START = CODEC_WINDOW;            // first text_pos of a pass
constexpr uint32_t TEXT_END = 2 * CODEC_WINDOW;          // text_pos never reaches it

static_assert(NODE_ROOT_BASE + 256 == CODEC_NODE_COUNT);
static_assert(NODE_HASH_BASE + (CODEC_NODE_COUNT - 1) + 16 * 255 == CODEC_NEXT_COUNT - 1,
              "every (parent, byte) pair hashes into node_next");
static_assert(TEXT_END - 1 + CODEC_MAX_MATCH == CODEC_TEXT_SIZE - 1, "the look-ahead stays in text_buf");
static_assert(TEXT_END - 1 <= 0x7FFF && CODEC_NEXT_COUNT - 1 <= 0xFFFF, "numbers fit the 16-bit fields");

// Empties the tree: roots of level 1, no leaves, all internal nodes free.
void reset_tree(CodecContext* context);

// Copies up to n bytes from the input range to dest; returns how many.
int32_t fill_text(CodecContext* context, uint8_t* dest, int32_t n);

// The child of node q whose strings continue with byte ch, or 0.
uint16_t find_child(CodecContext* context, uint16_t q, uint32_t ch);

// Links r under q for byte ch, at the front of its chain.
void add_child(CodecContext* context, uint16_t q, uint32_t ch, uint16_t r);

// Inserts the leaf of `text_pos` and leaves in `match_len`/`match_pos` the
// longest match found for it (below 3: none). On entry they must still hold
// the match of the previous position, from which a long match restarts deep
// in the tree instead of at the root.
void insert_position(CodecContext* context);

// Moves one position on: moves the window when `text_pos` reaches its end,
// removes the leaf that leaves the window, and inserts the new position.
void advance_position(CodecContext* context);
