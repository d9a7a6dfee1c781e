#include "engine/install/link_entries.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "engine/filesystem/directory_below.h"
#include "engine/filesystem/guards.h"
#include "engine/filesystem/temporary_files.h"

namespace {

struct Target {
  char bytes[LINK_TARGET_MAX + 1];
  uint32_t size;
};

int keep_target(void* context, const uint8_t* data, uint32_t size) {
  Target* t = static_cast<Target*>(context);
  if (size > LINK_TARGET_MAX - t->size) return -1;
  memcpy(t->bytes + t->size, data, size);
  t->size += size;
  return 0;
}

// How a link is made under a temporary name `temp` in `dir`: 0, or -1 with
// errno set (EEXIST: the name was taken meanwhile).
struct LinkMaker {
  int (*make)(const void* what, int dir, const char* temp);
  const void* what;
};

int make_symlink(const void* target, int dir, const char* temp) {
  return symlinkat(static_cast<const char*>(target), dir, temp);
}

// The first name's file, reached by its directory's descriptor; linkat
// without AT_SYMLINK_FOLLOW takes a link there as it is, never its target.
struct FirstName {
  int dir_fd;
  const char* base;
};

int make_hard_link(const void* first, int dir, const char* temp) {
  const FirstName* f = static_cast<const FirstName*>(first);
  return linkat(f->dir_fd, f->base, dir, temp, 0);
}

// The link made under a temporary's name where files' temporaries lie (see
// temporary_files.h): in the record directory, or beside its place when that
// is on another file system, since a rename cannot cross file systems. The
// name is won as a file's and then taken over by the link.
int make_temporary_link(Extraction* x, const LinkMaker& maker, int* temp_dir, char* temp) {
  if (x->dir_same_device < 0) {
    struct stat st;
    x->dir_same_device = fstat(x->dir_fd, &st) == 0 && st.st_dev == x->record_device;
    if (!x->dir_same_device && note_temporary_directory(x->record.dir_fd, x->dir_path, strlen(x->dir_path)) != 0) {
      x->dir_same_device = -1;
      return -1;
    }
  }
  *temp_dir = x->dir_same_device ? x->record.dir_fd : x->dir_fd;
  const char* prefix = x->dir_same_device ? INSTALL_RECORD_TEMPORARY_PREFIX : TEMPORARY_BESIDE_PREFIX;
  for (int attempt = 0; attempt < 100; attempt++) {
    TemporaryFile name;
    name.file.fd = create_temporary(*temp_dir, prefix, 0600, name.name);
    if (name.file.fd < 0) return -1;
    name.dir = *temp_dir;
    memcpy(temp, name.name, sizeof name.name);
    name.discard();
    if (maker.make(maker.what, *temp_dir, temp) == 0) return 0;
    if (errno != EEXIST) return -1;
  }
  return -1;
}

// The link takes its name by one rename, over whatever file or link was
// there. 0, or -1 with `f` filled in and the temporary gone.
int rename_into_place(Extraction* x, int temp_dir, const char* temp, EngineFailure* f) {
  if (renameat(temp_dir, temp, x->dir_fd, x->file_name) == 0) return 0;
  int error = errno;
  unlinkat(temp_dir, temp, 0);
  // A directory in the way: reported as for a file.
  if (error == ENOTEMPTY || error == EEXIST) error = EISDIR;
  return fail_with(f, FAILURE_CREATE_FILE, error);
}

// The link's target, or the hard link's first name: `held`, or else read
// from `stream`. 0, or -1 with `f` filled in.
int read_link_data(Extraction* x, EntryStream* stream, const uint8_t* crc_table, const Entry& e, const uint8_t* held,
                   Target* target, EngineFailure* f) {
  target->size = 0;
  if (held) {
    keep_target(target, held, e.file_size);
  } else {
    int fault = FAILURE_NONE;
    if (!x->streamer.codec && (fault = entry_streamer_open(&x->streamer, stream)) != FAILURE_NONE)
      return fail_with(f, fault);
    const EntrySink sink{keep_target, target};
    fault = stream_entry_data(stream, crc_table, &x->streamer, &e, &sink, nullptr);
    if (fault != FAILURE_NONE) return fail_with(f, fault);
  }
  // A NUL would cut the target short: the link would point elsewhere.
  if (target->size != e.file_size || memchr(target->bytes, 0, target->size)) return fail_with(f, ENTRY_FAULT_TREE_OBJECT);
  target->bytes[target->size] = 0;
  return 0;
}

int install_link(Extraction* x, EntryStream* stream, const uint8_t* crc_table, const Entry& e, const uint8_t* held,
                 EngineFailure* f) {
  Target target;
  if (read_link_data(x, stream, crc_table, e, held, &target, f) != 0) return -1;
  // As the check pass found, should the file have changed since.
  if (link_target_escape(e.name, target.bytes, target.size) == LINK_RECORD_DIRECTORY)
    return fail_with(f, ENTRY_FAULT_NAME_ESCAPES);
  // A directory that takes no new name cannot take a link either: a link
  // is never written in place.
  if (x->in_place) return fail_with(f, FAILURE_CREATE_FILE, x->dir_access_error);

  int temp_dir = -1;
  char temp[TEMPORARY_NAME_SIZE];
  if (make_temporary_link(x, LinkMaker{make_symlink, target.bytes}, &temp_dir, temp) != 0)
    return fail_with(f, FAILURE_CREATE_FILE, errno);
  if (rename_into_place(x, temp_dir, temp, f) != 0) return -1;
  if (e.mod_time != 0) {
    const timespec times[2] = {{e.mod_time, 0}, {e.mod_time, 0}};
    utimensat(x->dir_fd, x->file_name, times, AT_SYMLINK_NOFOLLOW);
  }
  // Listed with what it is now and its target's CRC (the entry's file CRC),
  // so that only this very link is ever removed or replaced.
  struct stat st;
  if (fstatat(x->dir_fd, x->file_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return 0;  // then never removed
  InstalledIdentity id = identity_of(st, 0);
  id.crc = get_u16(e.record + RECORD_FILE_CRC);
  if (owned_index_mark_identity(&x->owned, st.st_dev, st.st_ino) != 0 ||
      owned_index_add(&x->owned, e.name, strlen(e.name), PATH_WRITTEN, &id) != 0)
    return fail_with(f, FAILURE_NO_MEMORY);
  return 0;
}

// A hard link to the file this run wrote for an earlier entry: made under a
// temporary name from that file's directory, reached as the file was, and
// given its name only once it is known to be that very file, so that
// whatever was put at the first name meanwhile is never linked. Both names
// are then listed with the file's identity: a change through either is a
// change of both, and either goes when the file is still as written.
int install_hard_link(Extraction* x, EntryStream* stream, const uint8_t* crc_table, const Entry& e, const uint8_t* held,
                      EngineFailure* f) {
  Target name;
  if (read_link_data(x, stream, crc_table, e, held, &name, f) != 0) return -1;
  if (!name_stays_inside(name.bytes)) return fail_with(f, ENTRY_FAULT_NAME_ESCAPES);
  char first[SYSTEM_PATH_SIZE];
  size_t length = normalize_path(name.bytes, name.size, first);
  if (length == 0) return fail_with(f, ENTRY_FAULT_TREE_OBJECT);
  first[length] = 0;
  if (x->in_place) return fail_with(f, FAILURE_CREATE_FILE, x->dir_access_error);
  InstalledIdentity written;
  if (!owned_index_written(&x->owned, first, &written)) return fail_with(f, FAILURE_CREATE_FILE, ENOENT);

  const char* base = entry_file_name(first);
  Descriptor from(open_directory_below(x->root_fd, first, size_t(base - first), BELOW_LINKS, nullptr));
  if (from.fd < 0) return fail_with(f, FAILURE_CREATE_FILE, errno);
  const FirstName file{from.fd, base};
  int temp_dir = -1;
  char temp[TEMPORARY_NAME_SIZE];
  if (make_temporary_link(x, LinkMaker{make_hard_link, &file}, &temp_dir, temp) != 0)
    return fail_with(f, FAILURE_CREATE_FILE, errno);
  struct stat st;
  if (fstatat(temp_dir, temp, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
      uint64_t(st.st_dev) != written.device || uint64_t(st.st_ino) != written.inode) {
    unlinkat(temp_dir, temp, 0);
    return fail_with(f, FAILURE_CREATE_FILE, ENOENT);
  }
  if (rename_into_place(x, temp_dir, temp, f) != 0) return -1;
  // A rename between two names of one file leaves both: the link was
  // there already.
  struct stat left;
  if (fstatat(temp_dir, temp, &left, AT_SYMLINK_NOFOLLOW) == 0 && left.st_ino == st.st_ino && left.st_dev == st.st_dev)
    unlinkat(temp_dir, temp, 0);
  InstalledIdentity id = identity_of(st, written.crc);
  if (owned_index_add(&x->owned, e.name, strlen(e.name), PATH_WRITTEN, &id) != 0) return fail_with(f, FAILURE_NO_MEMORY);
  return 0;
}

// Sets the mode through a descriptor of the directory itself, so that a link
// put in its place meanwhile is not followed; `*identity` learns what the
// directory is then. Not reported when it fails, as for files.
void set_directory_mode(int parent, const char* base, uint16_t mode, InstalledIdentity* identity) {
  Descriptor dir(openat(parent, base, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (dir.fd < 0) return;
  fchmod(dir.fd, mode_t(mode & 07777));
  struct stat st;
  if (fstat(dir.fd, &st) == 0) *identity = identity_of(st, 0);
}

int install_directory(Extraction* x, const Entry& e, EngineFailure* f) {
  size_t start, end;
  entry_last_component(e.name, &start, &end);
  if (end - start > NAME_COMPONENT_MAX) return fail_with(f, FAILURE_CREATE_DIRECTORY, ENAMETOOLONG);
  char base[NAME_COMPONENT_MAX + 1];
  memcpy(base, e.name + start, end - start);
  base[end - start] = 0;
  // The installation directory itself is the user's choice: its mode stays.
  if (!*base || strcmp(base, ".") == 0) return 0;
  if (!path_fits(strlen(x->install_dir) + 1 + end))
    return fail_with(f, FAILURE_CREATE_DIRECTORY, ENAMETOOLONG);

  const BelowHooks hooks = owned_index_below_hooks(&x->owned);
  int parent = open_directory_below(x->root_fd, e.name, start, BELOW_CREATE | BELOW_LINKS, &hooks);
  if (parent < 0) return fail_with(f, FAILURE_CREATE_DIRECTORY, errno);
  const bool owned = owned_index_flags(&x->owned, e.name, end) & (PATH_RECORDED | PATH_WRITTEN | PATH_MADE_DIRECTORY);
  int error = 0;
  bool made = false;
  struct stat st;
  // An earlier version's file or link gives way; anything else in its place
  // stays, as a file in the way of a directory does.
  if (fstatat(parent, base, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode) &&
      !owned_index_clear_way(&x->owned, e.name, parent, base))
    error = EEXIST;
  if (error == 0 && fstatat(parent, base, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    // Only the owner can enter it until its mode is set.
    if (mkdirat(parent, base, 0700) == 0)
      made = true;
    else
      error = errno;
  }
  InstalledIdentity id{};
  if (error == 0 && (made || owned)) set_directory_mode(parent, base, e.mode, &id);
  close(parent);
  if (error != 0) return fail_with(f, FAILURE_CREATE_DIRECTORY, error);
  // Recorded as the product's, so that a later run may set its mode again;
  // it is not marked as made here, which would let the sweep take it.
  if ((made || owned) && owned_index_add(&x->owned, e.name, end, PATH_WRITTEN, &id) != 0) return fail_with(f, FAILURE_NO_MEMORY);
  return 0;
}

}  // namespace

int install_tree_object(Extraction* x, EntryStream* stream, const uint8_t* crc_table, const Entry& e, const uint8_t* target,
                        EngineFailure* f) {
  if (e.type == ENTRY_DIRECTORY) return install_directory(x, e, f);
  if (e.type == ENTRY_HARD_LINK) return install_hard_link(x, stream, crc_table, e, target, f);
  return install_link(x, stream, crc_table, e, target, f);
}
