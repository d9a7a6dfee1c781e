#include "installer/console_input.h"

#include <cstdio>

int drop_line() {
  for (;;) {
    int c = getchar();
    if (c == EOF) return 0;
    if (c == '\n' || c == 0) return 1;
  }
}
