#include "engine/ownership/owned_index.h"

#include "archive/crc16.h"
#include "archive/entry_paths.h"
#include "engine/filesystem/directory_below.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

uint32_t hash_bytes(const char* s, size_t n) {
  uint32_t h = 2166136261u;
  for (size_t i = 0; i < n; i++) h = (h ^ uint8_t(s[i])) * 16777619u;
  return h;
}

bool rebuild(OwnedIndex* x, size_t buckets) {
  int32_t* by_name = static_cast<int32_t*>(malloc(buckets * sizeof(int32_t)));
  int32_t* by_path = static_cast<int32_t*>(malloc(buckets * sizeof(int32_t)));
  if (!by_name || !by_path) {
    free(by_name);
    free(by_path);
    return false;
  }
  for (size_t i = 0; i < buckets; i++) by_name[i] = by_path[i] = -1;
  for (size_t i = x->count; i-- > 0;) {
    OwnedPath& p = x->paths[i];
    p.next_name = by_name[p.name_hash & (buckets - 1)];
    by_name[p.name_hash & (buckets - 1)] = int32_t(i);
    p.next_path = by_path[p.path_hash & (buckets - 1)];
    by_path[p.path_hash & (buckets - 1)] = int32_t(i);
  }
  free(x->name_buckets);
  free(x->path_buckets);
  x->name_buckets = by_name;
  x->path_buckets = by_path;
  x->bucket_count = buckets;
  return true;
}

int32_t find_path(const OwnedIndex* x, const char* path, size_t length, uint32_t hash) {
  if (!x->bucket_count) return -1;
  for (int32_t i = x->path_buckets[hash & (x->bucket_count - 1)]; i >= 0; i = x->paths[i].next_path) {
    const OwnedPath& p = x->paths[i];
    if (p.path_hash == hash && strlen(p.path) == length && memcmp(p.path, path, length) == 0) return i;
  }
  return -1;
}

size_t identity_slot(const OwnedIndex* x, dev_t device, ino_t inode) {
  size_t mask = x->made_capacity - 1;
  size_t i = size_t((uint64_t(inode) * 0x9E3779B97F4A7C15ull) ^ uint64_t(device)) & mask;
  while (x->made[i].inode != 0 && (x->made[i].inode != inode || x->made[i].device != device)) i = (i + 1) & mask;
  return i;
}

bool written_by_run(const OwnedIndex* x, const struct stat& st) {
  return x->made_count != 0 && x->made[identity_slot(x, st.st_dev, st.st_ino)].inode != 0;
}

// Everything the index holds as what was installed at `p`.
size_t identities_of(const OwnedPath& p, InstalledIdentity* out) {
  size_t n = 0;
  for (size_t i = 0; i < p.recorded_count; i++) out[n++] = p.recorded[i];
  if (p.flags & (PATH_WRITTEN | PATH_MADE_DIRECTORY)) out[n++] = p.own;
  return n;
}

void report_kept(const OwnedIndex* x, const OwnedPath& p) {
  if (x->kept_config && owned_path_is_config(p)) x->kept_config(x->kept_context, p.path);
  else if (x->kept) x->kept(x->kept_context, p.path);
}

