#include "codec/block_writer.h"

#include <bit>
#include <cstddef>

#include "codec/huffman_code.h"

namespace {

constexpr uint32_t EMPTY_BYTE_BITS = 8;

// Pre-tree symbols that send literal/length code lengths.
constexpr uint32_t PRE_ZERO = 0;       // one zero length
constexpr uint32_t PRE_SHORT_RUN = 1;  // 3..18 zero lengths, 4 bits follow
constexpr uint32_t PRE_LONG_RUN = 2;   // 20..531 zero lengths, 9 bits follow
constexpr uint32_t PRE_LENGTH_BASE = 2;  // length k (1..16) is symbol k + 2
static_assert(PRE_LENGTH_BASE + CODEC_MAX_CODE_BITS == CODEC_PRE_SYMBOLS - 1);

void emit_byte(CodecContext* c, uint32_t byte) {
  ByteRange* out = c->out_range;
  if (out->cur >= out->end) {
    c->out_full = 1;
    return;
  }
  *out->cur++ = uint8_t(byte);
  out->count++;
}

// The number of literal/length code lengths sent: trailing zeros are dropped.
uint32_t lit_lengths_sent(const CodecContext* c) {
  uint32_t n = CODEC_LIT_SYMBOLS;
  while (n > 0 && c->lit_lengths[n - 1] == 0) n--;
  return n;
}

void put_pre_symbol(CodecContext* c, uint32_t s) { put_bits(c, c->aux_lengths[s], c->aux_codes[s]); }

// The bit writer for a block's items, the bulk of the output: the bits wait
// in a 64-bit word instead of the context's one spare byte and go out four
// bytes at a time. What `flush_block` can observe stays as if each byte went
// out as soon as it was complete: after every item, if the complete bytes
// still waiting would not all fit into the output range, they go out at
// once, one by one, so that `out_full` is set after the same item and the
// range holds the same bytes.
class ItemWriter {
 public:
  explicit ItemWriter(CodecContext* c) : c_(c), out_(c->out_range) {
    count_ = EMPTY_BYTE_BITS - uint32_t(c->spare_bits);
    bits_ = (c->spare_byte & 0xFF) >> c->spare_bits;
  }

  // The low n bits (n <= 16) of x, which has no bits above them.
  void put(uint32_t n, uint32_t x) {
    if (count_ > WORD_BITS - CODEC_MAX_CODE_BITS) emit_four_bytes();
    bits_ = bits_ << n | x;
    count_ += n;
  }

  // Called after each item.
  void settle_item() {
    if ((count_ >> 3) > size_t(out_->end - out_->cur)) emit_complete_bytes();
  }

  // Sends every complete byte and hands the bits of an incomplete one back
  // to the context's bit writer.
  void store() {
    emit_complete_bytes();
    c_->spare_bits = int32_t(EMPTY_BYTE_BITS - count_);
    c_->spare_byte = uint32_t(bits_ << c_->spare_bits) & 0xFF;
  }

 private:
  static constexpr uint32_t WORD_BITS = 64;

  // At least 48 bits wait: the first 32 go.
  void emit_four_bytes() {
    count_ -= 32;
    const uint32_t word = uint32_t(bits_ >> count_);
    if (out_->end - out_->cur >= 4) {
      uint8_t* p = out_->cur;
      p[0] = uint8_t(word >> 24);
      p[1] = uint8_t(word >> 16);
      p[2] = uint8_t(word >> 8);
      p[3] = uint8_t(word);
      out_->cur = p + 4;
      out_->count += 4;
    } else {
      for (int shift = 24; shift >= 0; shift -= 8) emit_byte(c_, (word >> shift) & 0xFF);
    }
  }

  void emit_complete_bytes() {
    while (count_ >= 8) {
      count_ -= 8;
      emit_byte(c_, uint32_t(bits_ >> count_) & 0xFF);
    }
  }

  CodecContext* const c_;
  ByteRange* const out_;
  uint64_t bits_;   // the waiting bits in its low count_ bits, first bit highest
  uint32_t count_;  // at most 64
};

}  // namespace

uint32_t position_symbol(uint32_t distance_code) { return uint32_t(std::bit_width(distance_code)); }
static_assert(std::bit_width(CODEC_WINDOW_MASK) == CODEC_POS_SYMBOLS - 1);

