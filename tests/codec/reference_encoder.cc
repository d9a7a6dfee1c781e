// A frozen copy of the compressor as it stood before its speed work: block
// writer, Huffman code builder, dictionary-tree match finder and driver, one
// step at a time through the context's fields. The tests hold the compressor
// to it byte for byte; nothing but the tests and the encode benchmark links it.
// Do not change it, except to keep it compiling.
#include "tests/codec/reference_encoder.h"

#include <bit>
#include <cstring>

namespace reference_encoder {

// ---- huffman_code (declarations) ----

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

// ---- block_writer (declarations) ----

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

// ---- match_finder (declarations) ----

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

// ---- huffman_code ----

namespace {

constexpr uint32_t KRAFT_TOTAL = 1u << CODEC_MAX_CODE_BITS;  // a complete code's sum of 2^(16 - length)

// Sifts heap entry i down. Smallest frequency on top; on a tie between the
// children the left one is taken, and the sifted entry stays above an equal
// child. These rules fix which of equal weights leaves the heap first.
void heap_sift(CodecContext* c, int32_t i) {
  int16_t* heap = c->heap;
  const uint16_t* freq = c->heap_freq;
  const int32_t size = c->heap_size;
  const int32_t k = heap[i];
  while (2 * i <= size) {
    int32_t j = 2 * i;
    if (j < size && freq[heap[j]] > freq[heap[j + 1]]) j++;
    if (freq[k] <= freq[heap[j]]) break;
    heap[i] = heap[j];
    i = j;
  }
  heap[i] = int16_t(k);
}

// Counts the leaves below `node` by depth; depths beyond 16 count as 16 and
// are repaired by the caller. The tree has at most 509 levels.
void count_depths(CodecContext* c, int32_t node) {
  if (node < c->heap_symbols) {
    int32_t depth = c->tree_depth < int32_t(CODEC_MAX_CODE_BITS) ? c->tree_depth : int32_t(CODEC_MAX_CODE_BITS);
    c->length_count[depth]++;
    return;
  }
  c->tree_depth++;
  count_depths(c, c->tree_left[node]);
  count_depths(c, c->tree_right[node]);
  c->tree_depth--;
}

// Makes the counts a complete code of at most 16 bits. Each round takes one
// code of length 16 and splits the longest shorter code into two one bit
// longer, which lowers the sum by exactly one. Codes of length 1..15 never
// sum to more than a complete code, so while the sum is too large there is a
// 16-bit code to take and a shorter one to split.
void limit_lengths(uint16_t* count) {
  uint32_t total = 0;
  for (uint32_t i = 1; i <= CODEC_MAX_CODE_BITS; i++) total += uint32_t(count[i]) << (CODEC_MAX_CODE_BITS - i);
  while (total != KRAFT_TOTAL) {
    count[CODEC_MAX_CODE_BITS]--;
    for (uint32_t i = CODEC_MAX_CODE_BITS - 1; i >= 1; i--) {
      if (count[i] != 0) {
        count[i]--;
        count[i + 1] += 2;
        break;
      }
    }
    total--;
  }
}

}  // namespace

int32_t build_code(CodecContext* c, int32_t n, uint16_t* freq, uint8_t* lengths, uint16_t* codes) {
  int16_t* heap = c->heap;
  c->heap_symbols = n;
  c->heap_freq = freq;
  c->length_out = lengths;
  c->heap_size = 0;
  heap[1] = 0;
  for (int32_t i = 0; i < n; i++) {
    lengths[i] = 0;
    if (freq[i] != 0) heap[++c->heap_size] = int16_t(i);
  }
  if (c->heap_size < 2) {
    codes[heap[1]] = 0;
    return heap[1];
  }
  for (int32_t i = c->heap_size / 2; i >= 1; i--) heap_sift(c, i);

  // Merge the two lightest entries until one is left. The symbols are listed
  // in `codes` in the order they leave the heap, rarest first.
  c->sort_out = codes;
  int32_t k = n;
  while (c->heap_size > 1) {
    int32_t i = heap[1];
    if (i < n) *c->sort_out++ = uint16_t(i);
    heap[1] = heap[c->heap_size--];
    heap_sift(c, 1);
    int32_t j = heap[1];
    if (j < n) *c->sort_out++ = uint16_t(j);
    freq[k] = uint16_t(freq[i] + freq[j]);
    heap[1] = int16_t(k);
    heap_sift(c, 1);
    c->tree_left[k] = uint16_t(i);
    c->tree_right[k] = uint16_t(j);
    k++;
  }
  const int32_t root = k - 1;

  uint16_t* count = c->length_count;
  for (uint32_t i = 0; i <= CODEC_MAX_CODE_BITS; i++) count[i] = 0;
  c->tree_depth = 0;
  count_depths(c, root);
  limit_lengths(count);

  // The rarest symbols get the longest codes.
  const uint16_t* sorted = codes;
  for (uint32_t len = CODEC_MAX_CODE_BITS; len >= 1; len--)
    for (uint32_t m = count[len]; m > 0; m--) lengths[*sorted++] = uint8_t(len);

  uint16_t start[CODEC_MAX_CODE_BITS + 2] = {};
  for (uint32_t i = 1; i <= CODEC_MAX_CODE_BITS; i++) start[i + 1] = uint16_t((start[i] + count[i]) << 1);
  for (int32_t i = 0; i < n; i++) codes[i] = start[lengths[i]]++;
  return root;
}

// ---- block_writer ----

namespace {

constexpr uint32_t EMPTY_BYTE_BITS = 8;

// Pre-tree symbols that send literal/length code lengths.
constexpr uint32_t PRE_ZERO = 0;       // one zero length
constexpr uint32_t PRE_SHORT_RUN = 1;  // 3..18 zero lengths, 4 bits follow
constexpr uint32_t PRE_LONG_RUN = 2;   // 20..531 zero lengths, 9 bits follow
constexpr uint32_t PRE_LENGTH_BASE = 2;  // length k (1..16) is symbol k + 2
static_assert(PRE_LENGTH_BASE + CODEC_MAX_CODE_BITS == CODEC_PRE_SYMBOLS - 1);

void emit_byte(CodecContext* c, uint32_t byte) {
  ByteRange* out = c->out_range;
  if (out->cur >= out->end) {
    c->out_full = 1;
    return;
  }
  *out->cur++ = uint8_t(byte);
  out->count++;
}

// The number of literal/length code lengths sent: trailing zeros are dropped.
uint32_t lit_lengths_sent(const CodecContext* c) {
  uint32_t n = CODEC_LIT_SYMBOLS;
  while (n > 0 && c->lit_lengths[n - 1] == 0) n--;
  return n;
}

void put_pre_symbol(CodecContext* c, uint32_t s) { put_bits(c, c->aux_lengths[s], c->aux_codes[s]); }

}  // namespace

uint32_t position_symbol(uint32_t distance_code) { return uint32_t(std::bit_width(distance_code)); }
static_assert(std::bit_width(CODEC_WINDOW_MASK) == CODEC_POS_SYMBOLS - 1);

void reset_block(CodecContext* c) {
  c->work_buf[0] = 0;
  for (uint32_t i = 0; i < CODEC_LIT_SYMBOLS; i++) c->lit_freq[i] = 0;
  for (uint32_t i = 0; i < CODEC_POS_SYMBOLS; i++) c->pos_freq[i] = 0;
  c->flag_bit = 0;
  c->out_index = 0;
  c->spare_bits = EMPTY_BYTE_BITS;
  c->spare_byte = 0;
}

void put_bits(CodecContext* c, uint32_t n, uint32_t x) {
  uint32_t spare = uint32_t(c->spare_bits);
  if (n < spare) {
    spare -= n;
    c->spare_bits = int32_t(spare);
    c->spare_byte |= x << spare;
    return;
  }
  n -= spare;
  emit_byte(c, c->spare_byte | (x >> n));
  if (n < 8) {
    c->spare_bits = int32_t(8 - n);
    c->spare_byte = x << (8 - n);
  } else {
    emit_byte(c, x >> (n - 8));
    c->spare_bits = int32_t(16 - n);
    c->spare_byte = x << (16 - n);
  }
}

void stage_item(CodecContext* c, uint32_t symbol, uint32_t distance_code) {
  uint8_t* buf = c->work_buf;
  uint32_t bit = c->flag_bit >> 1;
  if (bit == 0) {
    if (c->out_index >= c->work_size - BLOCK_LIMIT_MARGIN) {
      flush_block(c);
      if (c->status != 0 || c->out_full) {
        // Leaving the group unbegun keeps any further call from staging
        // past the end of the full buffer.
        c->flag_bit = 0;
        return;
      }
      c->out_index = 0;
    }
    bit = 0x80;
    c->flag_index = c->out_index;
    buf[c->out_index++] = 0;
  }
  c->flag_bit = bit;
  buf[c->out_index++] = uint8_t(symbol);
  c->lit_freq[symbol]++;
  if (symbol >= 256) {
    buf[c->flag_index] |= uint8_t(bit);
    buf[c->out_index++] = uint8_t(distance_code >> 8);
    buf[c->out_index++] = uint8_t(distance_code);
    c->pos_freq[position_symbol(distance_code)]++;
  }
}

void count_pre_freq(CodecContext* c) {
  uint16_t* freq = c->pre_freq;
  for (uint32_t i = 0; i < CODEC_PRE_SYMBOLS; i++) freq[i] = 0;
  const uint32_t n = lit_lengths_sent(c);
  uint32_t i = 0;
  while (i < n) {
    uint32_t k = c->lit_lengths[i++];
    if (k != 0) {
      freq[k + PRE_LENGTH_BASE]++;
      continue;
    }
    uint32_t run = 1;
    while (i < n && c->lit_lengths[i] == 0) {
      i++;
      run++;
    }
    if (run <= 2) {
      freq[PRE_ZERO] += uint16_t(run);
    } else if (run <= 18) {
      freq[PRE_SHORT_RUN]++;
    } else if (run == 19) {
      freq[PRE_ZERO]++;
      freq[PRE_SHORT_RUN]++;
    } else {
      freq[PRE_LONG_RUN]++;
    }
  }
}

void write_lit_lengths(CodecContext* c) {
  const uint32_t n = lit_lengths_sent(c);
  put_bits(c, LIT_COUNT_BITS, n);
  uint32_t i = 0;
  while (i < n) {
    uint32_t k = c->lit_lengths[i++];
    if (k != 0) {
      put_pre_symbol(c, k + PRE_LENGTH_BASE);
      continue;
    }
    uint32_t run = 1;
    while (i < n && c->lit_lengths[i] == 0) {
      i++;
      run++;
    }
    if (run <= 2) {
      for (uint32_t j = 0; j < run; j++) put_pre_symbol(c, PRE_ZERO);
    } else if (run <= 18) {
      put_pre_symbol(c, PRE_SHORT_RUN);
      put_bits(c, 4, run - 3);
    } else if (run == 19) {
      // A short run reaches 18 only: one single zero, then a run of 18.
      put_pre_symbol(c, PRE_ZERO);
      put_pre_symbol(c, PRE_SHORT_RUN);
      put_bits(c, 4, 15);
    } else {
      put_pre_symbol(c, PRE_LONG_RUN);
      put_bits(c, 9, run - 20);
    }
  }
}

void write_aux_lengths(CodecContext* c, uint32_t n, uint32_t count_bits, int32_t special) {
  const uint8_t* lengths = c->aux_lengths;
  while (n > 0 && lengths[n - 1] == 0) n--;
  put_bits(c, count_bits, n);
  uint32_t i = 0;
  while (i < n) {
    uint32_t k = lengths[i++];
    if (k <= 6)
      put_bits(c, 3, k);
    else
      put_bits(c, k - 3, (1u << (k - 3)) - 2);  // 111, then k - 7 ones and a zero
    if (int32_t(i) == special) {
      while (i < 6 && lengths[i] == 0) i++;
      put_bits(c, 2, (i - 3) & 3);
    }
  }
}

void flush_block(CodecContext* c) {
  const int32_t root = build_code(c, CODEC_LIT_SYMBOLS, c->lit_freq, c->lit_lengths, c->lit_codes);
  const uint32_t size = c->lit_freq[root];  // the root's weight is the number of items
  put_bits(c, BLOCK_SIZE_BITS, size);

  if (root < int32_t(CODEC_LIT_SYMBOLS)) {
    // One symbol: a one-symbol pre-tree (symbol 0) and a one-symbol code.
    put_bits(c, PRE_COUNT_BITS, 0);
    put_bits(c, PRE_COUNT_BITS, 0);
    put_bits(c, LIT_COUNT_BITS, 0);
    put_bits(c, LIT_COUNT_BITS, uint32_t(root));
  } else {
    count_pre_freq(c);
    int32_t r = build_code(c, CODEC_PRE_SYMBOLS, c->pre_freq, c->aux_lengths, c->aux_codes);
    if (r < int32_t(CODEC_PRE_SYMBOLS)) {
      put_bits(c, PRE_COUNT_BITS, 0);
      put_bits(c, PRE_COUNT_BITS, uint32_t(r));
    } else {
      write_aux_lengths(c, CODEC_PRE_SYMBOLS, PRE_COUNT_BITS, PRE_ZERO_RUN_INDEX);
    }
    write_lit_lengths(c);
  }

  int32_t r = build_code(c, CODEC_POS_SYMBOLS, c->pos_freq, c->aux_lengths, c->aux_codes);
  if (r < int32_t(CODEC_POS_SYMBOLS)) {
    put_bits(c, POS_COUNT_BITS, 0);
    put_bits(c, POS_COUNT_BITS, uint32_t(r));
  } else {
    write_aux_lengths(c, CODEC_POS_SYMBOLS, POS_COUNT_BITS, -1);
  }

  const uint8_t* buf = c->work_buf;
  const uint32_t staged = c->out_index;
  uint32_t at = 0;
  uint32_t flags = 0;
  for (uint32_t i = 0; i < size && at < staged; i++) {
    if ((i & 7) == 0) flags = buf[at++];
    if (flags & (0x80u >> (i & 7))) {
      uint32_t symbol = 256 + buf[at];  // the length byte is length - 3
      uint32_t p = uint32_t(buf[at + 1]) << 8 | buf[at + 2];
      at += 3;
      put_bits(c, c->lit_lengths[symbol], c->lit_codes[symbol]);
      uint32_t k = position_symbol(p);
      put_bits(c, c->aux_lengths[k], c->aux_codes[k]);
      if (k > 1) put_bits(c, k - 1, p & (0xFFFFu >> (17 - k)));
    } else {
      uint32_t b = buf[at++];
      put_bits(c, c->lit_lengths[b], c->lit_codes[b]);
    }
    if (c->status != 0 || c->out_full) return;
  }

  for (uint32_t i = 0; i < CODEC_LIT_SYMBOLS; i++) c->lit_freq[i] = 0;
  for (uint32_t i = 0; i < CODEC_POS_SYMBOLS; i++) c->pos_freq[i] = 0;
}

// ---- match_finder ----

namespace {

// Node numbers reach 28911 and positions carry bit 15, so the tree's 16-bit
// arrays are read and written unsigned.
inline uint16_t* u16(int16_t* p) { return reinterpret_cast<uint16_t*>(p); }

constexpr uint32_t POSITION_MASK = NODE_PENDING - 1;

// A stored leaf number or position as a text index: values not below the
// current position belong to the previous pass, one window lower.
inline uint32_t text_index(uint32_t v, uint32_t pos) { return v >= pos ? v - CODEC_WINDOW : v; }

inline uint32_t chain_head(uint32_t q, uint32_t ch) { return q + 16 * ch + NODE_HASH_BASE; }

// How many of the bytes a[from..limit) and b[from..limit) agree, from `from`
// on; eight at a time while eight remain before the limit.
inline uint32_t match_until(const uint8_t* a, const uint8_t* b, uint32_t from, uint32_t limit) {
  uint32_t n = from;
  while (n + 8 <= limit) {
    uint64_t x, y;
    memcpy(&x, a + n, 8);
    memcpy(&y, b + n, 8);
    if (x != y) return n + uint32_t(__builtin_ctzll(x ^ y) >> 3);
    n += 8;
  }
  while (n < limit && a[n] == b[n]) n++;
  return n;
}
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "match_until counts the first differing byte from the low end");

// Puts a new internal node above `old`, where the strings of `old` and of
// the current position part after `match_len` bytes.
void split_node(CodecContext* c, uint16_t old) {
  uint16_t* parent = u16(c->node_parent);
  uint16_t* prev = u16(c->node_prev);
  uint16_t* next = u16(c->node_next);
  const uint32_t pos = uint16_t(c->text_pos);
  const uint32_t len = uint32_t(c->match_len);
  const uint16_t node = uint16_t(c->free_node);
  c->free_node = int16_t(next[node]);
  c->child_count[node] = 0;
  uint16_t t = prev[old];
  prev[node] = t;
  next[t] = node;
  t = next[old];
  next[node] = t;
  prev[t] = node;
  parent[node] = parent[old];
  c->node_level[node] = uint8_t(len);
  u16(c->node_position)[node] = uint16_t(pos);
  add_child(c, node, c->text_buf[uint16_t(c->match_pos) + len], old);
  add_child(c, node, c->text_buf[pos + len], uint16_t(pos));
}

// Takes leaf `pos` (the position one window back) out of the tree; a parent
// left with a single child goes too, its child taking its place.
void remove_leaf(CodecContext* c, uint32_t pos) {
  uint16_t* parent = u16(c->node_parent);
  uint16_t* prev = u16(c->node_prev);
  uint16_t* next = u16(c->node_next);
  uint16_t* position = u16(c->node_position);

  next[prev[pos]] = next[pos];
  prev[next[pos]] = prev[pos];
  const uint16_t r = parent[pos];
  parent[pos] = 0;
  if (r >= NODE_ROOT_BASE) return;
  if (--c->child_count[r] > 1) return;

  // The positions above r may lag behind (pending marks); before r goes,
  // carry the newest position known below it up to them.
  const uint32_t t = text_index(position[r] & POSITION_MASK, pos);
  uint32_t s = t;
  uint16_t q = parent[r];
  uint32_t u;
  while ((u = position[q]) & NODE_PENDING) {
    u = text_index(u & POSITION_MASK, pos);
    if (u > s) s = u;
    position[q] = uint16_t(s | NODE_LEAF_BASE);
    q = parent[q];
  }
  if (q < NODE_ROOT_BASE) {
    u = text_index(u, pos);
    if (u > s) s = u;
    position[q] = uint16_t(s | NODE_LEAF_BASE | NODE_PENDING);
  }

  const uint16_t child = find_child(c, r, c->text_buf[t + c->node_level[r]]);
  next[prev[child]] = next[child];
  prev[next[child]] = prev[child];
  uint16_t h = prev[r];
  next[h] = child;
  prev[child] = h;
  h = next[r];
  prev[h] = child;
  next[child] = h;
  parent[child] = parent[r];
  parent[r] = 0;
  next[r] = uint16_t(c->free_node);
  c->free_node = int16_t(r);
}

}  // namespace

