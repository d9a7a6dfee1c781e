// The installation record: inside the installation directory, a hidden
// directory of the installer's own holds, per product, the list of what its
// installations put there (each path with the identity of the object written
// there, see owned_object.h), so that later installations remove only their
// own unchanged files and never a user's. Beside it: the lock that keeps two
// installers out of one directory, the temporaries that new files are
// written to before they take their names, and the stage of a new
// installation directory (see stage_directory.h).
//
// The list is a fixed first line naming its format, then one line per path
// and identity: the identity's text, a tab, the path and a NUL (a name can
// hold any byte but NUL). A list of the first format, paths alone, is still
// read: its paths are the product's, but what lies there cannot be told from
// a user's file, so such files are never removed. The list is written to a
// temporary and renamed, so a crash leaves the old list or the new one;
// before the first change a run lists also what it is about to write.
#pragma once

#include <cstddef>

#include "archive/entry_paths.h"  // INSTALL_RECORD_DIRECTORY
#include "engine/failure.h"
#include "engine/ownership/owned_index.h"
#include "engine/read/installer_signature.h"

// What the names of temporaries in the record directory begin with.
constexpr char INSTALL_RECORD_TEMPORARY_PREFIX[] = "tmp-";


struct InstallRecord {
  int dir_fd;   // the record directory (O_PATH), -1 when not open
  int lock_fd;  // held until close (or the end of the process)
  char list_name[256];
  int found;  // the product's list was there, and read
  // Set by install_record_open (errno's value) where the installation
  // directory takes no record (no new names there): the run goes on without
  // one, and dir_fd is -1.
  int unavailable_error;
  // Set by install_record_open, with unavailable_error (EPERM), where
  // someone other than this user and root could have written the record:
  // the installation directory, the record directory or the list belongs to
  // another user or may be written by a group or others. Nothing is read
  // from it, nothing written to it.
  int untrusted;
  // The key that signed the installation, kept as a line of its own that
  // earlier installers pass over as one they cannot parse: set where the
  // list names one, written where set.
  int signed_by;
  SignerKey signer;
};

// Makes the record directory below `root_fd`, takes the lock, removes the
// temporaries and the stage that killed runs left there and adds the paths that the
// product's list names to `index` as PATH_RECORDED. 0 (also where the
// directory takes no record or none to trust: see unavailable_error), or -1 with `failure`
// filled in: FAILURE_BUSY, FAILURE_NO_MEMORY, or FAILURE_OPEN_RECORD with the
// system's error.
int install_record_open(InstallRecord* record, int root_fd, const char* product, OwnedIndex* index,
                        EngineFailure* failure);

// Reads the product's list below `root_fd` into `index` as install_record_open
// does, but changes nothing there: no directory, lock or temporary is made or
// removed, and the lock, when there is one, is shared, so that no installer
// changes the tree while it is compared. Fills `found` and `untrusted` as
// install_record_open does (dir_fd stays -1). 0, or -1 with `failure` filled
// in: FAILURE_BUSY, FAILURE_NO_MEMORY, FAILURE_OPEN_RECORD.
int install_record_inspect(InstallRecord* record, int root_fd, const char* product, OwnedIndex* index,
                           EngineFailure* failure);

// Replaces the product's list by the paths `index` holds now, with `intent`
// also those the run is still to write. 0, or -1 with errno set.
int install_record_write(InstallRecord* record, const OwnedIndex* index, bool intent);

void install_record_close(InstallRecord* record);

// What the product's list below `root_fd` (may be -1) takes now, its first line when there is none,
// and what each path adds to it: a run's record takes their sum. Sets
// `directory_exists` when the record directory is there.
uint64_t install_record_size(int root_fd, const char* product, bool* directory_exists);
size_t install_record_line_size(const char* path);

// Removes the product's list, and the record directory with its lock when no
// other product's list is left there. 0, or -1 with errno set.
int install_record_remove(InstallRecord* record, int root_fd);

// Creates a fresh temporary in the record directory, open for writing, its
// name in `name` (TEMPORARY_NAME_SIZE bytes). A descriptor, or -1 with errno set.
int install_record_temporary(InstallRecord* record, char* name);
