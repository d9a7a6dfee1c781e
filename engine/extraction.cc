#include "engine/extraction.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive/attachment_reader.h"
#include "engine/directory_below.h"

static_assert(EXTRACTION_PATH_SIZE == PATH_MAX, "a path that fits the buffer is one the system can name");

namespace {

constexpr unsigned EXCHANGE = 1u << 1;  // RENAME_EXCHANGE, which musl's headers may lack
constexpr unsigned long EXT_SUPER_MAGIC = 0xEF53;  // ext2, ext3 and ext4 alike

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

void forget_directory(Extraction* x) {
  if (x->dir_fd >= 0) close(x->dir_fd);
  x->dir_fd = -1;
  x->dir_writable = x->dir_same_device = -1;
}

// The descriptor of the directory below install_dir that the file of `name`
// goes into, made as needed with the directories the name asks for.
int open_file_directory(Extraction* x, const char* name, ExtractFailure* f) {
  size_t make = directory_part(name), parent = parent_part(name);
  if (x->dir_fd >= 0 && make == parent && strlen(x->dir_path) == parent && memcmp(x->dir_path, name, parent) == 0)
    return 0;
  forget_directory(x);
  const int flags = BELOW_CREATE | BELOW_LINKS;
  int fd = open_directory_below(x->root_fd, name, make, flags, &x->stale);
  if (fd >= 0 && parent != make) {
    close(fd);
    fd = open_directory_below(x->root_fd, name, parent, flags, &x->stale);
  }
  if (fd < 0) return fail_errno(f, "Can't create directory", "(err=4).", errno);
  x->dir_fd = fd;
  memcpy(x->dir_path, name, parent);
  x->dir_path[parent] = 0;
  return 0;
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

// The file of the entry in hand while its data arrives: a write that fails
// is kept and reported once the data has been checked, since damaged data is
// reported first, as when the file was written only after its check.
struct FileOutput {
  int fd;
  int failed;
  ExtractFailure failure;
};

int output_slice(void* context, const uint8_t* data, uint32_t size) {
  FileOutput* out = static_cast<FileOutput*>(context);
  if (write_all(out->fd, data, size) == 0) return 0;
  fail_errno(&out->failure, "Error saving data", "(err=1).", errno);
  out->failed = 1;
  return -1;
}

// The times and the mode, then the close; a failed close is the write's
// error.
int finish_file(int fd, const Entry& e, ExtractFailure* f) {
  if (e.mod_time != 0) {
    const timespec times[2] = {{e.mod_time, 0}, {e.mod_time, 0}};
    futimens(fd, times);
    fchmod(fd, mode_t(e.mode));
  }
  // Some file systems report a failed write only when the file is closed.
  if (close(fd) != 0) return fail_errno(f, "Error saving data", "(err=1).", errno);
  return 0;
}

// The new file takes the name in one step. With `exchange`, an existing
// object is exchanged with it and then removed, and a directory exchanged by
// a race goes back; else it is renamed over whatever is there, which a
// directory refuses.
int take_name(int from_dir, const char* temp, int to_dir, const char* name, int exchange) {
#ifdef SYS_renameat2
  if (exchange && syscall(SYS_renameat2, from_dir, temp, to_dir, name, EXCHANGE) == 0) {
    if (unlinkat(from_dir, temp, 0) == 0) return 0;
    syscall(SYS_renameat2, from_dir, temp, to_dir, name, EXCHANGE);
    errno = EISDIR;
    return -1;
  }
  // Nothing there yet (ENOENT), or a file system that cannot exchange.
  if (exchange && errno != ENOENT && errno != EINVAL && errno != ENOSYS) return -1;
#endif
  return renameat(from_dir, temp, to_dir, name);
}

int delete_entry(Extraction* x, const Entry& e) {
  forget_directory(x);  // whatever goes may be the cached directory
  size_t length = strlen(e.name);
  size_t dir_length = strlen(x->install_dir);
  if (dir_length + 1 + length >= EXTRACTION_PATH_SIZE) return 0;
  if (length == 0) {
    // The entry path is the installation directory itself, as chosen; it
    // holds the record, so it is never empty.
    char path[EXTRACTION_PATH_SIZE];
    snprintf(path, sizeof path, "%s%s", x->install_dir, ends_with_slash(x->install_dir) ? "" : "/");
    rmdir(path);
    return 0;
  }
  bool only_directory = e.name[length - 1] == '/';
  size_t end = length;
  while (end > 0 && e.name[end - 1] == '/') end--;
  size_t parent = end;
  while (parent > 0 && e.name[parent - 1] != '/') parent--;
  char base[EXTRACTION_PATH_SIZE];
  memcpy(base, e.name + parent, end - parent);
  base[end - parent] = 0;
  int dir = open_directory_below(x->root_fd, e.name, parent, 0, nullptr);
  if (dir < 0) return 0;
  if (*base && strcmp(base, ".") != 0 && strcmp(base, "..") != 0) {
    struct stat st;
    if (fstatat(dir, base, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      stale_index_forget(&x->stale, e.name, length);
    } else if (S_ISDIR(st.st_mode) ? unlinkat(dir, base, AT_REMOVEDIR) == 0
                                   : !only_directory && unlinkat(dir, base, 0) == 0) {
      stale_index_forget(&x->stale, e.name, length);
    }
  }
  close(dir);
  return 0;
}

// The record lists the file once it holds its name.
int written(Extraction* x, const Entry& e, ExtractFailure* f) {
  if (stale_index_add(&x->stale, e.name, strlen(e.name), STALE_WRITTEN) != 0)
    return fail(f, "Memory allocation error (err=3).");
  return 0;
}

}  // namespace

int ends_with_slash(const char* text) {
  size_t n = strlen(text);
  return n > 0 && text[n - 1] == '/';
}

int make_directories(char* path) {
  if (!path || !*path) return 1;
  char* p = path + (path[0] == '/');
  for (;; p++) {
    if (*p != '/' && *p != 0) continue;
    char saved = *p;
    *p = 0;
    if (path_is_directory(path) != 1 && mkdir(path, 0755) != 0) return 0;
    *p = saved;
    if (saved == 0 || p[1] == 0) return 1;
  }
}

int extraction_prepare(Extraction* x, const char* install_dir) {
  memset(x, 0, sizeof *x);
  x->install_dir = install_dir;
  x->root_fd = x->dir_fd = x->record.dir_fd = x->record.lock_fd = -1;
  x->dir_writable = x->dir_same_device = -1;
  stale_index_init(&x->stale);
  return 0;
}

int extraction_expect(Extraction* x, const Entry& e) {
  if (e.type == ENTRY_DELETE) return 0;
  return stale_index_add(&x->stale, e.name, strlen(e.name), STALE_INSTALLS);
}

int extraction_begin(Extraction* x, const char* product, ExtractFailure* f) {
  // A file-size limit is then an error of the write, reported, with the old
  // file kept, rather than a signal that ends the run without a word.
  signal(SIGXFSZ, SIG_IGN);
  char path[EXTRACTION_PATH_SIZE];
  snprintf(path, sizeof path, "%s", x->install_dir);
  errno = 0;
  if (!make_directories(path)) return fail_errno(f, "Can't create directory", "(err=4).", errno);
  // The installation directory itself is the user's choice and is reached by
  // its path, links and all. An empty one stands for the working directory.
  x->root_fd = open(*x->install_dir ? x->install_dir : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (x->root_fd < 0) return fail_errno(f, "Can't create directory", "(err=4).", errno);
  int result = install_record_open(&x->record, x->root_fd, product, &x->stale);
  if (result == RECORD_BUSY) return fail(f, EXTRACTION_BUSY_MESSAGE);
  if (result == RECORD_NO_MEMORY) return fail(f, "Memory allocation error (err=3).");
  if (result != RECORD_OK) return fail_errno(f, "Can't create directory", "(err=4).", errno);
  struct stat st;
  if (fstat(x->record.dir_fd, &st) != 0) return fail_errno(f, "Can't create directory", "(err=4).", errno);
  x->record_device = st.st_dev;
  // ext2/3/4 write a file out at once when a rename replaces another; an
  // exchange and an unlink spare that. Elsewhere (tmpfs measured) the one
  // rename is cheaper.
  struct statfs fs;
  x->exchange_pays = fstatfs(x->record.dir_fd, &fs) != 0 || fs.f_type == EXT_SUPER_MAGIC;
  x->begun = 1;
  return 0;
}

void extraction_end(Extraction* x) {
  // Failing to write the record loses nothing: the old one stays, and what
  // it does not list is merely not swept later.
  if (x->begun) install_record_write(&x->record, &x->stale);
  install_record_close(&x->record);
  forget_directory(x);
  entry_streamer_close(&x->streamer);
  if (x->root_fd >= 0) close(x->root_fd);
  x->root_fd = -1;
  x->begun = 0;
  stale_index_release(&x->stale);
}

int extract_prepare(Extraction* x, const Entry& e, ExtractFailure* f) {
  const char* base = entry_base_name(e.name);
  if (*e.name) x->swept += stale_index_sweep(&x->stale, base, x->root_fd);
  if (e.type == ENTRY_DELETE) return delete_entry(x, e);

  // What the system could not name by path is refused as it would refuse it.
  size_t dir_length = strlen(x->install_dir) + (ends_with_slash(x->install_dir) ? 0 : 1);
  if (dir_length + directory_part(e.name) >= EXTRACTION_PATH_SIZE)
    return fail_errno(f, "Can't create directory", "(err=4).", ENAMETOOLONG);
  if (dir_length + strlen(e.name) >= EXTRACTION_PATH_SIZE)
    return fail_errno(f, "Can't create file", "(err=5).", ENAMETOOLONG);
  if (open_file_directory(x, e.name, f) != 0) return -1;

  const char* slash = strrchr(e.name, '/');
  x->file_name = slash ? slash + 1 : e.name;
  if (!*x->file_name || strcmp(x->file_name, ".") == 0) return fail_errno(f, "Can't create file", "(err=5).", EISDIR);
  // What opening the name for writing would meet is reported now, before the
  // data: a directory in the way, or a directory that takes no new name.
  x->in_place = 0;
  struct stat st;
  bool exists = fstatat(x->dir_fd, x->file_name, &st, AT_SYMLINK_NOFOLLOW) == 0;
  // A directory where an earlier installation left this file: the sweep's
  // rule decides whether it goes.
  if (exists && S_ISDIR(st.st_mode) && stale_index_sweep_path(&x->stale, e.name, base, x->root_fd) > 0) {
    x->swept++;
    exists = fstatat(x->dir_fd, x->file_name, &st, AT_SYMLINK_NOFOLLOW) == 0;
  }
  x->target_exists = exists;
  if (exists && S_ISDIR(st.st_mode)) return fail_errno(f, "Can't create file", "(err=5).", EISDIR);
  // Asked once per directory: the files of a tree come directory by directory.
  if (x->dir_writable < 0) {
    x->dir_writable = faccessat(x->dir_fd, ".", W_OK, AT_EACCESS) == 0;
    x->dir_access_error = errno;
  }
  if (!x->dir_writable) {
    int error = x->dir_access_error;
    if (!exists || !S_ISREG(st.st_mode) || faccessat(x->dir_fd, x->file_name, W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0)
      return fail_errno(f, "Can't create file", "(err=5).", error);
    x->in_place = 1;
  }
  return 0;
}

namespace {

// The file the data goes into: the entry's own file when it is written in
// place, else a new temporary whose name `temp` in `*temp_dir` learns.
int open_output(Extraction* x, int* temp_dir, char* temp, size_t temp_size, ExtractFailure* f) {
  *temp_dir = -1;
  int fd;
  if (x->in_place) {
    fd = openat(x->dir_fd, x->file_name, O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
  } else {
    // The temporary lies in the record directory, where the next run clears
    // what a killed one left, unless the file's directory is on another file
    // system; then it lies beside the file.
    *temp_dir = x->record.dir_fd;
    if (x->dir_same_device < 0) {
      struct stat st;
      x->dir_same_device = fstat(x->dir_fd, &st) == 0 && st.st_dev == x->record_device;
    }
    if (x->dir_same_device) {
      fd = install_record_temporary(&x->record, temp, temp_size);
    } else {
      *temp_dir = x->dir_fd;
      snprintf(temp, temp_size, ".zolt-setup-%ld-%u", x->record.pid, x->record.temp_serial++);
      fd = openat(*temp_dir, temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    }
    if (fd < 0) *temp_dir = -1;
  }
  if (fd < 0) return fail_errno(f, "Can't create file", "(err=5).", errno);
  struct stat st;
  if (fstat(fd, &st) != 0 || stale_index_mark_identity(&x->stale, st.st_dev, st.st_ino) != 0) {
    close(fd);
    if (*temp_dir >= 0) unlinkat(*temp_dir, temp, 0);
    *temp_dir = -1;
    return fail(f, "Memory allocation error (err=3).");
  }
  return fd;
}

// The data comes from `held` (file_size bytes, already checked) when it is
// not null, else it is decoded from attachment_file.
int write_entry(Extraction* x, const uint8_t* crc_table, const Entry& e, const uint8_t* held,
                const EntryProgress* progress, int* fault, ExtractFailure* f) {
  *fault = ENTRY_FAULT_NONE;
  if (e.type == ENTRY_DELETE) return 0;
  if (!held && !x->streamer.codec && (*fault = entry_streamer_open(&x->streamer)) != ENTRY_FAULT_NONE) return -1;
  if (x->in_place && !held) {
    // The old file is truncated only once the new data is known to be good:
    // it is decoded and checked once without a file, then again into it.
    *fault = stream_entry_data(crc_table, &x->streamer, &e, nullptr, progress);
    if (*fault == ENTRY_FAULT_NONE && fseek(attachment_file, -long(e.stored_size), SEEK_CUR) != 0)
      *fault = ENTRY_FAULT_STORED_SHORT;
    if (*fault != ENTRY_FAULT_NONE) return -1;
    progress = nullptr;
  }
  FileOutput out{};
  int temp_dir;
  char temp[64] = "";
  out.fd = open_output(x, &temp_dir, temp, sizeof temp, &out.failure);
  out.failed = out.fd < 0;
  const EntrySink sink{output_slice, &out};
  if (!held) *fault = stream_entry_data(crc_table, &x->streamer, &e, out.failed ? nullptr : &sink, progress);
  else if (!out.failed) output_slice(&out, held, e.file_size);
  int result = 0;
  if (*fault != ENTRY_FAULT_NONE) {
    result = -1;
  } else if (out.failed) {
    *f = out.failure;
    result = -1;
  }
  if (out.fd >= 0) {
    if (result == 0) result = finish_file(out.fd, e, f);
    else close(out.fd);
  }
  if (result == 0 && temp_dir >= 0 && take_name(temp_dir, temp, x->dir_fd, x->file_name, x->target_exists && x->exchange_pays) != 0) {
    int error = errno;
    // A directory in the way: reported as opening it for writing would be.
    if (error == ENOTEMPTY || error == EEXIST) error = EISDIR;
    result = fail_errno(f, "Can't create file", "(err=5).", error);
  }
  // Damaged data, or a file not written whole: the temporary goes, and the
  // name keeps what it held.
  if (result != 0) {
    if (temp_dir >= 0) unlinkat(temp_dir, temp, 0);
    return -1;
  }
  return written(x, e, f);
}

}  // namespace

int extract_write(Extraction* x, const uint8_t* crc_table, const Entry& e, const EntryProgress* progress, int* fault,
                  ExtractFailure* f) {
  return write_entry(x, crc_table, e, nullptr, progress, fault, f);
}

int extract_write_held(Extraction* x, const Entry& e, const uint8_t* data, ExtractFailure* f) {
  int fault;
  return write_entry(x, nullptr, e, data ? data : reinterpret_cast<const uint8_t*>(""), nullptr, &fault, f);
}
