#include "engine/install/extraction.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/filesystem/directory_below.h"
#include "engine/filesystem/guards.h"
#include "engine/install/link_entries.h"
#include "engine/install/tree_shape.h"
#include "engine/filesystem/stage_directory.h"
#include "engine/filesystem/temporary_files.h"

namespace {

int path_is_directory(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0) return -1;
  return S_ISDIR(st.st_mode) ? 1 : 0;
}

// The directories kept from before: whatever a removal took may be one of
// them.
void forget_kept_directories(Extraction* x) {
  for (size_t i = 0; i < x->kept_count; i++) {
    close(x->kept[i].fd);
    free(x->kept[i].path);
  }
  x->kept_count = 0;
}

void forget_directory(Extraction* x) {
  if (x->dir_fd >= 0) close(x->dir_fd);
  x->dir_fd = -1;
  x->dir_writable = x->dir_same_device = -1;
  forget_kept_directories(x);
}

// The current directory joins those kept, the least recently used giving
// way; without memory for its path it is closed.
void keep_current_directory(Extraction* x) {
  if (x->dir_fd < 0) return;
  char* path = strdup(x->dir_path);
  if (!path) {
    close(x->dir_fd);
  } else {
    if (x->kept_count == EXTRACTION_KEPT_DIRECTORIES) {
      KeptDirectory& last = x->kept[--x->kept_count];
      close(last.fd);
      free(last.path);
    }
    memmove(x->kept + 1, x->kept, x->kept_count * sizeof x->kept[0]);
    x->kept[0] = KeptDirectory{x->dir_fd, path, x->dir_device, x->dir_inode, x->dir_writable, x->dir_access_error,
                               x->dir_same_device};
    x->kept_count++;
  }
  x->dir_fd = -1;
  x->dir_writable = x->dir_same_device = -1;
}

// Makes the kept directory of `path` (`length` bytes) the current one: 1,
// or 0 when none is kept.
bool take_kept_directory(Extraction* x, const char* path, size_t length) {
  for (size_t i = 0; i < x->kept_count; i++) {
    KeptDirectory k = x->kept[i];
    if (strlen(k.path) != length || memcmp(k.path, path, length) != 0) continue;
    memmove(x->kept + i, x->kept + i + 1, (x->kept_count - i - 1) * sizeof x->kept[0]);
    x->kept_count--;
    x->dir_fd = k.fd;
    memcpy(x->dir_path, k.path, length + 1);
    free(k.path);
    x->dir_device = k.device;
    x->dir_inode = k.inode;
    x->dir_writable = k.writable;
    x->dir_access_error = k.access_error;
    x->dir_same_device = k.same_device;
    return true;
  }
  return false;
}

int commit_batch(Extraction* x, EngineFailure* f, bool finish = false);

// The descriptor of the directory below install_dir that the file of `name`
// goes into, made as needed with the directories the name asks for.
int open_file_directory(Extraction* x, const char* name, EngineFailure* f) {
  size_t make = entry_directory_part(name), parent = entry_parent_part(name);
  if (x->dir_fd >= 0 && make == parent && strlen(x->dir_path) == parent && memcmp(x->dir_path, name, parent) == 0)
    return 0;
  keep_current_directory(x);
  // A file waiting for its name where this path needs a directory: it takes
  // the name first, and the path then meets it as it would have.
  if (durable_batch_blocks_directory(&x->batch, name, make) && commit_batch(x, f) != 0) return -1;
  if (make == parent && take_kept_directory(x, name, parent)) return 0;
  // Behind the last '/', up to a backslash: a directory of that name is made
  // beside the file, unless the name is "." or "..", which every directory
  // has already; "..\\x" thus stays a file of that name where it lies.
  size_t piece = make - parent - (parent > 0 ? 1 : 0);
  const char* start = name + parent + (parent > 0 ? 1 : 0);
  if (parent != make && (piece == 0 || (piece <= 2 && memcmp(start, "..", piece) == 0))) make = parent;
  const int flags = BELOW_CREATE | BELOW_LINKS;
  // A file of an earlier version where a directory is needed gives way when
  // it is still that file; the directories made are the run's own.
  const BelowHooks hooks = owned_index_below_hooks(&x->owned);
  int fd = open_directory_below(x->root_fd, name, make, flags, &hooks);
  if (fd < 0 && (errno == EMFILE || errno == ENFILE) && x->kept_count > 0) {
    // The kept directories give way to what the run needs.
    forget_kept_directories(x);
    fd = open_directory_below(x->root_fd, name, make, flags, &hooks);
  }
  if (fd >= 0 && parent != make) {
    close(fd);
    fd = open_directory_below(x->root_fd, name, parent, flags, &hooks);
  }
  if (fd < 0) return fail_with(f, FAILURE_CREATE_DIRECTORY, errno);
  struct stat st;
  if (fstat(fd, &st) != 0) {
    int error = errno;
    close(fd);
    return fail_with(f, FAILURE_CREATE_DIRECTORY, error);
  }
  x->dir_fd = fd;
  x->dir_device = st.st_dev;
  x->dir_inode = st.st_ino;
  memcpy(x->dir_path, name, parent);
  x->dir_path[parent] = 0;
  return 0;
}

