// An output written under a temporary name in the directory of its final
// path and renamed into place only when it is complete, so that a failed or
// interrupted run never leaves a partial file under the final name, nor
// replaces a good one. The temporary file is removed when the object goes
// without commit(), and also when the process is ended by SIGINT, SIGTERM or
// SIGHUP.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <memory>
#include <string>

class PendingFile {
 public:
  explicit PendingFile(const std::string& final_path);  // throws Failure
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  FILE* stream() { return stream_; }
  const std::string& temp_path() const { return temp_path_; }
  const std::string& final_path() const { return final_path_; }

  // Flushes, sets `mode` (exactly, whatever the umask), syncs and closes.
  void close(mode_t mode);
  // Renames the closed file to its final path.
  void commit();

 private:
  std::string final_path_;
  std::string temp_path_;
  FILE* stream_ = nullptr;
  static constexpr size_t BUFFER_SIZE = 1 << 20;
  std::unique_ptr<char[]> buffer_;  // the stream's, freed after it is closed
  int slot_ = -1;                   // in the table that the signal handler cleans up
  bool committed_ = false;
};
