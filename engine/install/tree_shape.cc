#include "engine/install/tree_shape.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "archive/entry_paths.h"
#include "engine/filesystem/directory_below.h"

namespace {

constexpr int WALK_FLAGS = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Whether the directory `name` in `at`, listed at `path` (`length` bytes of
// a SYSTEM_PATH_SIZE buffer), holds nothing but what the index lists as
// installed and unchanged, so that emptying it loses nothing of anyone's.
bool holds_only_installed(OwnedIndex* index, int at, char* path, size_t length, const char* name) {
  int fd = openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
  if (!dir) {
    if (fd >= 0) close(fd);
    return false;
  }
  bool only = true;
  while (only) {
    errno = 0;
    dirent* d = readdir(dir);
    if (!d) {
      only = errno == 0;
      break;
    }
    if (strcmp(d->d_name, ".") == 0 || strcmp(d->d_name, "..") == 0) continue;
    size_t n = strlen(d->d_name);
    if (length + 1 + n >= SYSTEM_PATH_SIZE) {
      only = false;
      break;
    }
    path[length] = '/';
    memcpy(path + length + 1, d->d_name, n + 1);
    struct stat st;
    if (fstatat(dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
      only = false;
    else if (S_ISDIR(st.st_mode))
      only = owned_index_listed(index, path) &&
             holds_only_installed(index, dirfd(dir), path, length + 1 + n, d->d_name);
    else
      only = owned_index_unchanged(index, path, dirfd(dir), d->d_name, st) == 1;
  }
  path[length] = 0;
  closedir(dir);
  return only;
}

// An earlier installation's object, unchanged, where a directory is needed:
// listed at this path, it goes when the directory is made; reached through
// a link, a deletion entry or the sweep may take it first, and if nothing
// does, making the directory fails as before.
bool gives_way(OwnedIndex* index, const char* path, int at, const char* component, const struct stat& st) {
  return owned_index_unchanged(index, path, at, component, st) == 1 ||
         owned_index_installed_anywhere(index, at, component, st) == 1;
}

// Walks one path the attachment installs, component by component, as the
// run will, from `at` (`path` up to `offset` is its place): 0 when its way
// is clear, -1 when the object at the prefix left in `path` is in it. When
// the walk reached the last component, `*parent` takes the descriptor of its
// directory (or `at` itself), else -1.
int check_path(OwnedIndex* index, int root_fd, char* path, unsigned flags, int at, size_t offset, int* parent) {
  size_t length = strlen(path);
  const int start = at;
  int result = 0;
  *parent = -1;
  for (size_t i = offset; i < length;) {
    size_t end = i;
    while (end < length && path[end] != '/') end++;
    const bool last = end == length;
    char component[NAME_COMPONENT_MAX + 1];
    if (end - i > NAME_COMPONENT_MAX) break;  // the run reports the name itself
    memcpy(component, path + i, end - i);
    component[end - i] = 0;
    path[end] = 0;
    if (last) *parent = at;
    struct stat st;
    if (fstatat(at, component, &st, AT_SYMLINK_NOFOLLOW) != 0) break;  // nothing there, or nothing to tell yet
    int next = -1;
    if (last) {
      // A directory goes where a file or a link is wanted only when it is an
      // earlier version's and holds nothing else.
      bool wants_directory = flags & PATH_INSTALLS_DIRECTORY;
      if (S_ISDIR(st.st_mode) != wants_directory &&
          !(wants_directory ? gives_way(index, path, at, component, st)
                            : owned_index_listed(index, path) &&
                                  holds_only_installed(index, at, path, end, component)))
        result = -1;
    } else if (S_ISDIR(st.st_mode)) {
      next = openat(at, component, WALK_FLAGS);
    } else {
      unsigned here = owned_index_flags(index, path, end);
      // This version's own link or file there: what lies below is its affair.
      if ((here & PATH_INSTALLS) && !(here & PATH_INSTALLS_DIRECTORY)) break;
      if (gives_way(index, path, at, component, st)) break;  // and below it is nothing
      // Anyone's link to a directory within the tree is entered, as the run
      // enters it.
      if (S_ISLNK(st.st_mode)) next = open_directory_below(root_fd, path, end, BELOW_LINKS, nullptr);
      if (next < 0) result = -1;
    }
    if (result != 0 || next < 0) break;
    if (at != start) close(at);
    at = next;
    path[end] = '/';
    i = end + 1;
  }
  if (at != start && at != *parent) close(at);
  return result;
}

}  // namespace

int tree_shape_check(OwnedIndex* index, int root_fd, char* blocked, size_t size) {
  char path[SYSTEM_PATH_SIZE];
  // The directory the last path's walk ended in: a tree's files come
  // directory by directory, and each is walked to once.
  char walked[SYSTEM_PATH_SIZE] = "";
  int walked_fd = -1;
  int result = 0;
  for (size_t i = 0; i < index->count && result == 0; i++) {
    const OwnedPath& p = index->paths[i];
    if (!(p.flags & PATH_INSTALLS) || (p.flags & PATH_UNNAMED) || strlen(p.path) >= sizeof path) continue;
    strcpy(path, p.path);
    size_t parent_length = size_t(p.name - p.path);
    bool same = walked_fd >= 0 && parent_length > 0 && strlen(walked) == parent_length &&
                memcmp(walked, path, parent_length) == 0;
    int parent = -1;
    result = check_path(index, root_fd, path, p.flags, same ? walked_fd : root_fd, same ? parent_length : 0, &parent);
    if (result != 0) snprintf(blocked, size, "%s", path);
    if (parent == (same ? walked_fd : root_fd)) continue;  // the same directory, or the top
    if (walked_fd >= 0) close(walked_fd);
    walked_fd = parent;
    if (parent >= 0) snprintf(walked, sizeof walked, "%.*s", int(parent_length), p.path);
  }
  if (walked_fd >= 0) close(walked_fd);
  return result;
}
