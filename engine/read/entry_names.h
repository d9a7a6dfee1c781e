// Which names of file entries the installer installs as a tree shows them.
//
// The installer's record checks refuse names that leave the installation
// directory (an absolute name, a ".." component). Names that pass those can
// still fail or install otherwise than they read: the part of a name that
// the installer makes directories for ends at its last '/' or backslash,
// while the file itself is opened by the part behind the last '/', so a
// backslash makes an extra directory and "x" beside "x\y" cannot install; a
// name that ends in '/' or "." names a directory, which cannot be opened as
// a file; a component longer than a directory entry holds cannot be made.
// The packing tool refuses such names before it writes an installer, and
// its checks refuse installers that hold them.
#pragma once

#include <cstddef>

enum EntryNameProblem {
  ENTRY_NAME_OK = 0,
  ENTRY_NAME_NOT_A_FILE,       // empty, or ending in '/' or in a "." component
  ENTRY_NAME_BACKSLASH,        // the installer's directory cut counts it as a separator
  ENTRY_NAME_LONG_COMPONENT,   // a component longer than ENTRY_NAME_COMPONENT_MAX bytes
  ENTRY_NAME_TOO_LONG,         // no installation path can hold it
  ENTRY_NAME_RESERVED,         // in the installer's own record directory
};

constexpr size_t ENTRY_NAME_COMPONENT_MAX = 255;  // NAME_MAX of Linux file systems
// The installer joins the installation directory (at least one byte with
// its '/') and the name into one path of less than PATH_MAX bytes.
constexpr size_t ENTRY_NAME_MAX = 4096 - 2;

// The problem of `name`, a NUL-terminated name of a file entry that passed
// the record checks, or ENTRY_NAME_OK.
int entry_name_problem(const char* name);

// A phrase for a problem other than ENTRY_NAME_OK, to follow the name.
const char* entry_name_problem_text(int problem);