int write_all(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return -1;
    }
    data += n;
    size -= size_t(n);
  }
  return 0;
}

// The file of the entry in hand while its data arrives: a write that fails
// is kept and reported once the data has been checked, since damaged data is
// reported first, as when the file was written only after its check.
struct FileOutput {
  int fd;
  int failed;
  EngineFailure failure;
};

int output_slice(void* context, const uint8_t* data, uint32_t size) {
  FileOutput* out = static_cast<FileOutput*>(context);
  if (write_all(out->fd, data, size) == 0) return 0;
  fail_with(&out->failure, FAILURE_SAVE_DATA, errno);
  out->failed = 1;
  return -1;
}

// The times and the mode. A file without a time keeps those of a file
// created here, though its temporary was made readable by its owner only.
void apply_times_and_mode(const Extraction* x, int fd, const Entry& e) {
  if (e.mod_time != 0) {
    const timespec times[2] = {{e.mod_time, 0}, {e.mod_time, 0}};
    futimens(fd, times);
    fchmod(fd, mode_t(e.mode));
  } else {
    fchmod(fd, x->new_file_mode);
  }
}

// The record lists the file once it holds its name. A new version beside
// a user's configuration file is the user's to merge: not listed.
int renamed(void* context, const char* name, int beside) {
  Extraction* x = static_cast<Extraction*>(context);
  if (beside) {
    if (x->beside) x->beside(x->owned.kept_context, name, 1);
    return 0;
  }
  return owned_index_add(&x->owned, name, strlen(name), PATH_WRITTEN);
}

// Names tried for a copy: NAME.suffix, then NAME.suffix.1 up to .99.
constexpr int BESIDE_TRIES = 100;

// The user's file at the entry's name changed since the product installed
// it. A configuration file stays and the new version is written beside it;
// any other file keeps the user's bytes under a second name, made by a link
// so that no copy can be left half-written, before the new version takes
// the name. A name anything holds, or that the product lists or installs,
// is never taken. 0, or -1 with `f` filled in.
int keep_users_edit(Extraction* x, const Entry& e, size_t dir_length, EngineFailure* f) {
  // Without new names in the directory there is nowhere to keep the edit.
  if (x->in_place) return fail_with(f, FAILURE_CREATE_FILE, x->dir_access_error);
  const bool config = entry_is_config(e);
  const char* suffix = config ? BESIDE_NEW_SUFFIX : BESIDE_OLD_SUFFIX;
  char path[EXTRACTION_PATH_SIZE];
  for (int n = 0; n < BESIDE_TRIES; n++) {
    int length = n ? snprintf(path, sizeof path, "%s%s.%d", e.name, suffix, n)
                   : snprintf(path, sizeof path, "%s%s", e.name, suffix);
    const char* base = path + (x->file_name - e.name);
    if (length < 0 || size_t(length) >= sizeof path || !path_fits(dir_length + size_t(length)) || strlen(base) > NAME_MAX)
      return fail_with(f, FAILURE_CREATE_FILE, ENAMETOOLONG);
    if (owned_index_flags(&x->owned, path, size_t(length)) != 0) continue;
    if (config) {
      struct stat st;
      if (fstatat(x->dir_fd, base, &st, AT_SYMLINK_NOFOLLOW) == 0) continue;
      if (errno != ENOENT) return fail_with(f, FAILURE_CREATE_FILE, errno);
      memcpy(x->beside_name, path, size_t(length) + 1);
      return 0;
    }
    int kept = linkat(x->dir_fd, x->file_name, x->dir_fd, base, 0);
    // Where the file system has no hard links, the user's file moves to the
    // name instead: until the new version comes, the path holds nothing.
    if (kept != 0 && (errno == EPERM || errno == EOPNOTSUPP || errno == EMLINK))
      kept = rename_without_replacing(x->dir_fd, x->file_name, x->dir_fd, base);
    if (kept == 0) {
      if (x->beside) x->beside(x->owned.kept_context, path, 0);
      return 0;
    }
    if (errno != EEXIST) return fail_with(f, FAILURE_CREATE_FILE, errno);
  }
  return fail_with(f, FAILURE_CREATE_FILE, EEXIST);
}

