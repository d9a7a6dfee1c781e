#include "engine/install/install_preflight.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "archive/entry_paths.h"

namespace {

constexpr size_t PROBE_PATH_SIZE = 2 * SYSTEM_PATH_SIZE;

bool exists(const char* path) {
  struct stat st;
  return lstat(path, &st) == 0;
}

// 0 when `path` takes new names, else why not (EACCES, EROFS, ...).
int takes_names(const char* path) {
  return faccessat(AT_FDCWD, *path ? path : ".", W_OK | X_OK, AT_EACCESS) == 0 ? 0 : errno;
}

// Cuts `path` (`length` bytes; `root` of them the installation directory)
// back to its nearest existing directory; the length left.
size_t nearest_existing(char* path, size_t length, size_t root) {
  while (length > root && !exists(path)) {
    while (length > root && path[length - 1] != '/') length--;
    while (length > root && path[length - 1] == '/') length--;
    path[length] = 0;
  }
  return length;
}

int refuse(InstallPreflight* p, int code, int error) {
  p->refused = 1;
  p->failure = EngineFailure{code, error};
  return -1;
}

}  // namespace

void install_preflight_init(InstallPreflight* p, const char* install_dir) {
  *p = InstallPreflight{install_dir, 0, 0, {FAILURE_NONE, 0}};
  char path[PROBE_PATH_SIZE];
  size_t length = size_t(snprintf(path, sizeof path, "%s", install_dir));
  if (length == 0 || exists(path)) return;
  p->made = 1;
  // The parents are made as the user typed them; the first that exists
  // must take the next.
  size_t left = nearest_existing(path, length, 0);
  if (left == 0) snprintf(path, sizeof path, "%s", install_dir[0] == '/' ? "/" : ".");
  if (int error = takes_names(path)) refuse(p, FAILURE_CREATE_DIRECTORY, error);
}

void install_preflight_add(InstallPreflight* p, const Entry& e) {
  if (p->refused || p->made || !entry_installs_file(e.type)) return;
  char path[PROBE_PATH_SIZE];
  size_t root = size_t(snprintf(path, sizeof path, "%s%s", p->install_dir, *p->install_dir ? "/" : ""));
  size_t directories = root + entry_directory_part(e.name), parent = root + entry_parent_part(e.name);
  int written = snprintf(path + root, sizeof path - root, "%s", e.name);
  if (written < 0 || size_t(written) >= sizeof path - root) return;  // the installation names the fault itself
  // Every directory the name asks for: the first missing one is made in
  // its parent, and those behind it in directories the run made.
  char saved = path[directories];
  path[directories] = 0;
  if (!exists(path)) {
    size_t left = nearest_existing(path, directories, root > 0 ? root - 1 : 0);
    if (int error = takes_names(left ? path : ".")) refuse(p, FAILURE_CREATE_DIRECTORY, error);
    return;
  }
  path[directories] = saved;
  // A file in a directory that takes no new names is rewritten in place,
  // where it is a file this user may write.
  saved = path[parent];
  path[parent] = 0;
  int error = takes_names(path);
  path[parent] = saved;
  if (error == 0) return;
  struct stat st;
  if (lstat(path, &st) == 0 && S_ISREG(st.st_mode) && faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0) return;
  refuse(p, FAILURE_CREATE_FILE, error);
}
