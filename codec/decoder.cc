#include "codec/decoder.h"

#include <bit>
#include <cstring>

#include "codec/bit_input.h"
#include "codec/decode_table.h"

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
//
// How the decoder is fast, and why it still behaves as the plain rules say.
//
// Block heads are rare (one per several thousand symbols), so they are read
// as before through the context's 16-bit bit input (bit_input.h). The symbols
// are decoded from a 64-bit word held in a local variable: the next bits of
// the stream sit at its top, and it is refilled before each symbol with one
// unaligned 8-byte load, enough for a whole symbol with its match (the
// static_asserts below work out the worst case). The 16-bit `bit_word` is the
// top of that word, so every lookup and every tree walk sees exactly the bits
// it saw before. A literal then costs one load from the call's own copy of the
// literal/length table, which holds symbol and code length side by side, and
// a shift; the lookup is made in the bits held before the refill, so that the
// refill runs beside it.
//
// The local word reads ahead of the plain bit input by up to seven bytes.
// Whenever the context's bit input is needed (a block head) and when the call
// returns, the logical position is handed back: the bytes read ahead are
// returned to the input range (`cur` and `count` step back), `bit_word` takes
// the next 16 bits, `spare_byte` the last byte still fetched and `spare_bits`
// how many of its bits are still to come. These are exactly the values that
// the byte-at-a-time input holds at that position, since it fetches a byte
// only when `bit_word` needs one of its bits: the next call may be made by
// either decoder. Near the end of the input the word is refilled a byte at a
// time, so nothing is read at or beyond `end`; the zero bits past the end are
// counted as such and handed back first.
//
// The context's tables stay as the table builder makes them, since the plain
// decoder may take the stream over, and the record has no room for another:
// the table with lengths is made on the stack, from `lit_table` and
// `lit_lengths`, at the start of each call and after each block head.
//
// Each call decodes into a buffer on the stack that holds the window as the
// call found it, then the new chunk, then slack (see `copy_match`): every
// back-reference is then a fixed distance back in one straight buffer, never
// wrapping, and a match is copied 16 or 8 bytes at a time (distance 1: the
// byte broadcast; 2 to 7: the repeating pattern laid down once), writing past
// its end into bytes not yet produced. The chunk is copied to the window and
// to the caller at the end, which the plain decoder does too; the window sees
// exactly the bytes that it would see byte by byte.

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

// The walk below the table for a code longer than WIDTH bits; `top` holds the
// next 16 bits. Every table and tree entry is below CODEC_TREE_NODES (see
// decode_table.h), so the walk stays inside the trees. After a refused build
// the table may belong to an earlier code than the lengths, or the position
// code may meet the pre-tree's nodes; the walk then stops when the 16 bits in
// view are spent, and a node still reached then decodes as symbol 0.
template <uint32_t WIDTH, uint32_t SYMBOLS>
[[gnu::always_inline]] inline uint32_t walk_tree(const CodecContext* c, uint32_t j, uint32_t top) {
  uint32_t bit = 1u << (CODEC_MAX_CODE_BITS - 1 - WIDTH);
  do {
    j = (top & bit) ? c->tree_right[j] : c->tree_left[j];
    bit >>= 1;
  } while (j >= SYMBOLS && bit != 0);
  return j >= SYMBOLS ? 0 : j;
}

// The symbol whose code starts the 16 bits in `top`; its length is the
// caller's to consume.
template <uint32_t WIDTH, uint32_t SYMBOLS>
[[gnu::always_inline]] inline uint32_t lookup(const CodecContext* c, const uint16_t* table, uint32_t top) {
  uint32_t j = table[top >> (CODEC_MAX_CODE_BITS - WIDTH)];
  if (j >= SYMBOLS) [[unlikely]]
    j = walk_tree<WIDTH, SYMBOLS>(c, j, top);
  return j;
}

// ---- Block heads, through the context's bit input ----

