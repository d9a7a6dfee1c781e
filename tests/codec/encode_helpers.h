// Helpers for the compressor's tests: whole-input compression, decoding back
// through the project's decoder, an MSB-first bit reader, and inputs.
#pragma once

#include <cstdint>
#include <string>

#include "codec/codec_context.h"

// A context from codec_create, released at the end of the scope.
class ContextHolder {
 public:
  ContextHolder() { codec_create(&context_); }
  ~ContextHolder() { codec_release(&context_); }
  ContextHolder(const ContextHolder&) = delete;
  ContextHolder& operator=(const ContextHolder&) = delete;
  CodecContext* get() const { return context_; }
  CodecContext* operator->() const { return context_; }

 private:
  CodecContext* context_ = nullptr;
};

ByteRange range_over(std::string& bytes);

// The stream of `input`, made on `context` (or a new one) with ample room.
std::string compress(const std::string& input, CodecContext* context = nullptr, int32_t* result = nullptr);
// Reads a stream back in slices of 8192 bytes, as the installer does.
std::string decompress(const std::string& stream, size_t size);

std::string hex(const std::string& bytes);

// Fields of a byte string, first bit first; zero bits past its end.
class BitReader {
 public:
  explicit BitReader(const std::string& bytes) : bytes_(bytes) {}
  uint32_t get(int n);
  size_t position() const { return bit_; }

 private:
  const std::string& bytes_;
  size_t bit_ = 0;
};

// Bytes in which no 3-byte string recurs within 8192 bytes: x k for
// k = 0..255 and x = 0, 1, ...
std::string no_repeat_text(size_t size);
std::string random_bytes(size_t size, uint32_t seed);
// Words from a small vocabulary with spaces and line breaks.
std::string wordy_text(size_t size, uint32_t seed);
