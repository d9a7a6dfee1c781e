// The state of the codec for one stream, in either direction, and the byte
// ranges through which it reads and writes.
//
// Everything lives in one record made at creation; the decoder and the
// compressor allocate nothing while they run. The fields keep the order and
// the types of the stream format's reference layout; the decoder uses the
// record's own arrays and `work_buf`, the compressor also the seven dictionary
// arrays behind `node_position` .. `node_level`.
#pragma once

#include <cstddef>
#include <cstdint>

// A caller-owned stretch of memory. The codec uses `cur`, `end` and `count`
// only and never reads or writes at or beyond `end`.
struct ByteRange {
  uint8_t* cur;    // next byte to read or write; advanced by the codec
  uint8_t* end;    // one past the last byte
  uint32_t count;  // bytes fetched from an input range, or written by the compressor
  uint8_t* start;  // the caller's own
  int32_t size;    // the caller's own
};

// Sizes fixed by the stream format.
constexpr uint32_t CODEC_WINDOW = 8192;          // decoder window and compressor window
constexpr uint32_t CODEC_WINDOW_MASK = CODEC_WINDOW - 1;
constexpr uint32_t CODEC_LIT_SYMBOLS = 510;      // 256 literals + lengths 3..256
constexpr uint32_t CODEC_POS_SYMBOLS = 14;       // distances 1..8192
constexpr uint32_t CODEC_PRE_SYMBOLS = 19;       // the pre-tree that sends literal/length lengths
constexpr uint32_t CODEC_TREE_NODES = 2 * CODEC_LIT_SYMBOLS - 1;  // 1019
constexpr uint32_t CODEC_LIT_TABLE_BITS = 12;
constexpr uint32_t CODEC_AUX_TABLE_BITS = 8;
constexpr uint32_t CODEC_MAX_CODE_BITS = 16;
constexpr uint32_t CODEC_MAX_MATCH = 256;
constexpr uint32_t CODEC_MIN_MATCH = 3;

// Sizes of the compressor's separate allocations.
constexpr uint32_t CODEC_TEXT_SIZE = 2 * CODEC_WINDOW + CODEC_MAX_MATCH;       // 16640
constexpr uint32_t CODEC_NODE_COUNT = CODEC_WINDOW + 256;                       // 8448: nodes, roots
constexpr uint32_t CODEC_PARENT_COUNT = 2 * CODEC_WINDOW;                       // 16384: + leaves
// Chain heads follow: parent q (below 8448) and byte c hash to q + 16 c.
constexpr uint32_t CODEC_NEXT_COUNT = CODEC_PARENT_COUNT + CODEC_NODE_COUNT + 16 * 255;  // 28912

static_assert(CODEC_LIT_SYMBOLS == 256 + CODEC_MAX_MATCH - CODEC_MIN_MATCH + 1);
static_assert(CODEC_TREE_NODES == 1019);
static_assert(CODEC_NEXT_COUNT == 28912);
static_assert(CODEC_TEXT_SIZE == 16640);
static_assert((1u << (CODEC_POS_SYMBOLS - 1)) == CODEC_WINDOW, "position symbol 13 reaches distance 8192");

// Results of the codec. `status` only ever holds CODEC_BAD_TABLE.
constexpr int32_t CODEC_OK = 0;
constexpr int32_t CODEC_MISUSE = -1;
constexpr int32_t CODEC_NO_MEMORY = -2;
constexpr int32_t CODEC_BAD_TABLE = -10;

// Decoder states.
constexpr int32_t DECODER_FRESH = 0;
constexpr int32_t DECODER_RUNNING = 1;
constexpr int32_t DECODER_STOPPED = 9;

