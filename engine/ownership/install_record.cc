#include "engine/ownership/install_record.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/filesystem/temporary_files.h"
#include "engine/filesystem/stage_directory.h"

namespace {

constexpr char LIST_HEADER[] = "zolt-setup installation record 2\n";
constexpr size_t LIST_HEADER_SIZE = sizeof LIST_HEADER - 1;
constexpr const char* TEMP_PREFIX = INSTALL_RECORD_TEMPORARY_PREFIX;
// Paths alone, as installers before identities were kept wrote them.
constexpr char LIST_HEADER_V1[] = "zolt-setup installation record 1\n";
constexpr size_t LIST_HEADER_V1_SIZE = sizeof LIST_HEADER_V1 - 1;
constexpr size_t PRODUCT_MAX = 64;  // a header text field
constexpr char SIGNER_LINE[] = "signer\t";
constexpr size_t SIGNER_LINE_SIZE = sizeof SIGNER_LINE - 1;
// Every byte of the product name escaped as %XX, and ".list".
static_assert(PRODUCT_MAX * 3 + 5 < sizeof(InstallRecord::list_name));

// Letters, digits, '-' and '_' stand for themselves, every other byte is %XX
// (so no two products share a list); an empty name is "%".
void list_name_for(const char* product, char* out) {
  static const char HEX[] = "0123456789abcdef";
  size_t n = 0;
  for (size_t i = 0; i < PRODUCT_MAX && product[i]; i++) {
    unsigned char c = static_cast<unsigned char>(product[i]);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_') {
      out[n++] = char(c);
    } else {
      out[n++] = '%';
      out[n++] = HEX[c >> 4];
      out[n++] = HEX[c & 15];
    }
  }
  if (n == 0) out[n++] = '%';
  memcpy(out + n, ".list", 6);
}

// No other run holds the lock, so every temporary there is a killed run's.
void remove_temporaries(int root_fd) {
  remove_temporaries_at(openat(root_fd, INSTALL_RECORD_DIRECTORY, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC),
                        TEMP_PREFIX, 1);
}

// A record larger than this is not one an installer wrote: no product
// lists millions of files. It is then ignored, which only spares files.
constexpr off_t LIST_MAX = off_t(1) << 28;
// One path and its identity: a line of the list is never longer.
constexpr size_t LINE_MAX_BYTES = SYSTEM_PATH_SIZE + IDENTITY_TEXT_MAX + 2;

// As with a package database, a record vouches for files only where nobody
// but this user and root could have put it there: else another user could
// have it name a file of theirs to remove. A directory that anyone may
// write but whose sticky bit keeps them from renaming others' entries is
// safe on the way.
bool trusted_object(const struct stat& st) {
  if (st.st_uid != geteuid() && st.st_uid != 0) return false;
  return (st.st_mode & (S_IWGRP | S_IWOTH)) == 0 || (S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0);
}

// A configuration file's mark: a line of its own behind the identities,
// which readers that know no marks leave out as a line that does not parse.
constexpr char CONFIG_MARK[] = "config";
constexpr size_t CONFIG_MARK_SIZE = sizeof CONFIG_MARK - 1;

// Adds one line of the list: a path alone (the first format), or an
// identity (or a mark), a tab and the path. A line that does not parse is
// left out.
int add_line(OwnedIndex* index, const char* line, size_t length, int format) {
  if (format == 1) return owned_index_add(index, line, length, PATH_RECORDED, nullptr) == 0 ? 0 : -1;
  const char* tab = static_cast<const char*>(memchr(line, '\t', length));
  if (!tab) return 0;
  size_t path = size_t(tab + 1 - line);
  if (size_t(tab - line) == CONFIG_MARK_SIZE && memcmp(line, CONFIG_MARK, CONFIG_MARK_SIZE) == 0) {
    owned_index_mark(index, line + path, length - path, MARK_CONFIG_RECORDED);
    return 0;
  }
  InstalledIdentity id;
  if (identity_parse(line, size_t(tab - line), &id) != 0) return 0;
  return owned_index_add(index, line + path, length - path, PATH_RECORDED, &id) == 0 ? 0 : -1;
}

