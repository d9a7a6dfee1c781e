#include "tests/codec/encode_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "codec/decoder.h"
#include "codec/encoder.h"

ByteRange range_over(std::string& bytes) {
  auto* p = reinterpret_cast<uint8_t*>(bytes.data());
  return ByteRange{p, p + bytes.size(), 0, p, int32_t(bytes.size())};
}

std::string compress(const std::string& input, CodecContext* context, int32_t* result) {
  ContextHolder own;
  std::string in = input, out(input.size() + input.size() / 8 + 64, '\0');
  ByteRange in_range = range_over(in), out_range = range_over(out);
  int32_t r = codec_encode(context ? context : own.get(), &in_range, &out_range);
  if (result) *result = r;
  EXPECT_EQ(r, 1);
  EXPECT_EQ(in_range.cur, in_range.end);
  out.resize(out_range.count);
  return out;
}

std::string decompress(const std::string& stream, size_t size) {
  ContextHolder context;
  std::string in = stream, out(size, '\0');
  ByteRange in_range = range_over(in);
  for (size_t done = 0; done < size; done += CODEC_WINDOW) {
    auto* p = reinterpret_cast<uint8_t*>(out.data()) + done;
    ByteRange slice{p, p + std::min<size_t>(size - done, CODEC_WINDOW), 0, nullptr, 0};
    if (codec_decode(context.get(), &in_range, &slice) != CODEC_OK) ADD_FAILURE() << "decode failed at " << done;
  }
  return out;
}

std::string hex(const std::string& bytes) {
  std::string s;
  for (unsigned char b : bytes) {
    if (!s.empty()) s += ' ';
    s += "0123456789ABCDEF"[b >> 4];
    s += "0123456789ABCDEF"[b & 15];
  }
  return s;
}

uint32_t BitReader::get(int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; i++, bit_++)
    v = v << 1 | (bit_ / 8 < bytes_.size() ? (uint8_t(bytes_[bit_ / 8]) >> (7 - bit_ % 8)) & 1 : 0);
  return v;
}

std::string no_repeat_text(size_t size) {
  std::string s;
  for (size_t i = 0; s.size() < size; i++) s += {char(i / 256), char(i % 256)};
  s.resize(size);
  return s;
}

std::string random_bytes(size_t size, uint32_t seed) {
  std::mt19937 generator(seed);
  std::string s(size, '\0');
  for (auto& ch : s) ch = char(generator() >> 24);
  return s;
}

std::string wordy_text(size_t size, uint32_t seed) {
  static const char* const words[] = {"the", "codec", "window", "match", "literal", "block", "tree", "of",
                                      "and", "a", "position", "length", "static", "uint16_t", "return", "{", "});"};
  std::mt19937 generator(seed);
  std::string s;
  while (s.size() < size) {
    s += words[generator() % (sizeof words / sizeof *words)];
    s += generator() % 9 == 0 ? '\n' : ' ';
  }
  s.resize(size);
  return s;
}
