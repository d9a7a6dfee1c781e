#include "tests/codec/reference_decoder.h"

#include <cstring>

#include "codec/bit_input.h"

// Stream layout: blocks with no header before the first and nothing after the
// last. A block is
//   16 bits   symbol count (literals plus matches)
//   pre-tree lengths    (5-bit count, 19 symbols, zero run after the third)
//   literal/length lengths, sent as pre-tree symbols (9-bit count, 510 symbols)
//   position lengths    (4-bit count, 14 symbols)
//   the symbols: a literal/length code, for a match followed by a position
//   code and, for position symbols 2 and above, p - 1 extra bits.
// A count of 0 in a length field announces the single-symbol form: the field
// that follows names the one symbol, which then decodes without a bit.
//
// Malformed heads. A length set that is no complete code is refused by the
// table builder. A count beyond its array, a zero run beyond entry 509 and a
// single symbol outside its alphabet are refused here in the same way: status
// becomes CODEC_BAD_TABLE, the table in question keeps what it held, and the
// call goes on to the end of its chunk before it stops. What such a chunk
// holds is not meaningful, but it is defined, and nothing is written outside
// the context's arrays.

namespace {

constexpr int32_t BLOCK_COUNT_BITS = 16;
constexpr int32_t PRE_COUNT_BITS = 5;
constexpr int32_t LIT_COUNT_BITS = 9;
constexpr int32_t POS_COUNT_BITS = 4;
constexpr uint32_t PRE_ZERO_RUN_AT = 3;  // the 2-bit zero run follows the third pre-tree length
constexpr uint32_t NO_ZERO_RUN = 0;

// Pre-tree symbols 0 to 2 stand for runs of zero lengths; 3 to 18 for the
// lengths 1 to 16.
constexpr uint32_t PRE_RUN_SHORT = 1;   // 4 bits + 3 zeros
constexpr uint32_t PRE_RUN_LONG = 2;    // 9 bits + 20 zeros
constexpr uint32_t PRE_FIRST_LENGTH = 3;

constexpr uint32_t LITERALS = 256;
constexpr uint32_t MATCH_BASE = LITERALS - CODEC_MIN_MATCH;  // symbol - 253 = match length

static_assert((1u << PRE_COUNT_BITS) > CODEC_PRE_SYMBOLS && (1u << LIT_COUNT_BITS) > CODEC_LIT_SYMBOLS,
              "the count fields can name counts beyond the arrays, which are refused");
static_assert((1u << POS_COUNT_BITS) - 1 <= sizeof(CodecContext::aux_lengths),
              "a position count of 15 still fits the length array");
static_assert(PRE_FIRST_LENGTH + CODEC_MAX_CODE_BITS == CODEC_PRE_SYMBOLS);
static_assert(CODEC_POS_SYMBOLS - 1 <= 16 && CODEC_WINDOW == 1u << (CODEC_POS_SYMBOLS - 1),
              "extra bits of a position fit get_bits, and the largest distance is the window");
static_assert(sizeof(CodecContext::lit_table) / sizeof(uint16_t) == 1u << CODEC_LIT_TABLE_BITS &&
              sizeof(CodecContext::aux_table) / sizeof(uint16_t) == 1u << CODEC_AUX_TABLE_BITS);

void refuse(CodecContext* c) { c->status = CODEC_BAD_TABLE; }

constexpr uint32_t FULL_CODE = 1u << CODEC_MAX_CODE_BITS;  // the weighted sum of a complete code

// The table builder, as plain as the rules: lengths counted, first codes
// summed (in 32 bits, so that an over-full set cannot wrap to 0 and pass),
// short codes filled entry by entry, long codes walked into the trees in
// symbol order. Returns 0 or CODEC_BAD_TABLE, and then changes nothing but
// `status`.
int32_t build_table(CodecContext* context, uint32_t symbol_count, const uint8_t* lengths, uint32_t width,
                    uint16_t* table) {
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

  uint32_t next_node = symbol_count;
  const uint32_t branch_bit = 1u << (CODEC_MAX_CODE_BITS - 1 - width);  // first bit after the table's
  for (uint32_t s = 0; s < symbol_count; ++s) {
    const uint32_t length = lengths[s];
    if (length == 0) continue;
    const uint32_t next = start[length] + weight[length];
    if (length <= width) {
      for (uint32_t k = start[length]; k < next; ++k) table[k] = uint16_t(s);
    } else {
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
    }
    start[length] = next;
  }
  return CODEC_OK;
}


// Decodes one symbol of the code in `table` (width bits) and consumes its
// code. Every table and tree entry is below CODEC_TREE_NODES (see
// decode_table.h), so the walk stays inside the trees. After a refused build
// the table may belong to an earlier code than the lengths, or the position
// code may meet the pre-tree's nodes; the walk then stops when the 16 bits in
// view are spent, and a node still reached then decodes as symbol 0.
template <uint32_t WIDTH, uint32_t SYMBOLS>
[[gnu::always_inline]] inline uint32_t decode_symbol(CodecContext* c, const uint16_t* table,
                                                     const uint8_t* lengths) {
  uint32_t j = table[c->bit_word >> (CODEC_MAX_CODE_BITS - WIDTH)];
  if (j >= SYMBOLS) {
    uint32_t bit = 1u << (CODEC_MAX_CODE_BITS - 1 - WIDTH);
    do {
      j = (c->bit_word & bit) ? c->tree_right[j] : c->tree_left[j];
      bit >>= 1;
    } while (j >= SYMBOLS && bit != 0);
    if (j >= SYMBOLS) j = 0;
  }
  fill_bits(c, lengths[j]);
  return j;
}

// Pre-tree (19 symbols) or position code (14 symbols) lengths and table.
void read_aux_lengths(CodecContext* c, uint32_t symbols, int32_t count_bits, uint32_t zero_run_at) {
  uint32_t n = get_bits(c, count_bits);
  if (n == 0) {
    uint32_t only = get_bits(c, count_bits);
    memset(c->aux_lengths, 0, symbols);
    if (only >= symbols) return refuse(c);
    for (uint16_t& entry : c->aux_table) entry = uint16_t(only);
    return;
  }
  // Only the pre-tree's count can pass the array. A position count of 15
  // fits; its fifteenth length is read and, as no symbol has it, ignored.
  if (n > sizeof c->aux_lengths) return refuse(c);
  uint32_t i = 0;
  while (i < n) {
    // 0 to 6 in three bits; 7 and more as 111, then one 1 bit per step above
    // 7, then a 0 bit. At most the 13 bits below the top three are examined.
    uint32_t length = c->bit_word >> 13;
    if (length == 7) {
      for (uint32_t bit = 1u << 12; c->bit_word & bit; bit >>= 1) ++length;
      fill_bits(c, int32_t(length) - 3);
    } else {
      fill_bits(c, 3);
    }
    c->aux_lengths[i++] = uint8_t(length);
    if (i == zero_run_at) {
      // At most 3 zeros after entry 3: still inside the 19 entries.
      for (uint32_t z = get_bits(c, 2); z > 0; --z) c->aux_lengths[i++] = 0;
    }
  }
  for (; i < symbols; ++i) c->aux_lengths[i] = 0;
  build_table(c, symbols, c->aux_lengths, CODEC_AUX_TABLE_BITS, c->aux_table);
}

// Literal/length lengths, sent as pre-tree symbols, and their table.
void read_lit_lengths(CodecContext* c) {
  uint32_t n = get_bits(c, LIT_COUNT_BITS);
  if (n == 0) {
    uint32_t only = get_bits(c, LIT_COUNT_BITS);
    memset(c->lit_lengths, 0, sizeof c->lit_lengths);
    if (only >= CODEC_LIT_SYMBOLS) return refuse(c);
    for (uint16_t& entry : c->lit_table) entry = uint16_t(only);
    return;
  }
  if (n > CODEC_LIT_SYMBOLS) return refuse(c);
  uint32_t i = 0;
  while (i < n) {
    uint32_t symbol = decode_symbol<CODEC_AUX_TABLE_BITS, CODEC_PRE_SYMBOLS>(c, c->aux_table, c->aux_lengths);
    if (symbol >= PRE_FIRST_LENGTH) {
      c->lit_lengths[i++] = uint8_t(symbol - (PRE_FIRST_LENGTH - 1));
      continue;
    }
    uint32_t run = 1;
    if (symbol == PRE_RUN_SHORT) run = get_bits(c, 4) + 3;
    else if (symbol == PRE_RUN_LONG) run = get_bits(c, 9) + 20;
    // A run may pass n (the rest is zero anyway) but not the array. Indexed
    // stores rather than memset, here and below, so that the sanitizer's
    // bounds check sees them.
    if (run > CODEC_LIT_SYMBOLS - i) return refuse(c);
    for (; run > 0; --run) c->lit_lengths[i++] = 0;
  }
  for (; i < CODEC_LIT_SYMBOLS; ++i) c->lit_lengths[i] = 0;
  build_table(c, CODEC_LIT_SYMBOLS, c->lit_lengths, CODEC_LIT_TABLE_BITS, c->lit_table);
}

void read_block_head(CodecContext* c) {
  c->block_left = get_bits(c, BLOCK_COUNT_BITS);
  read_aux_lengths(c, CODEC_PRE_SYMBOLS, PRE_COUNT_BITS, PRE_ZERO_RUN_AT);
  read_lit_lengths(c);
  read_aux_lengths(c, CODEC_POS_SYMBOLS, POS_COUNT_BITS, NO_ZERO_RUN);
}

}  // namespace

