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

// The window move, once every 8192 positions: the last 8448 bytes of
// text_buf go to its front and up to 8192 more are read behind them; returns
// how many were read. It takes no finder, so that a finder held by its owner
// never has its address taken and can live in registers.
int32_t slide_text(CodecContext* context);

// Everything the driver runs per position is inlined into it: a finder whose
// members are read back from memory after every byte-wide store (which may
// alias them) costs more than the duplicated code.
#define ZOLT_HOT_INLINE [[gnu::always_inline]] inline

// The match finder working on one context, for the driver's loop: the
// search state (`text_pos`, `match_pos`, `match_len`, `text_left`,
// `free_node`) and the array pointers live in the object, that is in
// registers once it is inlined, instead of being read and written through the
// context at every step. The arrays are written through the same pointers, so
// in between the tree in the context is always the current one; only the
// search state lags until `store`, which the owner must call before anything
// else reads those five fields (the free functions above do so themselves).
//
// Each operation does exactly what the free function of the same name does,
// step for step: the streams depend on every choice made here, down to which
// of two equally long matches is met first.
class MatchFinder {
 public:
  explicit MatchFinder(CodecContext* context);
  void store() const;

  ZOLT_HOT_INLINE void insert();
  ZOLT_HOT_INLINE void advance();

  int32_t match_len() const { return match_len_; }
  int32_t match_pos() const { return int16_t(match_pos_); }
  int32_t text_left() const { return text_left_; }
  uint32_t text_pos() const { return pos_; }
  const uint8_t* text() const { return text_; }
  // The driver cuts a match at the end of the input.
  void limit_match_to_input() {
    if (match_len_ > text_left_) match_len_ = text_left_;
  }

 private:
  ZOLT_HOT_INLINE uint32_t find_child(uint32_t q, uint32_t ch);
  ZOLT_HOT_INLINE void add_child(uint32_t q, uint32_t ch, uint32_t r);
  ZOLT_HOT_INLINE void split_node(uint32_t old);
  ZOLT_HOT_INLINE void remove_leaf();

  CodecContext* const context_;
  uint16_t* const parent_;
  uint16_t* const prev_;
  uint16_t* const next_;
  uint16_t* const position_;
  uint8_t* const level_;
  uint8_t* const children_;
  uint8_t* const text_;
  uint32_t pos_;        // text_pos, 8192..16383
  uint32_t match_pos_;  // match_pos as its 16-bit pattern
  uint32_t free_;       // free_node
  int32_t match_len_;
  int32_t text_left_;
};

// Everything below is the match finder's hot path, inlined into the driver.

namespace match_finder_detail {

// Node numbers reach 28911 and positions carry bit 15, so the tree's 16-bit
// arrays are read and written unsigned.
inline uint16_t* u16(int16_t* p) { return reinterpret_cast<uint16_t*>(p); }

constexpr uint32_t POSITION_MASK = NODE_PENDING - 1;

// A stored leaf number or position as a text index: values not below the
// current position belong to the previous pass, one window lower.
inline uint32_t text_index(uint32_t v, uint32_t pos) { return v >= pos ? v - CODEC_WINDOW : v; }

inline uint32_t chain_head(uint32_t q, uint32_t ch) { return q + 16 * ch + NODE_HASH_BASE; }

// How far the strings at text_buf + pos and text_buf + candidate
// (candidate < pos) agree, counted from `from` (which they are known to
// share) up to at most `limit`. Eight bytes are compared at a time, also past
// the limit as long as the eight lie inside text_buf, and the count is then
// cut to the limit: most comparisons end within a few bytes of `from`, often
// with fewer than eight left before a node's level.
inline uint32_t match_until(const uint8_t* text, uint32_t pos, uint32_t candidate, uint32_t from, uint32_t limit) {
  const uint8_t* a = text + pos;
  const uint8_t* b = text + candidate;
  uint32_t n = from;
  while (pos + n + 8 <= CODEC_TEXT_SIZE) {
    uint64_t x, y;
    __builtin_memcpy(&x, a + n, 8);
    __builtin_memcpy(&y, b + n, 8);
    if (x != y) {
      n += uint32_t(__builtin_ctzll(x ^ y) >> 3);
      return n < limit ? n : limit;
    }
    n += 8;
    if (n >= limit) return limit;
  }
  while (n < limit && a[n] == b[n]) n++;
  return n;
}
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "match_until counts the first differing byte from the low end");

}  // namespace match_finder_detail

inline MatchFinder::MatchFinder(CodecContext* c)
    : context_(c),
      parent_(match_finder_detail::u16(c->node_parent)),
      prev_(match_finder_detail::u16(c->node_prev)),
      next_(match_finder_detail::u16(c->node_next)),
      position_(match_finder_detail::u16(c->node_position)),
      level_(c->node_level),
      children_(c->child_count),
      text_(c->text_buf),
      pos_(uint16_t(c->text_pos)),
      match_pos_(uint16_t(c->match_pos)),
      free_(uint16_t(c->free_node)),
      match_len_(c->match_len),
      text_left_(c->text_left) {}

inline void MatchFinder::store() const {
  context_->text_pos = int16_t(pos_);
  context_->match_pos = int16_t(match_pos_);
  context_->free_node = int16_t(free_);
  context_->match_len = match_len_;
  context_->text_left = text_left_;
}

inline uint32_t MatchFinder::find_child(uint32_t q, uint32_t ch) {
  uint32_t r = next_[match_finder_detail::chain_head(q, ch)];
  parent_[0] = uint16_t(q);  // every chain ends in 0: the scan stops there at the latest
  while (parent_[r] != q) r = next_[r];
  return r;
}

