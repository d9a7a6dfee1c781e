// Whether an installation fits on its file system, decided before anything
// changes: the new files, each rounded up to whole blocks, less what the
// files they replace give back, taken at their highest point along the way
// (a new file is complete before the old one goes, and the old ones of a
// batch go only when the whole batch takes its names), with the record
// written before the first change and again at the end, against what statvfs
// reports free. A file system that reports no figures is not checked.
#pragma once

#include <cstddef>
#include <cstdint>

struct FreeSpace {
  int dir_fd;            // the installation directory; -1 while it does not exist
  uint64_t block_size;   // 0: the file system gave no figures, nothing is refused
  uint64_t free_bytes;   // what this process may use (root may use the reserve)
  uint64_t free_files;   // inodes; UINT64_MAX where the file system has no limit
  int64_t running;       // bytes taken after the entries counted so far
  uint64_t needed;       // the highest value of `running`, the file in hand included
  uint64_t new_files;    // entries whose name is not taken yet
  int64_t waiting;       // what the old files of the batch in hand give back once it takes its names
  uint32_t batched;      // files in that batch
  uint64_t record_lines;  // what the entries counted add to the record's list
  uint64_t record;       // the record's list, rounded up to whole blocks
};

// Reads the figures of the file system that holds `install_dir`, or of its
// nearest existing parent when it does not exist yet.
void free_space_open(FreeSpace* space, const char* install_dir);

// Counts one entry, in installation order: `name` below the installation
// directory, `file_size` its new size, or -1 for a deletion; `batched` when
// it is a file that waits in a batch for its name.
void free_space_add(FreeSpace* space, const char* name, int64_t file_size, bool batched);

// Counts the record's list of `list_bytes`, which lies beside its old
// version while it is written (before the first change and at the end), and
// with `new_directory` the record directory that holds it.
void free_space_add_record(FreeSpace* space, uint64_t list_bytes, bool new_directory);

// 1 when everything counted fits (or the figures are unknown), else 0 with
// the installer's message in `message`.
int free_space_fits(const FreeSpace* space, char* message, size_t size);

void free_space_close(FreeSpace* space);
