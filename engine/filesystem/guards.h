// Guards that release what they hold on every way out of a scope: a
// descriptor, and a temporary file that is removed unless it is handed on.
// The engine has no exceptions; these only spare every early return its own
// close and unlink, the kind of line that one path forgets.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include "engine/filesystem/temporary_files.h"

struct Descriptor {
  int fd = -1;

  Descriptor() = default;
  explicit Descriptor(int descriptor) : fd(descriptor) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { reset(); }

  // Hands the descriptor on: the guard no longer closes it.
  int release() {
    int kept = fd;
    fd = -1;
    return kept;
  }
  // Closes it now, for the caller that wants close's result (some file
  // systems report a failed write only then): 0, or -1 with errno set.
  int reset() {
    int result = fd >= 0 ? close(fd) : 0;
    fd = -1;
    return result;
  }
};

// A temporary made in the directory `dir` under `name`: closed and removed
// when the guard goes, unless handed on with keep().
struct TemporaryFile {
  Descriptor file;
  int dir = -1;  // the caller's; never closed here
  char name[TEMPORARY_NAME_SIZE] = "";

  TemporaryFile() = default;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() { discard(); }

  void discard() {
    file.reset();
    if (dir >= 0 && name[0]) unlinkat(dir, name, 0);
    dir = -1;
    name[0] = 0;
  }
  // Its descriptor goes to the new owner, and its name stays.
  int keep() {
    dir = -1;
    return file.release();
  }
};
