// Finding what an installer made from a directory will hold: every regular
// file below it, in byte order of its path, with what the installer needs to
// recreate it, and the symbolic links and the directories the tree needs
// besides. Everything the attachment cannot represent is found here, before
// any output exists.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum SourceKind { SOURCE_LINK, SOURCE_DIRECTORY, SOURCE_HARD_LINK };

struct SourceFile {
  std::string name;  // relative to the directory, '/' between components
  std::string path;  // to open: the directory, '/', name
  uint64_t size;
  int64_t mod_time;  // seconds since 1970, as the file system gives it
  uint16_t mode;     // st_mode, file-type bits included
  uint64_t device;   // of the file read (the target of a link), so that
  uint64_t inode;    // the output being written can be recognised
  uint64_t names;    // st_nlink of a file found as such; 1 for a link's copy
};

// A link or a directory: an entry without a file's data.
struct SourceObject {
  SourceKind kind;
  std::string name;    // as SourceFile's
  std::string path;
  std::string target;  // of a link, or a hard link's first name; empty for a directory
  int64_t mod_time;
  uint16_t mode;
};

struct SourceTree {
  std::vector<SourceFile> files;      // regular files, sorted by `name`, bytes compared unsigned
  std::vector<SourceObject> links;    // symbolic and hard, sorted by `name`
  std::vector<SourceObject> directories;  // empty or of a mode other than 0755, sorted by `name`
  std::vector<std::string> excluded;  // for -v: each path that --exclude left out, with the pattern
  std::vector<std::string> notes;     // for the user: links copied
  std::vector<std::string> refusals;  // each names a path: what stops the installer from being made
  uint64_t total_size = 0;
  uint64_t total_record_size = 0;  // of the files' entry records
};

struct ScanOptions {
  bool dereference = false;          // links to files as copies of them, as tar -h
  bool allow_outside_links = false;  // links may lead out of the tree
  bool hard_links = true;            // a file's later names as hard links to its first
  std::vector<std::string> excludes;  // normalised patterns (exclude_patterns.h)
};

// Walks `directory` (followed if it is itself a symbolic link). Below it,
// paths that an exclude pattern matches are left out with all they hold.
// Symbolic links are links, refused when they lead out of the tree
// (link_target.h) unless allowed; with `dereference`, links to regular
// files are taken as copies of their targets and named in a note, and links
// to anything else are refusals. Special files, unreadable files and
// directories, sizes of 4 GiB or more, names longer than a record holds and
// names that the installer would install otherwise than the tree shows them
// (archive/entry_paths.h) are refusals. With `hard_links`, a file found
// under several names (one device and inode, st_nlink above 1) is a file
// under the first of them in byte order and a hard link to that one under
// each other, its data counted once. Throws Failure when `directory` itself is no
// readable directory.
SourceTree scan_source_tree(const std::string& directory, const ScanOptions& options = ScanOptions());
