// What an installation would first fail with because a directory takes no
// new names (no write permission, a read-only file system), found without
// writing anything: a check that passes must not be followed by an
// installation that fails on the first directory or file it makes. The
// entries are judged in installation order, as the installation meets
// them: a directory it must make, the file then, or a file it may rewrite
// in place where its directory takes no new names.
#pragma once

#include "engine/failure.h"
#include "engine/read/entry_reader.h"

struct InstallPreflight {
  const char* install_dir;
  int made;              // the installation makes the directory, which then takes every name
  int refused;           // `failure` holds what the installation would fail with
  EngineFailure failure;
};

// Judges the installation directory itself: where it does not exist yet,
// its nearest existing parent must take it.
void install_preflight_init(InstallPreflight* preflight, const char* install_dir);

// Judges the next entry, unless an earlier one was refused already.
void install_preflight_add(InstallPreflight* preflight, const Entry& entry);
