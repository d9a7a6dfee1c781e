#include "codec/match_finder.h"

#include <cstring>

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
