#include "archive/extraction.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive/directory_below.h"

static_assert(EXTRACTION_PATH_SIZE == PATH_MAX, "a path that fits the buffer is one the system can name");

namespace {

int path_is_directory(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0) return -1;
  return S_ISDIR(st.st_mode) ? 1 : 0;
}

int fail(ExtractFailure* f, const char* message, const char* detail = nullptr, int error_number = 0,
         int with_error_number = 0) {
  *f = ExtractFailure{message, detail, error_number, with_error_number};
  return -1;
}

int fail_errno(ExtractFailure* f, const char* message, const char* detail, int error_number) {
  return fail(f, message, detail, error_number, 1);
}

// How many bytes of the name belong to the directories the entry needs: up
// to its last separator, '/' or backslash, or all but a final separator.
// A backslash is an ordinary character of a Linux name, yet it ends the part
// whose directories are made, so "a\b" makes "a" and writes the file "a\b"
// beside it: the installer has always done so.
size_t directory_part(const char* name) {
  size_t n = strlen(name);
  if (n == 0) return 0;
  if (name[n - 1] == '/' || name[n - 1] == '\\') return n - 1;
  size_t i = n - 1;
  while (i > 0 && name[i] != '/' && name[i] != '\\') i--;
  return i;
}

// The part of the name up to its last '/': the directory the file lies in.
size_t parent_part(const char* name) {
  const char* slash = strrchr(name, '/');
  return slash ? size_t(slash - name) : 0;
}

