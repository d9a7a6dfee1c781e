// Two passes over the arguments, one to size the result and one to fill it,
// so that the string is allocated once.
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "installer/progress_line.h"

char* concat_strings(int count, ...) {
  va_list args;
  va_start(args, count);
  size_t total = 0;
  for (int i = 0; i < count; i++) {
    const char* s = va_arg(args, const char*);
    if (s) total += strlen(s);
  }
  va_end(args);

  char* result = static_cast<char*>(malloc(total + 1));
  if (!result) return nullptr;
  char* end = result;
  va_start(args, count);
  for (int i = 0; i < count; i++) {
    const char* s = va_arg(args, const char*);
    if (!s) continue;
    size_t n = strlen(s);
    memcpy(end, s, n);
    end += n;
  }
  va_end(args);
  *end = 0;
  return result;
}
