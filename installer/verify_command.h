// --verify and --repair: whether what this product installed below a
// directory is still as its record says, and putting back what is not.
#pragma once

// The lines of the differences and a summary on standard output; the exit
// status (1 when anything differs or no trusted record is there).
int verify_installed_tree(const char* directory);

// Reinstalls from this installer what verify_installed_tree finds missing
// or changed, names each path restored, then what still differs and a
// summary; the exit status (0 when nothing differs any more). Failures of
// the installation end the process as an installation's do.
int repair_installed_tree(const char* directory);