void reset_tree(CodecContext* c) {
  uint16_t* position = u16(c->node_position);
  uint16_t* next = u16(c->node_next);
  for (uint32_t i = NODE_ROOT_BASE; i < CODEC_NODE_COUNT; i++) {
    c->node_level[i] = 1;
    position[i] = 0;
  }
  memset(c->node_parent + NODE_LEAF_BASE, 0, (CODEC_PARENT_COUNT - NODE_LEAF_BASE) * sizeof(int16_t));
  c->free_node = 1;
  for (uint32_t i = 1; i < CODEC_WINDOW - 1; i++) next[i] = uint16_t(i + 1);
  next[CODEC_WINDOW - 1] = 0;
  memset(c->node_next + NODE_HASH_BASE, 0, (CODEC_NEXT_COUNT - NODE_HASH_BASE) * sizeof(int16_t));
}

int32_t fill_text(CodecContext* c, uint8_t* dest, int32_t n) {
  ByteRange* in = c->in_range;
  if (n <= 0 || !(in->cur < in->end)) return 0;
  size_t take = size_t(in->end - in->cur);
  if (take > size_t(n)) take = size_t(n);
  memcpy(dest, in->cur, take);
  in->cur += take;
  in->count += uint32_t(take);
  return int32_t(take);
}