// Removes one candidate, its directories entered by the rules of writing
// (with `links`) or never through a link. Marks it gone unless it stays
// listed (a directory not empty, a failure); a changed object is reported.
// A file this attachment installs is left to be replaced when its turn
// comes; one this run wrote goes only for a deletion entry (`deleting`).
// 1 when removed.
int remove_candidate(OwnedIndex* x, OwnedPath& p, int root_fd, bool links, bool deleting = false) {
  if (!x->crc_table && !(x->crc_table = crc16_table())) return 0;
  size_t parent = size_t(p.name - p.path);
  int at = open_directory_below(root_fd, p.path, parent, links ? BELOW_LINKS : 0, nullptr);
  if (at < 0) {
    if (errno == ENOENT) p.flags |= PATH_GONE;
    return 0;
  }
  struct stat st;
  int result = OWNED_LEFT;
  InstalledIdentity ids[3];
  size_t id_count = identities_of(p, ids);
  if (fstatat(at, p.name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    result = errno == ENOENT ? OWNED_ABSENT : OWNED_LEFT;
  } else if (id_count == 0 && !S_ISDIR(st.st_mode)) {
    // Listed by a record of paths alone: whether it changed cannot be
    // known, so it is neither removed nor said to have changed.
  } else if (S_ISDIR(st.st_mode) || (deleting ? (p.flags & (PATH_INSTALLS | PATH_WRITTEN)) != PATH_INSTALLS
                                               : !(p.flags & PATH_INSTALLS) && !written_by_run(x, st))) {
    result = remove_if_owned(at, p.name, ids, id_count, x->crc_table);
  }
  close(at);
  if (result == OWNED_CHANGED) report_kept(x, p);
  if (result != OWNED_LEFT) p.flags |= PATH_GONE;
  return result == OWNED_REMOVED;
}

int32_t find_normal(const OwnedIndex* x, const char* entry) {
  char normal[SYSTEM_PATH_SIZE];
  size_t length = strlen(entry);
  if (!x->bucket_count || length >= sizeof normal) return -1;
  length = normalize_path(entry, length, normal);
  return length ? find_path(x, normal, length, hash_bytes(normal, length)) : -1;
}

bool listed(const OwnedPath& p) {
  return !(p.flags & PATH_GONE) && (p.flags & (PATH_RECORDED | PATH_WRITTEN | PATH_MADE_DIRECTORY));
}

size_t depth_of(const char* path) {
  size_t depth = 0;
  for (; *path; path++) depth += *path == '/';
  return depth;
}

// So that a directory emptied of what lies in it goes too.
void sort_deepest_first(const OwnedIndex* x, int32_t* paths, size_t count) {
  if (!paths) return;
  std::sort(paths, paths + count,
            [x](int32_t a, int32_t b) { return depth_of(x->paths[a].path) > depth_of(x->paths[b].path); });
}

}  // namespace

void owned_index_init(OwnedIndex* x) { memset(x, 0, sizeof *x); }

void owned_index_release(OwnedIndex* x) {
  for (size_t i = 0; i < x->count; i++) free(x->paths[i].path);
  free(x->paths);
  free(x->name_buckets);
  free(x->path_buckets);
  free(x->made);
  free(x->crc_table);
  memset(x, 0, sizeof *x);
}

namespace {

void take_identity(OwnedPath& p, unsigned flags, const InstalledIdentity* id) {
  if (!id) return;
  if (flags & PATH_RECORDED) {
    if (p.recorded_count < 2) p.recorded[p.recorded_count++] = *id;
  } else {
    p.own = *id;
  }
}

}  // namespace

int owned_index_add(OwnedIndex* x, const char* path, size_t length, unsigned flags, const InstalledIdentity* id) {
  char* normal = static_cast<char*>(malloc(length + 1));
  if (!normal) return -1;
  length = normalize_path(path, length, normal);
  if (length == 0) {
    free(normal);
    return 0;
  }
  uint32_t hash = hash_bytes(normal, length);
  int32_t found = find_path(x, normal, length, hash);
  if (found >= 0) {
    free(normal);
    OwnedPath& p = x->paths[found];
    if (flags & (PATH_WRITTEN | PATH_MADE_DIRECTORY)) p.flags &= uint8_t(~PATH_GONE);
    p.flags |= uint8_t(flags);
    take_identity(p, flags, id);
    return 0;
  }
  if (x->count == x->capacity) {
    size_t capacity = x->capacity ? x->capacity * 2 : 256;
    void* bigger = realloc(x->paths, capacity * sizeof(OwnedPath));
    if (!bigger) {
      free(normal);
      return -1;
    }
    x->paths = static_cast<OwnedPath*>(bigger);
    x->capacity = capacity;
  }
  OwnedPath& p = x->paths[x->count++];
  p.path = normal;
  p.name = entry_file_name(normal);
  p.name_hash = hash_bytes(p.name, strlen(p.name));
  p.path_hash = hash;
  p.flags = uint8_t(flags);
  p.marks = 0;
  p.recorded_count = 0;
  p.own = InstalledIdentity{};
  take_identity(p, flags, id);
  if (x->count * 2 > x->bucket_count) return rebuild(x, x->bucket_count ? x->bucket_count * 2 : 512) ? 0 : -1;
  size_t b = hash & (x->bucket_count - 1), nb = p.name_hash & (x->bucket_count - 1);
  p.next_path = x->path_buckets[b];
  x->path_buckets[b] = int32_t(x->count - 1);
  p.next_name = x->name_buckets[nb];
  x->name_buckets[nb] = int32_t(x->count - 1);
  return 0;
}

unsigned owned_index_flags(const OwnedIndex* x, const char* path, size_t length) {
  char normal[SYSTEM_PATH_SIZE];
  if (length >= sizeof normal) return 0;
  length = normalize_path(path, length, normal);
  int32_t found = length ? find_path(x, normal, length, hash_bytes(normal, length)) : -1;
  return found < 0 ? 0 : x->paths[found].flags;
}