inline void MatchFinder::add_child(uint32_t q, uint32_t ch, uint32_t r) {
  const uint32_t h = match_finder_detail::chain_head(q, ch);
  const uint32_t t = next_[h];
  next_[h] = uint16_t(r);
  next_[r] = uint16_t(t);
  prev_[t] = uint16_t(r);  // prev[0] is scratch
  prev_[r] = uint16_t(h);
  parent_[r] = uint16_t(q);
  children_[q]++;
}

// Puts a new internal node above `old`, where the strings of `old` and of
// the current position part after `match_len` bytes.
inline void MatchFinder::split_node(uint32_t old) {
  const uint32_t len = uint32_t(match_len_);
  const uint32_t node = free_;
  free_ = next_[node];
  children_[node] = 0;
  uint32_t t = prev_[old];
  prev_[node] = uint16_t(t);
  next_[t] = uint16_t(node);
  t = next_[old];
  next_[node] = uint16_t(t);
  prev_[t] = uint16_t(node);
  parent_[node] = parent_[old];
  level_[node] = uint8_t(len);
  position_[node] = uint16_t(pos_);
  add_child(node, text_[match_pos_ + len], old);
  add_child(node, text_[pos_ + len], pos_);
}

inline void MatchFinder::insert() {
  using namespace match_finder_detail;
  const uint32_t pos = pos_;
  uint32_t len = uint32_t(match_len_);
  uint32_t q, r;

  if (len >= 4) {
    // The string here shares len - 1 bytes with the one after the previous
    // match: start from that leaf (or the leaf that replaced it) and climb
    // to the deepest node shallower than that.
    len--;
    r = uint16_t((match_pos_ + 1) | NODE_LEAF_BASE);
    while ((q = parent_[r]) == 0) r = next_[r];
    while (level_[q] >= len) {
      r = q;
      q = parent_[q];
    }
    // Bring the marked nodes above q up to date, and mark the first one
    // that was not.
    uint32_t t = q;
    while (position_[t] & NODE_PENDING) {
      position_[t] = uint16_t(pos);
      t = parent_[t];
    }
    if (t < NODE_ROOT_BASE) position_[t] = uint16_t(pos | NODE_PENDING);
  } else {
    q = NODE_ROOT_BASE + text_[pos];
    const uint32_t ch = text_[pos + 1];
    r = find_child(q, ch);
    if (r == 0) {
      add_child(q, ch, pos);
      match_len_ = 1;
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
      limit = level_[r];
      candidate = position_[r] & POSITION_MASK;
    }
    candidate = text_index(candidate, pos);
    match_pos_ = candidate;
    if (len < limit) {
      const uint32_t agreed = match_until(text_, pos, candidate, len, limit);
      if (agreed < limit) {
        match_len_ = int32_t(agreed);
        split_node(r);
        return;
      }
      len = limit;
    }
    if (len >= CODEC_MAX_MATCH) break;
    position_[r] = uint16_t(pos);
    q = r;
    const uint32_t ch = text_[pos + len];
    r = find_child(q, ch);
    if (r == 0) {
      match_len_ = int32_t(len);
      add_child(q, ch, pos);
      return;
    }
    len++;
  }

  // Leaf r agrees in all 256 bytes: the new leaf takes its place, and r
  // keeps the number of its replacement for a later deep start to follow.
  match_len_ = int32_t(len);
  uint32_t t = prev_[r];
  prev_[pos] = uint16_t(t);
  next_[t] = uint16_t(pos);
  t = next_[r];
  next_[pos] = uint16_t(t);
  prev_[t] = uint16_t(pos);
  parent_[pos] = uint16_t(q);
  parent_[r] = 0;
  next_[r] = uint16_t(pos);
}

// Takes leaf `pos_` (the position one window back) out of the tree; a parent
// left with a single child goes too, its child taking its place.
inline void MatchFinder::remove_leaf() {
  using namespace match_finder_detail;
  const uint32_t pos = pos_;
  next_[prev_[pos]] = next_[pos];
  prev_[next_[pos]] = prev_[pos];
  const uint32_t r = parent_[pos];
  parent_[pos] = 0;
  if (r >= NODE_ROOT_BASE) return;
  if (--children_[r] > 1) return;

  // The positions above r may lag behind (pending marks); before r goes,
  // carry the newest position known below it up to them.
  const uint32_t t = text_index(position_[r] & POSITION_MASK, pos);
  uint32_t s = t;
  uint32_t q = parent_[r];
  uint32_t u;
  while ((u = position_[q]) & NODE_PENDING) {
    u = text_index(u & POSITION_MASK, pos);
    if (u > s) s = u;
    position_[q] = uint16_t(s | NODE_LEAF_BASE);
    q = parent_[q];
  }
  if (q < NODE_ROOT_BASE) {
    u = text_index(u, pos);
    if (u > s) s = u;
    position_[q] = uint16_t(s | NODE_LEAF_BASE | NODE_PENDING);
  }

  const uint32_t child = find_child(r, text_[t + level_[r]]);
  next_[prev_[child]] = next_[child];
  prev_[next_[child]] = prev_[child];
  uint32_t h = prev_[r];
  next_[h] = uint16_t(child);
  prev_[child] = uint16_t(h);
  h = next_[r];
  prev_[h] = uint16_t(child);
  next_[child] = uint16_t(h);
  parent_[child] = parent_[r];
  parent_[r] = 0;
  next_[r] = uint16_t(free_);
  free_ = r;
}

inline void MatchFinder::advance() {
  text_left_--;
  if (++pos_ == TEXT_END) {
    text_left_ += slide_text(context_);
    pos_ = TEXT_START;
  }
  if (parent_[pos_] != 0) remove_leaf();
  insert();
}
