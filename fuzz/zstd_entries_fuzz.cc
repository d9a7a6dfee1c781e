// Arbitrary stored data through the Zstandard entry decoder, entry after
// entry, as the installer meets a solid run: frames that lie about their
// window, blocks that run over a file's end or stop short of it, entries
// that go on with a frame that never began or already failed.
//
// Input: a sequence of entries, each a header of five bytes (type bit and
// piece size in the first, file size in two, stored size in two) and then
// its stored bytes; the last takes what is left. Each entry's stored data is
// handed over in pieces of the chosen size, each its own heap block of
// exactly that length, so that a read one byte too far faults at once. The
// decoder may pass on no more than the file's size, and must decode each
// file whole or report a fault; either way it must not trap, leak or hang.
// Every fourth input is first made a sound run with libzstd, cut into
// entries as the packer cuts one, so that the decoding of sound entries is
// covered too: that one must decode exactly.
#include <zstd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/crc16.h"
#include "engine/read/entry_zstd.h"
#include "pack/zstd_frame_split.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

struct Pieces {
  const uint8_t* data;
  uint32_t size, piece, given;
  uint8_t* last;  // the block handed out last, freed at the next call
};

int next_piece(void* context, const uint8_t** data, uint32_t* size) {
  Pieces* p = static_cast<Pieces*>(context);
  free(p->last);
  p->last = nullptr;
  uint32_t n = p->size - p->given < p->piece ? p->size - p->given : p->piece;
  if (n > 0) {
    p->last = static_cast<uint8_t*>(malloc(n));
    memcpy(p->last, p->data + p->given, n);
    p->given += n;
  }
  *data = p->last;
  *size = n;
  return FAILURE_NONE;
}

// The entries' stream: only its Zstandard state is used, the data comes in pieces.
EntryStream stream{};

struct Collected {
  std::vector<uint8_t> bytes;
  uint32_t limit;
};

int collect(void* context, const uint8_t* data, uint32_t size) {
  Collected* c = static_cast<Collected*>(context);
  check(c->bytes.size() + size <= c->limit);
  c->bytes.insert(c->bytes.end(), data, data + size);
  return 0;
}

int decode(const uint8_t* table, uint32_t type, const uint8_t* stored, uint32_t stored_size, uint32_t file_size,
           uint32_t piece, std::vector<uint8_t>* out) {
  Entry e{};
  e.type = type;
  e.file_size = file_size;
  e.stored_size = stored_size;
  Pieces pieces{stored, stored_size, piece ? piece : 1, 0, nullptr};
  Collected c{{}, file_size};
  const EntrySink sink{collect, &c};
  uint16_t crc = 0;
  int fault = entry_zstd_decode(&stream, table, e, ZstdSource{next_piece, &pieces}, &sink, nullptr, &crc);
  free(pieces.last);
  if (fault == FAILURE_NONE) {
    check(c.bytes.size() == file_size);
    check(crc == crc16(table, c.bytes.data(), file_size));
  }
  *out = std::move(c.bytes);
  return fault;
}

// The input cut into files, compressed as the packer does: one unbroken
// frame, the last file's data flushed and an empty last block behind it,
// cut into entries where the blocks begin.
void sound_run(const uint8_t* table, const uint8_t* data, size_t size) {
  ZSTD_CCtx* c = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, 1 + data[0] % 5);
  ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, 10 + data[0] % 6);
  std::vector<uint8_t> stream(ZSTD_compressBound(size) + 4096);
  std::vector<uint64_t> sizes;
  size_t produced = 0;
  for (size_t at = 1, n; at < size; at += n) {
    n = 1 + data[at] * 7 % 600;
    if (n > size - at) n = size - at;
    bool last = at + n == size;
    for (ZSTD_EndDirective mode : {last ? ZSTD_e_flush : ZSTD_e_continue, ZSTD_e_end}) {
      if (mode == ZSTD_e_end && !last) break;
      ZSTD_inBuffer in{data + at, mode == ZSTD_e_end ? 0 : n, 0};
      size_t left;
      do {
        ZSTD_outBuffer out{stream.data() + produced, stream.size() - produced, 0};
        left = ZSTD_compressStream2(c, &out, &in, mode);
        produced += out.pos;
        check(!ZSTD_isError(left) && produced < stream.size());
      } while (in.pos < in.size || (mode != ZSTD_e_continue && left != 0));
    }
    sizes.push_back(n);
  }
  ZSTD_freeCCtx(c);
  std::vector<size_t> ends;
  check(split_zstd_frame(stream.data(), produced, sizes, &ends));
  const uint8_t* file = data + 1;
  for (size_t k = 0, begin = 0; k < sizes.size(); begin = ends[k], file += sizes[k], k++) {
    std::vector<uint8_t> decoded;
    check(decode(table, k ? ENTRY_ZSTD_CONTINUED : ENTRY_ZSTD_FRAME, stream.data() + begin,
                 uint32_t(ends[k] - begin), uint32_t(sizes[k]), 1 + file[0] % 64, &decoded) == FAILURE_NONE);
    check(memcmp(decoded.data(), file, sizes[k]) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static uint8_t* table = crc16_table();
  if (size == 0) return 0;
  check(entry_zstd_open(&stream) == FAILURE_NONE);
  if (data[0] % 4 == 0) {
    sound_run(table, data, size);
  } else {
    for (size_t at = 1; at + 5 <= size;) {
      const uint8_t* h = data + at;
      uint32_t file_size = uint32_t(h[1] | h[2] << 8) * (h[0] & 2 ? 16 : 1);
      uint32_t stored_size = uint32_t(h[3] | h[4] << 8);
      at += 5;
      if (stored_size > size - at) stored_size = uint32_t(size - at);
      std::vector<uint8_t> decoded;
      decode(table, h[0] & 1 ? ENTRY_ZSTD_CONTINUED : ENTRY_ZSTD_FRAME, data + at, stored_size, file_size,
             uint32_t(h[0] >> 2) * 97 + 1, &decoded);
      at += stored_size;
    }
  }
  entry_zstd_close(&stream);
  return 0;
}
