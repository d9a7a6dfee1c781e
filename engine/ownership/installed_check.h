// Whether an installed tree is still what the product's record says was
// installed there, object by object, as rpm -V tells of a package: the
// record already holds each object's type, mode, size, time and the CRC of
// its bytes or of its link target, so nothing but the tree need be read.
// Nothing is written, and nothing below the installation directory is
// reached through a link the walk has not checked (directory_below.h).
#pragma once

#include "engine/failure.h"

// What differs at one listed path, as bits; 0 when it is as installed.
constexpr unsigned DIFFERS_SIZE = 1;
constexpr unsigned DIFFERS_MODE = 2;        // permissions, or with DIFFERS_TYPE the kind of object
constexpr unsigned DIFFERS_BYTES = 4;       // the CRC of a file's bytes
constexpr unsigned DIFFERS_TARGET = 8;      // a link's target
constexpr unsigned DIFFERS_TIME = 16;       // a file's modification time
constexpr unsigned DIFFERS_TYPE = 32;       // another kind of object: nothing else is compared
constexpr unsigned DIFFERS_MISSING = 64;    // nothing there
constexpr unsigned DIFFERS_UNREADABLE = 128;  // its bytes or its target could not be read
constexpr unsigned DIFFERS_UNKNOWN = 256;   // its directory could not be read: nothing is known

struct InstalledCheck {
  unsigned long checked;   // paths the record lists
  unsigned long differ;    // of them, with any difference (missing included)
  unsigned long missing;
  // Listed by a record of paths alone (or, after a killed run, as a link or
  // directory it was about to make), which says nothing of what was written
  // there: only whether something is there is checked.
  unsigned long existence_only;
};

// Calls `differs` for every path that `product`'s record below `install_dir`
// lists and that differs, in the record's order, with its differences.
// 0 (also when some differ), or
// -1 with `failure` filled in: FAILURE_NOT_RECORDED where no installation of
// the product is recorded, FAILURE_RECORD_UNTRUSTED where another user could
// have written the record, FAILURE_BUSY while an installer runs there,
// FAILURE_OPEN_RECORD, FAILURE_NO_MEMORY.
int check_installed(const char* install_dir, const char* product,
                    void (*differs)(void* context, const char* path, unsigned differences), void* context,
                    InstalledCheck* result, EngineFailure* failure);
