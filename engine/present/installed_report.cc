#include "engine/present/installed_report.h"

#include <cstdlib>
#include <cstring>

#include "engine/ownership/installed_check.h"
#include "engine/present/text_escape.h"

void difference_word(unsigned d, char word[8]) {
  if (d & DIFFERS_MISSING) {
    memcpy(word, "missing", 8);
    return;
  }
  const char letters[] = "SM5LT";
  const unsigned bits[] = {DIFFERS_SIZE, DIFFERS_MODE, DIFFERS_BYTES, DIFFERS_TARGET, DIFFERS_TIME};
  // What another kind of object, or one that cannot be read, leaves unknown.
  const unsigned unknown_where_unread = DIFFERS_BYTES | DIFFERS_TARGET;
  for (size_t i = 0; i < 5; i++) {
    bool unknown = (d & DIFFERS_TYPE) ? bits[i] != DIFFERS_MODE
                                      : (d & DIFFERS_UNREADABLE) && (bits[i] & unknown_where_unread) && !(d & bits[i]);
    word[i] = (d & bits[i]) ? letters[i] : unknown ? '?' : '.';
  }
  if (d & DIFFERS_UNKNOWN) memset(word, '?', 5);
  word[5] = 0;
}

void print_path_line(FILE* out, const char* lead, const char* directory, const char* path) {
  size_t dir_length = strlen(directory), path_length = strlen(path);
  char* shown = static_cast<char*>(malloc(escaped_size(dir_length) + escaped_size(path_length) + 1));
  if (!shown) return;
  size_t n = escape_text(directory, dir_length, shown);
  if (n > 0 && shown[n - 1] != '/') shown[n++] = '/';
  escape_text(path, path_length, shown + n);
  fprintf(out, "%s%s\n", lead, shown);
  free(shown);
}

void print_difference(FILE* out, unsigned differences, const char* directory, const char* path) {
  char word[8], lead[16];
  difference_word(differences, word);
  snprintf(lead, sizeof lead, "%-7s  ", word);
  print_path_line(out, lead, directory, path);
}
