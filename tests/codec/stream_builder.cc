#include "tests/codec/stream_builder.h"

#include <algorithm>
#include <cstdlib>

void BitWriter::put(uint32_t value, int bits) {
  for (int i = bits - 1; i >= 0; --i) {
    if (free_bits_ == 0) {
      bytes_.push_back('\0');
      free_bits_ = 8;
    }
    --free_bits_;
    if ((value >> i) & 1) bytes_.back() = char(uint8_t(bytes_.back()) | (1u << free_bits_));
  }
}

std::vector<uint32_t> canonical_codes(const std::vector<uint8_t>& lengths) {
  std::vector<uint32_t> codes(lengths.size(), 0);
  uint32_t code = 0;
  for (int length = 1; length <= 16; ++length) {
    for (size_t s = 0; s < lengths.size(); ++s)
      if (lengths[s] == length) codes[s] = code++;
    code <<= 1;
  }
  return codes;
}

void BitWriter::put_code(const std::vector<uint8_t>& lengths, uint32_t symbol) {
  if (symbol >= lengths.size() || lengths[symbol] == 0) abort();  // a test that codes a symbol it has no code for
  put(canonical_codes(lengths)[symbol], lengths[symbol]);
}

void put_aux_lengths(BitWriter& w, int count_bits, const std::vector<uint8_t>& lengths, bool zero_run) {
  w.put(uint32_t(lengths.size()), count_bits);
  for (size_t i = 0; i < lengths.size();) {
    uint32_t c = lengths[i++];
    if (c < 7) {
      w.put(c, 3);
    } else {
      w.put(7, 3);
      w.put((1u << (c - 7)) - 1, int(c - 7));
      w.put(0, 1);
    }
    if (zero_run && i == 3) {
      uint32_t z = 0;
      while (z < 3 && i < lengths.size() && lengths[i] == 0) ++z, ++i;
      w.put(z, 2);
    }
  }
}

void put_single(BitWriter& w, int count_bits, uint32_t symbol) {
  w.put(0, count_bits);
  w.put(symbol, count_bits);
}

const std::vector<uint8_t>& fixed_pre_tree() {
  // 13 * 2^12 + 6 * 2^11 = 65536: complete.
  static const std::vector<uint8_t> lengths = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 5, 5, 5};
  return lengths;
}

void put_pre_and_lit_lengths(BitWriter& w, const std::vector<uint8_t>& lit_lengths) {
  put_aux_lengths(w, 5, fixed_pre_tree(), true);
  size_t n = lit_lengths.size();
  while (n > 0 && lit_lengths[n - 1] == 0) --n;
  w.put(uint32_t(n), 9);
  for (size_t i = 0; i < n;) {
    if (lit_lengths[i] != 0) {
      w.put_code(fixed_pre_tree(), lit_lengths[i++] + 2u);
      continue;
    }
    size_t run = 0;
    while (i + run < n && lit_lengths[i + run] == 0 && run < 531) ++run;
    if (run >= 20) {
      w.put_code(fixed_pre_tree(), 2);
      w.put(uint32_t(run - 20), 9);
    } else if (run >= 3) {
      run = std::min<size_t>(run, 18);  // 4 bits: 3 to 18; a 19th zero goes on its own
      w.put_code(fixed_pre_tree(), 1);
      w.put(uint32_t(run - 3), 4);
    } else {
      run = 1;
      w.put_code(fixed_pre_tree(), 0);
    }
    i += run;
  }
}

std::vector<uint8_t> all_lit_lengths() {
  // 508 * 2^7 + 2 * 2^8 = 65536.
  std::vector<uint8_t> lengths(510, 9);
  lengths[508] = lengths[509] = 8;
  return lengths;
}

std::vector<uint8_t> all_pos_lengths() {
  // 2 * 2^13 + 12 * 2^12 = 65536.
  std::vector<uint8_t> lengths(14, 4);
  lengths[0] = lengths[1] = 3;
  return lengths;
}

void put_block(BitWriter& w, const std::vector<Token>& tokens, const std::vector<uint8_t>& lit_lengths,
               const std::vector<uint8_t>& pos_lengths) {
  w.put(uint32_t(tokens.size()), 16);
  put_pre_and_lit_lengths(w, lit_lengths);
  put_aux_lengths(w, 4, pos_lengths, false);
  const std::vector<uint32_t> lit_codes = canonical_codes(lit_lengths), pos_codes = canonical_codes(pos_lengths);
  auto put = [&](const std::vector<uint8_t>& lengths, const std::vector<uint32_t>& codes, uint32_t symbol) {
    if (symbol >= lengths.size() || lengths[symbol] == 0) abort();  // a test that codes a symbol it has no code for
    w.put(codes[symbol], lengths[symbol]);
  };
  for (const Token& t : tokens) {
    if (t.length == 0) {
      put(lit_lengths, lit_codes, t.value);
      continue;
    }
    put(lit_lengths, lit_codes, t.length + 253);
    // Position symbol p: distance less one d is 0 for p = 0, else
    // 2^(p-1) + (p - 1 extra bits).
    uint32_t d = t.value - 1, p = 0;
    while ((d >> p) != 0) ++p;
    put(pos_lengths, pos_codes, p);
    if (p > 1) w.put(d - (1u << (p - 1)), int(p - 1));
  }
}

std::string expand(const std::vector<Token>& tokens) {
  std::string out;
  for (const Token& t : tokens) {
    if (t.length == 0) {
      out.push_back(char(t.value));
      continue;
    }
    for (uint32_t i = 0; i < t.length; ++i) {
      long from = long(out.size()) - long(t.value);
      out.push_back(from < 0 ? '\0' : out[size_t(from)]);
    }
  }
  return out;
}

size_t first_difference(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  size_t i = size_t(std::mismatch(a.begin(), a.begin() + long(n), b.begin()).first - a.begin());
  return i == n && a.size() == b.size() ? std::string::npos : i;
}
