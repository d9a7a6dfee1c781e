#include "engine/ownership/uninstall.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "engine/filesystem/guards.h"

namespace {

struct KeptCount {
  void (*kept)(void* context, const char* path);
  void* context;
  unsigned long count;
  void (*kept_config)(void* context, const char* path);
};

void count_kept(void* context, const char* path) {
  KeptCount* k = static_cast<KeptCount*>(context);
  k->count++;
  if (k->kept) k->kept(k->context, path);
}

void count_kept_config(void* context, const char* path) {
  KeptCount* k = static_cast<KeptCount*>(context);
  k->count++;
  if (k->kept_config) k->kept_config(k->context, path);
  else if (k->kept) k->kept(k->context, path);
}

// Whether the index still lists a file: one that could not be removed.
int file_left(void* context, const char*, const InstalledIdentity& id) {
  *static_cast<bool*>(context) |= !S_ISDIR(id.mode);
  return 0;
}

// The removals and the record's new state reach the disk before the run is
// called complete: one flush of the file system that holds the directory
// and its record, as the install's batches flush theirs.
int flush_removals(int root_fd) {
  int fd = openat(root_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    sync();  // a directory that may not be read: every file system, then
    return 0;
  }
  int result = syncfs(fd);
  int error = errno;
  close(fd);
  errno = error;
  return result;
}

int uninstall_in(int root_fd, const char* product, KeptCount* kept, UninstallResult* result, EngineFailure* f) {
  struct stat st;
  if (fstatat(root_fd, INSTALL_RECORD_DIRECTORY, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode))
    return fail_with(f, FAILURE_NOT_RECORDED);
  OwnedIndex index;
  owned_index_init(&index);
  index.kept = count_kept;
  index.kept_config = count_kept_config;
  index.kept_context = kept;
  InstallRecord record;
  int status = install_record_open(&record, root_fd, product, &index, f);
  // Removing on the word of a record that another user could have written
  // would remove what they chose.
  if (status == 0 && record.untrusted) status = fail_with(f, FAILURE_RECORD_UNTRUSTED);
  else if (status == 0 && record.unavailable_error) status = fail_with(f, FAILURE_OPEN_RECORD, record.unavailable_error);
  else if (status == 0 && !record.found) status = fail_with(f, FAILURE_NOT_RECORDED);
  if (status == 0) {
    result->removed = owned_index_remove_unlisted(&index, root_fd);
    // A file that could not be removed stays listed, so that another try
    // can remove it; directories that keep a user's files are not worth a
    // record.
    bool files_left = false;
    owned_index_each_recorded(&index, false, file_left, &files_left);
    int written = files_left ? install_record_write(&record, &index, false) : install_record_remove(&record, root_fd);
    if (written != 0 || flush_removals(root_fd) != 0) status = fail_with(f, FAILURE_SAVE_RECORD, errno);
  }
  install_record_close(&record);
  owned_index_release(&index);
  return status;
}

}  // namespace

int uninstall_product(const char* install_dir, const char* product, void (*kept)(void*, const char*), void* context,
                      UninstallResult* result, EngineFailure* failure,
                      void (*kept_config)(void*, const char*)) {
  *result = UninstallResult{0, 0};
  KeptCount counter{kept, context, 0, kept_config};
  Descriptor root(open(*install_dir ? install_dir : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (root.fd < 0) return fail_with(failure, FAILURE_NOT_RECORDED);
  int status = uninstall_in(root.fd, product, &counter, result, failure);
  result->kept = counter.count;
  return status;
}