// The record's new name is durable only once its directory is flushed.
void flush_record_directory(const Extraction* x) {
  Descriptor dir(openat(x->record.dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.fd >= 0) fsync(dir.fd);
}

// Every file waiting in the batch takes its name; with `finish`, the names
// are flushed to disk too.
int commit_batch(Extraction* x, EngineFailure* f, bool finish) {
  if (finish) return durable_batch_finish(&x->batch, renamed, x, f);
  return x->batch.count == 0 ? 0 : durable_batch_commit(&x->batch, renamed, x, f);
}

// What the product's record lists goes only when it is still as installed;
// without a record the entry is the vendor's word alone. The path is walked
// as when writing, so an in-tree link on the way leads where the file was
// written through it.
int delete_entry(Extraction* x, const Entry& e) {
  forget_directory(x);  // whatever goes may be the cached directory
  if (*e.name) x->swept += owned_index_remove_path(&x->owned, e.name, x->root_fd, x->record.found);
  return 0;
}

// What the file is now, times and mode applied, for the record once it
// holds its name (rename changes none of it); and, the sweep being able to
// reach the file by another name, that it is this run's.
int note_identity(Extraction* x, int fd, const Entry& e, EngineFailure* f) {
  struct stat st;
  if (fstat(fd, &st) != 0) return 0;  // then the record cannot vouch for the file: it is never removed
  if (owned_index_mark_identity(&x->owned, st.st_dev, st.st_ino) != 0) return fail_with(f, FAILURE_NO_MEMORY);
  InstalledIdentity id = identity_of(st, get_u16(e.record + RECORD_FILE_CRC));
  // Written beside the user's configuration file, the new version is what
  // the name holds once the user takes it in its place: the product's then.
  unsigned flags = x->beside_name[0] ? PATH_RECORDED : 0;
  if (owned_index_add(&x->owned, e.name, strlen(e.name), flags, &id) != 0) return fail_with(f, FAILURE_NO_MEMORY);
  return 0;
}

}  // namespace

int ends_with_slash(const char* text) {
  size_t n = strlen(text);
  return n > 0 && text[n - 1] == '/';
}

int make_directories(char* path) {
  if (!path || !*path) return 1;
  char* p = path + (path[0] == '/');
  for (;; p++) {
    if (*p != '/' && *p != 0) continue;
    char saved = *p;
    *p = 0;
    if (path_is_directory(path) != 1 && mkdir(path, 0755) != 0) return 0;
    *p = saved;
    if (saved == 0 || p[1] == 0) return 1;
  }
}

int extraction_init(Extraction* x, const char* install_dir) {
  memset(x, 0, sizeof *x);
  x->install_dir = install_dir;
  x->root_fd = x->dir_fd = x->record.dir_fd = x->record.lock_fd = -1;
  x->stage_fd = x->tree_fd = -1;
  x->dir_writable = x->dir_same_device = -1;
  x->flush_data = 1;
  durable_batch_init(&x->batch, 1);
  owned_index_init(&x->owned);
  return 0;
}

void extraction_on_kept(Extraction* x, void (*kept)(void*, const char*), void (*not_owned)(void*, const char*),
                        void* context) {
  x->owned.kept = kept;
  x->owned.not_owned = not_owned;
  x->owned.kept_context = context;
}