uint16_t find_child(CodecContext* c, uint16_t q, uint32_t ch) {
  uint16_t* parent = u16(c->node_parent);
  const uint16_t* next = u16(c->node_next);
  uint16_t r = next[chain_head(q, ch)];
  parent[0] = q;  // every chain ends in 0: the scan stops there at the latest
  while (parent[r] != q) r = next[r];
  return r;
}

void add_child(CodecContext* c, uint16_t q, uint32_t ch, uint16_t r) {
  uint16_t* prev = u16(c->node_prev);
  uint16_t* next = u16(c->node_next);
  const uint16_t h = uint16_t(chain_head(q, ch));
  const uint16_t t = next[h];
  next[h] = r;
  next[r] = t;
  prev[t] = r;  // prev[0] is scratch
  prev[r] = h;
  u16(c->node_parent)[r] = q;
  c->child_count[q]++;
}

void insert_position(CodecContext* c) {
  uint16_t* parent = u16(c->node_parent);
  uint16_t* prev = u16(c->node_prev);
  uint16_t* next = u16(c->node_next);
  uint16_t* position = u16(c->node_position);
  const uint8_t* level = c->node_level;
  const uint8_t* text = c->text_buf;
  const uint32_t pos = uint16_t(c->text_pos);
  uint32_t len = uint32_t(c->match_len);
  uint16_t q, r;

  if (len >= 4) {
    // The string here shares len - 1 bytes with the one after the previous
    // match: start from that leaf (or the leaf that replaced it) and climb
    // to the deepest node shallower than that.
    len--;
    r = uint16_t((uint32_t(uint16_t(c->match_pos)) + 1) | NODE_LEAF_BASE);
    while ((q = parent[r]) == 0) r = next[r];
    while (level[q] >= len) {
      r = q;
      q = parent[q];
    }
    // Bring the marked nodes above q up to date, and mark the first one
    // that was not.
    uint16_t t = q;
    while (position[t] & NODE_PENDING) {
      position[t] = uint16_t(pos);
      t = parent[t];
    }
    if (t < NODE_ROOT_BASE) position[t] = uint16_t(pos | NODE_PENDING);
  } else {
    q = uint16_t(NODE_ROOT_BASE + text[pos]);
    const uint32_t ch = text[pos + 1];
    r = find_child(c, q, ch);
    if (r == 0) {
      add_child(c, q, ch, uint16_t(pos));
      c->match_len = 1;
      return;
    }
    len = 2;
  }

  for (;;) {
    uint32_t limit, candidate;
    if (r >= NODE_LEAF_BASE) {
      limit = CODEC_MAX_MATCH;
      candidate = r;
    } else {
      limit = level[r];
      candidate = position[r] & POSITION_MASK;
    }
    candidate = text_index(candidate, pos);
    c->match_pos = int16_t(candidate);
    if (len < limit) {
      const uint32_t agreed = match_until(text + pos, text + candidate, len, limit);
      if (agreed < limit) {
        c->match_len = int32_t(agreed);
        split_node(c, r);
        return;
      }
      len = limit;
    }
    if (len >= CODEC_MAX_MATCH) break;
    position[r] = uint16_t(pos);
    q = r;
    const uint32_t ch = text[pos + len];
    r = find_child(c, q, ch);
    if (r == 0) {
      c->match_len = int32_t(len);
      add_child(c, q, ch, uint16_t(pos));
      return;
    }
    len++;
  }

  // Leaf r agrees in all 256 bytes: the new leaf takes its place, and r
  // keeps the number of its replacement for a later deep start to follow.
  c->match_len = int32_t(len);
  uint16_t t = prev[r];
  prev[pos] = t;
  next[t] = uint16_t(pos);
  t = next[r];
  next[pos] = t;
  prev[t] = uint16_t(pos);
  parent[pos] = q;
  parent[r] = 0;
  next[r] = uint16_t(pos);
}

