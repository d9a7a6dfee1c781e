// Temporaries that new files are written to before they take their names.
//
// Their names carry 64 random bits: another user cannot create one first or
// guess where a file's data lies while it is written, and a run whose process
// number repeats (a fresh PID namespace starts every run as 1) never meets a
// name that a killed run left. Each is created with O_EXCL, trying again on
// a clash, and readable by its owner only until its final mode is applied.
//
// Temporaries normally lie in the record directory, whose leftovers the next
// run clears under the lock. A file whose directory is on another file
// system gets its temporary beside it; such directories are noted in the
// record directory before the first temporary is made there, so that the
// next run can clear them too after a kill.
#pragma once

#include <sys/types.h>

#include <cstddef>

constexpr char TEMPORARY_BESIDE_PREFIX[] = ".zolt-setup-tmp-";
constexpr size_t TEMPORARY_RANDOM_DIGITS = 16;  // 64 bits in hex
// The longest prefix with its random digits and the NUL.
constexpr size_t TEMPORARY_NAME_SIZE = sizeof TEMPORARY_BESIDE_PREFIX + TEMPORARY_RANDOM_DIGITS;

// Creates `prefix` and random digits in `dir_fd`, open for writing, its name
// in `name` (at least TEMPORARY_NAME_SIZE bytes). A descriptor, or -1 with
// errno set.
int create_temporary(int dir_fd, const char* prefix, mode_t mode, char* name);

// renameat that never replaces what `to` names: -1 with EEXIST when
// something is there. Where the file system cannot say so atomically, the
// name is looked at first.
int rename_without_replacing(int from_dir, const char* from, int to_dir, const char* to);

// 1 when `name` is `prefix` followed by exactly the random digits.
int is_temporary_name(const char* name, const char* prefix);

// Removes the temporaries of `prefix` from the directory open for reading
// at `fd` (-1: none), which it closes; with `any_suffix`, every name that
// begins with `prefix`, for a directory that holds no other such name.
void remove_temporaries_at(int fd, const char* prefix, int any_suffix);

// Notes in the record directory `record_dir` that temporaries are made in
// the directory `path` (`length` bytes, as entries spell it) below the
// installation directory. 0, or -1 with errno set.
int note_temporary_directory(int record_dir, const char* path, size_t length);

// Removes the temporaries that killed runs left in the directories noted,
// then the note. Called with the lock held.
void remove_noted_temporaries(int record_dir, int root_fd);

// Forgets the note once the run has removed or renamed every temporary.
void forget_temporary_directories(int record_dir);