void owned_index_forget(OwnedIndex* x, const char* path, size_t length) {
  char normal[SYSTEM_PATH_SIZE];
  if (length >= sizeof normal) return;
  length = normalize_path(path, length, normal);
  int32_t found = length ? find_path(x, normal, length, hash_bytes(normal, length)) : -1;
  if (found >= 0) x->paths[found].flags |= PATH_GONE;
}

size_t owned_index_sweep(OwnedIndex* x, const char* name, int root_fd) {
  if (!x->bucket_count || !*name) return 0;
  uint32_t h = hash_bytes(name, strlen(name));
  size_t removed = 0;
  for (int32_t i = x->name_buckets[h & (x->bucket_count - 1)]; i >= 0; i = x->paths[i].next_name) {
    OwnedPath& p = x->paths[i];
    if ((p.flags & PATH_GONE) || !(p.flags & (PATH_RECORDED | PATH_MADE_DIRECTORY))) continue;
    if (p.name_hash != h || strcmp(p.name, name) != 0) continue;
    // Where this attachment installs a file, only a directory in the way
    // can go, and only when that file's own entry finds one there
    // (owned_index_sweep_path). A tree with many files of one name would
    // otherwise be walked once for every pair of them.
    if ((p.flags & (PATH_INSTALLS | PATH_MADE_DIRECTORY)) == PATH_INSTALLS) continue;
    if (path_has_component(p.path, size_t(p.name - p.path), name)) continue;
    removed += size_t(remove_candidate(x, p, root_fd, false));
  }
  return removed;
}

size_t owned_index_sweep_path(OwnedIndex* x, const char* entry, const char* name, int root_fd) {
  int32_t found = find_normal(x, entry);
  if (found < 0) return 0;
  OwnedPath& p = x->paths[found];
  if ((p.flags & PATH_GONE) || !(p.flags & (PATH_RECORDED | PATH_MADE_DIRECTORY))) return 0;
  if (strcmp(p.name, name) != 0 || path_has_component(p.path, size_t(p.name - p.path), name)) return 0;
  return size_t(remove_candidate(x, p, root_fd, false));
}

namespace {

// The object at `path` (normalised) where no identity can tell whether it
// is still the product's: with `remove` it goes, as the vendor's word, a
// directory only when empty; without, it is only looked at, and is
// OWNED_CHANGED when there. Else OWNED_REMOVED, OWNED_ABSENT, or OWNED_LEFT
// for one that stays.
int remove_unvouched(const char* path, int root_fd, bool remove) {
  const char* name = entry_file_name(path);
  int at = open_directory_below(root_fd, path, size_t(name - path), BELOW_LINKS, nullptr);
  if (at < 0) return errno == ENOENT ? OWNED_ABSENT : OWNED_LEFT;
  struct stat st;
  int result = OWNED_LEFT;
  if (fstatat(at, name, &st, AT_SYMLINK_NOFOLLOW) != 0) result = errno == ENOENT ? OWNED_ABSENT : OWNED_LEFT;
  else if (remove && unlinkat(at, name, S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0) == 0) result = OWNED_REMOVED;
  else if (remove && errno == ENOENT) result = OWNED_ABSENT;
  else if (!remove) result = OWNED_CHANGED;
  close(at);
  return result;
}

}  // namespace

size_t owned_index_remove_path(OwnedIndex* x, const char* entry, int root_fd, bool record_found) {
  int32_t found = find_normal(x, entry);
  if (found >= 0) {
    OwnedPath& p = x->paths[found];
    // A file this attachment is still to write takes the place anyway.
    if ((p.flags & (PATH_INSTALLS | PATH_WRITTEN)) == PATH_INSTALLS) return 0;
    if (listed(p) && p.recorded_count == 0 && !(p.flags & (PATH_WRITTEN | PATH_MADE_DIRECTORY))) {
      int result = remove_unvouched(p.path, root_fd, true);
      if (result != OWNED_LEFT) p.flags |= PATH_GONE;
      return result == OWNED_REMOVED;
    }
    if (listed(p)) return size_t(remove_candidate(x, p, root_fd, true, true));
    // Removed, or left and told, on the way here.
    if (p.flags & PATH_GONE) return 0;
  }
  char normal[SYSTEM_PATH_SIZE];
  size_t length = strlen(entry);
  if (length >= sizeof normal || (length = normalize_path(entry, length, normal)) == 0) return 0;
  int result = remove_unvouched(normal, root_fd, !record_found);
  if (result == OWNED_CHANGED && x->not_owned) x->not_owned(x->kept_context, normal);
  return result == OWNED_REMOVED;
}

