// What the installer may remove: the paths that an earlier installation of
// this product recorded (see install_record.h) and the directories this run
// made, and of those only objects that are still what was installed there
// (see owned_object.h), never a user's own file.
//
// The rule: before an entry whose base name is B is written or deleted, the
// objects named B below the installation directory are removed, except those
// whose path passes through a directory named B or through a symbolic link.
// Of those, only the ones listed here qualify, and of the files among them
// only those that this attachment does not install itself (they are replaced
// in place, atomically, when their turn comes, so a run that ends early never
// loses them) and that this run has not written. Removal walks one component
// at a time from the installation directory's descriptor without following
// any link, so a tree changed under the run cannot lead it elsewhere.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "engine/filesystem/directory_below.h"
#include "engine/ownership/owned_object.h"

enum PathFlag : uint8_t {
  PATH_RECORDED = 1,        // listed by an earlier installation
  PATH_INSTALLS = 2,        // this attachment installs a file there
  PATH_WRITTEN = 4,         // this run wrote the file there
  PATH_MADE_DIRECTORY = 8,  // this run made the directory there
  PATH_GONE = 16,           // removed (or found missing) since
  // With PATH_INSTALLS: what the attachment installs there is a directory,
  // or a link, rather than a file.
  PATH_INSTALLS_DIRECTORY = 32,
  PATH_INSTALLS_LINK = 64,
  PATH_UNNAMED = 128,  // with PATH_INSTALLS: a file entry whose name names a directory
};

// Marks a path carries beside its flags, kept in the record.
enum PathMark : uint8_t {
  MARK_CONFIG_RECORDED = 1,  // the record lists it as a configuration file
  MARK_CONFIG_INSTALLS = 2,  // this attachment installs it as one
};

struct OwnedPath {
  char* path;        // below the directory, '/'-separated, no empty or "." component
  const char* name;  // last component of `path`
  uint32_t name_hash, path_hash;
  int32_t next_name, next_path;  // chains of the two hash tables, -1 at the end
  uint8_t flags;
  uint8_t marks;  // PathMark bits
  // What the record lists there: one object, or after an interrupted run
  // the old file and the new one it was about to write.
  uint8_t recorded_count;
  InstalledIdentity recorded[2];
  // PATH_INSTALLS: the file the attachment will write; PATH_WRITTEN or
  // PATH_MADE_DIRECTORY: what this run wrote or made.
  InstalledIdentity own;
};

struct FileIdentity {
  dev_t device;
  ino_t inode;
};

struct OwnedIndex {
  OwnedPath* paths;
  size_t count, capacity;
  int32_t* name_buckets;
  int32_t* path_buckets;
  size_t bucket_count;
  FileIdentity* made;  // files written by this run; open addressing, inode 0 marks a free slot
  size_t made_count, made_capacity;
  uint8_t* crc_table;  // for comparing files with their record; made on first use
  // Told of every listed path left alone because its object changed since it
  // was installed (the path is then no longer listed). May be null.
  void (*kept)(void* context, const char* path);
  // Told of a deletion entry's path that the product's record does not
  // list, left alone. May be null.
  void (*not_owned)(void* context, const char* path);
  // Told instead of `kept` where the path is a configuration file. May be null.
  void (*kept_config)(void* context, const char* path);
  void* kept_context;  // for all three
};

void owned_index_init(OwnedIndex* index);
void owned_index_release(OwnedIndex* index);

// Adds `flags` to the path (normalised here, see normalize_path); adding PATH_WRITTEN or
// PATH_MADE_DIRECTORY clears PATH_GONE. `identity`, when given, is what
// the record lists there (with PATH_RECORDED; a third one is dropped) or
// what this run will write or has written or made. 0, or -1 when memory
// runs out. Paths that normalise to nothing are ignored.
int owned_index_add(OwnedIndex* index, const char* path, size_t length, unsigned flags,
                    const InstalledIdentity* identity = nullptr);

// The flags of the path (normalised here), 0 when it is not in the index.
unsigned owned_index_flags(const OwnedIndex* index, const char* path, size_t length);
// Marks the path gone (no longer to be recorded).
void owned_index_forget(OwnedIndex* index, const char* path, size_t length);

// Removes what the rule selects for base name `name` below the directory open
// at `root_fd`, but for a directory where the attachment installs a file:
// that one goes through owned_index_sweep_path when the file's own entry
// finds it in the way. Failures are not reported (a non-empty directory
// stays). Returns the number removed.
size_t owned_index_sweep(OwnedIndex* index, const char* name, int root_fd);

// The rule for the one path `entry` of base name `name` (1 when its object
// was removed).
size_t owned_index_sweep_path(OwnedIndex* index, const char* entry, const char* name, int root_fd);

// Remembers a file written by this run: it is never swept, however it is
// reached. 0, or -1 when memory runs out.
int owned_index_mark_identity(OwnedIndex* index, dev_t device, ino_t inode);

