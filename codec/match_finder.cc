#include "codec/match_finder.h"

#include <cstring>

using match_finder_detail::u16;

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

// Kept out of line, away from the hot path.
int32_t slide_text(CodecContext* c) {
  uint8_t* text = c->text_buf;
  memmove(text, text + CODEC_WINDOW, CODEC_WINDOW + CODEC_MAX_MATCH);
  return fill_text(c, text + CODEC_WINDOW + CODEC_MAX_MATCH, CODEC_WINDOW);
}

// The free functions work through the context alone, one step at a time.

uint16_t find_child(CodecContext* c, uint16_t q, uint32_t ch) {
  uint16_t* parent = u16(c->node_parent);
  const uint16_t* next = u16(c->node_next);
  uint16_t r = next[match_finder_detail::chain_head(q, ch)];
  parent[0] = q;
  while (parent[r] != q) r = next[r];
  return r;
}

void add_child(CodecContext* c, uint16_t q, uint32_t ch, uint16_t r) {
  uint16_t* prev = u16(c->node_prev);
  uint16_t* next = u16(c->node_next);
  const uint16_t h = uint16_t(match_finder_detail::chain_head(q, ch));
  const uint16_t t = next[h];
  next[h] = r;
  next[r] = t;
  prev[t] = r;
  prev[r] = h;
  u16(c->node_parent)[r] = q;
  c->child_count[q]++;
}

void insert_position(CodecContext* c) {
  MatchFinder finder(c);
  finder.insert();
  finder.store();
}

void advance_position(CodecContext* c) {
  MatchFinder finder(c);
  finder.advance();
  finder.store();
}