struct CodecContext {
  ByteRange* in_range;    // compressed input (decoding), plain input (compressing)
  ByteRange* out_range;   // output slice (decoding), compressed output (compressing)
  int32_t state;          // decoder: DECODER_FRESH, _RUNNING, _STOPPED
  int32_t status;         // 0, or the error that stopped the codec
  int32_t out_full;       // compressor: a byte was due but the output was full
  uint16_t bit_word;      // decoder: the next 16 bits, first bit at the top
  uint32_t spare_byte;    // decoder: last byte fetched; compressor: byte being filled
  int32_t spare_bits;     // decoder: bits of spare_byte still waiting; compressor: free bits
  uint32_t work_size;     // compressor: size of work_buf
  uint32_t block_left;    // decoder: symbols left in the current block
  uint8_t* work_buf;      // decoder: the window; compressor: the staged block
  uint8_t lit_lengths[CODEC_LIT_SYMBOLS];
  uint8_t aux_lengths[CODEC_PRE_SYMBOLS];
  uint16_t tree_left[CODEC_TREE_NODES];
  uint16_t tree_right[CODEC_TREE_NODES];
  uint16_t lit_freq[CODEC_TREE_NODES];
  uint16_t lit_table[1u << CODEC_LIT_TABLE_BITS];
  uint16_t lit_codes[CODEC_LIT_SYMBOLS];
  uint16_t pos_freq[2 * CODEC_POS_SYMBOLS - 1];
  uint16_t aux_table[1u << CODEC_AUX_TABLE_BITS];
  uint16_t aux_codes[CODEC_PRE_SYMBOLS];
  uint16_t pre_freq[2 * CODEC_PRE_SYMBOLS - 1];
  uint32_t flag_index;
  uint32_t out_index;
  uint32_t flag_bit;
  int16_t text_pos;
  int16_t match_pos;
  int16_t free_node;
  int16_t* node_position;   // CODEC_NODE_COUNT
  int16_t* node_parent;     // CODEC_PARENT_COUNT
  int16_t* node_prev;       // CODEC_PARENT_COUNT
  int16_t* node_next;       // CODEC_NEXT_COUNT
  uint8_t* text_buf;        // CODEC_TEXT_SIZE
  uint8_t* child_count;     // CODEC_NODE_COUNT
  int32_t text_left;
  int32_t match_len;
  uint8_t* node_level;      // CODEC_NODE_COUNT
  int32_t copy_left;        // decoder: bytes of the pending match still to copy
  int32_t copy_from;        // decoder: window index of its next byte
  int32_t heap_symbols;
  int32_t heap_size;
  int16_t heap[CODEC_LIT_SYMBOLS + 1];  // 1-based
  uint16_t* heap_freq;
  uint16_t* sort_out;
  uint16_t length_count[CODEC_MAX_CODE_BITS + 1];
  uint8_t* length_out;
  int32_t tree_depth;
};

static_assert(sizeof(CodecContext::pos_freq) / 2 == 27 && sizeof(CodecContext::pre_freq) / 2 == 37);

// A zero-filled block of `size` bytes; null for size 0 or when memory is exhausted.
void* zero_alloc(size_t size);

// `handle` is the address of the caller's context pointer, which must be null.
// 0: *handle points at a new zero-filled context with all its buffers.
// CODEC_MISUSE: handle null or *handle not null; nothing changed.
// CODEC_NO_MEMORY: *handle null again and nothing left allocated.
int32_t codec_create(CodecContext** handle);

// Frees the context and its buffers and nulls *handle; nothing for a null
// handle or a null *handle.
void codec_release(CodecContext** handle);

// Puts a context from codec_create back into the state creation leaves it
// in, for the decoder: the record and the window zero again, a stopped
// context running again, the buffers kept. A caller that decodes one stream
// after another thus allocates nothing per stream. The dictionary arrays
// keep their contents; the compressor resets them itself at each start.
void codec_reset(CodecContext* context);

// Allocates the seven dictionary arrays and work_buf of an existing record.
// 0, or CODEC_NO_MEMORY with what was obtained left for codec_release.
int32_t codec_alloc_buffers(CodecContext* context);
