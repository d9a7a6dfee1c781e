// Reading and compressing the files of an installer on several threads while
// the caller writes them in order.
//
// Workers take units of work in order: a file (-lh5-, or stored), which they
// read whole, check with its CRC and compress with a codec context made for
// that file alone, or a solid run of files (Zstandard, zstd_runs.h). The
// caller takes the results file by file in the same order. The bytes of a
// unit depend on its files alone, so the installer is the same whatever the
// number of threads. Memory stays bounded: a worker only starts a unit while
// fewer than a window of units, and fewer than a budget of bytes, are taken
// but not yet handed over (one unit is always allowed, however large).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pack/source_tree.h"

struct PackedFile {
  uint32_t entry_type = 0;  // ENTRY_STORED, ENTRY_COMPRESSED, ENTRY_ZSTD_FRAME or ENTRY_ZSTD_CONTINUED
  uint16_t file_crc = 0;
  uint32_t stored_size = 0;
  std::unique_ptr<uint8_t, void (*)(void*)> stored{nullptr, free};  // stored_size bytes
  std::string failure;  // why the file could not be packed; empty on success
};

struct QueueLimits {
  unsigned threads = 1;
  size_t window_files = 64;  // units taken but not yet handed over
  uint64_t window_bytes = uint64_t(256) << 20;
};

// How the files are packed.
struct PackMethod {
  bool store_all = false;  // nothing compressed
  bool zstd = false;       // Zstandard in solid runs, else -lh5- file by file
  int level = 19;
};

class CompressionQueue {
 public:
  // `files` must outlive the queue.
  CompressionQueue(const std::vector<SourceFile>& files, const PackMethod& method, const QueueLimits& limits);
  // Stops the workers; files not yet handed over are dropped.
  ~CompressionQueue();
  CompressionQueue(const CompressionQueue&) = delete;
  CompressionQueue& operator=(const CompressionQueue&) = delete;

  // The next file in order, once it is ready; the previous result handed out
  // is released. Throws Failure when the file could not be read or compressed.
  const PackedFile& next();

 private:
  struct Unit {
    size_t first, count;
    uint64_t cost;  // against the byte budget while taken
  };
  void work();
  void stop();  // ends and joins the workers
  bool may_start() const;  // with mutex_ held

  const std::vector<SourceFile>& files_;
  const PackMethod method_;
  const QueueLimits limits_;
  uint8_t* crc_table_;
  std::vector<Unit> units_;
  std::vector<size_t> unit_of_;  // for each file

  std::mutex mutex_;
  std::condition_variable ready_;                     // a file was finished: for the caller
  std::condition_variable room_;                      // a result was handed over: for the workers
  std::vector<std::unique_ptr<PackedFile>> results_;  // non-null from finish to hand-over
  size_t next_start_ = 0;                             // next unit a worker takes
  size_t units_done_ = 0;                             // units whose every file was handed over
  size_t next_handed_ = 0;                            // next file the caller gets
  uint64_t bytes_taken_ = 0;
  bool stopping_ = false;
  std::unique_ptr<PackedFile> current_;  // the result handed out last
  std::vector<std::thread> workers_;
};

// Reads and packs one file: its CRC, then its compressed stream, or the file
// itself where the stream would not be smaller. Exposed for the tests.
PackedFile pack_file(const SourceFile& file, bool store_all, const uint8_t* crc_table);
