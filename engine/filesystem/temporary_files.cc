#include "engine/filesystem/temporary_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>  // renameat
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/filesystem/directory_below.h"

namespace {

constexpr char NOTE_NAME[] = "elsewhere";
constexpr int CREATE_ATTEMPTS = 100;
static_assert(TEMPORARY_RANDOM_DIGITS == 2 * sizeof(uint64_t));

uint64_t mix(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

uint64_t rotate(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

void sip_round(uint64_t v[4]) {
  v[0] += v[1], v[1] = rotate(v[1], 13), v[1] ^= v[0], v[0] = rotate(v[0], 32);
  v[2] += v[3], v[3] = rotate(v[3], 16), v[3] ^= v[2];
  v[0] += v[3], v[3] = rotate(v[3], 21), v[3] ^= v[0];
  v[2] += v[1], v[1] = rotate(v[1], 17), v[1] ^= v[2], v[2] = rotate(v[2], 32);
}

// SipHash-2-4 of one 64-bit word: a keyed function whose outputs tell
// nothing of the key, so that the names seen so far do not give away the
// next one.
uint64_t sip_hash(const uint64_t key[2], uint64_t word) {
  uint64_t v[4] = {key[0] ^ 0x736f6d6570736575ull, key[1] ^ 0x646f72616e646f6dull, key[0] ^ 0x6c7967656e657261ull,
                   key[1] ^ 0x7465646279746573ull};
  v[3] ^= word;
  sip_round(v), sip_round(v);
  v[0] ^= word;
  const uint64_t last = uint64_t(8) << 56;
  v[3] ^= last;
  sip_round(v), sip_round(v);
  v[0] ^= last;
  v[2] ^= 0xff;
  for (int i = 0; i < 4; i++) sip_round(v);
  return v[0] ^ v[1] ^ v[2] ^ v[3];
}

// The kernel's random bits are asked for once, as the key of a sequence:
// a system call per file cost more than writing a small file. Should they
// be unavailable (an old kernel, a seccomp filter), the clock and the
// process, mixed: unique still, and O_EXCL keeps a guessed name harmless.
uint64_t random_bits() {
  static uint64_t key[2];
  static uint64_t counter;
  static bool keyed;
  if (!keyed) {
    keyed = true;
#ifdef SYS_getrandom
    if (syscall(SYS_getrandom, key, sizeof key, 0) != long(sizeof key))
#endif
    {
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC, &now);
      key[0] = mix(uint64_t(now.tv_nsec) ^ (uint64_t(now.tv_sec) << 32));
      key[1] = mix(key[0] ^ uint64_t(getpid()));
    }
  }
  return sip_hash(key, ++counter);
}

}  // namespace

int create_temporary(int dir_fd, const char* prefix, mode_t mode, char* name) {
  static const char HEX[] = "0123456789abcdef";
  size_t n = strlen(prefix);
  if (n + TEMPORARY_RANDOM_DIGITS >= TEMPORARY_NAME_SIZE) {
    errno = ENAMETOOLONG;
    return -1;
  }
  memcpy(name, prefix, n);
  for (int attempt = 0; attempt < CREATE_ATTEMPTS; attempt++) {
    uint64_t bits = random_bits();
    for (size_t i = 0; i < TEMPORARY_RANDOM_DIGITS; i++) name[n + i] = HEX[(bits >> (4 * i)) & 15];
    name[n + TEMPORARY_RANDOM_DIGITS] = 0;
    int fd = openat(dir_fd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

int rename_without_replacing(int from_dir, const char* from, int to_dir, const char* to) {
  constexpr unsigned NO_REPLACE = 1;  // RENAME_NOREPLACE, which not every C library names
  if (syscall(SYS_renameat2, from_dir, from, to_dir, to, NO_REPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  struct stat st;
  if (fstatat(to_dir, to, &st, AT_SYMLINK_NOFOLLOW) == 0) {
    errno = EEXIST;
    return -1;
  }
  return renameat(from_dir, from, to_dir, to);
}

int is_temporary_name(const char* name, const char* prefix) {
  size_t n = strlen(prefix);
  if (strncmp(name, prefix, n) != 0 || strlen(name) != n + TEMPORARY_RANDOM_DIGITS) return 0;
  for (const char* p = name + n; *p; p++)
    if (!((*p >= '0' && *p <= '9') || (*p >= 'a' && *p <= 'f'))) return 0;
  return 1;
}

int note_temporary_directory(int record_dir, const char* path, size_t length) {
  int fd = openat(record_dir, NOTE_NAME, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  char line[PATH_MAX + 1];
  if (length >= sizeof line) length = sizeof line - 1;
  memcpy(line, path, length);
  line[length] = 0;
  // One write per path: O_APPEND keeps a note whole even when cut short
  // between notes.
  ssize_t n = write(fd, line, length + 1);
  int error = errno;
  close(fd);
  if (n == ssize_t(length + 1)) return 0;
  errno = n < 0 ? error : ENOSPC;
  return -1;
}

namespace {

void remove_temporaries_in(int root_fd, const char* path, size_t length) {
  int at = open_directory_below(root_fd, path, length, BELOW_LINKS, nullptr);
  if (at < 0) return;
  int fd = openat(at, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  close(at);
  remove_temporaries_at(fd, TEMPORARY_BESIDE_PREFIX, 0);
}

}  // namespace

void remove_temporaries_at(int fd, const char* prefix, int any_suffix) {
  if (fd < 0) return;
  DIR* dir = fdopendir(fd);
  if (!dir) {
    close(fd);
    return;
  }
  size_t n = strlen(prefix);
  while (dirent* d = readdir(dir))
    if (any_suffix ? strncmp(d->d_name, prefix, n) == 0 : is_temporary_name(d->d_name, prefix))
      unlinkat(fd, d->d_name, 0);
  closedir(dir);
}

void remove_noted_temporaries(int record_dir, int root_fd) {
  int fd = openat(record_dir, NOTE_NAME, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return;
  }
  // Read piece by piece: whatever its size, the note costs a page of memory.
  char buffer[PATH_MAX + 1];
  size_t used = 0;
  for (;;) {
    ssize_t n = read(fd, buffer + used, sizeof buffer - used);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    used += size_t(n);
    size_t start = 0;
    for (const char* end; (end = static_cast<const char*>(memchr(buffer + start, 0, used - start)));) {
      remove_temporaries_in(root_fd, buffer + start, size_t(end - (buffer + start)));
      start = size_t(end - buffer) + 1;
    }
    // A path longer than any the run could note is not ours: skipped whole.
    if (start == 0 && used == sizeof buffer) used = 0;
    memmove(buffer, buffer + start, used - start);
    used -= start;
  }
  close(fd);
  forget_temporary_directories(record_dir);
}

void forget_temporary_directories(int record_dir) { unlinkat(record_dir, NOTE_NAME, 0); }
