#include "engine/read/entry_names.h"

#include <climits>
#include <cstring>

#include "engine/ownership/install_record.h"

static_assert(ENTRY_NAME_MAX + 2 == PATH_MAX, "the shortest installation path is one byte and its '/'");
static_assert(ENTRY_NAME_COMPONENT_MAX == NAME_MAX);

int entry_name_problem(const char* name) {
  size_t length = strlen(name);
  if (length > ENTRY_NAME_MAX) return ENTRY_NAME_TOO_LONG;
  if (strchr(name, '\\')) return ENTRY_NAME_BACKSLASH;
  const size_t reserved = strlen(INSTALL_RECORD_DIRECTORY);
  if (strncmp(name, INSTALL_RECORD_DIRECTORY, reserved) == 0 && (name[reserved] == '/' || name[reserved] == 0))
    return ENTRY_NAME_RESERVED;
  size_t start = 0;
  for (size_t i = 0; i <= length; i++) {
    if (i < length && name[i] != '/') continue;
    if (i - start > ENTRY_NAME_COMPONENT_MAX) return ENTRY_NAME_LONG_COMPONENT;
    start = i + 1;
  }
  const char* last = strrchr(name, '/');
  last = last ? last + 1 : name;
  if (*last == 0 || strcmp(last, ".") == 0) return ENTRY_NAME_NOT_A_FILE;
  return ENTRY_NAME_OK;
}

const char* entry_name_problem_text(int problem) {
  switch (problem) {
    case ENTRY_NAME_NOT_A_FILE: return "names a directory, not a file";
    case ENTRY_NAME_BACKSLASH: return "holds a backslash, which the installer takes as a directory separator";
    case ENTRY_NAME_LONG_COMPONENT: return "has a component longer than 255 bytes";
    case ENTRY_NAME_RESERVED: return "lies in the directory where the installer keeps its records";
    case ENTRY_NAME_TOO_LONG: return "is longer than any installation path can hold";
    default: return "";
  }
}
