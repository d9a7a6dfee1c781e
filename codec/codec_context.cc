#include "codec/codec_context.h"

#include <cstdlib>
#include <cstring>

void* zero_alloc(size_t size) { return size ? calloc(1, size) : nullptr; }

int32_t codec_alloc_buffers(CodecContext* c) {
  // All seven requests are made even after one fails; the caller releases.
  c->text_buf = static_cast<uint8_t*>(zero_alloc(CODEC_TEXT_SIZE));
  c->child_count = static_cast<uint8_t*>(zero_alloc(CODEC_NODE_COUNT));
  c->node_level = static_cast<uint8_t*>(zero_alloc(CODEC_NODE_COUNT));
  c->node_position = static_cast<int16_t*>(zero_alloc(CODEC_NODE_COUNT * sizeof(int16_t)));
  c->node_parent = static_cast<int16_t*>(zero_alloc(CODEC_PARENT_COUNT * sizeof(int16_t)));
  c->node_prev = static_cast<int16_t*>(zero_alloc(CODEC_PARENT_COUNT * sizeof(int16_t)));
  c->node_next = static_cast<int16_t*>(zero_alloc(CODEC_NEXT_COUNT * sizeof(int16_t)));
  if (!c->text_buf || !c->child_count || !c->node_level || !c->node_position || !c->node_parent ||
      !c->node_prev || !c->node_next)
    return CODEC_NO_MEMORY;
  if (c->work_size != 0) return CODEC_OK;
  c->work_size = CODEC_WINDOW;
  c->work_buf = static_cast<uint8_t*>(zero_alloc(c->work_size));
  return c->work_buf ? CODEC_OK : CODEC_NO_MEMORY;
}

int32_t codec_create(CodecContext** handle) {
  if (!handle || *handle) return CODEC_MISUSE;
  *handle = static_cast<CodecContext*>(zero_alloc(sizeof(CodecContext)));
  if (!*handle) return CODEC_NO_MEMORY;
  if ((*handle)->node_next) return CODEC_OK;
  if (codec_alloc_buffers(*handle) == CODEC_OK) return CODEC_OK;
  codec_release(handle);
  return CODEC_NO_MEMORY;
}

void codec_reset(CodecContext* c) {
  CodecContext kept = *c;
  memset(c, 0, sizeof *c);
  c->work_size = kept.work_size;
  c->work_buf = kept.work_buf;
  c->node_position = kept.node_position;
  c->node_parent = kept.node_parent;
  c->node_prev = kept.node_prev;
  c->node_next = kept.node_next;
  c->text_buf = kept.text_buf;
  c->child_count = kept.child_count;
  c->node_level = kept.node_level;
  if (c->work_buf) memset(c->work_buf, 0, c->work_size);
}

void codec_release(CodecContext** handle) {
  if (!handle || !*handle) return;
  CodecContext* c = *handle;
  free(c->work_buf);
  free(c->node_position);
  free(c->node_parent);
  free(c->node_prev);
  free(c->node_next);
  free(c->child_count);
  free(c->node_level);
  free(c->text_buf);
  free(c);
  *handle = nullptr;
}