// Decodes one symbol of the code in `table` and consumes its code.
template <uint32_t WIDTH, uint32_t SYMBOLS>
uint32_t decode_symbol(CodecContext* c, const uint16_t* table, const uint8_t* lengths) {
  uint32_t j = lookup<WIDTH, SYMBOLS>(c, table, c->bit_word);
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
  build_decode_table(c, symbols, c->aux_lengths, CODEC_AUX_TABLE_BITS, c->aux_table);
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
  build_decode_table(c, CODEC_LIT_SYMBOLS, c->lit_lengths, CODEC_LIT_TABLE_BITS, c->lit_table);
}

[[gnu::noinline]] void read_block_head(CodecContext* c) {
  c->block_left = get_bits(c, BLOCK_COUNT_BITS);
  read_aux_lengths(c, CODEC_PRE_SYMBOLS, PRE_COUNT_BITS, PRE_ZERO_RUN_AT);
  read_lit_lengths(c);
  read_aux_lengths(c, CODEC_POS_SYMBOLS, POS_COUNT_BITS, NO_ZERO_RUN);
}

// ---- Symbols, through a 64-bit word ----

// What one symbol can consume at most. A literal/length length comes from a
// pre-tree symbol (3 to 18 give 1 to 16). A position length is read in the
// auxiliary form and reaches BIT_INPUT_MAX_FILL; lengths above 16 never form
// a table, but after a refused build they are still consumed with whatever
// table stood. Then the extra bits of position symbol 13.
constexpr uint32_t MAX_LIT_CODE_BITS = CODEC_PRE_SYMBOLS - 1 - (PRE_FIRST_LENGTH - 1);
constexpr uint32_t MAX_POS_CODE_BITS = BIT_INPUT_MAX_FILL;
constexpr uint32_t MAX_EXTRA_BITS = CODEC_POS_SYMBOLS - 2;
constexpr uint32_t MAX_SYMBOL_BITS = MAX_LIT_CODE_BITS + MAX_POS_CODE_BITS + MAX_EXTRA_BITS;  // 48

// A refill leaves at least this many bits in the word: 56 to 63.
constexpr uint32_t REFILLED_BITS = 56;

static_assert(MAX_LIT_CODE_BITS == 16 && MAX_SYMBOL_BITS == 48);
static_assert(MAX_SYMBOL_BITS <= REFILLED_BITS, "one refill serves a whole symbol with its match");
static_assert(REFILLED_BITS - MAX_LIT_CODE_BITS >= CODEC_MAX_CODE_BITS,
              "the position code's 16 bits are in view after the longest literal/length code");

// The stream from the current position on: the next `avail` bits at the top of
// `buf`. Below them `buf` holds zeros or the true following bits, so that a
// refill can OR its bytes in. `cur` runs ahead of the context's bit input;
// `zeros` counts the bytes taken from past the end of the input, which are
// always the last ones taken.
struct StreamWord {
  uint64_t buf;
  uint32_t avail;
  uint8_t* cur;
  uint8_t* end;
  uint8_t* first;  // `cur` when the word was loaded
  size_t zeros;

  // Takes over from the context's bit input: `bit_word`, then the bits of
  // `spare_byte` still waiting.
  void load(const CodecContext* c) {
    const ByteRange* in = c->in_range;
    cur = first = in->cur;
    end = in->end;
    zeros = 0;
    const uint32_t spare = uint32_t(c->spare_bits);
    buf = uint64_t(c->bit_word) << 48;
    if (spare != 0) buf |= uint64_t(c->spare_byte & ((1u << spare) - 1)) << (48 - spare);
    avail = CODEC_MAX_CODE_BITS + spare;
  }

  // Fills the word to REFILLED_BITS or more.
  [[gnu::always_inline]] void refill() {
    if (end - cur >= 8) [[likely]] {
      uint64_t bytes;
      memcpy(&bytes, cur, sizeof bytes);
      if constexpr (std::endian::native == std::endian::little) bytes = __builtin_bswap64(bytes);
      buf |= bytes >> avail;
      cur += (63 - avail) >> 3;  // whole bytes that fit below the bits held
      avail |= REFILLED_BITS;
    } else {
      refill_bytes(REFILLED_BITS);
    }
  }

