#include "engine/filesystem/stage_directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "archive/entry_paths.h"
#include "engine/filesystem/guards.h"
#include "engine/filesystem/temporary_files.h"

namespace {

bool is_dot_or_dot_dot(const char* name) { return name[0] == '.' && (!name[1] || (name[1] == '.' && !name[2])); }

// No run makes a tree deeper than a path is long.
constexpr int STAGE_DEPTH_MAX = int(SYSTEM_PATH_SIZE / 2);

// Everything below the directory open at `fd`, which it closes. A directory
// whose mode shuts its owner out is opened up first: the stage and all in it
// are the run's.
void remove_below(int fd, int depth) {
  DIR* dir = fdopendir(fd);
  if (!dir) {
    close(fd);
    return;
  }
  const int at = dirfd(dir);
  while (dirent* d = readdir(dir)) {
    if (is_dot_or_dot_dot(d->d_name)) continue;
    if (unlinkat(at, d->d_name, 0) == 0 || errno != EISDIR || depth >= STAGE_DEPTH_MAX) continue;
    int below = openat(at, d->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (below < 0 && errno == EACCES && fchmodat(at, d->d_name, 0700, AT_SYMLINK_NOFOLLOW) == 0)
      below = openat(at, d->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (below < 0) continue;
    struct stat st;
    if (fstat(below, &st) == 0 && (st.st_mode & 0700) != 0700) fchmod(below, 0700);
    remove_below(below, depth + 1);
    unlinkat(at, d->d_name, AT_REMOVEDIR);
  }
  closedir(dir);
}

// Renaming a directory to another parent rewrites its "..", which takes
// write permission on it: a directory whose mode withholds that from its
// owner has it for the move only.
int give_name(int stage, const char* name, int root_fd) {
  if (rename_without_replacing(stage, name, root_fd, name) == 0) return 0;
  if (errno != EACCES) return -1;
  Descriptor dir(openat(stage, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st;
  if (dir.fd < 0 || fstat(dir.fd, &st) != 0 || fchmod(dir.fd, (st.st_mode & 07777) | S_IWUSR) != 0) {
    errno = EACCES;
    return -1;
  }
  int result = rename_without_replacing(stage, name, root_fd, name);
  int error = errno;
  fchmod(dir.fd, st.st_mode & 07777);
  errno = error;
  return result;
}

}  // namespace

int stage_make(int record_dir, dev_t device) {
  if (mkdirat(record_dir, STAGE_NAME, 0700) != 0) return -1;
  int fd = openat(record_dir, STAGE_NAME, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st;
  if (fd >= 0 && fstat(fd, &st) == 0 && st.st_dev == device) return fd;
  if (fd >= 0) close(fd);
  unlinkat(record_dir, STAGE_NAME, AT_REMOVEDIR);
  errno = EXDEV;
  return -1;
}

void stage_remove(int record_dir) {
  // Anything of that name in the record directory is a run's stage.
  if (unlinkat(record_dir, STAGE_NAME, 0) == 0 || errno != EISDIR) return;
  int fd = openat(record_dir, STAGE_NAME, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  remove_below(fd, 0);
  unlinkat(record_dir, STAGE_NAME, AT_REMOVEDIR);
}

int stage_publish(int record_dir, int stage_fd, int root_fd, int flush, EngineFailure* f) {
  *f = EngineFailure{FAILURE_NONE, 0};
  int fd = openat(stage_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return fail_with(f, FAILURE_CREATE_FILE, errno);
  // One flush of the file system for every file's data and the stage's
  // names: nothing takes its name in the tree before it is on disk.
  if (flush && syncfs(fd) != 0) {
    int error = errno;
    close(fd);
    return fail_with(f, FAILURE_SAVE_DATA, error);
  }
  DIR* dir = fdopendir(fd);
  if (!dir) {
    int error = errno;
    close(fd);
    return fail_with(f, FAILURE_CREATE_FILE, error);
  }
  // Passes until one moves nothing: a directory read while it changes may
  // pass over an entry.
  for (bool moved = true; moved;) {
    moved = false;
    rewinddir(dir);
    while (dirent* d = readdir(dir)) {
      if (is_dot_or_dot_dot(d->d_name)) continue;
      if (give_name(fd, d->d_name, root_fd) == 0) moved = true;
      else if (f->code == FAILURE_NONE) fail_with(f, FAILURE_CREATE_FILE, errno);
    }
  }
  closedir(dir);
  if (flush) {
    Descriptor root(openat(root_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if ((root.fd < 0 || fsync(root.fd) != 0) && f->code == FAILURE_NONE) fail_with(f, FAILURE_SAVE_DATA, errno);
  }
  if (f->code == FAILURE_NONE) unlinkat(record_dir, STAGE_NAME, AT_REMOVEDIR);
  return f->code == FAILURE_NONE ? 0 : -1;
}