int owned_index_mark_identity(OwnedIndex* x, dev_t device, ino_t inode) {
  if (inode == 0) return 0;  // cannot be told apart from a free slot; never seen on Linux
  if ((x->made_count + 1) * 2 > x->made_capacity) {
    size_t capacity = x->made_capacity ? x->made_capacity * 2 : 256;
    FileIdentity* old = x->made;
    size_t old_capacity = x->made_capacity;
    x->made = static_cast<FileIdentity*>(calloc(capacity, sizeof(FileIdentity)));
    if (!x->made) {
      x->made = old;
      return -1;
    }
    x->made_capacity = capacity;
    for (size_t i = 0; i < old_capacity; i++)
      if (old[i].inode != 0) x->made[identity_slot(x, old[i].device, old[i].inode)] = old[i];
    free(old);
  }
  size_t slot = identity_slot(x, device, inode);
  if (x->made[slot].inode == 0) {
    x->made[slot] = FileIdentity{device, inode};
    x->made_count++;
  }
  return 0;
}

namespace {

// Whether the record a run writes now lists `p`, and with which identities.
bool recorded_own(const OwnedPath& p) { return (p.flags & (PATH_WRITTEN | PATH_MADE_DIRECTORY)) != 0; }
bool recorded_listed(const OwnedPath& p) { return !recorded_own(p) && (p.flags & PATH_RECORDED) && !(p.flags & PATH_GONE); }
bool recorded_intent(const OwnedPath& p, bool intent) { return !recorded_own(p) && intent && (p.flags & PATH_INSTALLS); }

}  // namespace

int owned_index_each_recorded(const OwnedIndex* x, bool intent,
                              int (*each)(void*, const char*, const InstalledIdentity&), void* context) {
  for (size_t i = 0; i < x->count; i++) {
    const OwnedPath& p = x->paths[i];
    if (recorded_own(p)) {
      if (p.flags & PATH_GONE) continue;
      if (int result = each(context, p.path, p.own)) return result;
      continue;
    }
    if (recorded_listed(p))
      for (size_t k = 0; k < p.recorded_count; k++)
        if (int result = each(context, p.path, p.recorded[k])) return result;
    if (recorded_intent(p, intent))
      if (int result = each(context, p.path, p.own)) return result;
  }
  return 0;
}

int owned_index_each_config(const OwnedIndex* x, bool intent, int (*each)(void*, const char*), void* context) {
  for (size_t i = 0; i < x->count; i++) {
    const OwnedPath& p = x->paths[i];
    bool listed_now = recorded_own(p) ? !(p.flags & PATH_GONE)
                                      : (recorded_listed(p) && p.recorded_count > 0) || recorded_intent(p, intent);
    if (listed_now && owned_path_is_config(p))
      if (int result = each(context, p.path)) return result;
  }
  return 0;
}

int owned_index_clear_way(OwnedIndex* x, const char* prefix, int dir_fd, const char* component) {
  int32_t found = find_normal(x, prefix);
  if (found < 0) return 0;
  OwnedPath& p = x->paths[found];
  if (!(p.flags & PATH_RECORDED) || (p.flags & (PATH_GONE | PATH_WRITTEN))) return 0;
  if ((p.flags & PATH_INSTALLS) && !(p.flags & PATH_INSTALLS_DIRECTORY)) return 0;
  if (p.recorded_count == 0) return 0;  // listed by path alone: cannot be told from a user's file
  struct stat st;
  // An earlier version's link gives way too: entering it would put this
  // version's files where the link leads, and the link would then go.
  if (fstatat(dir_fd, component, &st, AT_SYMLINK_NOFOLLOW) != 0 || !(S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) ||
      written_by_run(x, st))
    return 0;
  if (!x->crc_table && !(x->crc_table = crc16_table())) return 0;
  int result = remove_if_owned(dir_fd, component, p.recorded, p.recorded_count, x->crc_table);
  if (result == OWNED_CHANGED) report_kept(x, p);
  if (result != OWNED_LEFT) p.flags |= PATH_GONE;
  return result == OWNED_REMOVED;
}