  // One byte at a time until `want` bits are held (want <= 56); past the end
  // of the input, zero bytes. `<` rather than `!=`: a range whose cur lies
  // beyond its end reads as exhausted.
  void refill_bytes(uint32_t want) {
    while (avail < want) {
      uint32_t byte = 0;
      if (cur < end) byte = *cur++;
      else ++zeros;
      buf |= uint64_t(byte) << (56 - avail);
      avail += 8;
    }
  }

  uint32_t top16() const { return uint32_t(buf >> 48); }
  void skip(uint32_t n) {
    buf <<= n;
    avail -= n;
  }
  // The next n bits (1 to 16) as a number, consumed.
  uint32_t take(uint32_t n) {
    uint32_t bits = uint32_t(buf >> (64 - n));
    skip(n);
    return bits;
  }

  // Hands the position back to the context's bit input and the input range,
  // as it would stand had the stream been read byte by byte: just enough
  // bytes fetched to hold the next 16 bits, but none of those fetched before
  // the word was loaded handed back.
  void store(CodecContext* c) {
    refill_bytes(CODEC_MAX_CODE_BITS);
    const size_t taken = size_t(cur - first) + zeros;
    size_t back = (avail - CODEC_MAX_CODE_BITS) / 8;
    if (back > taken) back = taken;
    const size_t zeros_back = back < zeros ? back : zeros;
    zeros -= zeros_back;
    cur -= back - zeros_back;
    avail -= uint32_t(8 * back);
    c->bit_word = uint16_t(buf >> 48);
    c->spare_bits = int32_t(avail - CODEC_MAX_CODE_BITS);
    if (taken != back) c->spare_byte = zeros != 0 ? 0 : cur[-1];
    ByteRange* in = c->in_range;
    in->count += uint32_t(cur - first);
    in->cur = cur;
  }
};

// The bytes of one call are produced in a local buffer: the window as it
// stood when the call began, then the new chunk, then some slack.
//
//   history[0 .. 8191]         the window at the start of the call
//   history[8192 + r]          byte r of this call (window index r)
//
// Window index (r - distance) modulo 8192 is then always history + 8192 + r -
// distance: below 8192 + r it is this call's own output or the old window's
// bytes at indices r and above, which the byte-by-byte rule reads there
// because it has not yet overwritten them. So a match is a forward copy at a
// fixed distance back in one straight buffer, with no wrap to handle, and a
// copy may write past its end into bytes that no one has read yet. At the end
// the chunk goes to the window and to the caller.
constexpr uint32_t COPY_OVERRUN = 31;  // the most that copy_match writes past its n bytes
constexpr uint32_t COPY_SLACK = 32;
constexpr size_t HISTORY_SIZE = 2 * CODEC_WINDOW + COPY_SLACK;
static_assert(COPY_OVERRUN <= COPY_SLACK);

template <size_t N>
[[gnu::always_inline]] inline void copy_bytes(uint8_t* d, const uint8_t* s) {
  uint8_t block[N];
  memcpy(block, s, N);
  memcpy(d, block, N);
}

// Copies n bytes (n >= 1) from `distance` bytes back (1 to 8192), as copying
// them one at a time does; may write up to COPY_OVERRUN bytes more. Most
// matches are short: the first steps are taken unconditionally.
[[gnu::always_inline]] inline void copy_match(uint8_t* d, uint32_t distance, uint32_t n) {
  const uint8_t* s = d - distance;
  uint8_t* const stop = d + n;
  if (distance >= 16) [[likely]] {
    // Every 16 bytes read lie wholly before the 16 being written.
    copy_bytes<16>(d, s);
    copy_bytes<16>(d + 16, s + 16);
    for (d += 32, s += 32; d < stop; d += 16, s += 16) copy_bytes<16>(d, s);
  } else if (distance >= 8) {
    copy_bytes<8>(d, s);
    copy_bytes<8>(d + 8, s + 8);
    for (d += 16, s += 16; d < stop; d += 8, s += 8) copy_bytes<8>(d, s);
  } else if (distance == 1) {
    uint8_t block[16];
    memset(block, *s, 16);
    for (; d < stop; d += 16) memcpy(d, block, 16);
  } else {
    // 2 to 7: the first 8 bytes one at a time lay down the repeating
    // pattern; it then recurs every multiple of the distance.
    for (int i = 0; i < 8; ++i) d[i] = s[i];
    uint64_t word;
    memcpy(&word, d, 8);
    const uint32_t step = 8 - 8 % distance;
    for (d += step; d < stop; d += step) memcpy(d, &word, 8);
  }
}

