#include "pack/zstd_runs.h"

#include <zstd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "archive/crc16.h"
#include "archive/format.h"
#include "pack/compression_queue.h"
#include "pack/zstd_frame_split.h"

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

// Compresses `size` bytes onto the end of `stream`. Behind the last file
// the data is flushed, and the frame ends with an empty block of its own:
// the decoder then reaches the frame's end only once every byte it decoded
// was taken, and never holds back the frame's last input byte for output
// still to be taken (which would leave a byte of the entry unread).
bool compress_file(ZSTD_CCtx* c, const uint8_t* data, size_t size, bool last, std::vector<uint8_t>* stream) {
  size_t produced = stream->size();
  stream->resize(produced + ZSTD_compressBound(size) + 64);
  for (ZSTD_EndDirective mode : {last ? ZSTD_e_flush : ZSTD_e_continue, ZSTD_e_end}) {
    if (mode == ZSTD_e_end && !last) break;
    ZSTD_inBuffer in{data, mode == ZSTD_e_end ? 0 : size, 0};
    for (;;) {
      if (produced == stream->size()) stream->resize(stream->size() * 2);
      ZSTD_outBuffer out{stream->data() + produced, stream->size() - produced, 0};
      size_t left = ZSTD_compressStream2(c, &out, &in, mode);
      if (ZSTD_isError(left)) return false;
      produced += out.pos;
      if (in.pos == in.size && (left == 0 || mode == ZSTD_e_continue)) break;
    }
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
  std::vector<uint8_t> stream;
  std::vector<size_t> framed;  // the files in the frame
  std::vector<uint64_t> sizes;
  for (size_t i = 0; i < run.count; i++) {
    const SourceFile& f = files[run.first + i];
    PackedFile& p = packed[i];
    // Read and stored as it is; only a file with data goes into the frame.
    p = pack_file(f, true, crc_table);
    if (!p.failure.empty()) {
      packed.resize(i + 1);
      break;
    }
    if (f.size == 0) continue;
    if (framed.empty() && (!owner.context || !configure(owner.context, level))) {
      p.failure = f.path + ": not enough memory to compress it";
    } else if (!compress_file(owner.context, p.stored.get(), size_t(f.size), i == last_with_data, &stream)) {
      p.failure = f.path + ": Zstandard compression failed";
    }
    if (!p.failure.empty()) {
      packed.resize(i + 1);
      break;
    }
    p.stored.reset();
    framed.push_back(i);
    sizes.push_back(f.size);
  }
  // A run that failed is not written: the files before the failure keep
  // nothing, and the failure is what the caller sees.
  std::vector<size_t> ends;
  if (!packed.back().failure.empty()) {
    ends.assign(framed.size(), 0);
  } else if (!split_zstd_frame(stream.data(), stream.size(), sizes, &ends)) {
    PackedFile& p = packed[framed.back()];
    p.failure = files[run.first + framed.back()].path + ": Zstandard compression failed";
    ends.assign(framed.size(), 0);
  }
  for (size_t k = 0; k < framed.size(); k++) {
    PackedFile& p = packed[framed[k]];
    size_t begin = k == 0 ? 0 : ends[k - 1];
    p.entry_type = k == 0 ? ENTRY_ZSTD_FRAME : ENTRY_ZSTD_CONTINUED;
    p.stored_size = uint32_t(ends[k] - begin);
    p.stored.reset(static_cast<uint8_t*>(malloc(p.stored_size ? p.stored_size : 1)));
    if (!p.stored) {
      p.failure = files[run.first + framed[k]].path + ": not enough memory to compress it";
      p.stored_size = 0;
      continue;
    }
    if (p.stored_size) memcpy(p.stored.get(), stream.data() + begin, p.stored_size);
  }
  return packed;
}
