#include "engine/filesystem/durable_batch.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive/entry_paths.h"

namespace {

void release(BatchedFile* f, int remove_temporary) {
  if (f->fd >= 0) close(f->fd);
  if (remove_temporary) unlinkat(f->temp_dir, f->temp, 0);
  if (!f->shared_dir && f->temp_dir >= 0 && f->temp_dir != f->dir_fd) close(f->temp_dir);
  if (f->dir_fd >= 0) close(f->dir_fd);
  free(f->name);
  *f = BatchedFile{};
  f->fd = f->temp_dir = f->dir_fd = -1;
}

// Each file system is flushed whole, once, at the end: the descriptor of a
// file renamed there stands for it, as a directory may not be readable.
int remember_file_system(DurableBatch* b, int fd, dev_t device) {
  for (size_t i = 0; i < b->file_systems; i++)
    if (b->renamed_devices[i] == device) return 0;
  if (b->file_systems == DURABLE_BATCH_FILE_SYSTEMS) return syncfs(fd);
  int kept = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (kept < 0) return syncfs(fd);
  b->renamed_fds[b->file_systems] = kept;
  b->renamed_devices[b->file_systems++] = device;
  return 0;
}

// Descriptors the run opens beside a batch's while it waits: the next
// file's, the record's, the read-ahead's, a directory or two on the way.
constexpr long SPARE_DESCRIPTORS = 8;

// As many files as the descriptors left free now allow, kept for the run's
// other needs and for the file systems remembered.
size_t batch_capacity() {
  rlimit limit;
  const rlim_t plenty = DURABLE_BATCH_FILES * DURABLE_BATCH_FILE_DESCRIPTORS * 2;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= plenty)
    return DURABLE_BATCH_FILES;
  long open_now = 0;
  for (int fd = 0; rlim_t(fd) < limit.rlim_cur; fd++) open_now += fcntl(fd, F_GETFD) != -1;
  long spare = long(limit.rlim_cur) - open_now - SPARE_DESCRIPTORS - long(DURABLE_BATCH_FILE_SYSTEMS);
  long files = spare / long(DURABLE_BATCH_FILE_DESCRIPTORS);
  return files < 1 ? 1 : size_t(files);
}

}  // namespace

void durable_batch_init(DurableBatch* b, int flush) {
  b->count = 0;
  b->capacity = batch_capacity();
  b->flush = flush;
  b->file_systems = 0;
}

void durable_batch_add(DurableBatch* b, const BatchedFile& file) {
  // Write-back starts now and overlaps the files that follow; the commit
  // then mostly waits for what is already under way.
  if (b->flush) sync_file_range(file.fd, 0, 0, SYNC_FILE_RANGE_WRITE);
  b->files[b->count++] = file;
}

int durable_batch_blocks_directory(const DurableBatch* b, const char* path, size_t length) {
  for (size_t i = 0; i < b->count; i++) {
    size_t n = strlen(b->files[i].name);
    if (n <= length && memcmp(b->files[i].name, path, n) == 0 &&
        (n == length || path[n] == '/' || path[n] == '\\'))
      return 1;
  }
  return 0;
}

int durable_batch_passes_through(const DurableBatch* b, const char* name) {
  for (size_t i = 0; i < b->count; i++)
    if (path_has_component(b->files[i].name, size_t(b->files[i].base - b->files[i].name), name)) return 1;
  return 0;
}

int durable_batch_commit(DurableBatch* b, int (*renamed)(void*, const char*, int), void* context,
                         EngineFailure* failure) {
  size_t count = b->count, done = 0;
  b->count = 0;
  *failure = EngineFailure{FAILURE_NONE, 0};
  if (b->flush) {
    for (size_t k = 0; k < count; k++) {
      bool seen = false;
      for (size_t j = 0; j < k && !seen; j++) seen = b->files[j].dir_device == b->files[k].dir_device;
      if (seen || syncfs(b->files[k].fd) == 0) continue;
      // This file and those behind it keep their old versions.
      fail_with(failure, FAILURE_SAVE_DATA, errno);
      for (size_t j = 0; j < count; j++) release(&b->files[j], j >= k);
      return -1;
    }
  }
  for (; done < count; done++) {
    BatchedFile& f = b->files[done];
    if (f.beside ? rename_without_replacing(f.temp_dir, f.temp, f.dir_fd, f.base) != 0
                 : renameat(f.temp_dir, f.temp, f.dir_fd, f.base) != 0) {
      int e = errno;
      // A directory in the way: reported as opening it for writing would be.
      fail_with(failure, FAILURE_CREATE_FILE, !f.beside && (e == ENOTEMPTY || e == EEXIST) ? EISDIR : e);
      break;
    }
    if (renamed(context, f.name, f.beside) != 0) {
      fail_with(failure, FAILURE_NO_MEMORY);
      done++;
      break;
    }
  }
  for (size_t k = 0; k < done; k++) {
    BatchedFile& f = b->files[k];
    int saved = !b->flush || remember_file_system(b, f.fd, f.dir_device) == 0;
    // Some file systems report a failed write only when the file is closed.
    saved = close(f.fd) == 0 && saved;
    f.fd = -1;
    if (!saved && failure->code == FAILURE_NONE) fail_with(failure, FAILURE_SAVE_DATA, errno);
  }
  for (size_t k = 0; k < count; k++) release(&b->files[k], k >= done);
  return failure->code == FAILURE_NONE ? 0 : -1;
}

int durable_batch_finish(DurableBatch* b, int (*renamed)(void*, const char*, int), void* context,
                         EngineFailure* failure) {
  int result = durable_batch_commit(b, renamed, context, failure);
  for (size_t i = 0; i < b->file_systems; i++) {
    if (syncfs(b->renamed_fds[i]) != 0 && result == 0) result = fail_with(failure, FAILURE_SAVE_DATA, errno);
    close(b->renamed_fds[i]);
  }
  b->file_systems = 0;
  return result;
}

void durable_batch_discard(DurableBatch* b) {
  for (size_t k = 0; k < b->count; k++) release(&b->files[k], 1);
  b->count = 0;
  for (size_t i = 0; i < b->file_systems; i++) close(b->renamed_fds[i]);
  b->file_systems = 0;
}
