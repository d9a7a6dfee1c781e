#include "archive/stale_index.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

uint32_t name_hash(const char* s) {
  uint32_t h = 2166136261u;
  for (; *s; s++) h = (h ^ uint8_t(*s)) * 16777619u;
  return h;
}

char* join_path(const char* a, const char* b) {
  size_t la = strlen(a), lb = strlen(b);
  char* p = static_cast<char*>(malloc(la + 1 + lb + 1));
  if (!p) return nullptr;
  memcpy(p, a, la);
  p[la] = '/';
  memcpy(p + la + 1, b, lb + 1);
  return p;
}

// True when a component of the directory path `dir` equals `name`.
bool has_component(const char* dir, const char* name) {
  size_t n = strlen(name);
  for (const char* p = dir; *p;) {
    const char* end = strchr(p, '/');
    size_t length = end ? size_t(end - p) : strlen(p);
    if (length == n && memcmp(p, name, n) == 0) return true;
    if (!end) break;
    p = end + 1;
  }
  return false;
}

bool grow(void** array, size_t* capacity, size_t element, size_t needed) {
  if (needed <= *capacity) return true;
  size_t wanted = *capacity ? *capacity * 2 : 256;
  while (wanted < needed) wanted *= 2;
  void* bigger = realloc(*array, wanted * element);
  if (!bigger) return false;
  *array = bigger;
  *capacity = wanted;
  return true;
}

bool add_record(StaleIndex* x, char* path, int directory) {
  if (!grow(reinterpret_cast<void**>(&x->records), &x->record_capacity, sizeof(StaleRecord),
            x->record_count + 1))
    return false;
  const char* slash = strrchr(path, '/');
  StaleRecord& r = x->records[x->record_count++];
  r.path = path;
  r.name = slash ? slash + 1 : path;
  r.hash = name_hash(r.name);
  r.next = -1;
  r.removed = 0;
  r.directory = directory;
  return true;
}

bool index_buckets(StaleIndex* x) {
  size_t n = 64;
  while (n < x->record_count * 2) n *= 2;
  x->buckets = static_cast<int32_t*>(malloc(n * sizeof(int32_t)));
  if (!x->buckets) return false;
  x->bucket_count = n;
  for (size_t i = 0; i < n; i++) x->buckets[i] = -1;
  for (size_t i = x->record_count; i-- > 0;) {
    StaleRecord& r = x->records[i];
    size_t b = r.hash & (n - 1);
    r.next = x->buckets[b];
    x->buckets[b] = int32_t(i);
  }
  return true;
}

bool is_real_directory(const char* root, const char* relative) {
  char* full = join_path(root, relative);
  if (!full) return false;
  struct stat st;
  bool yes = lstat(full, &st) == 0 && S_ISDIR(st.st_mode);
  free(full);
  return yes;
}

// Lists one directory into the index. Its subdirectories, which are records
// themselves, are walked later from the record list, so that no recursion
// and only one open directory are needed whatever the depth. The listing's
// own file types spare one lstat per name; only file systems that do not
// give them are asked.
bool list_directory(StaleIndex* x, const char* relative) {
  char* full = *relative ? join_path(x->root, relative) : strdup(x->root);
  if (!full) return false;
  DIR* dir = strlen(full) < PATH_MAX ? opendir(full) : nullptr;
  if (!dir) {
    free(full);
    return true;
  }
  bool ok = true;
  while (dirent* d = readdir(dir)) {
    if (strcmp(d->d_name, ".") == 0 || strcmp(d->d_name, "..") == 0) continue;
    char* path = *relative ? join_path(relative, d->d_name) : strdup(d->d_name);
    int directory = d->d_type == DT_DIR;
    if (path && d->d_type == DT_UNKNOWN) directory = is_real_directory(x->root, path);
    if (!path || !add_record(x, path, directory)) {
      free(path);
      ok = false;
      break;
    }
  }
  closedir(dir);
  free(full);
  return ok;
}

