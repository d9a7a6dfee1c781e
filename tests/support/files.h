// Small file-system helpers for tests.
#pragma once

#include <sys/types.h>

#include <string>

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes, mode_t mode = 0644);
bool path_exists(const std::string& path);  // lstat: a dangling link exists

// A fresh directory below $TMPDIR (or /tmp), removed with everything in it
// when the object goes. Its path lies outside /usr/ and /home/.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};
