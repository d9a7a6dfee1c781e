#include "codec/huffman_code.h"

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
