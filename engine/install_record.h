// The installation record: inside the installation directory, a hidden
// directory of the installer's own holds, per product, the list of paths that
// its installations put there, so that a later installation sweeps only its
// own stale copies and never a user's file. Beside it: the lock that keeps
// two installers out of one directory, and the temporaries that new files are
// written to before they take their names.
//
// The list is a fixed first line, then every path followed by a NUL: a name
// can hold any byte but NUL. It is written to a temporary and renamed, so a
// crash leaves the old list or the new one. A killed run leaves the list
// stale: what it installed is missing, and is merely not swept later.
#pragma once

#include <cstddef>

#include "engine/stale_index.h"

constexpr const char* INSTALL_RECORD_DIRECTORY = ".zolt-setup";
// What the names of temporaries in the record directory begin with.
constexpr char INSTALL_RECORD_TEMPORARY_PREFIX[] = "tmp-";

enum RecordResult {
  RECORD_OK = 0,
  RECORD_SYSTEM,  // errno tells why the directory or the lock cannot be had
  RECORD_BUSY,    // another installer holds the lock
  RECORD_NO_MEMORY,
};

struct InstallRecord {
  int dir_fd;   // the record directory (O_PATH), -1 when not open
  int lock_fd;  // held until close (or the end of the process)
  char list_name[256];
};

// Makes the record directory below `root_fd`, takes the lock, removes the
// temporaries that killed runs left there and adds the paths that the
// product's list names to `index` as STALE_RECORDED.
int install_record_open(InstallRecord* record, int root_fd, const char* product, StaleIndex* index);

// Replaces the product's list by the paths `index` holds now. 0, or -1 with
// errno set.
int install_record_write(InstallRecord* record, const StaleIndex* index);

void install_record_close(InstallRecord* record);

// Creates a fresh temporary in the record directory, open for writing, its
// name in `name` (TEMPORARY_NAME_SIZE bytes). A descriptor, or -1 with errno set.
int install_record_temporary(InstallRecord* record, char* name);
