// The installation: every entry of the attachment, checked and written below
// install_dir, with the progress line kept current.
#pragma once

// Returns after the last entry; every failure ends the process.
int install_files();