// The literal/length table as the loop reads it: for a symbol, the symbol
// with its code length, so that one load gives both; for a tree node, the
// node, flagged. Made from `lit_table` and `lit_lengths` as they stand, after
// a refused build too, so it decodes exactly what they decode. It lives on
// the stack for one call and is made again after every block head.
constexpr uint32_t FAST_LENGTH_SHIFT = 9;
constexpr uint16_t FAST_NODE = 0x8000;
static_assert(CODEC_LIT_SYMBOLS <= 1u << FAST_LENGTH_SHIFT &&
              (MAX_LIT_CODE_BITS << FAST_LENGTH_SHIFT) < FAST_NODE && CODEC_TREE_NODES < FAST_NODE,
              "symbol, length and node each fit their field");

// Entry by entry: right whatever the tables hold.
void make_fast_table_by_entries(uint16_t* fast, const CodecContext* c) {
  for (uint32_t i = 0; i < 1u << CODEC_LIT_TABLE_BITS; ++i) {
    const uint32_t j = c->lit_table[i];
    fast[i] = j < CODEC_LIT_SYMBOLS ? uint16_t(j | c->lit_lengths[j] << FAST_LENGTH_SHIFT) : uint16_t(FAST_NODE | j);
  }
}

// Run by run, when the table is the code of the lengths. So it is as long
// as no head has been refused (`status` 0) and the table is not the
// single-symbol form or one left over from an earlier head (whose symbols
// have length 0 now): then a symbol of length L fills 2^(12 - L) entries,
// aligned, and a node fills one. Returns false, with `fast` unfinished, when
// a symbol of length 0 shows that it is not so.
bool make_fast_table_by_runs(uint16_t* fast, const CodecContext* c) {
  constexpr uint32_t SIZE = 1u << CODEC_LIT_TABLE_BITS;
  for (uint32_t i = 0; i < SIZE;) {
    const uint32_t j = c->lit_table[i];
    if (j >= CODEC_LIT_SYMBOLS) {
      fast[i++] = uint16_t(FAST_NODE | j);
      continue;
    }
    const uint32_t length = c->lit_lengths[j];
    if (length == 0 || length > CODEC_LIT_TABLE_BITS) return false;
    const uint32_t run = 1u << (CODEC_LIT_TABLE_BITS - length);
    const uint16_t entry = uint16_t(j | length << FAST_LENGTH_SHIFT);
    if (run >= 8) {
      uint16_t eight[8];
      for (uint16_t& e : eight) e = entry;
      for (uint32_t k = 0; k < run; k += 8) memcpy(fast + i + k, eight, sizeof eight);
    } else if (run == 4) {
      const uint64_t four = 0x0001000100010001ull * entry;
      memcpy(fast + i, &four, sizeof four);
    } else {
      fast[i] = entry;
      if (run == 2) fast[i + 1] = entry;
    }
    i += run;
  }
  return true;
}

void make_fast_table(uint16_t* fast, const CodecContext* c) {
  if (c->status == CODEC_OK && make_fast_table_by_runs(fast, c)) return;
  make_fast_table_by_entries(fast, c);
}

}  // namespace

