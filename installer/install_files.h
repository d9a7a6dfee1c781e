// The installation: every entry of the attachment, checked and written below
// install_dir, with the progress line kept current.
#pragma once

#include <cstdint>

// Returns after the last entry; every failure ends the process.
int install_files();

// Some entries of the attachment, checked and written as install_files
// writes them, with nothing else removed (see InstallHooks::wanted):
// `wanted` says which, `installed` is told of each once written. Returns
// after the last entry; every failure ends the process.
struct Entry;
struct EntrySelection {
  int (*wanted)(void* context, const Entry& entry);
  void (*installed)(void* context, uint32_t index, const Entry& entry);
  void* context;
};
void install_selected(const EntrySelection& selection);

// Frees what a run of install_files holds (its CRC table and the index of the
// installation tree). A run that returns has done so itself; this is for a
// run that a failure ended without leaving the process.
void release_installation();

// Runs the vendor's post-install step, when the attachment carries one, once
// the installation is complete: 0, or 1 after "Post-install step failed
// (status N)." when it did not end with status 0.
int run_post_install_step();
