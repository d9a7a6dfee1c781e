// Installing the entries that bring no data of their own: symbolic links,
// hard links and directories.
//
// A link is made under a temporary name (in the record directory, or beside
// its place when that lies on another file system) and renamed over its
// name, so the name holds the old object or the new link, never nothing.
// Its target is stored as it is and never resolved: nothing here follows a
// link, and the directories on the way are entered as files' directories
// are (directory_below.h). A hard link is made the same way to the file
// that this run wrote for its first name, found by the descriptor of that
// file's directory and checked to be that file before it takes its name.
// A directory entry makes its directory with the
// entry's mode; a directory that was there already takes the mode only when
// the product made it (this run or an earlier one), never the user's own.
#pragma once

#include <cstdint>

#include "engine/install/extraction.h"

// Installs the link or directory `entry`, after extract_make_way and once the
// files written before it hold their names. For a link,
// `target` holds its file_size bytes (the target, or a hard link's first
// name), or is null to read them from
// `stream` with `crc_table`. 0, or -1 with `failure` filled in (damaged
// data first, as for a file).
int install_tree_object(Extraction* x, EntryStream* stream, const uint8_t* crc_table, const Entry& entry,
                        const uint8_t* target, EngineFailure* failure);
