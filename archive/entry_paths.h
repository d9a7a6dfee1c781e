// The rules for the names an attachment carries, and for the paths the
// installer makes of them below the installation directory: what leaves that
// directory, what the installer keeps for itself, how long names and paths
// may grow, and how a name falls apart into its directory and its base name.
//
// The rules differ on purpose where the installer has always read names in
// two ways: the part whose directories are made ends at the last '/' or
// backslash (entry_directory_part), the directory a file is opened in at the
// last '/' alone (entry_parent_part). A backslash is an ordinary character
// of a Linux name otherwise. Everything here is plain C for the installer,
// which has no C++ run-time library.
#pragma once

#include <cstddef>

// Linux's limits (checked against <climits> where they are defined).
constexpr size_t SYSTEM_PATH_SIZE = 4096;   // PATH_MAX: a path's bytes and its NUL
constexpr size_t NAME_COMPONENT_MAX = 255;  // NAME_MAX of Linux file systems
// The installer joins the installation directory (at least one byte with its
// '/') and the name into one path of less than SYSTEM_PATH_SIZE bytes.
constexpr size_t ENTRY_NAME_MAX = SYSTEM_PATH_SIZE - 2;
// The longest installation directory: what the directory page takes of a
// line, and so what a vendor may offer and `zolt-pack extract -C` accepts.
constexpr size_t INSTALL_DIR_MAX = SYSTEM_PATH_SIZE - 2;
static_assert(ENTRY_NAME_MAX < SYSTEM_PATH_SIZE && INSTALL_DIR_MAX + 1 < SYSTEM_PATH_SIZE,
              "a name or a directory with its NUL fits a path buffer");

// The directory below the installation directory where the installer keeps
// its records and its lock; no product's entry may reach into it.
constexpr const char* INSTALL_RECORD_DIRECTORY = ".zolt-setup";

// Whether the `length` bytes at `component` are the record directory's name.
bool is_record_directory(const char* component, size_t length);

enum NameEscape {
  NAME_INSIDE = 0,
  NAME_ABSOLUTE,         // begins with '/'
  NAME_PARENT,           // has a ".." component
  NAME_RECORD_DIRECTORY, // its first component but "" and "." is the record directory
};

// Why `name` leads outside the installation directory or into the record
// directory, or NAME_INSIDE: the check every entry's name passes as its
// record is read, deletions included.
int name_escape(const char* name);
inline bool name_stays_inside(const char* name) { return name_escape(name) == NAME_INSIDE; }

// Names that pass name_escape can still fail or install otherwise than
// they read: a backslash makes an extra directory, so "x" beside "x\y"
// cannot install; a name that ends in '/' or "." names a directory, which
// cannot be opened as a file; a component longer than a directory entry
// holds cannot be made. The packing tool refuses such names before it
// writes an installer, and its checks refuse installers that hold them.
enum EntryNameProblem {
  ENTRY_NAME_OK = 0,
  ENTRY_NAME_NOT_A_FILE,       // empty, or ending in '/' or in a "." component
  ENTRY_NAME_BACKSLASH,        // the installer's directory cut counts it as a separator
  ENTRY_NAME_LONG_COMPONENT,   // a component longer than NAME_COMPONENT_MAX bytes
  ENTRY_NAME_TOO_LONG,         // no installation path can hold it
  ENTRY_NAME_RESERVED,         // in the installer's own record directory
};

// The problem of `name`, a NUL-terminated name of a file entry that passed
// name_escape, or ENTRY_NAME_OK.
int entry_name_problem(const char* name);

// A phrase for a problem other than ENTRY_NAME_OK, to follow the name.
const char* entry_name_problem_text(int problem);

// How many bytes of the name belong to the directories the entry needs: up
// to its last separator, '/' or backslash, or all but a final separator.
size_t entry_directory_part(const char* name);

// The part of the name up to its last '/': the directory the file lies in.
size_t entry_parent_part(const char* name);

// What lies behind the last '/': the name the file takes in its directory.
const char* entry_file_name(const char* name);

// The base name that the sweep matches: behind the last '/' or backslash
// but a final one, which stays part of it.
const char* entry_base_name(const char* name);

// The last component of a directory entry's name, trailing '/'s left out:
// name[*start, *end). Empty when the name is nothing but '/'s.
void entry_last_component(const char* name, size_t* start, size_t* end);

// Writes `path` (`length` bytes) without empty and "." components into `out`
// (at least length + 1 bytes). Returns the new length; 0 when nothing is
// left or a component is "..".
size_t normalize_path(const char* path, size_t length, char* out);

// Whether a '/'-separated component of the first `length` bytes of `path`
// equals `name`.
bool path_has_component(const char* path, size_t length, const char* name);

// The bytes that joining `directory` (`length` bytes) and a name takes in
// front of the name: the directory, and a '/' unless it ends in one.
size_t joined_prefix_length(const char* directory, size_t length);

// Whether the system can name a path of `length` bytes.
constexpr bool path_fits(size_t length) { return length < SYSTEM_PATH_SIZE; }

enum LinkEscape {
  LINK_INSIDE = 0,
  LINK_ABSOLUTE,    // the target begins with '/'
  LINK_CLIMBS_OUT,  // its ".." components climb above the top
  LINK_RECORD_DIRECTORY,  // it leads into the record directory, wherever else it is allowed to lead
};

// Where the link `name` (relative to the top, '/'-separated) with `target`
// (`length` bytes) leads, judged from the link's own place alone: the
// target's ".." components are resolved against the link's directory, as
// written; links met on the way are judged on their own.
int link_target_escape(const char* name, const char* target, size_t length);
