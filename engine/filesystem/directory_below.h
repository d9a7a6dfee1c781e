// Reaching directories below the installation directory without leaving it:
// the path is walked one component at a time from a descriptor of that
// directory, so that a symbolic link planted in the tree cannot carry writes
// elsewhere, and missing directories are made on the way.
#pragma once

#include <cstddef>

struct OwnedIndex;

enum {
  BELOW_CREATE = 1,  // make missing directories (mode 0755)
  BELOW_LINKS = 2,   // enter links that lead to a directory still below root_fd
};

// Opens the directory `path` (`length` bytes, '/'-separated, relative; empty
// components and "." are allowed) below the directory open at `root_fd`, as
// an O_PATH descriptor: search permission suffices. With BELOW_CREATE,
// each directory made is added to `made` (when not null) as made by this
// run, and a file that `made` lists where a directory is needed is replaced
// by one when it is still what was installed there.
// A symbolic link on the way is entered only with BELOW_LINKS and only when
// it leads to a directory that still lies below `root_fd`; anything else in
// the way (a file, another link, "..") fails with EEXIST, as mkdir fails on
// it. Returns a new descriptor, or -1 with errno set.
int open_directory_below(int root_fd, const char* path, size_t length, int flags, OwnedIndex* made);
