// The progress line rewrites itself in place: it moves back over what it
// wrote last with backspaces and writes the new text over the old, which is
// not blanked first. That is enough because the extraction keeps the name
// fixed between two resets, so a new text is never shorter than the one it
// covers. Nothing is rewritten when neither the numbers nor the name changed,
// since the extraction calls once per decoded slice.
#include "installer/progress_line.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "installer/installer_state.h"

namespace {

// Names longer than this are shown from a separator at or behind this index.
constexpr size_t PROGRESS_NAME_KEEP = 40;

int progress_written = 0;  // bytes of the last display; negative after a failed write
// Bytes of a display erased but not yet written out: where standard error is
// no terminal, the erasure goes out with the next display or before any other
// output, one write per file instead of two. The bytes are the same.
int progress_owed = 0;
char* progress_name = nullptr;  // the full name last displayed, a private copy
int progress_entries = -1;
int progress_bytes = -1;

// Writes `count` copies of `unit` with as few writes as an unbuffered
// standard error allows.
void write_repeated(const char* unit, size_t unit_size, int count) {
  char block[3 * 64];
  size_t per_block = sizeof block / unit_size;
  for (size_t i = 0; i < per_block; i++) memcpy(block + i * unit_size, unit, unit_size);
  while (count > 0) {
    size_t n = size_t(count) < per_block ? size_t(count) : per_block;
    fwrite(block, unit_size, n, stderr);
    count -= int(n);
  }
}

// The backspaces over the last display and the new text as one write, as
// standard error is unbuffered: one system call per update instead of two.
// False, with nothing written, when the line does not fit the buffer.
bool write_in_one(const char* shown, int entries_percent, int bytes_percent) {
  char line[512];
  const size_t owed = 3 * size_t(progress_owed);
  const size_t back = owed + (progress_written > 0 ? size_t(progress_written) : 0);
  if (back >= sizeof line) return false;
  for (size_t i = 0; i < owed; i += 3) memcpy(line + i, "\b \b", 3);
  memset(line + owed, '\b', back - owed);
  int n = snprintf(line + back, sizeof line - back, "%3d%% %3d%%  %s ", entries_percent, bytes_percent, shown);
  if (n < 0 || size_t(n) >= sizeof line - back) return false;
  progress_written = fwrite(line, 1, back + size_t(n), stderr) == back + size_t(n) ? n : -1;
  progress_owed = 0;
  return true;
}

// "..." and the name from its first separator at or behind index 40, else
// from index 40; null when the name is short enough or memory is short.
char* shortened_name(const char* name) {
  if (strlen(name) <= PROGRESS_NAME_KEEP) return nullptr;
  const char* cut = name + PROGRESS_NAME_KEEP;
  const char* separator = cut + strcspn(cut, "/\\");
  char* text = *separator ? concat_strings(2, "...", separator) : nullptr;
  if (!text) text = concat_strings(2, "...", cut);
  return text;
}

// Only a terminal has output to wait for; on a pipe or a file tcdrain
// merely fails, one system call per update for nothing.
// Asked once; a plain flag rather than a function-local static, whose
// thread-safe initialisation would pull C++ run-time support into the stub.
int stderr_terminal = -1;

void drain_stderr() {
  if (stderr_terminal < 0) stderr_terminal = isatty(fileno(stderr)) == 1;
  if (stderr_terminal) tcdrain(fileno(stderr));
}

}  // namespace

void progress_flush() {
  if (progress_owed > 0) write_repeated("\b \b", 3, progress_owed);
  progress_owed = 0;
}

void progress_line(const char* name, int entries_percent, int bytes_percent) {
  if (quiet) return;
  if (stderr_terminal < 0) stderr_terminal = isatty(fileno(stderr)) == 1;
  if (!name) {
    if (progress_written > 0) {
      if (stderr_terminal) write_repeated("\b \b", 3, progress_written);
      else progress_owed += progress_written;
    }
    progress_written = 0;
    progress_bytes = progress_entries = -1;
    free(progress_name);
    progress_name = nullptr;
    drain_stderr();
    return;
  }
  if (bytes_percent == progress_bytes && entries_percent == progress_entries && progress_name &&
      strcmp(progress_name, name) == 0) {
    drain_stderr();
    return;
  }
  char* shortened = shortened_name(name);
  const char* shown = shortened ? shortened : name;
  if (!write_in_one(shown, entries_percent, bytes_percent)) {
    progress_flush();
    if (progress_written > 0) write_repeated("\b", 1, progress_written);
    progress_written = 0;
    progress_written = fprintf(stderr, "%3d%% %3d%%  %s ", entries_percent, bytes_percent, shown);
  }
  free(shortened);

  progress_bytes = bytes_percent;
  progress_entries = entries_percent;
  free(progress_name);
  progress_name = strdup(name);
  drain_stderr();
}
