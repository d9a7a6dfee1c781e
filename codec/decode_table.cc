#include "codec/decode_table.h"

#include <cstring>

namespace {

constexpr uint32_t FULL_CODE = 1u << CODEC_MAX_CODE_BITS;  // the weighted sum of a complete code

// A complete code of n symbols has n - 1 inner nodes, so the nodes of the
// literal/length code (numbered from 510) end below 1019.
static_assert(CODEC_TREE_NODES >= 2 * CODEC_LIT_SYMBOLS - 1);

// Stores `entry` in `count` entries (a power of two), eight at a time where
// they are that many: the short codes of the literal/length table fill most
// of its 4096 entries in runs of 8 and more.
inline void fill_entries(uint16_t* at, uint32_t count, uint16_t entry) {
  if (count >= 8) {
    uint16_t eight[8];
    for (uint16_t& e : eight) e = entry;
    for (uint32_t k = 0; k < count; k += 8) memcpy(at + k, eight, sizeof eight);
    return;
  }
  for (uint32_t k = 0; k < count; ++k) at[k] = entry;
}

}  // namespace

int32_t build_decode_table(CodecContext* context, uint32_t symbol_count, const uint8_t* lengths,
                           uint32_t width, uint16_t* table) {
  // Everything is checked before the first write, so that a refused set
  // leaves the table and the trees as they were.
  uint32_t count[CODEC_MAX_CODE_BITS + 1] = {};
  for (uint32_t s = 0; s < symbol_count; ++s) {
    if (lengths[s] > CODEC_MAX_CODE_BITS) {
      context->status = CODEC_BAD_TABLE;
      return CODEC_BAD_TABLE;
    }
    ++count[lengths[s]];
  }

  // start[i]: the first code of length i, left-aligned in 16 bits. The sum is
  // kept in 32 bits: in 16 bits an over-full set such as four codes of length
  // 1 would wrap to 0 and pass as complete, and filling it would run past the
  // table and the trees.
  uint32_t start[CODEC_MAX_CODE_BITS + 2];
  start[1] = 0;
  for (uint32_t i = 1; i <= CODEC_MAX_CODE_BITS; ++i)
    start[i + 1] = start[i] + (count[i] << (CODEC_MAX_CODE_BITS - i));
  if (start[CODEC_MAX_CODE_BITS + 1] != FULL_CODE) {
    // All lengths 0: no code at all, accepted and nothing changed.
    if (start[CODEC_MAX_CODE_BITS + 1] == 0) return CODEC_OK;
    context->status = CODEC_BAD_TABLE;
    return CODEC_BAD_TABLE;
  }

  // Codes up to `width` bits fill 2^(width - L) consecutive entries each;
  // longer ones step by 2^(16 - L) in left-aligned 16-bit code space.
  const uint32_t shift = CODEC_MAX_CODE_BITS - width;
  uint32_t weight[CODEC_MAX_CODE_BITS + 1];
  for (uint32_t i = 1; i <= width; ++i) {
    start[i] >>= shift;
    weight[i] = 1u << (width - i);
  }
  for (uint32_t i = width + 1; i <= CODEC_MAX_CODE_BITS; ++i) weight[i] = 1u << (CODEC_MAX_CODE_BITS - i);

  // The entries behind the short codes belong to the long codes and must read
  // as "no node yet". When the short codes fill the table, this is empty.
  const uint32_t table_size = 1u << width;
  for (uint32_t k = start[width + 1] >> shift; k < table_size; ++k) table[k] = 0;

  // Short codes one length at a time, so that every symbol of a length fills
  // as many entries as the one before: a counting sort by length gives the
  // symbols of each length in symbol order, which is the order of their
  // codes. (Codes of different lengths fill parts of the table that do not
  // overlap, so the order among lengths does not matter.)
  uint16_t by_length[CODEC_LIT_SYMBOLS];
  uint32_t place[CODEC_MAX_CODE_BITS + 1];
  place[0] = 0;
  for (uint32_t i = 1; i <= CODEC_MAX_CODE_BITS; ++i) place[i] = place[i - 1] + count[i - 1];
  for (uint32_t s = 0; s < symbol_count; ++s) by_length[place[lengths[s]]++] = uint16_t(s);
  for (uint32_t length = 1, first = count[0]; length <= width; first += count[length], ++length) {
    uint16_t* at = table + start[length];
    for (uint32_t k = first; k < first + count[length]; ++k, at += weight[length])
      fill_entries(at, weight[length], by_length[k]);
  }

  // Long codes in symbol order, which fixes the numbers their nodes get; the
  // walk ends with the last of them (often there are none).
  uint32_t long_left = 0;
  for (uint32_t i = width + 1; i <= CODEC_MAX_CODE_BITS; ++i) long_left += count[i];
  uint32_t next_node = symbol_count;
  const uint32_t branch_bit = 1u << (CODEC_MAX_CODE_BITS - 1 - width);  // first bit after the table's
  for (uint32_t s = 0; long_left != 0; ++s) {
    const uint32_t length = lengths[s];
    if (length <= width) continue;
    --long_left;
    // 0 in a slot means "no node yet": symbol 0 can never sit on the path
    // of another code, since the code is a prefix code.
    uint32_t code = start[length];
    uint16_t* slot = &table[code >> shift];
    for (uint32_t i = length - width; i > 0; --i) {
      if (*slot == 0) {
        context->tree_left[next_node] = 0;
        context->tree_right[next_node] = 0;
        *slot = uint16_t(next_node++);
      }
      slot = (code & branch_bit) ? &context->tree_right[*slot] : &context->tree_left[*slot];
      code <<= 1;
    }
    *slot = uint16_t(s);
    start[length] += weight[length];
  }
  return CODEC_OK;
}
