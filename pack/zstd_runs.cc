#include "pack/zstd_runs.h"

#include <zstd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "archive/crc16.h"
#include "archive/format.h"
#include "pack/compression_queue.h"

std::vector<ZstdRun> plan_zstd_runs(const std::vector<SourceFile>& files) {
  std::vector<ZstdRun> runs;
  uint64_t gathered = 0;
  for (size_t i = 0; i < files.size(); i++) {
    if (runs.empty() || gathered >= ZSTD_RUN_BYTES || files[i].size > ZSTD_CONTINUED_LARGEST) {
      runs.push_back({i, 0});
      gathered = 0;
    }
    runs.back().count++;
    gathered += files[i].size;
  }
  return runs;
}

namespace {

struct ContextOwner {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ~ContextOwner() { ZSTD_freeCCtx(context); }
};

bool configure(ZSTD_CCtx* c, int level) {
  // One thread per context, so that the bytes do not depend on the machine.
  // The window is the most the installer decodes with; no checksum, since
  // every file carries its CRC.
  return !ZSTD_isError(ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, level)) &&
         !ZSTD_isError(ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, ZSTD_WINDOW_LOG_MAX)) &&
         !ZSTD_isError(ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 0)) &&
         !ZSTD_isError(ZSTD_CCtx_setParameter(c, ZSTD_c_nbWorkers, 0));
}

// Compresses `size` bytes and ends a block (or the frame) behind them: the
// output is exactly what decodes to them.
bool compress_file(ZSTD_CCtx* c, const uint8_t* data, size_t size, bool last, std::vector<uint8_t>* stream) {
  ZSTD_inBuffer in{data, size, 0};
  ZSTD_EndDirective mode = last ? ZSTD_e_end : ZSTD_e_flush;
  stream->resize(ZSTD_compressBound(size) + 64);
  size_t produced = 0;
  for (;;) {
    if (produced == stream->size()) stream->resize(stream->size() * 2);
    ZSTD_outBuffer out{stream->data() + produced, stream->size() - produced, 0};
    size_t left = ZSTD_compressStream2(c, &out, &in, mode);
    if (ZSTD_isError(left)) return false;
    produced += out.pos;
    if (left == 0 && in.pos == in.size) break;
  }
  stream->resize(produced);
  return true;
}

}  // namespace

std::vector<PackedFile> pack_zstd_run(const std::vector<SourceFile>& files, const ZstdRun& run, int level,
                                      const uint8_t* crc_table) {
  std::vector<PackedFile> packed(run.count);
  size_t last_with_data = run.count;
  for (size_t i = 0; i < run.count; i++)
    if (files[run.first + i].size > 0) last_with_data = i;
  ContextOwner owner;
  bool begun = false;
  std::vector<uint8_t> stream;
  for (size_t i = 0; i < run.count; i++) {
    const SourceFile& f = files[run.first + i];
    PackedFile& p = packed[i];
    // Read and stored as it is; only a file with data goes into the frame.
    p = pack_file(f, true, crc_table);
    if (!p.failure.empty() || f.size == 0) {
      if (!p.failure.empty()) {
        packed.resize(i + 1);
        break;
      }
      continue;
    }
    if (!begun && (!owner.context || !configure(owner.context, level))) {
      p.failure = f.path + ": not enough memory to compress it";
      packed.resize(i + 1);
      break;
    }
    if (!compress_file(owner.context, p.stored.get(), size_t(f.size), i == last_with_data, &stream)) {
      p.failure = f.path + ": Zstandard compression failed";
      packed.resize(i + 1);
      break;
    }
    p.entry_type = begun ? ENTRY_ZSTD_CONTINUED : ENTRY_ZSTD_FRAME;
    begun = true;
    p.stored_size = uint32_t(stream.size());
    p.stored.reset(static_cast<uint8_t*>(malloc(stream.size() ? stream.size() : 1)));
    if (!p.stored) {
      p.failure = f.path + ": not enough memory to compress it";
      packed.resize(i + 1);
      break;
    }
    memcpy(p.stored.get(), stream.data(), stream.size());
  }
  return packed;
}