// A deletion entry: removes the object at the one path `entry` when the
// index lists it and it is still what was installed, when a record of paths
// alone lists it (the vendor's word is all there is to go by), or, without
// `record_found`, whatever it is (a directory only when empty), as the
// product has no record to ask. A listed object that changed goes to
// `kept`, an unlisted one under a record to `not_owned`, and both stay.
// Directories on the way are entered as when writing, in-tree links
// included. 1 when removed.
size_t owned_index_remove_path(OwnedIndex* index, const char* entry, int root_fd, bool record_found);

// Removes a listed file or link where the directory `component` (the last
// component of `prefix`, in the directory open at `dir_fd`) is needed, when
// it is still what was installed and this attachment installs nothing there
// but a directory. 1 when removed.
int owned_index_clear_way(OwnedIndex* index, const char* prefix, int dir_fd, const char* component);

// Whether the index lists `path` as installed by an earlier run and the
// object `name` (lstat `st`, not a directory) in `dir_fd` is still that
// object: 1 or 0.
int owned_index_unchanged(OwnedIndex* index, const char* path, int dir_fd, const char* name, const struct stat& st);

// Whether the file about to be replaced at `path` (the object `name`, lstat
// `st`, not a directory, in `dir_fd`) holds a user's edit: the product's
// record lists the path with what was installed there, and the object is
// neither that nor the version this attachment installs. 1 or 0; 1 too when
// its bytes cannot be read to tell. A record of paths alone never says so.
int owned_index_user_changed(OwnedIndex* index, const char* path, int dir_fd, const char* name, const struct stat& st);

// After interrupted runs the record may list two objects at a path that
// this attachment installs, and a run lists what it will write beside
// them, one more than a record keeps. So before the record that precedes
// the first change, each such path keeps only the identity that its
// object still is (or the first, when it is none of them, which says as
// much). Paths are reached as when writing, in-tree links included.
void owned_index_settle_identities(OwnedIndex* index, int root_fd);

// Adds `marks` (PathMark bits) to a path the index holds already.
void owned_index_mark(OwnedIndex* index, const char* path, size_t length, unsigned marks);

// Whether the record should call `p` a configuration file: what this
// attachment says where it installs the path, else what the record said.
inline bool owned_path_is_config(const OwnedPath& p) {
  return (p.flags & PATH_INSTALLS) ? (p.marks & MARK_CONFIG_INSTALLS) != 0 : (p.marks & MARK_CONFIG_RECORDED) != 0;
}

// Whether this run wrote a regular file at `path`, and in `identity` what
// it was once written: what a hard link to it must find there.
bool owned_index_written(const OwnedIndex* index, const char* path, InstalledIdentity* identity);
// What this attachment will write at `path` (`length` bytes), as given to
// owned_index_add with PATH_INSTALLS; false when it writes no file there.
bool owned_index_intended(const OwnedIndex* index, const char* path, size_t length, InstalledIdentity* identity);

// Whether `path` is still listed: an empty directory there holds nothing
// to lose, whatever was installed there.
bool owned_index_listed(const OwnedIndex* index, const char* path);

// Whether the object `name` (lstat `st`, not a directory) in `dir_fd` is
// one that an earlier run installed, unchanged, under whatever path it was
// listed (written through a link, it lies elsewhere): 1 or 0.
int owned_index_installed_anywhere(OwnedIndex* index, int dir_fd, const char* name, const struct stat& st);

// Where a file or a link of this attachment takes the place of a directory
// of an earlier installation: removes the listed, unchanged objects below
// `path` that this run neither installs nor wrote, deepest first, so that
// the directory can go when nothing else is in it. Returns the number
// removed.
size_t owned_index_clear_below(OwnedIndex* index, const char* path, int root_fd);

// Hooks for open_directory_below with BELOW_CREATE: a file the index lists
// gives way to a directory where owned_index_clear_way lets it, and every
// directory made is added as PATH_MADE_DIRECTORY. `index` must outlive them.
BelowHooks owned_index_below_hooks(OwnedIndex* index);

// An upgrade's end: removes every listed object that this run neither
// installs nor wrote and that is unchanged, then the listed directories that
// are empty then, deepest first. Returns the number removed.
size_t owned_index_remove_unlisted(OwnedIndex* index, int root_fd);

// Adds, as directories this attachment installs, the directories on the
// way to its paths that are missing below `root_fd` now: the run will make
// them, so the record written before its first change claims them too.
// `root_fd` -1 stands for a tree that holds nothing yet: every one is
// missing. 0, or -1 when memory runs out.
int owned_index_expect_directories(OwnedIndex* index, int root_fd);

// Calls `each` for every path and identity that an installation record
// should list now; with `intent`, also the files this attachment is still to
// write, as a record that a run killed on the way must leave. Stops at the
// first nonzero result and returns it.
int owned_index_each_recorded(const OwnedIndex* index, bool intent,
                              int (*each)(void* context, const char* path, const InstalledIdentity& identity),
                              void* context);
// The same walk for the paths it lists as configuration files, each once.
int owned_index_each_config(const OwnedIndex* index, bool intent, int (*each)(void* context, const char* path),
                            void* context);