int owned_index_unchanged(OwnedIndex* x, const char* path, int dir_fd, const char* name, const struct stat& st) {
  int32_t found = find_normal(x, path);
  if (found < 0) return 0;
  const OwnedPath& p = x->paths[found];
  if (!(p.flags & PATH_RECORDED) || (p.flags & (PATH_GONE | PATH_WRITTEN))) return 0;
  if (!x->crc_table && !(x->crc_table = crc16_table())) return 0;
  return object_is_installed(dir_fd, name, st, p.recorded, p.recorded_count, x->crc_table) == 1;
}

int owned_index_user_changed(OwnedIndex* x, const char* path, int dir_fd, const char* name, const struct stat& st) {
  int32_t found = find_normal(x, path);
  if (found < 0) return 0;
  const OwnedPath& p = x->paths[found];
  if (!(p.flags & PATH_RECORDED) || (p.flags & (PATH_GONE | PATH_WRITTEN)) || p.recorded_count == 0) return 0;
  // A user's copy that is already the new version loses nothing when replaced.
  InstalledIdentity ids[3];
  size_t count = 0;
  for (size_t k = 0; k < p.recorded_count; k++)
    if (p.recorded[k].kind != IDENTITY_UNKNOWN) ids[count++] = p.recorded[k];
  if (count == 0) return 0;
  if (p.flags & PATH_INSTALLS) ids[count++] = p.own;
  if (!x->crc_table && !(x->crc_table = crc16_table())) return 1;
  return object_is_installed(dir_fd, name, st, ids, count, x->crc_table) != 1;
}

