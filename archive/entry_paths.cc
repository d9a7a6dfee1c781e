#include "archive/entry_paths.h"

#include <climits>
#include <cstring>

static_assert(SYSTEM_PATH_SIZE == PATH_MAX, "a path that fits the buffer is one the system can name");
static_assert(NAME_COMPONENT_MAX == NAME_MAX);

namespace {

bool is_dot_dot(const char* component, size_t length) {
  return length == 2 && component[0] == '.' && component[1] == '.';
}

}  // namespace

bool is_record_directory(const char* component, size_t length) {
  return length == strlen(INSTALL_RECORD_DIRECTORY) && memcmp(component, INSTALL_RECORD_DIRECTORY, length) == 0;
}

int name_escape(const char* name) {
  if (name[0] == '/') return NAME_ABSOLUTE;
  bool first = true;  // no component but "" and "." seen yet
  for (const char* p = name; *p;) {
    const char* end = strchr(p, '/');
    size_t length = end ? size_t(end - p) : strlen(p);
    if (is_dot_dot(p, length)) return NAME_PARENT;
    if (first && is_record_directory(p, length)) return NAME_RECORD_DIRECTORY;
    if (length > 1 || (length == 1 && p[0] != '.')) first = false;
    if (!end) break;
    p = end + 1;
  }
  return NAME_INSIDE;
}

int entry_name_problem(const char* name) {
  size_t length = strlen(name);
  if (length > ENTRY_NAME_MAX) return ENTRY_NAME_TOO_LONG;
  if (strchr(name, '\\')) return ENTRY_NAME_BACKSLASH;
  const char* slash = strchr(name, '/');
  if (is_record_directory(name, slash ? size_t(slash - name) : length)) return ENTRY_NAME_RESERVED;
  size_t start = 0;
  for (size_t i = 0; i <= length; i++) {
    if (i < length && name[i] != '/') continue;
    if (i - start > NAME_COMPONENT_MAX) return ENTRY_NAME_LONG_COMPONENT;
    start = i + 1;
  }
  const char* last = entry_file_name(name);
  if (*last == 0 || strcmp(last, ".") == 0) return ENTRY_NAME_NOT_A_FILE;
  return ENTRY_NAME_OK;
}

const char* entry_name_problem_text(int problem) {
  static_assert(NAME_COMPONENT_MAX == 255, "the message names the limit");
  switch (problem) {
    case ENTRY_NAME_NOT_A_FILE: return "names a directory, not a file";
    case ENTRY_NAME_BACKSLASH: return "holds a backslash, which the installer takes as a directory separator";
    case ENTRY_NAME_LONG_COMPONENT: return "has a component longer than 255 bytes";
    case ENTRY_NAME_RESERVED: return "lies in the directory where the installer keeps its records";
    case ENTRY_NAME_TOO_LONG: return "is longer than any installation path can hold";
    default: return "";
  }
}

// A backslash ends the part whose directories are made, so "a\b" makes "a"
// and writes the file "a\b" beside it: the installer has always done so.
size_t entry_directory_part(const char* name) {
  size_t n = strlen(name);
  if (n == 0) return 0;
  if (name[n - 1] == '/' || name[n - 1] == '\\') return n - 1;
  size_t i = n - 1;
  while (i > 0 && name[i] != '/' && name[i] != '\\') i--;
  return i;
}

size_t entry_parent_part(const char* name) {
  const char* slash = strrchr(name, '/');
  return slash ? size_t(slash - name) : 0;
}

const char* entry_file_name(const char* name) {
  const char* slash = strrchr(name, '/');
  return slash ? slash + 1 : name;
}

const char* entry_base_name(const char* name) {
  size_t n = strlen(name);
  for (size_t i = n > 0 ? n - 1 : 0; i-- > 0;)
    if (name[i] == '/' || name[i] == '\\') return name + i + 1;
  return name;
}

void entry_last_component(const char* name, size_t* start, size_t* end) {
  size_t e = strlen(name);
  while (e > 0 && name[e - 1] == '/') e--;
  size_t s = e;
  while (s > 0 && name[s - 1] != '/') s--;
  *start = s;
  *end = e;
}

size_t normalize_path(const char* path, size_t length, char* out) {
  size_t n = 0;
  for (size_t i = 0; i < length;) {
    size_t end = i;
    while (end < length && path[end] != '/') end++;
    size_t k = end - i;
    if (is_dot_dot(path + i, k)) return 0;
    if (k > 0 && !(k == 1 && path[i] == '.')) {
      if (n > 0) out[n++] = '/';
      memcpy(out + n, path + i, k);
      n += k;
    }
    i = end + 1;
  }
  out[n] = 0;
  return n;
}

bool path_has_component(const char* path, size_t length, const char* name) {
  size_t n = strlen(name);
  for (size_t i = 0; i < length;) {
    size_t end = i;
    while (end < length && path[end] != '/') end++;
    if (end - i == n && memcmp(path + i, name, n) == 0) return true;
    i = end + 1;
  }
  return false;
}

size_t joined_prefix_length(const char* directory, size_t length) {
  return length + (length > 0 && directory[length - 1] == '/' ? 0 : 1);
}

int link_target_escape(const char* name, const char* target, size_t length) {
  if (length > 0 && target[0] == '/') return LINK_ABSOLUTE;
  // Depth of the link's directory below the top.
  long depth = 0;
  for (const char* p = name;;) {
    const char* slash = strchr(p, '/');
    if (!slash) break;
    size_t k = size_t(slash - p);
    if (k > 0 && !(k == 1 && p[0] == '.')) depth++;
    p = slash + 1;
  }
  for (size_t i = 0; i <= length;) {
    size_t end = i;
    while (end < length && target[end] != '/') end++;
    size_t k = end - i;
    if (is_dot_dot(target + i, k)) {
      if (--depth < 0) return LINK_CLIMBS_OUT;
    } else if (k > 0 && !(k == 1 && target[i] == '.')) {
      if (depth == 0 && is_record_directory(target + i, k)) return LINK_RECORD_DIRECTORY;
      depth++;
    }
    i = end + 1;
  }
  return LINK_INSIDE;
}
