// What the stale-copy sweep may remove, found with one walk of the
// installation tree instead of one walk per entry.
//
// The rule: before an entry whose base name is B is written or deleted, every
// file, symbolic link and empty directory named B below the installation
// directory is removed, except those whose path below it passes through a
// directory named B or through a symbolic link, and except what this run has
// written or created. The walk records every path that the rule can ever
// select (a name with no ancestor of the same name, reached without crossing
// a link), keyed by its name; what the run writes and creates is remembered by
// device and inode, so that any spelling of a path to it is recognised.
// Objects that appear later were made by this run and never qualify, so the
// index stays exact as the run goes on.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

struct StaleRecord {
  char* path;         // below the directory, '/'-separated, no leading '/'
  const char* name;   // last component of `path`
  uint32_t hash;
  int32_t next;       // next record in the same bucket, -1 at the end
  int removed;
  int directory;      // a directory (not a link to one) when the walk saw it
};

struct FileIdentity {
  dev_t device;
  ino_t inode;
};

struct StaleIndex {
  char* root;  // the installation directory as given
  StaleRecord* records;
  size_t record_count, record_capacity;
  int32_t* buckets;  // heads of the name chains, -1 when empty
  size_t bucket_count;
  FileIdentity* made;  // open addressing; inode 0 marks a free slot
  size_t made_count, made_capacity;
};

// Walks `root` once (not through symbolic links below it; directories that
// cannot be read, or whose paths are too long to open, are skipped). 0, or -1
// when memory runs out (the index is then released).
int stale_index_build(StaleIndex* index, const char* root);
void stale_index_release(StaleIndex* index);

// Removes what the rule selects for base name `name`. Failures of removal are
// not reported (a non-empty directory stays). With `root_fd`, a descriptor
// of the directory, paths are looked up from it rather than from / (the
// same objects, fewer steps). Returns the number removed.
size_t stale_index_sweep(StaleIndex* index, const char* name, int root_fd = -1);

// True when the walk found a file or link at `path` (below the directory,
// spelled as the walk spells it) whose base name is `name` and that no sweep
// has removed since: most likely it is still there.
bool stale_index_lists(const StaleIndex* index, const char* name, const char* path);

// Remembers the object at `path` (lstat), or with that identity, as made by
// this run: it is never swept. 0, or -1 when memory runs out.
int stale_index_mark_made(StaleIndex* index, const char* path);
int stale_index_mark_identity(StaleIndex* index, dev_t device, ino_t inode);
