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
#include <cstdint>

#include "engine/failure.h"
#include "engine/filesystem/temporary_files.h"

constexpr size_t DURABLE_BATCH_FILES = 256;  // files waiting at most
// Bytes waiting at most: a flush of more would keep the next file waiting
// for long on a slow disk.
constexpr uint64_t DURABLE_BATCH_BYTES = uint64_t(64) << 20;
// Descriptors each waiting file holds at most: its temporary and its
// directory (shared by the files of one directory that follow each other).
constexpr size_t DURABLE_BATCH_FILE_DESCRIPTORS = 2;
// Slots of the set of directory names on the way to waiting files; a batch
// whose names hold more distinct ones is asked by a scan instead.
constexpr size_t DURABLE_BATCH_NAME_SLOTS = 1024;
constexpr size_t DURABLE_BATCH_FILE_SYSTEMS = 8;  // more are flushed as they come

struct BatchedFile {
  int fd;          // the temporary, open until its data is flushed
  int temp_dir;    // where the temporary lies: the record directory when `shared_dir`, else dir_fd
  int shared_dir;  // temp_dir is the caller's (the record directory)
  // The directory the file goes into (O_PATH): given by the caller, who
  // keeps it; the batch holds its own copy, shared by the files of one
  // directory in a row.
  int dir_fd;
  int owns_dir;  // set by the batch: this file's dir_fd is closed with it
  dev_t dir_device;
  ino_t dir_inode;
  uint64_t size;  // the bytes written
  char temp[TEMPORARY_NAME_SIZE];
  char* name;        // the entry's whole name, owned
  const char* base;  // its last component, inside `name`
  // Takes a name of its own beside another file: never replaces what is
  // there, and is not the entry's.
  int beside;
};

// A directory name on the way to a waiting file, as a piece of that file's
// name.
struct BatchedName {
  const char* text;  // null: a free slot
  uint32_t length;
  uint32_t hash;
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
  uint64_t bytes;  // written by the waiting files
  // The directory names on the way to the waiting files, each once, so
  // that durable_batch_passes_through answers without a scan.
  BatchedName names[DURABLE_BATCH_NAME_SLOTS];
  size_t name_count;
  int names_overflowed;  // too many for the set: scanned
  // The last file system asked whether it keeps anything over a power cut.
  dev_t volatile_device;
  int volatile_known;
  int volatile_fs;
};

void durable_batch_init(DurableBatch* batch, int flush);

inline bool durable_batch_full(const DurableBatch* batch) {
  return batch->count >= batch->capacity || batch->bytes >= DURABLE_BATCH_BYTES;
}

// Takes `file` (its temporary's descriptor and its name) into the batch and
// starts writing its data out; the batch keeps a descriptor of its own on
// file.dir_fd. The batch must not be full. 0, or -1 with errno set when
// that descriptor cannot be had: then nothing is taken.
int durable_batch_add(DurableBatch* batch, const BatchedFile& file);

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