int32_t codec_decode(CodecContext* c, ByteRange* input, ByteRange* output) {
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
  uint32_t from = uint32_t(c->copy_from) & CODEC_WINDOW_MASK;
  int32_t copy_left = c->copy_left;
  if (m != 0) {
    uint8_t history[HISTORY_SIZE];
    memcpy(history, window, CODEC_WINDOW);
    uint8_t* const chunk = history + CODEC_WINDOW;
    uint8_t* const chunk_end = chunk + m;
    uint8_t* out = chunk;

    // A match carried over from the previous call: its next byte is at window
    // index `from`, history + from.
    if (copy_left > 0) {
      const uint32_t n = uint32_t(copy_left) < m ? uint32_t(copy_left) : m;
      copy_match(out, CODEC_WINDOW - from, n);
      out += n;
      from = (from + n) & CODEC_WINDOW_MASK;
      copy_left -= int32_t(n);
    }

    if (out < chunk_end) {
      StreamWord bits;
      bits.load(c);
      uint32_t block_left = c->block_left;
      const uint8_t* match_end = nullptr;  // window position after the last match's source
      // When a head is due first, the table is made after it: a fresh
      // stream's first call would otherwise make one from the empty tables.
      uint16_t fast[1u << CODEC_LIT_TABLE_BITS];
      if (block_left != 0) make_fast_table(fast, c);
      do {
        // A head is read only when a symbol is due, so a call that ends with
        // the last symbol of a block leaves the next head for the next call.
        // A count of 0 wraps: that block's codes serve for the rest of the
        // stream.
        if (block_left == 0) [[unlikely]] {
          bits.store(c);
          read_block_head(c);
          bits.load(c);
          block_left = c->block_left;
          make_fast_table(fast, c);
        }
        --block_left;

        // The code is looked up in the bits held before the refill when they
        // are enough for any code, which they are but after a long match;
        // the refill then runs beside the lookup.
        uint32_t entry;
        if (bits.avail >= CODEC_MAX_CODE_BITS) [[likely]] {
          entry = fast[bits.buf >> (64 - CODEC_LIT_TABLE_BITS)];
          bits.refill();
        } else {
          bits.refill();
          entry = fast[bits.buf >> (64 - CODEC_LIT_TABLE_BITS)];
        }
        uint32_t symbol, code_bits;
        if (entry & FAST_NODE) [[unlikely]] {
          symbol = walk_tree<CODEC_LIT_TABLE_BITS, CODEC_LIT_SYMBOLS>(c, entry & ~FAST_NODE, bits.top16());
          code_bits = c->lit_lengths[symbol];
        } else {
          symbol = entry & ((1u << FAST_LENGTH_SHIFT) - 1);
          code_bits = entry >> FAST_LENGTH_SHIFT;
        }
        bits.skip(code_bits);
        if (symbol < LITERALS) {
          *out++ = uint8_t(symbol);
          continue;
        }
        const uint32_t length = symbol - MATCH_BASE;
        const uint32_t p = lookup<CODEC_AUX_TABLE_BITS, CODEC_POS_SYMBOLS>(c, c->aux_table, bits.top16());
        bits.skip(c->aux_lengths[p]);
        // Distance less one: 0 for p = 0, else 2^(p-1) plus p - 1 extra bits.
        uint32_t distance = p + 1;
        if (p > 1) distance = (1u << (p - 1)) + 1 + bits.take(p - 1);
        // Before the stream's first byte the window's zeros are read. What
        // does not fit this chunk stays pending.
        if (length <= uint32_t(chunk_end - out)) [[likely]] {
          copy_match(out, distance, length);
          out += length;
          copy_left = 0;
        } else {
          const uint32_t n = uint32_t(chunk_end - out);
          copy_match(out, distance, n);
          out += n;
          copy_left = int32_t(length - n);
        }
        match_end = out - distance;
      } while (out < chunk_end);
      if (match_end) from = uint32_t(match_end - history) & CODEC_WINDOW_MASK;
      c->block_left = block_left;
      bits.store(c);
    }

    memcpy(window, chunk, m);
    memcpy(output->cur, chunk, m);
    output->cur += m;
  }
  c->copy_left = copy_left;
  c->copy_from = int32_t(from);

  if (c->status != CODEC_OK) {
    c->state = DECODER_STOPPED;
    return c->status;
  }
  return CODEC_OK;
}
