#include "codec/encoder.h"

#include "codec/block_writer.h"
#include "codec/match_finder.h"

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

  // The search state stays in `finder` for the whole loop and goes back to
  // the context before any return; the block writer does not read it.
  MatchFinder finder(c);
  finder.insert();
  for (;;) {
    finder.limit_match_to_input();
    if (finder.text_left() <= 0) break;
    if (c->status != 0 || c->out_full) {
      finder.store();
      return c->status != 0 ? c->status : 0;
    }

    const int32_t last_len = finder.match_len();
    const int32_t last_pos = finder.match_pos();
    finder.advance();
    finder.limit_match_to_input();

    // Lazy choice: the previous position's match is taken unless the match
    // found here is longer, in which case the previous byte goes as a literal.
    if (last_len >= finder.match_len() && last_len >= int32_t(CODEC_MIN_MATCH)) {
      stage_item(c, uint32_t(last_len) + MATCH_SYMBOL_BASE,
                 uint32_t(int32_t(finder.text_pos()) - last_pos - 2) & CODEC_WINDOW_MASK);
      for (int32_t i = 1; i < last_len; i++) finder.advance();
    } else {
      stage_item(c, finder.text()[finder.text_pos() - 1], 0);
    }
  }
  finder.store();

  if (c->status != 0) return c->status;
  if (c->out_full) return 0;
  flush_block(c);
  put_bits(c, 7, 0);  // pushes out a partly filled last byte, padded with zeros
  if (c->status != 0) return c->status;
  return c->out_full ? 0 : 1;
}
