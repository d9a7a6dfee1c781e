#include "pack/zstd_frame_split.h"

// For the frame header's size and the largest block.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

namespace {

struct DecoderOwner {
  ZSTD_DCtx* context = ZSTD_createDCtx();
  ~DecoderOwner() { ZSTD_freeDCtx(context); }
};

// Hands `size` bytes to the decoder and counts what they decode to.
bool decode_count(ZSTD_DCtx* d, const uint8_t* data, size_t size, uint64_t* decoded) {
  static thread_local uint8_t scratch[ZSTD_BLOCKSIZE_MAX];
  ZSTD_inBuffer in{data, size, 0};
  for (;;) {
    ZSTD_outBuffer out{scratch, sizeof scratch, 0};
    size_t result = ZSTD_decompressStream(d, &out, &in);
    if (ZSTD_isError(result)) return false;
    *decoded += out.pos;
    if (in.pos == in.size && out.pos < out.size) return true;
  }
}

}  // namespace

bool split_zstd_frame(const uint8_t* stream, size_t size, const std::vector<uint64_t>& sizes,
                      std::vector<size_t>* ends) {
  ends->assign(sizes.size(), 0);
  if (sizes.empty()) return size == 0;
  DecoderOwner d;
  size_t at = ZSTD_frameHeaderSize(stream, size);
  uint64_t decoded = 0;
  if (!d.context || ZSTD_isError(at) || at > size || !decode_count(d.context, stream, at, &decoded)) return false;
  size_t file = 0;
  uint64_t file_end = sizes[0];
  for (bool last = false; !last;) {
    if (size - at < 3) return false;
    uint32_t header = stream[at] | stream[at + 1] << 8 | stream[at + 2] << 16;
    last = header & 1;
    size_t length = 3 + (((header >> 1) & 3) == 1 ? 1 : header >> 3);  // an RLE block holds one byte
    if (length > size - at) return false;
    // The block goes to the file its decoded bytes begin in.
    while (decoded >= file_end && file + 1 < sizes.size()) file_end += sizes[++file];
    if (!decode_count(d.context, stream + at, length, &decoded)) return false;
    at += length;
    (*ends)[file] = at;
  }
  uint64_t total = 0;
  for (uint64_t n : sizes) total += n;
  for (size_t i = 1; i < ends->size(); i++)
    if ((*ends)[i] < (*ends)[i - 1]) (*ends)[i] = (*ends)[i - 1];
  return at == size && decoded == total;
}