void reset_block(CodecContext* c) {
  c->work_buf[0] = 0;
  for (uint32_t i = 0; i < CODEC_LIT_SYMBOLS; i++) c->lit_freq[i] = 0;
  for (uint32_t i = 0; i < CODEC_POS_SYMBOLS; i++) c->pos_freq[i] = 0;
  c->flag_bit = 0;
  c->out_index = 0;
  c->spare_bits = EMPTY_BYTE_BITS;
  c->spare_byte = 0;
}

void put_bits(CodecContext* c, uint32_t n, uint32_t x) {
  uint32_t spare = uint32_t(c->spare_bits);
  if (n < spare) {
    spare -= n;
    c->spare_bits = int32_t(spare);
    c->spare_byte |= x << spare;
    return;
  }
  n -= spare;
  emit_byte(c, c->spare_byte | (x >> n));
  if (n < 8) {
    c->spare_bits = int32_t(8 - n);
    c->spare_byte = x << (8 - n);
  } else {
    emit_byte(c, x >> (n - 8));
    c->spare_bits = int32_t(16 - n);
    c->spare_byte = x << (16 - n);
  }
}

void stage_item(CodecContext* c, uint32_t symbol, uint32_t distance_code) {
  uint8_t* buf = c->work_buf;
  uint32_t bit = c->flag_bit >> 1;
  if (bit == 0) {
    if (c->out_index >= c->work_size - BLOCK_LIMIT_MARGIN) {
      flush_block(c);
      if (c->status != 0 || c->out_full) {
        // Leaving the group unbegun keeps any further call from staging
        // past the end of the full buffer.
        c->flag_bit = 0;
        return;
      }
      c->out_index = 0;
    }
    bit = 0x80;
    c->flag_index = c->out_index;
    buf[c->out_index++] = 0;
  }
  c->flag_bit = bit;
  buf[c->out_index++] = uint8_t(symbol);
  c->lit_freq[symbol]++;
  if (symbol >= 256) {
    buf[c->flag_index] |= uint8_t(bit);
    buf[c->out_index++] = uint8_t(distance_code >> 8);
    buf[c->out_index++] = uint8_t(distance_code);
    c->pos_freq[position_symbol(distance_code)]++;
  }
}

void count_pre_freq(CodecContext* c) {
  uint16_t* freq = c->pre_freq;
  for (uint32_t i = 0; i < CODEC_PRE_SYMBOLS; i++) freq[i] = 0;
  const uint32_t n = lit_lengths_sent(c);
  uint32_t i = 0;
  while (i < n) {
    uint32_t k = c->lit_lengths[i++];
    if (k != 0) {
      freq[k + PRE_LENGTH_BASE]++;
      continue;
    }
    uint32_t run = 1;
    while (i < n && c->lit_lengths[i] == 0) {
      i++;
      run++;
    }
    if (run <= 2) {
      freq[PRE_ZERO] += uint16_t(run);
    } else if (run <= 18) {
      freq[PRE_SHORT_RUN]++;
    } else if (run == 19) {
      freq[PRE_ZERO]++;
      freq[PRE_SHORT_RUN]++;
    } else {
      freq[PRE_LONG_RUN]++;
    }
  }
}

void write_lit_lengths(CodecContext* c) {
  const uint32_t n = lit_lengths_sent(c);
  put_bits(c, LIT_COUNT_BITS, n);
  uint32_t i = 0;
  while (i < n) {
    uint32_t k = c->lit_lengths[i++];
    if (k != 0) {
      put_pre_symbol(c, k + PRE_LENGTH_BASE);
      continue;
    }
    uint32_t run = 1;
    while (i < n && c->lit_lengths[i] == 0) {
      i++;
      run++;
    }
    if (run <= 2) {
      for (uint32_t j = 0; j < run; j++) put_pre_symbol(c, PRE_ZERO);
    } else if (run <= 18) {
      put_pre_symbol(c, PRE_SHORT_RUN);
      put_bits(c, 4, run - 3);
    } else if (run == 19) {
      // A short run reaches 18 only: one single zero, then a run of 18.
      put_pre_symbol(c, PRE_ZERO);
      put_pre_symbol(c, PRE_SHORT_RUN);
      put_bits(c, 4, 15);
    } else {
      put_pre_symbol(c, PRE_LONG_RUN);
      put_bits(c, 9, run - 20);
    }
  }
}

