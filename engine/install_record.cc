#include "engine/install_record.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/temporary_files.h"

namespace {

constexpr char LIST_HEADER[] = "zolt-setup installation record 1\n";
constexpr size_t LIST_HEADER_SIZE = sizeof LIST_HEADER - 1;
constexpr const char* TEMP_PREFIX = INSTALL_RECORD_TEMPORARY_PREFIX;
constexpr size_t PRODUCT_MAX = 64;  // a header text field
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
  int fd = openat(root_fd, INSTALL_RECORD_DIRECTORY, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  DIR* dir = fdopendir(fd);
  if (!dir) {
    close(fd);
    return;
  }
  while (dirent* d = readdir(dir))
    if (strncmp(d->d_name, TEMP_PREFIX, strlen(TEMP_PREFIX)) == 0) unlinkat(fd, d->d_name, 0);
  closedir(dir);
}

int read_list(const InstallRecord* r, StaleIndex* index) {
  int fd = openat(r->dir_fd, r->list_name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return RECORD_OK;  // no earlier installation: nothing is swept
  struct stat st;
  char* data = nullptr;
  size_t size = 0;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    size = size_t(st.st_size);
    data = static_cast<char*>(malloc(size));
    if (!data) {
      close(fd);
      return RECORD_NO_MEMORY;
    }
    size_t got = 0;
    while (got < size) {
      ssize_t n = read(fd, data + got, size - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += size_t(n);
    }
    size = got;
  }
  close(fd);
  int result = RECORD_OK;
  // A list that is not ours is ignored: lacking it only spares files.
  if (size >= LIST_HEADER_SIZE && memcmp(data, LIST_HEADER, LIST_HEADER_SIZE) == 0) {
    for (size_t i = LIST_HEADER_SIZE; i < size;) {
      const char* end = static_cast<const char*>(memchr(data + i, 0, size - i));
      if (!end) break;  // a path cut short is left out
      size_t length = size_t(end - (data + i));
      if (stale_index_add(index, data + i, length, STALE_RECORDED) != 0) {
        result = RECORD_NO_MEMORY;
        break;
      }
      i += length + 1;
    }
  }
  free(data);
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

int append_path(void* context, const char* path) {
  ListWriter* w = static_cast<ListWriter*>(context);
  return append(w, path, strlen(path) + 1);
}

}  // namespace

int install_record_open(InstallRecord* r, int root_fd, const char* product, StaleIndex* index) {
  r->dir_fd = r->lock_fd = -1;
  list_name_for(product, r->list_name);
  if (mkdirat(root_fd, INSTALL_RECORD_DIRECTORY, 0755) != 0 && errno != EEXIST) return RECORD_SYSTEM;
  r->dir_fd = openat(root_fd, INSTALL_RECORD_DIRECTORY, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (r->dir_fd < 0) return RECORD_SYSTEM;
  r->lock_fd = openat(r->dir_fd, "lock", O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (r->lock_fd < 0) return RECORD_SYSTEM;
  if (flock(r->lock_fd, LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK ? RECORD_BUSY : RECORD_SYSTEM;
  remove_temporaries(root_fd);
  return read_list(r, index);
}

int install_record_temporary(InstallRecord* r, char* name) {
  return create_temporary(r->dir_fd, TEMP_PREFIX, 0666, name);
}

int install_record_write(InstallRecord* r, const StaleIndex* index) {
  if (r->dir_fd < 0) return 0;
  char temp[TEMPORARY_NAME_SIZE];
  ListWriter w;
  w.fd = install_record_temporary(r, temp);
  if (w.fd < 0) return -1;
  w.used = 0;
  int result = append(&w, LIST_HEADER, LIST_HEADER_SIZE);
  if (result == 0) result = stale_index_each_recorded(index, append_path, &w);
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

void install_record_close(InstallRecord* r) {
  if (r->lock_fd >= 0) close(r->lock_fd);
  if (r->dir_fd >= 0) close(r->dir_fd);
  r->dir_fd = r->lock_fd = -1;
}
