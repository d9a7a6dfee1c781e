// New files that wait, fully written, for their names.
//
// A rename is durable before the data it names unless the data is flushed
// first: after a power cut the name would hold an empty or partial file.
// Flushing each file before its rename costs a journal commit per file on a
// disk, so files are gathered in batches: write-back of each starts as soon
// as it is written (sync_file_range), and when the batch is full, or a later
// step needs its names, the file system of the batch is flushed once
// (syncfs: one journal commit for the whole batch, measured several times
// faster than an fdatasync per file), then each file takes its name in the
// order the files came. A power cut at any moment leaves each path with its
// old file or its new one, whole. The names themselves are flushed once, at
// the end (durable_batch_finish).
//
// On tmpfs every flush returns at once, so the batches cost a few system
// calls per file there.
#pragma once

#include <sys/types.h>

#include <cstddef>

#include "engine/failure.h"
#include "engine/filesystem/temporary_files.h"

constexpr size_t DURABLE_BATCH_FILES = 256;  // files waiting at most
// Descriptors each waiting file holds: its temporary and its directory.
constexpr size_t DURABLE_BATCH_FILE_DESCRIPTORS = 2;
constexpr size_t DURABLE_BATCH_FILE_SYSTEMS = 8;  // more are flushed as they come

struct BatchedFile {
  int fd;          // the temporary, open until its data is flushed
  int temp_dir;    // where the temporary lies; owned when not `shared_dir`
  int shared_dir;  // temp_dir is the caller's (the record directory)
  int dir_fd;      // the directory the file goes into (O_PATH), owned
  dev_t dir_device;
  ino_t dir_inode;
  char temp[TEMPORARY_NAME_SIZE];
  char* name;        // the entry's whole name, owned
  const char* base;  // its last component, inside `name`
  // Takes a name of its own beside another file: never replaces what is
  // there, and is not the entry's.
  int beside;
};

struct DurableBatch {
  BatchedFile files[DURABLE_BATCH_FILES];
  size_t count;
  // Files it takes before it is full: fewer than DURABLE_BATCH_FILES when
  // the process may not open that many descriptors, so that a low limit
  // makes smaller batches rather than a failed run.
  size_t capacity;
  int flush;  // 0: no flushing at all (scratch trees, at the caller's risk)
  // A descriptor on each file system that received names since the last
  // finish, and its device.
  int renamed_fds[DURABLE_BATCH_FILE_SYSTEMS];
  dev_t renamed_devices[DURABLE_BATCH_FILE_SYSTEMS];
  size_t file_systems;
};

void durable_batch_init(DurableBatch* batch, int flush);

inline bool durable_batch_full(const DurableBatch* batch) { return batch->count >= batch->capacity; }

// Takes `file` (its descriptors and name) into the batch and starts writing
// its data out. The batch must not be full.
void durable_batch_add(DurableBatch* batch, const BatchedFile& file);

// 1 when a waiting file's name is the directory `path` (`length` bytes) or
// one of the directories above it, '/' or backslash separating them.
int durable_batch_blocks_directory(const DurableBatch* batch, const char* path, size_t length);

// 1 when a directory named `name` lies on the way to a waiting file.
int durable_batch_passes_through(const DurableBatch* batch, const char* name);


// Flushes and renames every waiting file as described above, calling
// `renamed` with each file's whole name and its `beside` once it holds it
// (a nonzero result is a want of memory). 0; or on the first failure, -1 with `failure` filled
// in (the data not saved, or the name not taken): the failing file and those
// behind it lose their temporaries and keep what their names held.
int durable_batch_commit(DurableBatch* batch, int (*renamed)(void* context, const char* name, int beside), void* context,
                         EngineFailure* failure);

// Commits, then flushes the names given since the last finish. 0, or -1 as
// durable_batch_commit.
int durable_batch_finish(DurableBatch* batch, int (*renamed)(void* context, const char* name, int beside), void* context,
                         EngineFailure* failure);

// Removes every waiting temporary: the names keep what they held.
void durable_batch_discard(DurableBatch* batch);
