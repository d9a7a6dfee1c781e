// Whether an object below the installation directory is still the one the
// installer put there, and its removal only then.
//
// A path alone says nothing about who put the file there now: the user may
// have saved his own under that name, another product may have replaced it.
// So the installation record keeps, for every path, what the object looked
// like when it was written (type, mode, size, modification time, device and
// inode, and the CRC of a file's bytes, which the installer checks while it
// writes anyway, or of a link's target, which cannot change while the link
// keeps its inode). An object that differs in any of these is no longer the
// installer's: it is never removed. A directory the product listed goes
// whenever it is empty, as an empty directory holds nothing to lose.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>

enum IdentityKind : uint8_t {
  IDENTITY_UNKNOWN = 0,  // listed by an installer that recorded paths only: never matches
  IDENTITY_OBJECT,       // the object as it was written, device and inode included
  // A file an interrupted run was about to write: its size and CRC, and its
  // time and mode when the entry sets them. Any file with these bytes is it.
  IDENTITY_CONTENT,
};

struct InstalledIdentity {
  uint64_t size;
  uint64_t device;
  uint64_t inode;
  int64_t mtime;
  uint32_t mtime_nsec;
  uint32_t mode;  // st_mode, type bits included; 0 for a content identity that sets none
  uint16_t crc;   // of a regular file's bytes or a link's target, in the stored form crc16 returns
  uint8_t kind;
};

// The identity of `st` as written now (crc: of its bytes when a regular file).
InstalledIdentity identity_of(const struct stat& st, uint16_t crc);

// The longest text identity_format writes, its NUL included.
constexpr size_t IDENTITY_TEXT_MAX = 128;

// As one line field of the record: kind letter and numbers, blank-separated.
// Returns the length written to `out` (IDENTITY_TEXT_MAX bytes).
size_t identity_format(const InstalledIdentity& id, char* out);

// Reads what identity_format wrote from `text` (`length` bytes, no NUL).
// 0, or -1 when it is not such a text.
int identity_parse(const char* text, size_t length, InstalledIdentity* id);

// The CRC of what `fd` reads to its end, as identities hold it; -1 when it
// cannot be read whole.
long bytes_crc(int fd, const uint8_t* crc_table);

enum OwnedResult {
  OWNED_REMOVED = 0,
  OWNED_ABSENT,   // nothing there
  OWNED_CHANGED,  // an object that is none of the identities: left alone
  OWNED_LEFT,     // a directory that is not empty, or a removal that failed
};

// Whether the object `name` (not a directory; `st` is its lstat) in the
// directory open at `dir_fd` is one of the `count` identities, a regular
// file also by its bytes' CRC: 1 or 0, or -1 when its bytes cannot be read.
int object_is_installed(int dir_fd, const char* name, const struct stat& st, const InstalledIdentity* ids, size_t count,
                        const uint8_t* crc_table);

// Removes the object `name` in the directory open at `dir_fd` when it is a
// directory (and empty), or when it matches one of the `count` identities;
// a regular file also by its bytes' CRC (`crc_table` from crc16_table).
int remove_if_owned(int dir_fd, const char* name, const InstalledIdentity* ids, size_t count,
                    const uint8_t* crc_table);