size_t identity_slot(const StaleIndex* x, dev_t device, ino_t inode) {
  size_t mask = x->made_capacity - 1;
  size_t i = size_t((uint64_t(inode) * 0x9E3779B97F4A7C15ull) ^ uint64_t(device)) & mask;
  while (x->made[i].inode != 0 && (x->made[i].inode != inode || x->made[i].device != device)) i = (i + 1) & mask;
  return i;
}

bool made_by_run(const StaleIndex* x, const struct stat& st) {
  if (x->made_count == 0) return false;
  return x->made[identity_slot(x, st.st_dev, st.st_ino)].inode != 0;
}

}  // namespace

int stale_index_build(StaleIndex* x, const char* root) {
  memset(x, 0, sizeof *x);
  x->root = strdup(root);
  if (!x->root) return -1;
  struct stat st;
  // The directory itself may be a link; what lies below it is not followed.
  bool ok = true;
  if (stat(root, &st) == 0 && S_ISDIR(st.st_mode)) {
    ok = list_directory(x, "");
    for (size_t i = 0; ok && i < x->record_count; i++) {
      // The string outlives the record array, which list_directory may move.
      const char* path = x->records[i].path;
      if (x->records[i].directory) ok = list_directory(x, path);
    }
  }
  // Drop what the rule can never select: paths through a directory of their
  // own name. Such directories were walked all the same, since what lies
  // below them can match other names.
  size_t kept = 0;
  for (size_t i = 0; ok && i < x->record_count; i++) {
    StaleRecord r = x->records[i];
    size_t dir_length = size_t(r.name - r.path);
    bool through_same = false;
    if (dir_length > 0) {
      r.path[dir_length - 1] = 0;
      through_same = has_component(r.path, r.name);
      r.path[dir_length - 1] = '/';
    }
    if (through_same) {
      free(r.path);
    } else {
      x->records[kept++] = r;
    }
  }
  if (ok) x->record_count = kept;
  if (!ok || !index_buckets(x)) {
    stale_index_release(x);
    return -1;
  }
  return 0;
}

void stale_index_release(StaleIndex* x) {
  for (size_t i = 0; i < x->record_count; i++) free(x->records[i].path);
  free(x->records);
  free(x->buckets);
  free(x->made);
  free(x->root);
  memset(x, 0, sizeof *x);
}

size_t stale_index_sweep(StaleIndex* x, const char* name, int root_fd) {
  if (!x->buckets || !*name) return 0;
  uint32_t h = name_hash(name);
  const size_t root_length = strlen(x->root);
  size_t removed = 0;
  for (int32_t i = x->buckets[h & (x->bucket_count - 1)]; i >= 0; i = x->records[i].next) {
    StaleRecord& r = x->records[i];
    if (r.removed || r.hash != h || strcmp(r.name, name) != 0) continue;
    // What the full path could not reach stays out of reach.
    if (root_length + 1 + strlen(r.path) >= PATH_MAX) continue;
    struct stat st;
    bool gone = false;
    if (root_fd >= 0) {
      gone = fstatat(root_fd, r.path, &st, AT_SYMLINK_NOFOLLOW) == 0 && !made_by_run(x, st) &&
             unlinkat(root_fd, r.path, S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0) == 0;
    } else {
      char* full = join_path(x->root, r.path);
      if (!full) continue;
      gone = lstat(full, &st) == 0 && !made_by_run(x, st) && remove(full) == 0;
      free(full);
    }
    if (gone) {
      r.removed = 1;
      removed++;
    }
  }
  return removed;
}

bool stale_index_lists(const StaleIndex* x, const char* name, const char* path) {
  if (!x->buckets || !*name) return false;
  uint32_t h = name_hash(name);
  for (int32_t i = x->buckets[h & (x->bucket_count - 1)]; i >= 0; i = x->records[i].next) {
    const StaleRecord& r = x->records[i];
    if (!r.removed && !r.directory && r.hash == h && strcmp(r.path, path) == 0) return true;
  }
  return false;
}

int stale_index_mark_made(StaleIndex* x, const char* path) {
  struct stat st;
  if (lstat(path, &st) != 0) return 0;
  return stale_index_mark_identity(x, st.st_dev, st.st_ino);
}

int stale_index_mark_identity(StaleIndex* x, dev_t device, ino_t inode) {
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
