// The installation: every entry of the attachment, checked and written below
// install_dir, with the progress line kept current.
#pragma once

// Returns after the last entry; every failure ends the process.
int install_files();

// Frees what a run of install_files holds (its CRC table and the index of the
// installation tree). A run that returns has done so itself; this is for a
// run that a failure ended without leaving the process.
void release_installation();

// Runs the vendor's post-install step, when the attachment carries one, once
// the installation is complete: 0, or 1 after "Post-install step failed
// (status N)." when it did not end with status 0.
int run_post_install_step();
