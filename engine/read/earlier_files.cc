#include "engine/read/earlier_files.h"

#include <cstdlib>
#include <cstring>

#include "archive/entry_paths.h"

namespace {

uint64_t hash_path(const char* path, size_t length) {
  uint64_t h = 14695981039346656037ull;
  for (size_t i = 0; i < length; i++) h = (h ^ uint8_t(path[i])) * 1099511628211ull;
  return h;
}

// The slot that holds `path`, or the free one where it would go; the table
// is never full.
size_t find_slot(const EarlierFiles* f, const char* path, size_t length) {
  size_t mask = f->slot_count - 1;
  for (size_t i = size_t(hash_path(path, length)) & mask;; i = (i + 1) & mask) {
    size_t at = f->slots[i];
    if (at == 0 || (strncmp(f->paths + at, path, length) == 0 && f->paths[at + length] == 0)) return i;
  }
}

// A table twice the size, filled again from the paths themselves, which
// lie one after another.
bool grow_slots(EarlierFiles* f) {
  size_t count = f->slot_count ? f->slot_count * 2 : 1024;
  size_t* slots = static_cast<size_t*>(calloc(count, sizeof(size_t)));
  if (!slots) return false;
  free(f->slots);
  f->slots = slots;
  f->slot_count = count;
  for (size_t at = 1; at < f->used;) {
    size_t length = strlen(f->paths + at);
    f->slots[find_slot(f, f->paths + at, length)] = at;
    at += length + 2;
  }
  return true;
}

// The path where the installer puts `name` (`length` bytes), in `normal`
// (SYSTEM_PATH_SIZE bytes): its length, 0 when it names no path there.
size_t normal_path(const char* name, size_t length, char* normal) {
  return length < SYSTEM_PATH_SIZE ? normalize_path(name, length, normal) : 0;
}

}  // namespace

void earlier_files_init(EarlierFiles* f) { memset(f, 0, sizeof *f); }

void earlier_files_release(EarlierFiles* f) {
  free(f->paths);
  free(f->slots);
  earlier_files_init(f);
}

int earlier_files_note(EarlierFiles* f, const Entry& e) {
  if (e.type == ENTRY_POST_INSTALL) return FAILURE_NONE;  // installs nothing
  char normal[SYSTEM_PATH_SIZE];
  size_t length = normal_path(e.name, strlen(e.name), normal);
  if (length == 0) return FAILURE_NONE;
  const char is_file = entry_installs_file(e.type);
  if ((f->count + 1) * 2 > f->slot_count && !grow_slots(f)) return FAILURE_NO_MEMORY;
  size_t slot = find_slot(f, normal, length);
  if (f->slots[slot] != 0) {
    f->paths[f->slots[slot] - 1] = is_file;
    return FAILURE_NONE;
  }
  if (!is_file) return FAILURE_NONE;  // only a file can be named
  if (length + 2 > f->capacity - f->used) {
    size_t capacity = f->capacity ? f->capacity : 1 << 16;
    while (length + 2 > capacity - f->used) capacity *= 2;
    char* bigger = static_cast<char*>(realloc(f->paths, capacity));
    if (!bigger) return FAILURE_NO_MEMORY;
    f->paths = bigger;
    f->capacity = capacity;
  }
  f->paths[f->used] = is_file;
  memcpy(f->paths + f->used + 1, normal, length);
  f->paths[f->used + 1 + length] = 0;
  f->slots[slot] = f->used + 1;
  f->used += length + 2;
  f->count++;
  return FAILURE_NONE;
}

int earlier_files_check_link(const EarlierFiles* f, const Entry& e) {
  char name[RECORD_MAX_NAME + 1];
  if (!e.data || e.file_size > RECORD_MAX_NAME || memchr(e.data, 0, e.file_size)) return ENTRY_FAULT_TREE_OBJECT;
  memcpy(name, e.data, e.file_size);
  name[e.file_size] = 0;
  if (!name_stays_inside(name)) return ENTRY_FAULT_NAME_ESCAPES;
  char normal[SYSTEM_PATH_SIZE];
  size_t length = normal_path(name, e.file_size, normal);
  if (length == 0 || f->slot_count == 0) return ENTRY_FAULT_TREE_OBJECT;
  size_t at = f->slots[find_slot(f, normal, length)];
  return at != 0 && f->paths[at - 1] ? FAILURE_NONE : ENTRY_FAULT_TREE_OBJECT;
}
