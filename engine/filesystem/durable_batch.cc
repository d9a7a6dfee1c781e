#include "engine/filesystem/durable_batch.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
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
  if (f->owns_dir && f->dir_fd >= 0) close(f->dir_fd);
  free(f->name);
  *f = BatchedFile{};
  f->fd = f->temp_dir = f->dir_fd = -1;
}

// Files share the directory descriptor of the first of them: the later
// ones go first, while it is still open.
void release_all(DurableBatch* b, size_t count, size_t keep_below) {
  for (size_t k = count; k-- > 0;) release(&b->files[k], k >= keep_below);
}

uint32_t name_hash(const char* text, size_t length) {
  uint32_t h = 2166136261u;
  for (size_t i = 0; i < length; i++) h = (h ^ uint8_t(text[i])) * 16777619u;
  return h;
}

void forget_names(DurableBatch* b) {
  if (b->name_count) memset(b->names, 0, sizeof b->names);
  b->name_count = 0;
  b->names_overflowed = 0;
}

// The slot of the name, or the free slot where it would go.
BatchedName* name_slot(DurableBatch* b, const char* text, size_t length, uint32_t hash) {
  for (size_t i = hash;; i++) {
    BatchedName& slot = b->names[i & (DURABLE_BATCH_NAME_SLOTS - 1)];
    if (!slot.text || (slot.hash == hash && slot.length == length && memcmp(slot.text, text, length) == 0))
      return &slot;
  }
}

// Each '/'-separated piece of the file's directories, as
// durable_batch_passes_through compares them.
void remember_names(DurableBatch* b, const BatchedFile& f) {
  size_t length = size_t(f.base - f.name);
  for (size_t i = 0; i < length && !b->names_overflowed;) {
    size_t end = i;
    while (end < length && f.name[end] != '/') end++;
    uint32_t hash = name_hash(f.name + i, end - i);
    BatchedName* slot = name_slot(b, f.name + i, end - i, hash);
    if (!slot->text) {
      if ((b->name_count + 1) * 4 > DURABLE_BATCH_NAME_SLOTS * 3) {
        b->names_overflowed = 1;
        break;
      }
      *slot = BatchedName{f.name + i, uint32_t(end - i), hash};
      b->name_count++;
    }
    i = end + 1;
  }
}

// Nothing on tmpfs or ramfs outlives a power cut: starting write-back there
// is a system call per file for nothing.
bool volatile_file_system(DurableBatch* b, const BatchedFile& f) {
  if (!b->volatile_known || b->volatile_device != f.dir_device) {
    struct statfs fs;
    b->volatile_fs = fstatfs(f.fd, &fs) == 0 && (fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC);
    b->volatile_device = f.dir_device;
    b->volatile_known = 1;
  }
  return b->volatile_fs;
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
// file's, the record's, the read-ahead's, a directory or two on the way,
// and the directories the writer keeps open.
constexpr long SPARE_DESCRIPTORS = 16;

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
  b->bytes = 0;
  b->volatile_known = 0;
  b->name_count = 1;  // clears the whole set
  forget_names(b);
}

int durable_batch_add(DurableBatch* b, const BatchedFile& file) {
  BatchedFile f = file;
  const BatchedFile* last = b->count > 0 ? &b->files[b->count - 1] : nullptr;
  if (last && last->dir_device == f.dir_device && last->dir_inode == f.dir_inode) {
    f.dir_fd = last->dir_fd;
    f.owns_dir = 0;
  } else {
    f.dir_fd = fcntl(file.dir_fd, F_DUPFD_CLOEXEC, 0);
    if (f.dir_fd < 0) return -1;
    f.owns_dir = 1;
  }
  if (!f.shared_dir) f.temp_dir = f.dir_fd;
  // Write-back starts now and overlaps the files that follow; the commit
  // then mostly waits for what is already under way.
  if (b->flush && !volatile_file_system(b, f)) sync_file_range(f.fd, 0, 0, SYNC_FILE_RANGE_WRITE);
  b->files[b->count++] = f;
  b->bytes += f.size;
  remember_names(b, b->files[b->count - 1]);
  return 0;
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
  if (b->count == 0) return 0;
  if (!b->names_overflowed) {
    size_t length = strlen(name);
    return name_slot(const_cast<DurableBatch*>(b), name, length, name_hash(name, length))->text != nullptr;
  }
  for (size_t i = 0; i < b->count; i++)
    if (path_has_component(b->files[i].name, size_t(b->files[i].base - b->files[i].name), name)) return 1;
  return 0;
}

int durable_batch_commit(DurableBatch* b, int (*renamed)(void*, const char*, int), void* context,
                         EngineFailure* failure) {
  size_t count = b->count, done = 0;
  b->count = 0;
  b->bytes = 0;
  forget_names(b);
  *failure = EngineFailure{FAILURE_NONE, 0};
  if (b->flush) {
    for (size_t k = 0; k < count; k++) {
      bool seen = false;
      for (size_t j = 0; j < k && !seen; j++) seen = b->files[j].dir_device == b->files[k].dir_device;
      if (seen || syncfs(b->files[k].fd) == 0) continue;
      // This file and those behind it keep their old versions.
      fail_with(failure, FAILURE_SAVE_DATA, errno);
      release_all(b, count, k);
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
  release_all(b, count, done);
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
  release_all(b, b->count, 0);
  b->count = 0;
  b->bytes = 0;
  forget_names(b);
  for (size_t i = 0; i < b->file_systems; i++) close(b->renamed_fds[i]);
  b->file_systems = 0;
}