int read_list(InstallRecord* r, OwnedIndex* index) {
  // A FIFO or device put in the list's place must not block the run, nor a
  // link lead it to read elsewhere.
  int fd = openat(r->dir_fd, r->list_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return FAILURE_NONE;  // no earlier installation: nothing is swept
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > LIST_MAX) {
    close(fd);
    return FAILURE_NONE;
  }
  if (!trusted_object(st)) {
    close(fd);
    r->untrusted = 1;
    return FAILURE_NONE;
  }
  char* buffer = static_cast<char*>(malloc(LINE_MAX_BYTES + 65536));
  if (!buffer) {
    close(fd);
    return FAILURE_NO_MEMORY;
  }
  size_t used = 0;
  int format = 0;
  bool found = false;
  int result = FAILURE_NONE;
  bool end = false;
  while (!end && result == FAILURE_NONE) {
    ssize_t n = read(fd, buffer + used, LINE_MAX_BYTES + 65536 - used);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) end = true;
    else used += size_t(n);
    size_t at = 0;
    if (format == 0) {
      // The first line decides, before anything else is looked at.
      if (used < LIST_HEADER_SIZE && !end) continue;
      if (used >= LIST_HEADER_SIZE && memcmp(buffer, LIST_HEADER, LIST_HEADER_SIZE) == 0) format = 2;
      else if (used >= LIST_HEADER_V1_SIZE && memcmp(buffer, LIST_HEADER_V1, LIST_HEADER_V1_SIZE) == 0) format = 1;
      else break;  // a list that is not ours is ignored: lacking it only spares files
      at = format == 2 ? LIST_HEADER_SIZE : LIST_HEADER_V1_SIZE;
      found = true;
    }
    for (;;) {
      const char* nul = static_cast<const char*>(memchr(buffer + at, 0, used - at));
      if (!nul) break;  // a line cut short at the end is left out
      size_t length = size_t(nul - (buffer + at));
      const char* line = buffer + at;
      if (format == 2 && length > SIGNER_LINE_SIZE && memcmp(line, SIGNER_LINE, SIGNER_LINE_SIZE) == 0) {
        r->signed_by = signer_key_from_hex(line + SIGNER_LINE_SIZE, length - SIGNER_LINE_SIZE, &r->signer) == 0;
      } else if (add_line(index, line, length, format) != 0) {
        result = FAILURE_NO_MEMORY;
        break;
      }
      at += length + 1;
    }
    memmove(buffer, buffer + at, used - at);
    used -= at;
    if (used == LINE_MAX_BYTES + 65536) break;  // a line longer than any path: not a list of ours
  }
  free(buffer);
  close(fd);
  r->found = found;
  return result;
}

struct ListWriter {
  int fd;
  char buffer[8192];
  size_t used;
  int failed;
};

int flush(ListWriter* w) {
  for (size_t done = 0; done < w->used;) {
    ssize_t n = write(w->fd, w->buffer + done, w->used - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return -1;
    }
    done += size_t(n);
  }
  w->used = 0;
  return 0;
}

int append(ListWriter* w, const char* bytes, size_t n) {
  while (n > 0) {
    if (w->used == sizeof w->buffer && flush(w) != 0) return -1;
    size_t k = sizeof w->buffer - w->used < n ? sizeof w->buffer - w->used : n;
    memcpy(w->buffer + w->used, bytes, k);
    w->used += k;
    bytes += k;
    n -= k;
  }
  return 0;
}

int append_path(void* context, const char* path, const InstalledIdentity& id) {
  ListWriter* w = static_cast<ListWriter*>(context);
  char text[IDENTITY_TEXT_MAX + 1];
  size_t n = identity_format(id, text);
  text[n++] = '\t';
  if (append(w, text, n) != 0) return -1;
  return append(w, path, strlen(path) + 1);
}