void advance_position(CodecContext* c) {
  c->text_left--;
  uint32_t pos = uint32_t(c->text_pos) + 1;
  if (pos == TEXT_END) {
    uint8_t* text = c->text_buf;
    memmove(text, text + CODEC_WINDOW, CODEC_WINDOW + CODEC_MAX_MATCH);
    c->text_left += fill_text(c, text + CODEC_WINDOW + CODEC_MAX_MATCH, CODEC_WINDOW);
    pos = TEXT_START;
  }
  c->text_pos = int16_t(pos);
  if (c->node_parent[pos] != 0) remove_leaf(c, pos);
  insert_position(c);
}

// ---- encoder ----

namespace {

bool has_buffers(const CodecContext* c) {
  return c->text_buf && c->child_count && c->node_level && c->node_position && c->node_parent &&
         c->node_prev && c->node_next && c->work_buf;
}

bool has_no_dictionary(const CodecContext* c) {
  return !c->text_buf && !c->child_count && !c->node_level && !c->node_position && !c->node_parent &&
         !c->node_prev && !c->node_next;
}

// A context made without its dictionary arrays gets them now. A record that
// holds only some of them is left alone: allocating again would lose those.
int32_t ensure_buffers(CodecContext* c) {
  if (has_no_dictionary(c) && codec_alloc_buffers(c) != CODEC_OK) return CODEC_NO_MEMORY;
  return has_buffers(c) && c->work_size > BLOCK_LIMIT_MARGIN ? CODEC_OK : CODEC_NO_MEMORY;
}

}  // namespace

