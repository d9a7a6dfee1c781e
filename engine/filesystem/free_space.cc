#include "engine/filesystem/free_space.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "engine/filesystem/durable_batch.h"
#include "engine/install/extraction.h"

namespace {

// statvfs of `path`, else of its nearest parent that exists: the directory
// is made only once the installation begins.
int statvfs_nearest(const char* path, struct statvfs* vfs) {
  char probe[EXTRACTION_PATH_SIZE];
  snprintf(probe, sizeof probe, "%s", path);
  for (;;) {
    if (statvfs(probe, vfs) == 0) return 0;
    char* slash = strrchr(probe, '/');
    if (!slash) return statvfs(".", vfs);
    if (slash != probe)
      *slash = 0;
    else if (probe[1])
      probe[1] = 0;
    else
      return -1;
  }
}

uint64_t rounded_up(uint64_t bytes, uint64_t block) { return (bytes + block - 1) / block * block; }

// The batch takes its names, and its old files give their blocks back.
void batch_taken(FreeSpace* space) {
  space->running -= space->waiting;
  space->waiting = 0;
  space->batched = 0;
}

}  // namespace

void free_space_open(FreeSpace* space, const char* install_dir) {
  *space = FreeSpace{-1, 0, 0, UINT64_MAX, 0, 0, 0, 0, 0, 0, 0};
  struct statvfs vfs;
  if (statvfs_nearest(install_dir, &vfs) != 0 || vfs.f_blocks == 0 || vfs.f_frsize == 0) return;
  space->block_size = vfs.f_frsize;
  space->free_bytes = uint64_t(geteuid() == 0 ? vfs.f_bfree : vfs.f_bavail) * vfs.f_frsize;
  if (vfs.f_files != 0) space->free_files = geteuid() == 0 ? vfs.f_ffree : vfs.f_favail;
  space->dir_fd = open(install_dir, O_PATH | O_DIRECTORY | O_CLOEXEC);
}

void free_space_add(FreeSpace* space, const char* name, int64_t file_size, bool batched) {
  if (space->block_size == 0) return;
  // Only a file that goes with its name gives its blocks back: one with
  // other links keeps them.
  struct stat st;
  bool taken = space->dir_fd >= 0 && fstatat(space->dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
  int64_t released = taken && S_ISREG(st.st_mode) && st.st_nlink == 1 ? int64_t(st.st_blocks) * 512 : 0;
  if (file_size >= 0) {
    space->running += int64_t(rounded_up(uint64_t(file_size), space->block_size));
    if (space->running > 0 && uint64_t(space->running) > space->needed) space->needed = uint64_t(space->running);
    space->new_files += !taken;
  }
  if (!batched) {
    // A deletion comes after the batch has taken its names.
    if (file_size < 0) batch_taken(space);
    space->running -= released;
    return;
  }
  space->waiting += released;
  if (++space->batched == DURABLE_BATCH_FILES) batch_taken(space);
}

void free_space_add_record(FreeSpace* space, uint64_t list_bytes, bool new_directory) {
  if (space->block_size == 0) return;
  space->record = rounded_up(list_bytes, space->block_size) + (new_directory ? space->block_size : 0);
  // The list and its lock, and the new list beside the old one.
  space->new_files += new_directory ? 3 : 1;
}

int free_space_fits(const FreeSpace* space, char* message, size_t size) {
  // The list written before the first change stays while the files are
  // written; at the end the final one is written beside it.
  int64_t end = space->running - space->waiting;
  uint64_t needed = space->needed + space->record;
  if (end > 0 && uint64_t(end) + 2 * space->record > needed) needed = uint64_t(end) + 2 * space->record;
  if (needed <= space->free_bytes && space->new_files <= space->free_files) return 1;
  if (needed > space->free_bytes)
    snprintf(message, size, "Not enough free space: %.3f MiByte needed, %.3f MiByte free (err=13).",
             double(needed) / 1048576, double(space->free_bytes) / 1048576);
  else
    snprintf(message, size, "Not enough free space: %" PRIu64 " new files, room for %" PRIu64 " (err=13).",
             space->new_files, space->free_files);
  return 0;
}

void free_space_close(FreeSpace* space) {
  if (space->dir_fd >= 0) close(space->dir_fd);
  space->dir_fd = -1;
}
