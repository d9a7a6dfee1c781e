// Reaching directories below the installation directory without leaving it:
// the path is walked one component at a time from a descriptor of that
// directory, so that a symbolic link planted in the tree cannot carry writes
// elsewhere, and missing directories are made on the way.
#pragma once

#include <cstddef>

enum {
  BELOW_CREATE = 1,  // make missing directories (mode 0755)
  BELOW_LINKS = 2,   // enter links that lead to a directory still below root_fd
};

// What the caller decides and learns while directories are made; any member
// may be null. Which files may go, and what a made directory means, is the
// business of whoever keeps track of what the run owns.
struct BelowHooks {
  // A file (not a directory) named `component` in `dir_fd` where the
  // directory `prefix` is needed: 1 when the hook removed it, so that the
  // directory can be made there.
  int (*clear_way)(void* context, const char* prefix, int dir_fd, const char* component);
  // The directory `prefix` was just made and is open at `fd`: 0, or -1 with
  // errno set to fail the walk.
  int (*made)(void* context, const char* prefix, int fd);
  void* context;
};

// Opens the directory `path` (`length` bytes, '/'-separated, relative; empty
// components and "." are allowed) below the directory open at `root_fd`, as
// an O_PATH descriptor: search permission suffices. With BELOW_CREATE,
// missing directories are made and `hooks` (when not null) are told of them
// and asked about files in their way.
// A symbolic link on the way is entered only with BELOW_LINKS and only when
// it leads to a directory that still lies below `root_fd`; anything else in
// the way (a file, another link, "..") fails with EEXIST, as mkdir fails on
// it. Returns a new descriptor, or -1 with errno set.
int open_directory_below(int root_fd, const char* path, size_t length, int flags, const BelowHooks* hooks);
