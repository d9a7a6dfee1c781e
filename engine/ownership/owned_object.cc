#include "engine/ownership/owned_object.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "archive/crc16.h"

namespace {

constexpr char KIND_LETTER[] = "uoc";  // by IdentityKind

// One unsigned number of `base` up to the next blank or the end; false on
// anything else, or when it does not fit 64 bits.
bool parse_number(const char*& p, const char* end, unsigned base, uint64_t* value) {
  uint64_t v = 0;
  const char* start = p;
  for (; p < end && *p != ' '; p++) {
    unsigned digit = unsigned(*p - '0');
    if (digit >= base || v > (UINT64_MAX - digit) / base) return false;
    v = v * base + digit;
  }
  if (p == start) return false;
  if (p < end) p++;  // the blank
  *value = v;
  return true;
}

bool stat_matches(const InstalledIdentity& id, const struct stat& st) {
  if (id.kind == IDENTITY_OBJECT)
    return uint32_t(st.st_mode) == id.mode && uint64_t(st.st_size) == id.size && uint64_t(st.st_dev) == id.device &&
           uint64_t(st.st_ino) == id.inode && int64_t(st.st_mtim.tv_sec) == id.mtime &&
           uint32_t(st.st_mtim.tv_nsec) == id.mtime_nsec;
  if (id.kind == IDENTITY_CONTENT)
    return S_ISREG(st.st_mode) && uint64_t(st.st_size) == id.size && (id.mode == 0 || uint32_t(st.st_mode) == id.mode) &&
           (id.mtime == 0 || (int64_t(st.st_mtim.tv_sec) == id.mtime && st.st_mtim.tv_nsec == 0));
  return false;
}

}  // namespace

long bytes_crc(int fd, const uint8_t* table) {
  uint8_t buffer[16384];
  uint16_t crc = 0;
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) return crc;
    crc = crc16_continue(table, crc, buffer, uint32_t(n));
  }
}

InstalledIdentity identity_of(const struct stat& st, uint16_t crc) {
  InstalledIdentity id{};
  id.kind = IDENTITY_OBJECT;
  id.mode = uint32_t(st.st_mode);
  id.size = uint64_t(st.st_size);
  id.device = uint64_t(st.st_dev);
  id.inode = uint64_t(st.st_ino);
  id.mtime = int64_t(st.st_mtim.tv_sec);
  id.mtime_nsec = uint32_t(st.st_mtim.tv_nsec);
  id.crc = S_ISREG(st.st_mode) ? crc : 0;
  return id;
}

size_t identity_format(const InstalledIdentity& id, char* out) {
  int n = snprintf(out, IDENTITY_TEXT_MAX, "%c %" PRIo32 " %" PRIu64 " %" PRId64 " %" PRIu32 " %" PRIu64 " %" PRIu64 " %u",
                   KIND_LETTER[id.kind < 3 ? id.kind : 0], id.mode, id.size, id.mtime, id.mtime_nsec, id.device,
                   id.inode, unsigned(id.crc));
  return n < 0 ? 0 : size_t(n);
}

int identity_parse(const char* text, size_t length, InstalledIdentity* id) {
  const char* p = text;
  const char* end = text + length;
  if (length < 2 || p[1] != ' ') return -1;
  const char* kind = strchr(KIND_LETTER, *p);
  if (!kind || !*p) return -1;
  p += 2;
  uint64_t mode, size, mtime, nsec, device, inode, crc;
  if (!parse_number(p, end, 8, &mode) || !parse_number(p, end, 10, &size)) return -1;
  bool before_1970 = p < end && *p == '-';
  p += before_1970;
  if (!parse_number(p, end, 10, &mtime) || mtime > uint64_t(INT64_MAX) || !parse_number(p, end, 10, &nsec) ||
      !parse_number(p, end, 10, &device) || !parse_number(p, end, 10, &inode) || !parse_number(p, end, 10, &crc) ||
      p != end || mode > UINT32_MAX || nsec > 999999999 || crc > UINT16_MAX)
    return -1;
  int64_t seconds = before_1970 ? -int64_t(mtime) : int64_t(mtime);
  *id = InstalledIdentity{size, device, inode, seconds, uint32_t(nsec), uint32_t(mode), uint16_t(crc),
                          uint8_t(kind - KIND_LETTER)};
  return 0;
}

int object_is_installed(int dir_fd, const char* name, const struct stat& st, const InstalledIdentity* ids, size_t count,
                        const uint8_t* crc_table) {
  size_t i = 0;
  while (i < count && !stat_matches(ids[i], st)) i++;
  if (i == count) return 0;
  if (!S_ISREG(st.st_mode)) return 1;
  // Bytes changed in place under a restored time are a change too. The
  // file is read by descriptor, and that descriptor must be the object
  // just compared.
  int fd = openat(dir_fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat opened;
  long crc = fstat(fd, &opened) == 0 && opened.st_ino == st.st_ino && opened.st_dev == st.st_dev
                 ? bytes_crc(fd, crc_table)
                 : -1;
  close(fd);
  if (crc < 0) return -1;
  return uint16_t(crc) == ids[i].crc;
}

int remove_if_owned(int dir_fd, const char* name, const InstalledIdentity* ids, size_t count,
                    const uint8_t* crc_table) {
  struct stat st;
  if (fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT ? OWNED_ABSENT : OWNED_LEFT;
  if (S_ISDIR(st.st_mode)) {
    if (unlinkat(dir_fd, name, AT_REMOVEDIR) == 0) return OWNED_REMOVED;
    return errno == ENOENT ? OWNED_ABSENT : OWNED_LEFT;
  }
  int installed = object_is_installed(dir_fd, name, st, ids, count, crc_table);
  if (installed < 0) return OWNED_LEFT;
  if (installed == 0) return OWNED_CHANGED;
  if (unlinkat(dir_fd, name, 0) == 0) return OWNED_REMOVED;
  return errno == ENOENT ? OWNED_ABSENT : OWNED_LEFT;
}
