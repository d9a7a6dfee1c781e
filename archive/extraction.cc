#include "archive/extraction.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int path_is_directory(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0) return -1;
  return S_ISDIR(st.st_mode) ? 1 : 0;
}

char* join(const char* a, const char* separator, const char* b) {
  size_t la = strlen(a), ls = strlen(separator), lb = strlen(b);
  char* p = static_cast<char*>(malloc(la + ls + lb + 1));
  if (!p) return nullptr;
  memcpy(p, a, la);
  memcpy(p + la, separator, ls);
  memcpy(p + la + ls, b, lb + 1);
  return p;
}

// Cuts `path` in place to its directory part: at a final separator only that
// character goes; otherwise everything from the last separator at index 1 or
// later; a path without one keeps its first character.
void cut_to_directory(char* path) {
  size_t n = strlen(path);
  if (n < 2) return;
  if (path[n - 1] == '/' || path[n - 1] == '\\') {
    path[n - 1] = 0;
    return;
  }
  size_t i = n - 1;
  while (i >= 1 && path[i] != '/' && path[i] != '\\') path[i--] = 0;
  if (i >= 1) path[i] = 0;
}

int fail(ExtractFailure* f, const char* message, const char* detail = nullptr, int error_number = 0,
         int with_error_number = 0) {
  *f = ExtractFailure{message, detail, error_number, with_error_number};
  return -1;
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
  return stale_index_build(&x->stale, install_dir);
}

void extraction_end(Extraction* x) { stale_index_release(&x->stale); }

int extract_entry(Extraction* x, const Entry& e, ExtractFailure* f) {
  const char* work = x->install_dir;
  if (*e.name) stale_index_sweep(&x->stale, entry_base_name(e.name));

  char* entry_path = join(work, ends_with_slash(work) ? "" : "/", e.name);
  if (!entry_path) return fail(f, "Memory allocation error (err=4).");
  if (e.type == ENTRY_DELETE) {
    remove(entry_path);
    rmdir(entry_path);
    free(entry_path);
    return 0;
  }

  cut_to_directory(entry_path);
  errno = 0;
  int made = make_directories(entry_path, &x->stale);
  int mkdir_error = errno;
  free(entry_path);
  if (!made) return fail(f, "Can't create directory", "(err=4).", mkdir_error, 1);

  // Joined as above, so that the file lands in the directories just made. A
  // backslash is an ordinary character of a Linux name: taking one at the end
  // of the installation directory as a separator would put the file beside
  // that directory instead of inside it.
  bool separated = !*work || ends_with_slash(work);
  char* file_path = join(work, separated ? "" : "/", e.name);
  if (!file_path) return fail(f, "Insufficient memory (err=4).");

  // Created or truncated as by fopen "wb". O_NONBLOCK, which regular files
  // ignore, keeps a FIFO that the sweep could not remove from the entry's
  // place (below a directory of the entry's own name) from holding the open
  // until a reader comes: it fails with ENXIO instead.
  errno = 0;
  int fd = open(file_path, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK, 0666);
  FILE* out = fd >= 0 ? fdopen(fd, "wb") : nullptr;
  if (!out) {
    int open_error = errno;
    if (fd >= 0) close(fd);
    free(file_path);
    return fail(f, "Can't create file", "(err=5).", open_error, 1);
  }
  if (stale_index_mark_made(&x->stale, file_path) != 0) {
    fclose(out);
    free(file_path);
    return fail(f, "Memory allocation error (err=3).");
  }
  size_t written = e.file_size ? fwrite(e.data, 1, e.file_size, out) : 0;
  // A write error can also surface only when the buffer is flushed.
  int write_error = errno;
  if (written == e.file_size && fflush(out) != 0) {
    written = 0;
    write_error = errno;
  }
  fclose(out);
  if (written != e.file_size) {
    free(file_path);
    return fail(f, "Error saving data", "(err=1).", write_error, 1);
  }
  if (e.mod_time != 0) {
    utimbuf times{e.mod_time, e.mod_time};
    utime(file_path, &times);
    chmod(file_path, e.mode);
  }
  free(file_path);
  return 0;
}