int extraction_expect(Extraction* x, const Entry& e) {
  if (e.type == ENTRY_DELETE || e.type == ENTRY_POST_INSTALL) return 0;
  // What the file will be, for the record written before the first change.
  InstalledIdentity id{};
  id.kind = IDENTITY_CONTENT;
  id.size = e.file_size;
  id.crc = get_u16(e.record + RECORD_FILE_CRC);
  if (e.mod_time != 0) {
    id.mtime = e.mod_time;
    id.mode = S_IFREG | (e.mode & 07777u);
  }
  // A name that cannot name a file fails at its turn, whatever is there.
  const char* file_name = entry_file_name(e.name);
  const unsigned unnamed = !*file_name || strcmp(file_name, ".") == 0 ? unsigned(PATH_UNNAMED) : 0u;
  int added;
  if (e.type == ENTRY_HARD_LINK && e.data) {
    // A hard link will be the file its first name gets: a run killed once
    // it is made leaves it listed as that file.
    bool known = owned_index_intended(&x->owned, reinterpret_cast<const char*>(e.data), e.file_size, &id);
    added = owned_index_add(&x->owned, e.name, strlen(e.name), PATH_INSTALLS | unnamed, known ? &id : nullptr);
  } else {
    // A link or a directory is listed once it is made, with what it is then.
    unsigned kind = e.type == ENTRY_DIRECTORY ? unsigned(PATH_INSTALLS_DIRECTORY)
                    : e.type == ENTRY_SYMLINK ? unsigned(PATH_INSTALLS_LINK) : unnamed;
    added = owned_index_add(&x->owned, e.name, strlen(e.name), PATH_INSTALLS | kind,
                            entry_is_tree_object(e.type) ? nullptr : &id);
  }
  if (added != 0) return -1;
  if (entry_is_config(e)) owned_index_mark(&x->owned, e.name, strlen(e.name), MARK_CONFIG_INSTALLS);
  return 0;
}

