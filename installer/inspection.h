// What the installer's command line can ask without installing: its product
// and build, its entries, and whether it would install. Each writes its
// answer to standard output and returns the exit status; a damaged
// attachment ends the process with its message, as an installation would.
#pragma once

int show_version();
// The lines of "zolt-pack list", names escaped; records and stored data are
// checked as they are listed.
int list_entries();
// Every check an installation makes before its first change, nothing
// written: records, names, stored and decoded CRCs, the directory page's
// checks of install_dir (its warnings as notes) and the free space there.
int check_installation();