// The installation directory itself is the user's choice and is reached by
// its path, links and all. An empty one stands for the working directory.
int open_install_dir(const Extraction* x) {
  return open(*x->install_dir ? x->install_dir : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

void forget_directory(Extraction* x) {
  if (x->dir_fd >= 0) close(x->dir_fd);
  x->dir_fd = -1;
}

void close_root(Extraction* x) {
  forget_directory(x);
  if (x->root_fd >= 0) close(x->root_fd);
  x->root_fd = -1;
}

// Made when missing, as every directory on its path.
int open_root(Extraction* x, ExtractFailure* f) {
  if (x->root_fd >= 0) return 0;
  char path[EXTRACTION_PATH_SIZE];
  snprintf(path, sizeof path, "%s", x->install_dir);
  errno = 0;
  if (!make_directories(path, &x->stale)) return fail_errno(f, "Can't create directory", "(err=4).", errno);
  x->root_fd = open_install_dir(x);
  if (x->root_fd < 0) return fail_errno(f, "Can't create directory", "(err=4).", errno);
  return 0;
}

// The descriptor of the directory below install_dir that the file of `name`
// goes into, made as needed with the directories the name asks for.
int open_file_directory(Extraction* x, const char* name, ExtractFailure* f) {
  size_t make = directory_part(name), parent = parent_part(name);
  if (x->dir_fd >= 0 && make == parent && strlen(x->dir_path) == parent && memcmp(x->dir_path, name, parent) == 0)
    return 0;
  forget_directory(x);
  int fd = open_directory_below(x->root_fd, name, make, true, &x->stale);
  if (fd >= 0 && parent != make) {
    close(fd);
    fd = open_directory_below(x->root_fd, name, parent, true, &x->stale);
  }
  if (fd < 0) return fail_errno(f, "Can't create directory", "(err=4).", errno);
  x->dir_fd = fd;
  memcpy(x->dir_path, name, parent);
  x->dir_path[parent] = 0;
  return 0;
}

// A fresh name beside the file; never one the sweep knows, since it did
// not exist when the tree was walked.
int create_temporary(Extraction* x, char* temp, size_t size) {
  for (int attempt = 0; attempt < 100; attempt++) {
    snprintf(temp, size, ".zolt-setup-%ld-%u", long(getpid()), x->temp_serial++);
    int fd = openat(x->dir_fd, temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

int write_all(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return -1;
    }
    data += n;
    size -= size_t(n);
  }
  return 0;
}

int delete_entry(Extraction* x, const Entry& e) {
  // Whatever goes may be a directory the cached descriptors stand for.
  close_root(x);
  size_t length = strlen(e.name);
  size_t dir_length = strlen(x->install_dir);
  if (dir_length + 1 + length >= EXTRACTION_PATH_SIZE) return 0;
  if (length == 0) {
    // The entry path is the installation directory itself, as chosen.
    char path[EXTRACTION_PATH_SIZE];
    snprintf(path, sizeof path, "%s%s", x->install_dir, ends_with_slash(x->install_dir) ? "" : "/");
    remove(path);
    rmdir(path);
    return 0;
  }
  int root = open_install_dir(x);
  if (root < 0) return 0;
  bool only_directory = e.name[length - 1] == '/';
  size_t end = length;
  while (end > 0 && e.name[end - 1] == '/') end--;
  size_t parent = end;
  while (parent > 0 && e.name[parent - 1] != '/') parent--;
  char base[EXTRACTION_PATH_SIZE];
  memcpy(base, e.name + parent, end - parent);
  base[end - parent] = 0;
  int dir = open_directory_below(root, e.name, parent, false, nullptr);
  close(root);
  if (dir < 0) return 0;
  if (*base && strcmp(base, ".") != 0 && strcmp(base, "..") != 0) {
    if (only_directory || unlinkat(dir, base, 0) != 0) unlinkat(dir, base, AT_REMOVEDIR);
  }
  close(dir);
  return 0;
}

}  // namespace

int ends_with_slash(const char* text) {
  size_t n = strlen(text);
  return n > 0 && text[n - 1] == '/';
}

int make_directories(char* path, StaleIndex* made) {
  if (!path || !*path) return 1;
  char* p = path + (path[0] == '/');
  for (;; p++) {
    if (*p != '/' && *p != 0) continue;
    char saved = *p;
    *p = 0;
    if (path_is_directory(path) != 1) {
      if (mkdir(path, 0755) != 0) return 0;
      if (made && stale_index_mark_made(made, path) != 0) {
        errno = ENOMEM;
        return 0;
      }
    }
    *p = saved;
    if (saved == 0 || p[1] == 0) return 1;
  }
}

int extraction_begin(Extraction* x, const char* install_dir) {
  x->install_dir = install_dir;
  x->root_fd = x->dir_fd = -1;
  x->dir_path[0] = 0;
  x->temp_serial = 0;
  return stale_index_build(&x->stale, install_dir);
}

void extraction_end(Extraction* x) {
  close_root(x);
  stale_index_release(&x->stale);
}

int extract_entry(Extraction* x, const Entry& e, ExtractFailure* f) {
  const char* base = entry_base_name(e.name);
  if (e.type == ENTRY_DELETE) {
    if (*e.name) stale_index_sweep(&x->stale, base);
    return delete_entry(x, e);
  }

  if (open_root(x, f) != 0) return -1;
  // What the system could not name by path is refused as it would refuse it.
  size_t dir_length = strlen(x->install_dir) + (ends_with_slash(x->install_dir) ? 0 : 1);
  if (dir_length + directory_part(e.name) >= EXTRACTION_PATH_SIZE)
    return fail_errno(f, "Can't create directory", "(err=4).", ENAMETOOLONG);
  if (dir_length + strlen(e.name) >= EXTRACTION_PATH_SIZE)
    return fail_errno(f, "Can't create file", "(err=5).", ENAMETOOLONG);

  if (open_file_directory(x, e.name, f) != 0) return -1;

  const char* slash = strrchr(e.name, '/');
  const char* file_name = slash ? slash + 1 : e.name;
  if (!*file_name || strcmp(file_name, ".") == 0) return fail_errno(f, "Can't create file", "(err=5).", EISDIR);

  // A new name is written in place; an existing one gets a temporary
  // beside it. O_EXCL never opens what is there, so a link, a FIFO or a
  // device in the file's place is replaced, never written through.
  // The walk of the tree tells which names are most likely taken; for
  // those the attempt under the name itself would only fail.
  char temp[64];
  bool replacing = stale_index_lists(&x->stale, base, e.name);
  int fd = replacing ? -1 : openat(x->dir_fd, file_name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (replacing || (fd < 0 && errno == EEXIST)) {
    replacing = true;
    fd = create_temporary(x, temp, sizeof temp);
  }
  if (fd < 0) return fail_errno(f, "Can't create file", "(err=5).", errno);
  const char* written_name = replacing ? temp : file_name;

  struct stat st;
  if (fstat(fd, &st) == 0 && stale_index_mark_identity(&x->stale, st.st_dev, st.st_ino) != 0) {
    close(fd);
    unlinkat(x->dir_fd, written_name, 0);
    return fail(f, "Memory allocation error (err=3).");
  }
  int result = write_all(fd, e.data, e.file_size);
  int write_error = errno;
  if (result == 0 && e.mod_time != 0) {
    const timespec times[2] = {{e.mod_time, 0}, {e.mod_time, 0}};
    futimens(fd, times);
    fchmod(fd, mode_t(e.mode));
  }
  // Some file systems report a failed write only when the file is closed.
  if (close(fd) != 0 && result == 0) {
    result = -1;
    write_error = errno;
  }
  if (result != 0) {
    unlinkat(x->dir_fd, written_name, 0);
    return fail_errno(f, "Error saving data", "(err=1).", write_error);
  }

  // The old copy in the file's own place goes with the stale ones; the
  // rename is onto a name that is free again, unless something the sweep
  // leaves (a directory, or a file this run wrote before) still holds it.
  stale_index_sweep(&x->stale, base, x->root_fd);
  if (replacing && renameat(x->dir_fd, temp, x->dir_fd, file_name) != 0) {
    int rename_error = errno;
    unlinkat(x->dir_fd, temp, 0);
    // A directory in the way: reported as opening it for writing would be.
    if (rename_error == ENOTEMPTY || rename_error == EEXIST) rename_error = EISDIR;
    return fail_errno(f, "Can't create file", "(err=5).", rename_error);
  }
  return 0;
}
