// Turning checked entries into files below the installation directory: the
// directories, the file itself with its times and mode, the stale-copy sweep.
//
// Below the installation directory nothing is reached by path: directories
// are entered one at a time from a descriptor (see directory_below.h), so a
// link in the tree cannot lead writes or deletions out of it. A file whose
// name is taken is written beside it under a temporary name; only when the
// new file is complete and closed does the sweep remove the old copy and the
// stale ones, and the new file takes the name. A failing disk thus never
// costs the old file. (Renaming onto the old file directly would be one step
// fewer, but ext4 then writes each replaced file out at once, which made
// installing over a tree slower than unpacking a tarball over it.)
#pragma once

#include "archive/entry_reader.h"
#include "archive/stale_index.h"

// What went wrong, for the caller to report: `message`, and with
// `with_error_number` set also the system's text for `error_number` and `detail`.
struct ExtractFailure {
  const char* message;
  const char* detail;
  int error_number;
  int with_error_number;
};

constexpr size_t EXTRACTION_PATH_SIZE = 4096;  // PATH_MAX: longer paths cannot be named

struct Extraction {
  const char* install_dir;  // as chosen; never longer than 4094 characters
  StaleIndex stale;
  int root_fd;  // install_dir, opened at the first file; -1 when not open
  int dir_fd;   // the directory of the last file written; -1 when none
  char dir_path[EXTRACTION_PATH_SIZE];  // dir_fd's path below install_dir, as entries spell it
  unsigned temp_serial;
};

// Walks the installation tree once for the sweep. 0, or -1 when memory runs out.
int extraction_begin(Extraction* x, const char* install_dir);
void extraction_end(Extraction* x);

// Installs one checked entry: sweeps its base name, then deletes or writes it.
// 0, or -1 with `failure` filled in.
int extract_entry(Extraction* x, const Entry& entry, ExtractFailure* failure);

// 1 when every directory of `path` exists or was made (mode 0755), 0 when a
// mkdir failed (errno is mkdir's; the path is left cut at that directory).
// Only '/' separates. `made`, when not null, learns each directory made.
int make_directories(char* path, StaleIndex* made);

// 1 when `text` is not empty and ends in '/'; a backslash does not count.
int ends_with_slash(const char* text);
