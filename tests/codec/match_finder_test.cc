// The dictionary tree that a compression leaves in its context. The streams
// only show a broken child lookup once it changes a match; walking the tree
// shows it at once: every node in the tree must be found again from its
// parent and the byte it continues with, and every parent must count its
// children right.
#include "codec/match_finder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/codec/encode_helpers.h"
#include "tests/codec/encoder_inputs.h"

namespace {

uint32_t stored(const int16_t* array, uint32_t n) { return uint16_t(array[n]); }

// The text index of the string of a leaf or internal node.
uint32_t string_of(const CodecContext* c, uint32_t node) {
  uint32_t v = node >= NODE_LEAF_BASE ? node : stored(c->node_position, node) & (NODE_PENDING - 1);
  return v >= uint16_t(c->text_pos) ? v - CODEC_WINDOW : v;
}

::testing::AssertionResult tree_is_whole(CodecContext* c) {
  // Free internal nodes may keep the parent of an earlier call.
  std::vector<bool> free(CODEC_WINDOW, false);
  for (uint32_t x = uint16_t(c->free_node); x != 0; x = stored(c->node_next, x)) free[x] = true;
  std::vector<uint32_t> children(CODEC_NODE_COUNT, 0);
  uint32_t nodes = 0;
  for (uint32_t x = 1; x < CODEC_PARENT_COUNT; x++) {
    if (x < NODE_LEAF_BASE && free[x]) continue;
    const uint32_t q = stored(c->node_parent, x);
    if (q == 0) continue;  // a leaf not in the tree
    nodes++;
    children[q]++;
    const uint32_t depth = c->node_level[q];
    const uint32_t ch = c->text_buf[string_of(c, x) + depth];
    const uint32_t found = find_child(c, uint16_t(q), ch);
    if (found != x)
      return ::testing::AssertionFailure() << "node " << x << " under " << q << " for byte " << ch << ": found "
                                           << found;
  }
  for (uint32_t q = 1; q < NODE_LEAF_BASE; q++) {
    if (!free[q] && children[q] != c->child_count[q])
      return ::testing::AssertionFailure() << "node " << q << " counts " << int(c->child_count[q]) << " children, has "
                                           << children[q];
  }
  if (nodes < 2) return ::testing::AssertionFailure() << "no tree left to check";
  return ::testing::AssertionSuccess();
}

// Text, code-like bytes, deep nests over a small alphabet (with leaves that
// replace equal ones), incompressible bytes and runs, each past several
// window moves; and one context reused for all of them.
TEST(EncoderTree, EveryNodeIsFoundFromItsParent) {
  const std::string inputs[] = {
      wordy_text(70000, 1), binary_like(50000, 2), small_alphabet(40000, 3, 3),
      random_bytes(30000, 4), byte_runs(45000, 5), mixed_bytes(90000, 6),
  };
  ContextHolder reused;
  for (const std::string& input : inputs) {
    ContextHolder fresh;
    compress(input, fresh.get());
    EXPECT_TRUE(tree_is_whole(fresh.get())) << input.size() << " bytes";
    compress(input, reused.get());
    EXPECT_TRUE(tree_is_whole(reused.get())) << input.size() << " bytes, reused context";
  }
}

}  // namespace