// Whether the directory open at `root_fd` holds nothing but the record
// directory.
static bool holds_only_record(int root_fd) {
  int fd = openat(root_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
  if (!dir) {
    if (fd >= 0) close(fd);
    return false;
  }
  bool only = true;
  while (dirent* d = readdir(dir))
    only &= strcmp(d->d_name, ".") == 0 || strcmp(d->d_name, "..") == 0 || strcmp(d->d_name, INSTALL_RECORD_DIRECTORY) == 0;
  closedir(dir);
  return only;
}

// A signed installation is upgraded only by its signer's installers, as a
// phone updates an app only with its signer's key: whoever can replace a
// download cannot replace the installed product unnoticed.
static int check_signer(Extraction* x, EngineFailure* f) {
  InstallRecord& r = x->record;
  bool pinned = r.found && r.signed_by;
  if (pinned && !x->accept_new_signer && !(x->signer && signer_key_equal(r.signer, *x->signer))) {
    char installed[KEY_ID_TEXT_SIZE], offered[KEY_ID_TEXT_SIZE];
    key_id_text(r.signer.id, installed);
    if (x->signer) key_id_text(x->signer->id, offered);
    snprintf(x->blocked, sizeof x->blocked, "installed version signed by key ID %s, this installer %s%s", installed,
             x->signer ? "by key ID " : "unsigned", x->signer ? offered : "");
    return fail_with(f, FAILURE_SIGNER_CHANGED);
  }
  r.signed_by = x->signer != nullptr;
  if (x->signer) r.signer = *x->signer;
  return 0;
}

int extraction_begin(Extraction* x, const char* product, EngineFailure* f) {
  // A file-size limit is then an error of the write, reported, with the old
  // file kept, rather than a signal that ends the run without a word.
  signal(SIGXFSZ, SIG_IGN);
  char path[EXTRACTION_PATH_SIZE];
  snprintf(path, sizeof path, "%s", x->install_dir);
  struct stat before;
  if (*path && stat(path, &before) != 0 && errno == ENOENT) x->target_new = 1;
  errno = 0;
  if (!make_directories(path)) return fail_with(f, FAILURE_CREATE_DIRECTORY, errno);
  // The installation directory itself is the user's choice and is reached by
  // its path, links and all. An empty one stands for the working directory.
  x->root_fd = open(*x->install_dir ? x->install_dir : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (x->root_fd < 0) return fail_with(f, FAILURE_CREATE_DIRECTORY, errno);
  if (install_record_open(&x->record, x->root_fd, product, &x->owned, f) != 0) {
    // The installer has always told a record directory it cannot have as
    // one of the directories it makes.
    if (f->code == FAILURE_OPEN_RECORD) f->code = FAILURE_CREATE_DIRECTORY;
    return -1;
  }
  if (check_signer(x, f) != 0) return -1;
  if (x->record.unavailable_error) {
    x->no_record_error = x->record.unavailable_error;
    install_record_close(&x->record);
  }
  if (!x->no_record_error) {
    struct stat st;
    if (fstat(x->record.dir_fd, &st) != 0) return fail_with(f, FAILURE_CREATE_DIRECTORY, errno);
    x->record_device = st.st_dev;
    remove_noted_temporaries(x->record.dir_fd, x->root_fd);
  }
  mode_t mask = umask(0);
  umask(mask);
  x->new_file_mode = 0666 & ~mask;
  durable_batch_init(&x->batch, x->flush_data);
  // Before the first change, the record lists also what this run will write
  // and the directories it will make: a run killed on the way leaves a
  // record that a later run can trust and an uninstall can clear.
  // A new directory that holds nothing but the record directory: nothing
  // there is in the way or needs a look, and it is filled through a stage.
  const bool empty = x->target_new && !x->no_record_error && !x->record.found && holds_only_record(x->root_fd);
  if (!x->no_record_error && owned_index_expect_directories(&x->owned, empty ? -1 : x->root_fd) != 0)
    return fail_with(f, FAILURE_NO_MEMORY);
  if (!x->no_record_error) owned_index_settle_identities(&x->owned, x->root_fd);
  if (!x->no_record_error && install_record_write(&x->record, &x->owned, true) != 0)
    return fail_with(f, FAILURE_SAVE_RECORD, errno);
  x->begun = 1;
  // What stands in the way of this version ends the run while nothing in
  // the tree is changed yet; the end of the run puts the record back to
  // what is there.
  if (!empty && tree_shape_check(&x->owned, x->root_fd, x->blocked, sizeof x->blocked) != 0)
    return fail_with(f, FAILURE_IN_THE_WAY);
  // No path there has an old version to keep until its new one is whole.
  // Without a stage, it is filled as any other directory.
  if (empty && (x->stage_fd = stage_make(x->record.dir_fd, x->record_device)) >= 0) {
    x->tree_fd = x->root_fd;
    x->root_fd = x->stage_fd;
  }
  return 0;
}

namespace {

// The stage's entries take their names in the installation directory, which
// root_fd is again. 0, or -1 with `f` filled in.
int publish_stage(Extraction* x, EngineFailure* f) {
  if (x->stage_fd < 0) return 0;
  forget_directory(x);  // the stage's
  Descriptor stage(x->stage_fd);
  x->root_fd = x->tree_fd;
  x->stage_fd = x->tree_fd = -1;
  return stage_publish(x->record.dir_fd, stage.fd, x->root_fd, x->flush_data, f);
}

}  // namespace

int extraction_finish(Extraction* x, EngineFailure* f) {
  if (!x->begun) return 0;
  if (commit_batch(x, f, true) != 0 || publish_stage(x, f) != 0) return -1;
  forget_directory(x);
  if (x->whole_product) x->swept += owned_index_remove_unlisted(&x->owned, x->root_fd);
  x->record_written = 1;
  if (install_record_write(&x->record, &x->owned, false) != 0)
    return fail_with(f, FAILURE_SAVE_RECORD, errno);
  if (x->flush_data) flush_record_directory(x);
  return 0;
}

void extraction_end(Extraction* x) {
  if (x->begun) {
    // After a failure the files written before it stay installed.
    EngineFailure ignored;
    commit_batch(x, &ignored, true);
    durable_batch_discard(&x->batch);
    publish_stage(x, &ignored);
    if (x->record.dir_fd >= 0) forget_temporary_directories(x->record.dir_fd);
    // Failing to write the record loses nothing: the old one stays, and what
    // it does not list is merely not swept later.
    if (!x->record_written && install_record_write(&x->record, &x->owned, false) == 0 && x->flush_data)
      flush_record_directory(x);
  }
  install_record_close(&x->record);
  forget_directory(x);
  entry_streamer_close(&x->streamer);
  if (x->root_fd >= 0) close(x->root_fd);
  x->root_fd = -1;
  x->begun = 0;
  owned_index_release(&x->owned);
}

int extract_make_way(Extraction* x, const Entry& e, EngineFailure* f) {
  x->beside_name[0] = 0;
  const char* base = entry_base_name(e.name);
  // The sweep may take an empty directory on the way to a waiting file, and
  // a deletion may take the name it waits for: they come after it.
  if ((e.type == ENTRY_DELETE || durable_batch_passes_through(&x->batch, base)) && commit_batch(x, f) != 0)
    return -1;
  const unsigned long swept = x->swept;
  if (*e.name && !x->selective) x->swept += owned_index_sweep(&x->owned, base, x->root_fd);
  if (x->swept != swept) forget_directory(x);
  if (e.type == ENTRY_DELETE) return delete_entry(x, e);
  if (e.type == ENTRY_DIRECTORY) return 0;  // made whole by install_tree_object

  // What the system could not name by path is refused as it would refuse it.
  size_t dir_length = joined_prefix_length(x->install_dir, strlen(x->install_dir));
  if (!path_fits(dir_length + entry_directory_part(e.name)))
    return fail_with(f, FAILURE_CREATE_DIRECTORY, ENAMETOOLONG);
  if (!path_fits(dir_length + strlen(e.name)))
    return fail_with(f, FAILURE_CREATE_FILE, ENAMETOOLONG);
  if (open_file_directory(x, e.name, f) != 0) return -1;

  x->file_name = entry_file_name(e.name);
  if (!*x->file_name || strcmp(x->file_name, ".") == 0) return fail_with(f, FAILURE_CREATE_FILE, EISDIR);
  // What opening the name for writing would meet is reported now, before the
  // data: a directory in the way, or a directory that takes no new name.
  x->in_place = 0;
  struct stat st;
  bool exists = fstatat(x->dir_fd, x->file_name, &st, AT_SYMLINK_NOFOLLOW) == 0;
  // A name the directory cannot hold fails here, as opening it would,
  // before any of the entry's data is read.
  if (!exists && errno == ENAMETOOLONG) return fail_with(f, FAILURE_CREATE_FILE, errno);
  // A directory where an earlier installation left this file: the sweep's
  // rule decides whether it goes.
  if (exists && S_ISDIR(st.st_mode) && commit_batch(x, f) != 0) return -1;
  // An earlier version's directory where this one puts a file or a link:
  // what that version left in it goes first (the check found nothing else).
  if (exists && S_ISDIR(st.st_mode) && owned_index_listed(&x->owned, e.name))
    x->swept += owned_index_clear_below(&x->owned, e.name, x->root_fd);
  if (exists && S_ISDIR(st.st_mode) && owned_index_sweep_path(&x->owned, e.name, base, x->root_fd) > 0) {
    x->swept++;
    exists = fstatat(x->dir_fd, x->file_name, &st, AT_SYMLINK_NOFOLLOW) == 0;
  }
  // What went lay below the current directory, where a kept one may be.
  if (x->swept != swept) forget_kept_directories(x);
  if (exists && S_ISDIR(st.st_mode)) return fail_with(f, FAILURE_CREATE_FILE, EISDIR);
  // Asked once per directory: the files of a tree come directory by directory.
  if (x->dir_writable < 0) {
    x->dir_writable = faccessat(x->dir_fd, ".", W_OK, AT_EACCESS) == 0;
    x->dir_access_error = errno;
  }
  if (!x->dir_writable) {
    int error = x->dir_access_error;
    if (!exists || !S_ISREG(st.st_mode) || faccessat(x->dir_fd, x->file_name, W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0)
      return fail_with(f, FAILURE_CREATE_FILE, error);
    x->in_place = 1;
  }
  if (exists && entry_installs_file(e.type) &&
      owned_index_user_changed(&x->owned, e.name, x->dir_fd, x->file_name, st) == 1)
    return keep_users_edit(x, e, dir_length, f);
  return 0;
}

namespace {

// The temporary the data goes into. 0, or -1 with `f` filled in.
int open_temporary(Extraction* x, TemporaryFile* temp, EngineFailure* f) {
  // The temporary lies in the record directory, where the next run clears
  // what a killed one left, unless the file's directory is on another file
  // system; then it lies beside the file, and the directory is noted first.
  if (x->dir_same_device < 0) {
    // Without a record, every temporary lies beside its file.
    x->dir_same_device = x->record.dir_fd >= 0 && x->dir_device == x->record_device;
    if (!x->dir_same_device && x->record.dir_fd >= 0 &&
        note_temporary_directory(x->record.dir_fd, x->dir_path, strlen(x->dir_path)) != 0) {
      x->dir_same_device = -1;
      return fail_with(f, FAILURE_CREATE_FILE, errno);
    }
  }
  int dir = x->dir_same_device ? x->record.dir_fd : x->dir_fd;
  temp->file.fd = create_temporary(dir, x->dir_same_device ? INSTALL_RECORD_TEMPORARY_PREFIX : TEMPORARY_BESIDE_PREFIX,
                                   0600, temp->name);
  if (temp->file.fd < 0) return fail_with(f, FAILURE_CREATE_FILE, errno);
  temp->dir = dir;
  return 0;
}

// A file written in place has lost its old data once it is truncated: what
// can be foreseen to fail its write, a file-size limit or a full file
// system, is reported while the old file is whole.
int check_room_in_place(Extraction* x, const Entry& e, EngineFailure* f) {
  rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && e.file_size > limit.rlim_cur)
    return fail_with(f, FAILURE_SAVE_DATA, EFBIG);
  struct statvfs fs;
  struct stat st;
  if (fstatvfs(x->dir_fd, &fs) != 0 || fstatat(x->dir_fd, x->file_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return 0;
  uint64_t block = fs.f_frsize ? fs.f_frsize : 512;
  uint64_t free_blocks = geteuid() == 0 ? fs.f_bfree : fs.f_bavail;
  uint64_t room = free_blocks * block + uint64_t(st.st_blocks) * 512;
  if ((uint64_t(e.file_size) + block - 1) / block * block > room)
    return fail_with(f, FAILURE_SAVE_DATA, ENOSPC);
  return 0;
}

// The entry's own file, rewritten through its name: for a directory that
// takes no new names. The data is checked before the file is touched.
int write_in_place(Extraction* x, EntryStream* stream, const uint8_t* crc_table, const Entry& e, const uint8_t* held,
                   const EntryProgress* progress, EngineFailure* f) {
  if (commit_batch(x, f) != 0) return -1;  // files before it take their names first
  int fault = FAILURE_NONE;
  if (!held) {
    // Decoded and checked once without a file, then again into it.
    fault = stream_entry_data(stream, crc_table, &x->streamer, &e, nullptr, progress);
    if (fault == FAILURE_NONE && entry_stream_skip(stream, -long(e.stored_size)) != 0) fault = ENTRY_FAULT_STORED_SHORT;
    if (fault != FAILURE_NONE) return fail_with(f, fault);
  }
  if (check_room_in_place(x, e, f) != 0) return -1;
  Descriptor file(openat(x->dir_fd, x->file_name, O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC));
  if (file.fd < 0) return fail_with(f, FAILURE_CREATE_FILE, errno);
  struct stat st;
  if (fstat(file.fd, &st) != 0 || owned_index_mark_identity(&x->owned, st.st_dev, st.st_ino) != 0)
    return fail_with(f, FAILURE_NO_MEMORY);
  FileOutput out{};
  out.fd = file.fd;
  const EntrySink sink{output_slice, &out};
  if (!held) fault = stream_entry_data(stream, crc_table, &x->streamer, &e, &sink, nullptr);
  else output_slice(&out, held, e.file_size);
  if (fault == FAILURE_NONE && !out.failed) {
    apply_times_and_mode(x, out.fd, e);
    if (note_identity(x, out.fd, e, &out.failure) != 0) out.failed = 1;
  }
  bool saved = (!x->flush_data || fdatasync(out.fd) == 0 || errno == EINVAL) && !out.failed;
  if (!saved && !out.failed) fail_with(&out.failure, FAILURE_SAVE_DATA, errno);
  // Some file systems report a failed write only when the file is closed.
  if (file.reset() != 0 && saved) fail_with(&out.failure, FAILURE_SAVE_DATA, errno), saved = false;
  if (fault != FAILURE_NONE) return fail_with(f, fault);
  if (!saved) {
    *f = out.failure;
    return -1;
  }
  return renamed(x, e.name, 0) == 0 ? 0 : fail_with(f, FAILURE_NO_MEMORY);
}

// In a new directory's stage the file is written under its own name, as
// nothing in the stage is installed before the whole stage is flushed; what
// fails its check or its write goes. 1 where the stage holds the name
// already (an entry given twice): that file is replaced as elsewhere.
int write_staged(Extraction* x, EntryStream* stream, const uint8_t* crc_table, const Entry& e, const uint8_t* held,
                 const EntryProgress* progress, EngineFailure* f) {
  // Readable by its owner only until its final mode is applied.
  Descriptor file(openat(x->dir_fd, x->file_name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (file.fd < 0 && errno == EEXIST) return 1;
  FileOutput out{};
  out.fd = file.fd;
  if (file.fd < 0) out.failed = fail_with(&out.failure, FAILURE_CREATE_FILE, errno) != 0;
  const EntrySink sink{output_slice, &out};
  int fault = FAILURE_NONE;
  if (!held) fault = stream_entry_data(stream, crc_table, &x->streamer, &e, out.failed ? nullptr : &sink, progress);
  else if (!out.failed) output_slice(&out, held, e.file_size);
  if (fault == FAILURE_NONE && !out.failed) {
    apply_times_and_mode(x, out.fd, e);
    out.failed = note_identity(x, out.fd, e, &out.failure) != 0;
  }
  // Some file systems report a failed write only when the file is closed.
  if (file.fd >= 0 && file.reset() != 0 && !out.failed) out.failed = fail_with(&out.failure, FAILURE_SAVE_DATA, errno) != 0;
  if ((fault != FAILURE_NONE || out.failed) && out.fd >= 0) unlinkat(x->dir_fd, x->file_name, 0);
  // A fault of the data comes first, as when the file was written only after
  // its check.
  if (fault != FAILURE_NONE) return fail_with(f, fault);
  if (out.failed) {
    *f = out.failure;
    return -1;
  }
  return renamed(x, e.name, 0) == 0 ? 0 : fail_with(f, FAILURE_NO_MEMORY);
}

// The data comes from `held` (file_size bytes, already checked) when it is
// not null, else it is decoded from `stream`.
int write_entry(Extraction* x, EntryStream* stream, const uint8_t* crc_table, const Entry& e, const uint8_t* held,
                const EntryProgress* progress, EngineFailure* f) {
  if (e.type == ENTRY_DELETE) return 0;
  // Files written before it take their names first, as the entries' order
  // says: a link or a directory may take the place of one of them.
  if (entry_is_tree_object(e.type))
    return commit_batch(x, f) != 0 ? -1 : install_tree_object(x, stream, crc_table, e, held, f);
  int fault = FAILURE_NONE;
  if (!held && !x->streamer.codec && (fault = entry_streamer_open(&x->streamer, stream)) != FAILURE_NONE)
    return fail_with(f, fault);
  if (x->in_place) return write_in_place(x, stream, crc_table, e, held, progress, f);
  if (x->stage_fd >= 0 && !x->beside_name[0]) {
    int staged = write_staged(x, stream, crc_table, e, held, progress, f);
    if (staged <= 0) return staged;
  }
  // Whatever goes wrong below, the temporary goes and the name keeps what it held.
  TemporaryFile temp;
  FileOutput out{};
  out.failed = open_temporary(x, &temp, &out.failure) != 0;
  out.fd = temp.file.fd;
  const EntrySink sink{output_slice, &out};
  if (!held) fault = stream_entry_data(stream, crc_table, &x->streamer, &e, out.failed ? nullptr : &sink, progress);
  else if (!out.failed) output_slice(&out, held, e.file_size);
  // A fault of the data comes first, as when the file was written only after
  // its check.
  if (fault != FAILURE_NONE) return fail_with(f, fault);
  if (out.failed) {
    *f = out.failure;
    return -1;
  }
  // The final mode before the name: until then only the owner can read it.
  apply_times_and_mode(x, out.fd, e);
  if (note_identity(x, out.fd, e, f) != 0) return -1;
  const bool beside = x->beside_name[0] != 0;
  char* name = strdup(beside ? x->beside_name : e.name);
  if (!name) return fail_with(f, FAILURE_NO_MEMORY);
  BatchedFile file{};
  file.shared_dir = temp.dir == x->record.dir_fd;
  // A temporary beside its file is reached through the batch's own
  // descriptor of the directory: the current one goes with the next.
  file.dir_fd = x->dir_fd;
  file.temp_dir = temp.dir;
  file.name = name;
  memcpy(file.temp, temp.name, sizeof file.temp);
  file.fd = temp.file.fd;
  file.dir_device = x->dir_device;
  file.dir_inode = x->dir_inode;
  file.size = e.file_size;
  file.base = file.name + (x->file_name - e.name);
  file.beside = beside;
  if (durable_batch_add(&x->batch, file) != 0) {
    int error = errno;
    free(name);
    return fail_with(f, FAILURE_CREATE_FILE, error);
  }
  temp.keep();
  // Unflushed, nothing is gained by waiting: the name is taken at once.
  if (durable_batch_full(&x->batch) || !x->flush_data) return commit_batch(x, f);
  return 0;
}

}  // namespace

int extract_write(Extraction* x, EntryStream* stream, const uint8_t* crc_table, const Entry& e,
                  const EntryProgress* progress, EngineFailure* f) {
  return write_entry(x, stream, crc_table, e, nullptr, progress, f);
}

int extract_write_held(Extraction* x, const Entry& e, const uint8_t* data, EngineFailure* f) {
  return write_entry(x, nullptr, nullptr, e, data ? data : reinterpret_cast<const uint8_t*>(""), nullptr, f);
}
