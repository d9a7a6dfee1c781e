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

// The link made under a temporary's name where files' temporaries lie (see
// temporary_files.h): in the record directory, or beside its place when that
// is on another file system, since a rename cannot cross file systems. The
// name is won as a file's and then taken over by the link.
int make_temporary_link(Extraction* x, const char* target, int* temp_dir, char* temp) {
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
    if (symlinkat(target, *temp_dir, temp) == 0) return 0;
    if (errno != EEXIST) return -1;
  }
  return -1;
}

int install_link(Extraction* x, EntryStream* stream, const uint8_t* crc_table, const Entry& e, const uint8_t* held,
                 EngineFailure* f) {
  Target target;
  target.size = 0;
  if (held) {
    keep_target(&target, held, e.file_size);
  } else {
    int fault = FAILURE_NONE;
    if (!x->streamer.codec && (fault = entry_streamer_open(&x->streamer, stream)) != FAILURE_NONE)
      return fail_with(f, fault);
    const EntrySink sink{keep_target, &target};
    fault = stream_entry_data(stream, crc_table, &x->streamer, &e, &sink, nullptr);
    if (fault != FAILURE_NONE) return fail_with(f, fault);
  }
  // A NUL would cut the target short: the link would point elsewhere.
  if (target.size != e.file_size || memchr(target.bytes, 0, target.size)) {
    return fail_with(f, ENTRY_FAULT_TREE_OBJECT);
  }
  target.bytes[target.size] = 0;
  // As the check pass found, should the file have changed since.
  if (link_target_escape(e.name, target.bytes, target.size) == LINK_RECORD_DIRECTORY)
    return fail_with(f, ENTRY_FAULT_NAME_ESCAPES);
  // A directory that takes no new name cannot take a link either: a link
  // is never written in place.
  if (x->in_place) return fail_with(f, FAILURE_CREATE_FILE, x->dir_access_error);

  int temp_dir = -1;
  char temp[TEMPORARY_NAME_SIZE];
  if (make_temporary_link(x, target.bytes, &temp_dir, temp) != 0)
    return fail_with(f, FAILURE_CREATE_FILE, errno);
  if (renameat(temp_dir, temp, x->dir_fd, x->file_name) != 0) {
    int error = errno;
    unlinkat(temp_dir, temp, 0);
    // A directory in the way: reported as for a file.
    if (error == ENOTEMPTY || error == EEXIST) error = EISDIR;
    return fail_with(f, FAILURE_CREATE_FILE, error);
  }
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
  return install_link(x, stream, crc_table, e, target, f);
}
