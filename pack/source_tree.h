// Finding what an installer made from a directory will hold: every regular
// file below it, in byte order of its path, with what the installer needs to
// recreate it. Everything the attachment cannot represent is found here,
// before any output exists.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SourceFile {
  std::string name;  // relative to the directory, '/' between components
  std::string path;  // to open: the directory, '/', name
  uint64_t size;
  int64_t mod_time;  // seconds since 1970, as the file system gives it
  uint16_t mode;     // st_mode, file-type bits included
  uint64_t device;   // of the file read (the target of a link), so that
  uint64_t inode;    // the output being written can be recognised
};

struct SourceTree {
  std::vector<SourceFile> files;      // sorted by `name`, bytes compared unsigned
  std::vector<std::string> notes;     // for the user: links copied, empty directories
  std::vector<std::string> refusals;  // each names a path: what stops the installer from being made
  uint64_t total_size = 0;
  uint64_t total_record_size = 0;  // of the files' entry records
};

// Walks `directory` (followed if it is itself a symbolic link). Below it,
// symbolic links to regular files are taken as copies of their targets and
// named in a note; links to anything else, special files, unreadable files
// and directories, sizes of 4 GiB or more, names longer than a record
// holds and names that the installer would install otherwise than the tree
// shows them (entry_names.h) are refusals. Directories without entries are named in notes, since
// the installer only makes directories that lead to a file. Throws Failure
// when `directory` itself is no readable directory.
SourceTree scan_source_tree(const std::string& directory);
