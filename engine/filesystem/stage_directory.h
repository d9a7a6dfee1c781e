// The stage of a new installation directory: a directory of the run's own
// in the record directory where the files are written under their final
// names, then flushed once and put in place by renaming the stage's
// top-level entries. No temporary and no rename per file: a new directory
// has no old version that a path must keep until its new one is whole, and
// nothing in the stage is seen as installed before it is flushed.
//
// A killed run leaves the stage (and perhaps some top-level entries already
// renamed, which its record lists); the next run that takes the lock
// removes the stage before anything else.
#pragma once

#include <sys/types.h>

#include "engine/failure.h"

constexpr char STAGE_NAME[] = "stage";

// Makes a new, empty stage in the record directory `record_dir`, readable by
// its owner only. Its descriptor (O_PATH), or -1 with errno set where there
// is none, or it does not lie on `device` (where renames cannot reach).
int stage_make(int record_dir, dev_t device);

// Removes what a killed run left in the stage of `record_dir`, reaching
// everything by descriptor and following no link. Called with the lock held.
void stage_remove(int record_dir);

// Flushes everything the stage `stage_fd` holds (unless `flush` is 0), then
// gives each of its top-level entries its name in `root_fd`, never replacing
// anything there, flushes those names and removes the emptied stage. 0, or
// -1 with `failure` filled in: nothing is named when the flush fails, and
// what could not be named stays in the stage for the next run to remove.
int stage_publish(int record_dir, int stage_fd, int root_fd, int flush, EngineFailure* failure);
