#include "engine/ownership/installed_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "archive/crc16.h"
#include "engine/filesystem/directory_below.h"
#include "engine/filesystem/guards.h"
#include "engine/ownership/install_record.h"
#include "engine/ownership/owned_index.h"

namespace {

bool same_time(const struct stat& st, int64_t seconds, uint32_t nanoseconds) {
  return int64_t(st.st_mtim.tv_sec) == seconds && uint32_t(st.st_mtim.tv_nsec) == nanoseconds;
}

// A link keeps its target for life, so its CRC and length tell whether it
// is the one installed; its own mode and time mean nothing to anyone.
unsigned link_differences(int dir_fd, const char* name, const InstalledIdentity& id, const uint8_t* crc_table) {
  char target[SYSTEM_PATH_SIZE];
  ssize_t length = readlinkat(dir_fd, name, target, sizeof target);
  if (length < 0 || size_t(length) == sizeof target) return DIFFERS_UNREADABLE;
  bool same = uint64_t(length) == id.size && crc16(crc_table, reinterpret_cast<uint8_t*>(target), uint32_t(length)) == id.crc;
  return same ? 0 : DIFFERS_TARGET;
}

// The bytes are read through a descriptor that must be the object stat
// described, never through a link put there meanwhile.
unsigned bytes_differences(int dir_fd, const char* name, const struct stat& st, uint16_t crc, const uint8_t* crc_table) {
  Descriptor file(openat(dir_fd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat opened;
  if (file.fd < 0 || fstat(file.fd, &opened) != 0 || opened.st_ino != st.st_ino || opened.st_dev != st.st_dev)
    return DIFFERS_UNREADABLE;
  long found = bytes_crc(file.fd, crc_table);
  if (found < 0) return DIFFERS_UNREADABLE;
  return uint16_t(found) == crc ? 0 : DIFFERS_BYTES;
}

// What differs between the object `name` (lstat `st`) in `dir_fd` and one
// identity the record holds for it. Neither inode nor device counts: a file
// restored from a backup is the same file to its user.
unsigned differences_from(int dir_fd, const char* name, const struct stat& st, const InstalledIdentity& id,
                          const uint8_t* crc_table) {
  if (id.kind == IDENTITY_UNKNOWN) return 0;
  // What an interrupted run was about to write is a file; it sets the mode
  // and the time only when its entry carries them.
  const bool sets_mode = id.kind == IDENTITY_OBJECT || id.mode != 0;
  const uint32_t type = sets_mode ? id.mode & S_IFMT : uint32_t(S_IFREG);
  if ((uint32_t(st.st_mode) & S_IFMT) != type) return DIFFERS_TYPE | DIFFERS_MODE;
  if (S_ISLNK(st.st_mode)) return link_differences(dir_fd, name, id, crc_table);
  unsigned found = sets_mode && (uint32_t(st.st_mode) & 07777) != (id.mode & 07777) ? DIFFERS_MODE : 0;
  // A directory's size and time change with every name made in it.
  if (!S_ISREG(st.st_mode)) return found;
  if (uint64_t(st.st_size) != id.size) found |= DIFFERS_SIZE | DIFFERS_BYTES;
  if (id.kind == IDENTITY_OBJECT ? !same_time(st, id.mtime, id.mtime_nsec) : id.mtime != 0 && !same_time(st, id.mtime, 0))
    found |= DIFFERS_TIME;
  if (!(found & DIFFERS_SIZE)) found |= bytes_differences(dir_fd, name, st, id.crc, crc_table);
  return found;
}

unsigned count_bits(unsigned v) {
  unsigned n = 0;
  for (; v; v &= v - 1) n++;
  return n;
}

// After an interrupted run the record holds the old file and the new one:
// either is as installed, and the nearer one tells what differs.
unsigned path_differences(int root_fd, const OwnedPath& p, const uint8_t* crc_table) {
  const size_t parent = size_t(p.name - p.path);
  // Directories on the way are entered as installing entered them: links
  // only where they lead to a directory still below the installation.
  Descriptor dir(open_directory_below(root_fd, p.path, parent, BELOW_LINKS, nullptr));
  if (dir.fd < 0)
    return errno == ENOENT || errno == ENOTDIR || errno == EEXIST ? DIFFERS_MISSING : DIFFERS_UNKNOWN;
  struct stat st;
  if (fstatat(dir.fd, p.name, &st, AT_SYMLINK_NOFOLLOW) != 0)
    return errno == ENOENT ? DIFFERS_MISSING : DIFFERS_UNKNOWN;
  unsigned best = ~0u;
  for (size_t i = 0; i < p.recorded_count && best != 0; i++) {
    unsigned found = differences_from(dir.fd, p.name, st, p.recorded[i], crc_table);
    if (best == ~0u || count_bits(found) < count_bits(best)) best = found;
  }
  return best == ~0u ? 0 : best;
}

}  // namespace

int check_installed(const char* install_dir, const char* product, void (*differs)(void*, const char*, unsigned),
                    void* context, InstalledCheck* result, EngineFailure* f) {
  *result = InstalledCheck{0, 0, 0, 0};
  Descriptor root(open(*install_dir ? install_dir : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (root.fd < 0) return fail_with(f, FAILURE_NOT_RECORDED);
  OwnedIndex index;
  owned_index_init(&index);
  InstallRecord record;
  int status = install_record_inspect(&record, root.fd, product, &index, f);
  if (status == 0 && record.untrusted) status = fail_with(f, FAILURE_RECORD_UNTRUSTED);
  else if (status == 0 && !record.found) status = fail_with(f, FAILURE_NOT_RECORDED);
  uint8_t* crc_table = status == 0 ? crc16_table() : nullptr;
  if (status == 0 && !crc_table) status = fail_with(f, FAILURE_NO_MEMORY);
  for (size_t i = 0; status == 0 && i < index.count; i++) {
    const OwnedPath& p = index.paths[i];
    result->checked++;
    bool known = false;
    for (size_t k = 0; k < p.recorded_count; k++) known |= p.recorded[k].kind != IDENTITY_UNKNOWN;
    if (!known) result->existence_only++;
    unsigned found = path_differences(root.fd, p, crc_table);
    if (found == 0) continue;
    result->differ++;
    if (found & DIFFERS_MISSING) result->missing++;
    if (differs) differs(context, p.path, found);
  }
  free(crc_table);
  install_record_close(&record);
  owned_index_release(&index);
  return status;
}