void write_aux_lengths(CodecContext* c, uint32_t n, uint32_t count_bits, int32_t special) {
  const uint8_t* lengths = c->aux_lengths;
  while (n > 0 && lengths[n - 1] == 0) n--;
  put_bits(c, count_bits, n);
  uint32_t i = 0;
  while (i < n) {
    uint32_t k = lengths[i++];
    if (k <= 6)
      put_bits(c, 3, k);
    else
      put_bits(c, k - 3, (1u << (k - 3)) - 2);  // 111, then k - 7 ones and a zero
    if (int32_t(i) == special) {
      while (i < 6 && lengths[i] == 0) i++;
      put_bits(c, 2, (i - 3) & 3);
    }
  }
}

void flush_block(CodecContext* c) {
  const int32_t root = build_code(c, CODEC_LIT_SYMBOLS, c->lit_freq, c->lit_lengths, c->lit_codes);
  const uint32_t size = c->lit_freq[root];  // the root's weight is the number of items
  put_bits(c, BLOCK_SIZE_BITS, size);

  if (root < int32_t(CODEC_LIT_SYMBOLS)) {
    // One symbol: a one-symbol pre-tree (symbol 0) and a one-symbol code.
    put_bits(c, PRE_COUNT_BITS, 0);
    put_bits(c, PRE_COUNT_BITS, 0);
    put_bits(c, LIT_COUNT_BITS, 0);
    put_bits(c, LIT_COUNT_BITS, uint32_t(root));
  } else {
    count_pre_freq(c);
    int32_t r = build_code(c, CODEC_PRE_SYMBOLS, c->pre_freq, c->aux_lengths, c->aux_codes);
    if (r < int32_t(CODEC_PRE_SYMBOLS)) {
      put_bits(c, PRE_COUNT_BITS, 0);
      put_bits(c, PRE_COUNT_BITS, uint32_t(r));
    } else {
      write_aux_lengths(c, CODEC_PRE_SYMBOLS, PRE_COUNT_BITS, PRE_ZERO_RUN_INDEX);
    }
    write_lit_lengths(c);
  }

  int32_t r = build_code(c, CODEC_POS_SYMBOLS, c->pos_freq, c->aux_lengths, c->aux_codes);
  if (r < int32_t(CODEC_POS_SYMBOLS)) {
    put_bits(c, POS_COUNT_BITS, 0);
    put_bits(c, POS_COUNT_BITS, uint32_t(r));
  } else {
    write_aux_lengths(c, CODEC_POS_SYMBOLS, POS_COUNT_BITS, -1);
  }

  const uint8_t* buf = c->work_buf;
  const uint32_t staged = c->out_index;
  ItemWriter w(c);
  uint32_t at = 0;
  uint32_t flags = 0;
  for (uint32_t i = 0; i < size && at < staged; i++) {
    if ((i & 7) == 0) flags = buf[at++];
    if (flags & (0x80u >> (i & 7))) {
      uint32_t symbol = 256 + buf[at];  // the length byte is length - 3
      uint32_t p = uint32_t(buf[at + 1]) << 8 | buf[at + 2];
      at += 3;
      w.put(c->lit_lengths[symbol], c->lit_codes[symbol]);
      uint32_t k = position_symbol(p);
      w.put(c->aux_lengths[k], c->aux_codes[k]);
      if (k > 1) w.put(k - 1, p & (0xFFFFu >> (17 - k)));
    } else {
      uint32_t b = buf[at++];
      w.put(c->lit_lengths[b], c->lit_codes[b]);
    }
    w.settle_item();
    if (c->status != 0 || c->out_full) {
      w.store();
      return;
    }
  }
  w.store();

  for (uint32_t i = 0; i < CODEC_LIT_SYMBOLS; i++) c->lit_freq[i] = 0;
  for (uint32_t i = 0; i < CODEC_POS_SYMBOLS; i++) c->pos_freq[i] = 0;
}
