// The compressor allocates nothing once its context exists. This program
// stands in for the C allocator to count calls, so it is built without the
// sanitizers, which bring their own.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <string>

#include "codec/encoder.h"
#include "tests/codec/encode_helpers.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
}

namespace {
std::atomic<long> allocations{0};
}

extern "C" void* malloc(size_t size) noexcept {
  allocations++;
  return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) noexcept {
  allocations++;
  return __libc_calloc(count, size);
}
extern "C" void* realloc(void* block, size_t size) noexcept {
  allocations++;
  return __libc_realloc(block, size);
}

namespace {

TEST(EncoderAllocation, NothingIsAllocatedWhileCompressing) {
  std::string in = wordy_text(2 << 20, 1) + random_bytes(1 << 20, 2) + std::string(1 << 20, '\0');
  std::string out(in.size() + in.size() / 8 + 64, '\0');
  ByteRange input = range_over(in), output = range_over(out);

  long before = allocations;
  CodecContext* context = nullptr;
  ASSERT_EQ(codec_create(&context), CODEC_OK);
  EXPECT_EQ(allocations - before, 9);  // the record, seven dictionary arrays, work_buf

  before = allocations;
  EXPECT_EQ(codec_encode(context, &input, &output), 1);
  EXPECT_EQ(allocations - before, 0);
  codec_release(&context);
}

}  // namespace
