// Whether the tree as it stands lets this attachment's entries in: the check
// made once the record is read and before the first change. An object of an
// earlier installation that is still as installed gives way to what this
// version puts at its path, whatever the kinds (the entries' own steps
// remove it when their turn comes); a file or a link is replaced by a
// rename wherever it came from. What would have to be removed otherwise (a
// directory where a file or a link goes, anything but a directory where a
// directory is needed) belongs to someone else or changed since, and ends
// the run before anything is touched rather than halfway through.
#pragma once

#include <cstddef>

#include "engine/ownership/owned_index.h"

// 0 when every path that `index` says this attachment installs can take its
// object below the directory open at `root_fd`; -1 with the first path in
// the way (as the index spells it) in `blocked` (`size` bytes) otherwise.
int tree_shape_check(OwnedIndex* index, int root_fd, char* blocked, size_t size);
