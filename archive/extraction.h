// Turning checked entries into files below the installation directory: the
// stale-copy sweep, the directories, the file itself, its times and mode.
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

struct Extraction {
  const char* install_dir;  // as chosen; never longer than 4094 characters
  StaleIndex stale;
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