int append_config_mark(void* context, const char* path) {
  ListWriter* w = static_cast<ListWriter*>(context);
  if (append(w, CONFIG_MARK, CONFIG_MARK_SIZE) != 0 || append(w, "\t", 1) != 0) return -1;
  return append(w, path, strlen(path) + 1);
}

// Where the directory takes no new names, or its record is another user's,
// the installation goes on without one.
int unavailable_or_failed(InstallRecord* r, EngineFailure* f) {
  int error = errno;
  if (error != EACCES && error != EPERM && error != EROFS) return fail_with(f, FAILURE_OPEN_RECORD, error);
  if (r->dir_fd >= 0) close(r->dir_fd);
  r->dir_fd = -1;
  r->unavailable_error = error;
  return 0;
}

// The run goes on as where no record can be kept; the lock goes with it, as
// it lies in a directory that is not the installer's alone.
int untrusted(InstallRecord* r) {
  install_record_close(r);
  r->untrusted = 1;
  r->unavailable_error = EPERM;
  return 0;
}

}  // namespace

int install_record_open(InstallRecord* r, int root_fd, const char* product, OwnedIndex* index, EngineFailure* f) {
  r->dir_fd = r->lock_fd = -1;
  r->found = 0;
  r->unavailable_error = 0;
  r->untrusted = 0;
  r->signed_by = 0;
  list_name_for(product, r->list_name);
  struct stat st;
  if (fstat(root_fd, &st) != 0) return fail_with(f, FAILURE_OPEN_RECORD, errno);
  if (!trusted_object(st)) return untrusted(r);
  if (mkdirat(root_fd, INSTALL_RECORD_DIRECTORY, 0755) != 0 && errno != EEXIST) return unavailable_or_failed(r, f);
  r->dir_fd = openat(root_fd, INSTALL_RECORD_DIRECTORY, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (r->dir_fd < 0) return fail_with(f, FAILURE_OPEN_RECORD, errno);
  if (fstat(r->dir_fd, &st) != 0) return fail_with(f, FAILURE_OPEN_RECORD, errno);
  if (!trusted_object(st)) return untrusted(r);
  r->lock_fd = openat(r->dir_fd, "lock", O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (r->lock_fd < 0) return unavailable_or_failed(r, f);
  if (flock(r->lock_fd, LOCK_EX | LOCK_NB) != 0)
    return errno == EWOULDBLOCK ? fail_with(f, FAILURE_BUSY) : fail_with(f, FAILURE_OPEN_RECORD, errno);
  remove_temporaries(root_fd);
  stage_remove(r->dir_fd);
  int code = read_list(r, index);
  if (code != FAILURE_NONE) return fail_with(f, code);
  return r->untrusted ? untrusted(r) : 0;
}

int install_record_inspect(InstallRecord* r, int root_fd, const char* product, OwnedIndex* index, EngineFailure* f) {
  r->dir_fd = r->lock_fd = -1;
  r->found = r->unavailable_error = r->untrusted = 0;
  list_name_for(product, r->list_name);
  struct stat st;
  if (fstat(root_fd, &st) != 0) return fail_with(f, FAILURE_OPEN_RECORD, errno);
  if (!trusted_object(st)) return untrusted(r);
  int dir = openat(root_fd, INSTALL_RECORD_DIRECTORY, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir < 0) return errno == ENOENT || errno == ENOTDIR || errno == ELOOP ? 0 : fail_with(f, FAILURE_OPEN_RECORD, errno);
  r->dir_fd = dir;
  if (fstat(dir, &st) != 0) {
    install_record_close(r);
    return fail_with(f, FAILURE_OPEN_RECORD, errno);
  }
  if (!trusted_object(st)) return untrusted(r);
  r->lock_fd = openat(dir, "lock", O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (r->lock_fd >= 0 && flock(r->lock_fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    install_record_close(r);
    return fail_with(f, FAILURE_BUSY);
  }
  int code = read_list(r, index);
  // The record directory is not held open: nothing is written through it.
  int lock = r->lock_fd;
  r->lock_fd = -1;
  install_record_close(r);
  r->lock_fd = lock;
  if (code != FAILURE_NONE) {
    install_record_close(r);
    return fail_with(f, code);
  }
  return r->untrusted ? untrusted(r) : 0;
}

int install_record_temporary(InstallRecord* r, char* name) {
  return create_temporary(r->dir_fd, TEMP_PREFIX, 0666, name);
}

int install_record_write(InstallRecord* r, const OwnedIndex* index, bool intent) {
  if (r->dir_fd < 0) return 0;
  char temp[TEMPORARY_NAME_SIZE];
  ListWriter w;
  w.fd = install_record_temporary(r, temp);
  if (w.fd < 0) return -1;
  w.used = 0;
  // Whatever the umask: a list that a group could write is not trusted.
  int result = fchmod(w.fd, 0644);
  if (result == 0) result = append(&w, LIST_HEADER, LIST_HEADER_SIZE);
  if (result == 0 && r->signed_by) {
    char line[SIGNER_LINE_SIZE + SIGNER_HEX_SIZE];
    memcpy(line, SIGNER_LINE, SIGNER_LINE_SIZE);
    signer_key_hex(r->signer, line + SIGNER_LINE_SIZE);
    result = append(&w, line, sizeof line);
  }
  if (result == 0) result = owned_index_each_recorded(index, intent, append_path, &w);
  if (result == 0) result = owned_index_each_config(index, intent, append_config_mark, &w);
  if (result == 0) result = flush(&w);
  // The list must be whole on disk before it takes the old one's name.
  if (result == 0) result = fsync(w.fd);
  int saved = errno;
  if (close(w.fd) != 0 && result == 0) {
    result = -1;
    saved = errno;
  }
  if (result == 0 && renameat(r->dir_fd, temp, r->dir_fd, r->list_name) != 0) {
    result = -1;
    saved = errno;
  }
  if (result != 0) {
    unlinkat(r->dir_fd, temp, 0);
    errno = saved;
  }
  return result;
}

uint64_t install_record_size(int root_fd, const char* product, bool* directory_exists) {
  char name[sizeof(InstallRecord::list_name)];
  list_name_for(product, name);
  struct stat st;
  *directory_exists = fstatat(root_fd, INSTALL_RECORD_DIRECTORY, &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (!*directory_exists) return LIST_HEADER_SIZE;
  char path[SYSTEM_PATH_SIZE];
  snprintf(path, sizeof path, "%s/%s", INSTALL_RECORD_DIRECTORY, name);
  if (fstatat(root_fd, path, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) return LIST_HEADER_SIZE;
  return uint64_t(st.st_size) + LIST_HEADER_SIZE;
}

size_t install_record_line_size(const char* path) { return IDENTITY_TEXT_MAX + 2 + strlen(path); }

void install_record_close(InstallRecord* r) {
  if (r->lock_fd >= 0) close(r->lock_fd);
  if (r->dir_fd >= 0) close(r->dir_fd);
  r->dir_fd = r->lock_fd = -1;
}

int install_record_remove(InstallRecord* r, int root_fd) {
  if (unlinkat(r->dir_fd, r->list_name, 0) != 0 && errno != ENOENT) return -1;
  int fd = openat(root_fd, INSTALL_RECORD_DIRECTORY, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return 0;
  DIR* dir = fdopendir(fd);
  if (!dir) {
    close(fd);
    return 0;
  }
  bool others = false;
  while (dirent* d = readdir(dir))
    others |= strcmp(d->d_name, ".") != 0 && strcmp(d->d_name, "..") != 0 && strcmp(d->d_name, "lock") != 0;
  closedir(dir);
  // An installer that comes meanwhile finds the lock held and stops, or
  // makes the directory anew, which then is not empty and stays.
  if (!others && unlinkat(r->dir_fd, "lock", 0) == 0) unlinkat(root_fd, INSTALL_RECORD_DIRECTORY, AT_REMOVEDIR);
  return 0;
}