int32_t codec_encode(CodecContext* c, ByteRange* input, ByteRange* output) {
  if (!c || !input || !output) return CODEC_MISUSE;
  if (ensure_buffers(c) != CODEC_OK) return CODEC_NO_MEMORY;
  c->in_range = input;
  c->out_range = output;
  reset_tree(c);
  reset_block(c);

  c->text_left = fill_text(c, c->text_buf + TEXT_START, int32_t(CODEC_WINDOW + CODEC_MAX_MATCH));
  c->match_len = 0;
  c->text_pos = int16_t(TEXT_START);
  insert_position(c);

  for (;;) {
    if (c->match_len > c->text_left) c->match_len = c->text_left;
    if (c->text_left <= 0) break;
    if (c->status != 0) return c->status;
    if (c->out_full) return 0;

    const int32_t last_len = c->match_len;
    const int32_t last_pos = c->match_pos;
    advance_position(c);
    if (c->match_len > c->text_left) c->match_len = c->text_left;

    // Lazy choice: the previous position's match is taken unless the match
    // found here is longer, in which case the previous byte goes as a literal.
    if (last_len >= c->match_len && last_len >= int32_t(CODEC_MIN_MATCH)) {
      stage_item(c, uint32_t(last_len) + MATCH_SYMBOL_BASE,
                 uint32_t(c->text_pos - last_pos - 2) & CODEC_WINDOW_MASK);
      for (int32_t i = 1; i < last_len; i++) advance_position(c);
    } else {
      stage_item(c, c->text_buf[c->text_pos - 1], 0);
    }
  }

  if (c->status != 0) return c->status;
  if (c->out_full) return 0;
  flush_block(c);
  put_bits(c, 7, 0);  // pushes out a partly filled last byte, padded with zeros
  if (c->status != 0) return c->status;
  return c->out_full ? 0 : 1;
}

}  // namespace reference_encoder
