#include "engine/filesystem/directory_below.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "archive/entry_paths.h"

namespace {

constexpr int DIRECTORY_FLAGS = O_PATH | O_DIRECTORY | O_CLOEXEC;

// The link case: the whole prefix is resolved again by the kernel, which
// refuses (EXDEV) any step that would leave root_fd, absolute links included.
// Kernels without openat2 refuse every link.
int open_beneath(int root_fd, const char* prefix) {
#ifdef SYS_openat2
  open_how how{};
  how.flags = DIRECTORY_FLAGS;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  return int(syscall(SYS_openat2, root_fd, prefix, &how, sizeof how));
#else
  (void)root_fd;
  (void)prefix;
  errno = ENOSYS;
  return -1;
#endif
}

// Whether the directory open at `fd`, below `root_fd`, is the record
// directory or lies inside it: the run's lock and records are reached by
// nothing but their own name.
bool in_record_directory(int root_fd, int fd) {
  struct stat record, root, here;
  if (fstatat(root_fd, INSTALL_RECORD_DIRECTORY, &record, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (fstat(root_fd, &root) != 0 || fstat(fd, &here) != 0) return true;
  int at = -1;
  bool inside = false;
  // Up by "..": the walk below root_fd is never deeper than a path is long.
  for (size_t steps = 0; steps < SYSTEM_PATH_SIZE / 2; steps++) {
    if (here.st_dev == root.st_dev && here.st_ino == root.st_ino) break;
    if (here.st_dev == record.st_dev && here.st_ino == record.st_ino) {
      inside = true;
      break;
    }
    int up = openat(at >= 0 ? at : fd, "..", DIRECTORY_FLAGS);
    if (at >= 0) close(at);
    at = up;
    if (at < 0 || fstat(at, &here) != 0) {
      inside = true;
      break;
    }
  }
  if (at >= 0) close(at);
  return inside;
}

// One step down from `at` into `component`, the last component of `prefix`.
int enter(int root_fd, int at, const char* prefix, const char* component, int flags, const BelowHooks* hooks) {
  if (strcmp(component, "..") == 0) {
    errno = EEXIST;
    return -1;
  }
  int fd = openat(at, component, DIRECTORY_FLAGS | O_NOFOLLOW);
  if (fd >= 0) return fd;
  if (errno == ENOTDIR && (flags & BELOW_CREATE) && hooks && hooks->clear_way &&
      hooks->clear_way(hooks->context, prefix, at, component))
    errno = ENOENT;
  if (errno == ENOENT && (flags & BELOW_CREATE)) {
    if (mkdirat(at, component, 0755) != 0) return -1;
    fd = openat(at, component, DIRECTORY_FLAGS | O_NOFOLLOW);
    if (fd >= 0 && hooks && hooks->made && hooks->made(hooks->context, prefix, fd) != 0) {
      int error = errno;
      close(fd);
      errno = error;
      return -1;
    }
    return fd;
  }
  // O_NOFOLLOW with O_DIRECTORY reports a link as ENOTDIR, like a file.
  if (errno != ENOTDIR && errno != ELOOP) return -1;
  if (!(flags & BELOW_LINKS)) {
    errno = EEXIST;
    return -1;
  }
  fd = open_beneath(root_fd, prefix);
  if (fd >= 0 && !in_record_directory(root_fd, fd)) return fd;
  if (fd >= 0) close(fd);
  errno = EEXIST;
  return -1;
}

}  // namespace

int open_directory_below(int root_fd, const char* path, size_t length, int flags, const BelowHooks* hooks) {
  char prefix[SYSTEM_PATH_SIZE];
  if (length >= sizeof prefix) {
    errno = ENAMETOOLONG;
    return -1;
  }
  memcpy(prefix, path, length);
  prefix[length] = 0;
  int at = root_fd;
  for (size_t i = 0;;) {
    while (i < length && prefix[i] == '/') i++;
    if (i == length) break;
    size_t end = i;
    while (end < length && prefix[end] != '/') end++;
    prefix[end] = 0;
    int fd = strcmp(prefix + i, ".") == 0 ? openat(at, ".", DIRECTORY_FLAGS)
                                          : enter(root_fd, at, prefix, prefix + i, flags, hooks);
    int saved = errno;
    if (at != root_fd) close(at);
    if (fd < 0) {
      errno = saved;
      return -1;
    }
    at = fd;
    prefix[end] = end < length ? '/' : 0;
    i = end;
  }
  return at != root_fd ? at : openat(root_fd, ".", DIRECTORY_FLAGS);
}
