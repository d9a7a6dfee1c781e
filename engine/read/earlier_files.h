// The paths where the entries read so far put a file, so that a hard link
// is checked before anything changes: the name it carries must be one of
// them, put there by an entry that came before it and that installs a
// file's data, with nothing else put at that path since (no link, directory
// or deletion). Paths are compared as the installer reaches them, so "./a"
// and "a" are one. Every reader that checks a whole attachment keeps one:
// the installer's check pass and zolt-pack's reader. Plain C with malloc,
// for the installer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/read/entry_reader.h"

struct EarlierFiles {
  // One path after another, each a byte (1: a file lies there now), the
  // normalised path and its NUL.
  char* paths;
  size_t used, capacity;
  size_t* slots;  // offsets into `paths` plus one, 0 for a free slot
  size_t slot_count;  // a power of two, or 0
  size_t count;
};

void earlier_files_init(EarlierFiles* files);
void earlier_files_release(EarlierFiles* files);

// Learns what the checked `entry` puts at its path. FAILURE_NONE, or
// FAILURE_NO_MEMORY.
int earlier_files_note(EarlierFiles* files, const Entry& entry);

// For a hard link whose first name is in entry.data (file_size bytes):
// FAILURE_NONE when that name is one of the files noted, else
// ENTRY_FAULT_NAME_ESCAPES when it leads outside the installation
// directory or into the record directory, else ENTRY_FAULT_TREE_OBJECT.
int earlier_files_check_link(const EarlierFiles* files, const Entry& entry);
