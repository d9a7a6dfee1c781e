#include "pack/compression_queue.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "archive/crc16.h"
#include "archive/format.h"
#include "codec/codec_context.h"
#include "codec/encoder.h"
#include "pack/failure.h"
#include "pack/zstd_runs.h"

namespace {

// Per-file overhead counted against the byte budget, so that a window of
// empty files is bounded too.
constexpr uint64_t FILE_OVERHEAD = 4096;

using Buffer = std::unique_ptr<uint8_t, void (*)(void*)>;

Buffer allocate(size_t size) { return Buffer(static_cast<uint8_t*>(malloc(size ? size : 1)), free); }

struct CodecOwner {
  CodecContext* context = nullptr;
  ~CodecOwner() { codec_release(&context); }
};

// Reads the whole file, checking that it is still what the scan saw.
std::string read_whole(const SourceFile& file, uint8_t* buffer) {
  int fd = open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return system_failure(file.path, "cannot open", errno);
  struct stat st;
  std::string failure;
  if (fstat(fd, &st) != 0) {
    failure = system_failure(file.path, "cannot examine", errno);
  } else if (!S_ISREG(st.st_mode) || uint64_t(st.st_size) != file.size || int64_t(st.st_mtime) != file.mod_time) {
    failure = file.path + ": changed while the installer was being made";
  } else {
    uint64_t done = 0;
    while (done < file.size) {
      ssize_t n = read(fd, buffer + done, size_t(file.size - done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        failure = system_failure(file.path, "cannot read", errno);
        break;
      }
      if (n == 0) {
        failure = file.path + ": changed while the installer was being made";
        break;
      }
      done += uint64_t(n);
    }
    uint8_t extra;
    if (failure.empty() && read(fd, &extra, 1) > 0)
      failure = file.path + ": changed while the installer was being made";
  }
  close(fd);
  return failure;
}

}  // namespace

PackedFile pack_file(const SourceFile& file, bool store_all, const uint8_t* crc_table) {
  PackedFile packed;
  uint32_t size = uint32_t(file.size);  // the scan refused files of 4 GiB or more
  Buffer data = allocate(size);
  if (!data) {
    packed.failure = file.path + ": not enough memory to read it";
    return packed;
  }
  packed.failure = read_whole(file, data.get());
  if (!packed.failure.empty()) return packed;
  packed.file_crc = crc16(crc_table, data.get(), size);
  packed.entry_type = ENTRY_STORED;
  packed.stored_size = size;
  if (!store_all && size > 0) {
    // Room for a stream one byte shorter than the file: a stream that does
    // not fit is no gain, and the file is stored.
    Buffer stream = allocate(size - 1);
    // A fresh context for every file: one that has compressed other streams
    // can give different (equally valid) bytes, and the installer must not
    // depend on which thread packed which file before.
    CodecOwner codec;
    if (!stream || codec_create(&codec.context) < 0) {
      packed.failure = file.path + ": not enough memory to compress it";
      return packed;
    }
    ByteRange in{}, out{};
    in.cur = in.start = data.get();
    in.end = data.get() + size;
    in.size = int32_t(size);
    out.cur = out.start = stream.get();
    out.end = stream.get() + (size - 1);
    out.size = int32_t(size - 1);
    int32_t result = codec_encode(codec.context, &in, &out);
    if (result < 0) {
      packed.failure = file.path + ": compression failed (codec result " + std::to_string(result) + ")";
      return packed;
    }
    if (result == 1) {
      packed.entry_type = ENTRY_COMPRESSED;
      packed.stored_size = uint32_t(out.cur - stream.get());
      // Give back what the stream did not need.
      uint8_t* raw = stream.release();
      uint8_t* fitted = static_cast<uint8_t*>(realloc(raw, packed.stored_size ? packed.stored_size : 1));
      data.reset(fitted ? fitted : raw);
    }
  }
  packed.stored = std::move(data);
  return packed;
}

CompressionQueue::CompressionQueue(const std::vector<SourceFile>& files, const PackMethod& method,
                                   const QueueLimits& limits)
    : files_(files), method_(method), limits_(limits), crc_table_(crc16_table()), results_(files.size()) {
  if (!crc_table_) throw Failure("not enough memory");
  std::vector<ZstdRun> runs;
#ifdef ZOLT_HAVE_ZSTD
  if (method_.zstd && !method_.store_all) runs = plan_zstd_runs(files_);
#endif
  if (runs.empty())
    for (size_t i = 0; i < files_.size(); i++) runs.push_back({i, 1});
  unit_of_.resize(files_.size());
  for (const ZstdRun& r : runs) {
    // The files, and a stream buffer of almost their size, while compressed.
    uint64_t cost = 0;
    for (size_t i = r.first; i < r.first + r.count; i++) {
      cost += 2 * files_[i].size + FILE_OVERHEAD;
      unit_of_[i] = units_.size();
    }
    units_.push_back({r.first, r.count, cost});
  }
  unsigned threads = limits_.threads ? limits_.threads : 1;
  if (threads > units_.size()) threads = unsigned(units_.size() ? units_.size() : 1);
  try {
    for (unsigned i = 0; i < threads; i++) workers_.emplace_back(&CompressionQueue::work, this);
  } catch (const std::system_error&) {
    stop();
    throw Failure("cannot start " + std::to_string(threads) + " threads");
  }
}

CompressionQueue::~CompressionQueue() { stop(); }

void CompressionQueue::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  room_.notify_all();
  for (std::thread& t : workers_) t.join();
  workers_.clear();
  free(crc_table_);
  crc_table_ = nullptr;
}

bool CompressionQueue::may_start() const {
  if (next_start_ >= units_.size()) return false;
  if (next_start_ == units_done_) return true;  // nothing taken: any unit may go
  return next_start_ - units_done_ < limits_.window_files &&
         bytes_taken_ + units_[next_start_].cost <= limits_.window_bytes;
}

void CompressionQueue::work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    room_.wait(lock, [this] { return stopping_ || next_start_ >= units_.size() || may_start(); });
    if (stopping_ || next_start_ >= units_.size()) break;
    const Unit& unit = units_[next_start_++];
    bytes_taken_ += unit.cost;
    lock.unlock();
    std::vector<PackedFile> packed;
#ifdef ZOLT_HAVE_ZSTD
    if (method_.zstd && !method_.store_all)
      packed = pack_zstd_run(files_, ZstdRun{unit.first, unit.count}, method_.level, crc_table_);
#endif
    if (packed.empty()) packed.push_back(pack_file(files_[unit.first], method_.store_all, crc_table_));
    lock.lock();
    // A run cut short by a failure ends with that failure; the files behind
    // it are never handed over.
    for (size_t i = 0; i < packed.size(); i++)
      results_[unit.first + i] = std::make_unique<PackedFile>(std::move(packed[i]));
    ready_.notify_all();
  }
}

const PackedFile& CompressionQueue::next() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (current_) {
    current_.reset();
    const Unit& unit = units_[unit_of_[next_handed_ - 1]];
    if (next_handed_ == unit.first + unit.count) {
      bytes_taken_ -= unit.cost;
      units_done_++;
      room_.notify_all();
    }
  }
  size_t index = next_handed_;
  ready_.wait(lock, [&] { return results_[index] != nullptr; });
  current_ = std::move(results_[index]);
  next_handed_++;
  if (!current_->failure.empty()) throw Failure(current_->failure);
  return *current_;
}
