#include "installer/installation_notes.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Note {
  Note* next;
  char text[1];
};

Note* first = nullptr;
Note** last = &first;

void write_notes() {
  while (Note* n = first) {
    fprintf(stderr, "%s\n", n->text);
    first = n->next;
    free(n);
  }
  last = &first;
}

}  // namespace

void note_after_installation(const char* text, const char* path) {
  size_t a = strlen(text), b = path ? strlen(path) : 0;
  Note* n = static_cast<Note*>(malloc(sizeof(Note) + a + b));
  if (!n) return;  // a line lost; the installation itself is not concerned
  memcpy(n->text, text, a);
  if (b) memcpy(n->text + a, path, b);
  n->text[a + b] = 0;
  n->next = nullptr;
  static bool registered = false;
  if (!registered) registered = atexit(write_notes) == 0;
  *last = n;
  last = &n->next;
}