void owned_index_settle_identities(OwnedIndex* x, int root_fd) {
  for (size_t i = 0; i < x->count; i++) {
    OwnedPath& p = x->paths[i];
    if ((p.flags & (PATH_RECORDED | PATH_INSTALLS | PATH_GONE | PATH_WRITTEN)) != (PATH_RECORDED | PATH_INSTALLS) ||
        p.recorded_count < 2)
      continue;
    if (!x->crc_table && !(x->crc_table = crc16_table())) return;
    int at = open_directory_below(root_fd, p.path, size_t(p.name - p.path), BELOW_LINKS, nullptr);
    if (at < 0) continue;
    struct stat st;
    size_t keep = 0;  // when it is none of them, the first says as much
    if (fstatat(at, p.name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
      for (size_t k = 0; k < p.recorded_count; k++)
        if (object_is_installed(at, p.name, st, &p.recorded[k], 1, x->crc_table) == 1) {
          keep = k;
          break;
        }
    close(at);
    p.recorded[0] = p.recorded[keep];
    p.recorded_count = 1;
  }
}

void owned_index_mark(OwnedIndex* x, const char* path, size_t length, unsigned marks) {
  char normal[SYSTEM_PATH_SIZE];
  if (!x->bucket_count || length >= sizeof normal) return;
  length = normalize_path(path, length, normal);
  int32_t found = length ? find_path(x, normal, length, hash_bytes(normal, length)) : -1;
  if (found >= 0) x->paths[found].marks |= uint8_t(marks);
}

bool owned_index_written(const OwnedIndex* x, const char* path, InstalledIdentity* identity) {
  int32_t found = find_normal(x, path);
  if (found < 0 || (x->paths[found].flags & (PATH_WRITTEN | PATH_GONE)) != PATH_WRITTEN) return false;
  *identity = x->paths[found].own;
  return identity->kind == IDENTITY_OBJECT && S_ISREG(identity->mode);
}

bool owned_index_intended(const OwnedIndex* x, const char* path, size_t length, InstalledIdentity* identity) {
  char normal[SYSTEM_PATH_SIZE];
  if (length >= sizeof normal || (length = normalize_path(path, length, normal)) == 0) return false;
  int32_t found = find_path(x, normal, length, hash_bytes(normal, length));
  if (found < 0 || (x->paths[found].flags & PATH_INSTALLS) == 0) return false;
  *identity = x->paths[found].own;
  return identity->kind == IDENTITY_CONTENT;
}

bool owned_index_listed(const OwnedIndex* x, const char* path) {
  int32_t found = find_normal(x, path);
  return found >= 0 && listed(x->paths[found]);
}

int owned_index_installed_anywhere(OwnedIndex* x, int dir_fd, const char* name, const struct stat& st) {
  if (!x->crc_table && !(x->crc_table = crc16_table())) return 0;
  for (size_t i = 0; i < x->count; i++) {
    const OwnedPath& p = x->paths[i];
    if (!(p.flags & PATH_RECORDED) || (p.flags & (PATH_GONE | PATH_WRITTEN))) continue;
    for (size_t k = 0; k < p.recorded_count; k++)
      if (p.recorded[k].kind == IDENTITY_OBJECT && p.recorded[k].device == uint64_t(st.st_dev) &&
          p.recorded[k].inode == uint64_t(st.st_ino))
        return object_is_installed(dir_fd, name, st, p.recorded, p.recorded_count, x->crc_table) == 1;
  }
  return 0;
}

size_t owned_index_clear_below(OwnedIndex* x, const char* path, int root_fd) {
  size_t length = strlen(path);
  int32_t* below = static_cast<int32_t*>(malloc((x->count + 1) * sizeof(int32_t)));
  if (!below) return 0;
  size_t count = 0;
  for (size_t i = 0; i < x->count; i++) {
    const OwnedPath& p = x->paths[i];
    if (listed(p) && !(p.flags & (PATH_INSTALLS | PATH_WRITTEN)) && strncmp(p.path, path, length) == 0 &&
        p.path[length] == '/')
      below[count++] = int32_t(i);
  }
  sort_deepest_first(x, below, count);
  size_t removed = 0;
  for (size_t i = 0; i < count; i++) removed += size_t(remove_candidate(x, x->paths[below[i]], root_fd, false));
  free(below);
  return removed;
}

namespace {

int clear_way_hook(void* context, const char* prefix, int dir_fd, const char* component) {
  return owned_index_clear_way(static_cast<OwnedIndex*>(context), prefix, dir_fd, component);
}

int made_directory_hook(void* context, const char* prefix, int fd) {
  InstalledIdentity id{};
  struct stat st;
  if (fstat(fd, &st) == 0) id = identity_of(st, 0);
  if (owned_index_add(static_cast<OwnedIndex*>(context), prefix, strlen(prefix), PATH_MADE_DIRECTORY, &id) == 0)
    return 0;
  errno = ENOMEM;
  return -1;
}

}  // namespace

BelowHooks owned_index_below_hooks(OwnedIndex* x) { return BelowHooks{clear_way_hook, made_directory_hook, x}; }

size_t owned_index_remove_unlisted(OwnedIndex* x, int root_fd) {
  size_t removed = 0;
  int32_t* directories = static_cast<int32_t*>(malloc((x->count + 1) * sizeof(int32_t)));
  size_t directory_count = 0;
  for (size_t i = 0; i < x->count; i++) {
    OwnedPath& p = x->paths[i];
    if (!listed(p) || (p.flags & PATH_INSTALLS)) continue;
    bool directory = p.flags & PATH_MADE_DIRECTORY;
    for (size_t k = 0; k < p.recorded_count; k++) directory |= S_ISDIR(p.recorded[k].mode);
    if (directory) {
      if (directories) directories[directory_count++] = int32_t(i);
    } else if (!(p.flags & PATH_WRITTEN)) {
      removed += size_t(remove_candidate(x, p, root_fd, true));
    }
  }
  // The deepest first, so that a directory emptied of directories goes too.
  sort_deepest_first(x, directories, directory_count);
  for (size_t i = 0; i < directory_count; i++) removed += size_t(remove_candidate(x, x->paths[directories[i]], root_fd, true));
  free(directories);
  return removed;
}

int owned_index_expect_directories(OwnedIndex* x, int root_fd) {
  InstalledIdentity directory{};
  directory.kind = IDENTITY_CONTENT;  // never matches: a directory goes when empty, whatever it is
  directory.mode = S_IFDIR | 0755;
  char path[SYSTEM_PATH_SIZE];
  size_t checked = 0;  // the length of the parent checked last, in `path`
  for (size_t i = 0, count = x->count; i < count; i++) {
    if (!(x->paths[i].flags & PATH_INSTALLS)) continue;
    size_t parent = size_t(x->paths[i].name - x->paths[i].path);
    // Entries come directory by directory: the same parent is checked once.
    if (parent == 0 || parent >= sizeof path ||
        (parent == checked && memcmp(path, x->paths[i].path, parent) == 0))
      continue;
    memcpy(path, x->paths[i].path, parent);
    checked = parent;
    for (size_t end = 0; end < parent; end++) {
      if (path[end] != '/') continue;
      path[end] = 0;
      struct stat st;
      bool missing = root_fd < 0 || (fstatat(root_fd, path, &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT);
      int added = missing ? owned_index_add(x, path, end, PATH_INSTALLS, &directory) : 0;
      path[end] = '/';
      if (added != 0) return -1;
    }
  }
  return 0;
}