const char* decoder_state_difference(const CodecContext& a, const CodecContext& b) {
#define ZOLT_SAME_FIELD(f) \
  if (memcmp(&a.f, &b.f, sizeof a.f) != 0) return #f;
  ZOLT_SAME_FIELD(state)
  ZOLT_SAME_FIELD(status)
  ZOLT_SAME_FIELD(bit_word)
  ZOLT_SAME_FIELD(spare_byte)
  ZOLT_SAME_FIELD(spare_bits)
  ZOLT_SAME_FIELD(block_left)
  ZOLT_SAME_FIELD(copy_left)
  ZOLT_SAME_FIELD(copy_from)
  ZOLT_SAME_FIELD(lit_lengths)
  ZOLT_SAME_FIELD(aux_lengths)
  ZOLT_SAME_FIELD(lit_table)
  ZOLT_SAME_FIELD(aux_table)
  ZOLT_SAME_FIELD(tree_left)
  ZOLT_SAME_FIELD(tree_right)
#undef ZOLT_SAME_FIELD
  if ((a.work_buf == nullptr) != (b.work_buf == nullptr)) return "work_buf";
  if (a.work_buf && memcmp(a.work_buf, b.work_buf, CODEC_WINDOW) != 0) return "window";
  return nullptr;
}

int32_t reference_decode(CodecContext* c, ByteRange* input, ByteRange* output) {
  if (!c || !input || !output || !c->work_buf) return CODEC_MISUSE;
  c->in_range = input;
  c->out_range = output;
  if (c->state == DECODER_FRESH) {
    c->bit_word = 0;
    c->spare_byte = 0;
    c->spare_bits = 0;
    fill_bits(c, 16);
    c->block_left = 0;
    c->copy_left = 0;
    c->state = DECODER_RUNNING;
  } else if (c->state != DECODER_RUNNING) {
    return c->status;
  }

  // A slice whose cur lies beyond its end is empty, not 2^64 bytes long.
  uint32_t m = 0;
  if (output->cur < output->end) {
    size_t room = size_t(output->end - output->cur);
    m = room < CODEC_WINDOW ? uint32_t(room) : CODEC_WINDOW;
  }

  // The chunk goes into the window from index 0; as every chunk but the last
  // is 8192 bytes, index r is also the byte's offset modulo 8192, and the
  // window always holds the last 8192 bytes produced.
  uint8_t* const window = c->work_buf;
  uint32_t r = 0;
  uint32_t from = uint32_t(c->copy_from) & CODEC_WINDOW_MASK;
  int32_t copy_left = c->copy_left;
  for (;;) {
    // A match, either carried over from the previous call or just decoded.
    // What does not fit this chunk stays pending.
    while (copy_left > 0 && r < m) {
      window[r++] = window[from];
      from = (from + 1) & CODEC_WINDOW_MASK;
      --copy_left;
    }
    if (r >= m) break;

    // A head is read only when a symbol is due, so a call that ends with the
    // last symbol of a block leaves the next head for the next call. A count
    // of 0 wraps: that block's codes serve for the rest of the stream.
    if (c->block_left == 0) read_block_head(c);
    --c->block_left;
    uint32_t symbol = decode_symbol<CODEC_LIT_TABLE_BITS, CODEC_LIT_SYMBOLS>(c, c->lit_table, c->lit_lengths);
    if (symbol < LITERALS) {
      window[r++] = uint8_t(symbol);
      continue;
    }
    copy_left = int32_t(symbol - MATCH_BASE);
    uint32_t p = decode_symbol<CODEC_AUX_TABLE_BITS, CODEC_POS_SYMBOLS>(c, c->aux_table, c->aux_lengths);
    // Distance less one: 0 for p = 0, else 2^(p-1) plus p - 1 extra bits.
    uint32_t d = p == 0 ? 0 : (1u << (p - 1)) + get_bits(c, int32_t(p) - 1);
    // Reaches into the previous chunk at the window's end, and before the
    // stream's first byte into the zeros the window starts with.
    from = (r - d - 1) & CODEC_WINDOW_MASK;
  }
  c->copy_left = copy_left;
  c->copy_from = int32_t(from);

  if (m != 0) {
    memcpy(output->cur, window, m);
    output->cur += m;
  }
  if (c->status != CODEC_OK) {
    c->state = DECODER_STOPPED;
    return c->status;
  }
  return CODEC_OK;
}
