// The progress line rewrites itself in place: it moves back over what it
// wrote last with backspaces and writes the new text over the old, which is
// not blanked first. That is enough because the extraction keeps the name
// fixed between two resets, so a new text is never shorter than the one it
// covers. Nothing is rewritten when neither the numbers nor the name changed,
// since the extraction calls once per decoded slice.
//
// The bytes are gathered and written in large pieces: a write per file made
// the display a noticeable share of a run of small files. On a pipe they go
// out when the buffer fills; on a terminal also whenever 50 ms have passed,
// so that the display keeps up with the run. The stream is the same as if
// every piece had been written at once, and progress_flush completes it
// before any other output.
#include "installer/progress_line.h"

#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "installer/installer_state.h"

namespace {

// Names longer than this are shown from a separator at or behind this index.
constexpr size_t PROGRESS_NAME_KEEP = 40;
constexpr long TERMINAL_INTERVAL_NS = 50L * 1000 * 1000;

int progress_written = 0;  // bytes of the last display; negative when it never reached the stream
char* progress_name = nullptr;  // the full name last displayed, a private copy
int progress_entries = -1;
int progress_bytes = -1;

char pending[4096];
size_t pending_used = 0;
// The last display lies in `pending`: lost with it if the write fails.
bool display_pending = false;
bool flush_registered = false;
timespec last_output{};

// Asked once; a plain flag rather than a function-local static, whose
// thread-safe initialisation would pull C++ run-time support into the stub.
int stderr_terminal = -1;

bool terminal() {
  if (stderr_terminal < 0) stderr_terminal = isatty(fileno(stderr)) == 1;
  return stderr_terminal;
}

void write_pending() {
  if (pending_used == 0) return;
  bool written = fwrite(pending, 1, pending_used, stderr) == pending_used;
  // A display that never reached the stream is not moved back over.
  if (!written && display_pending) progress_written = -1;
  pending_used = 0;
  display_pending = false;
  clock_gettime(CLOCK_MONOTONIC, &last_output);
}

void put(const char* data, size_t size) {
  if (pending_used + size > sizeof pending) write_pending();
  if (size > sizeof pending) {
    fwrite(data, 1, size, stderr);
    return;
  }
  memcpy(pending + pending_used, data, size);
  pending_used += size;
}

void put_repeated(const char* unit, size_t unit_size, int count) {
  for (int i = 0; i < count; i++) put(unit, unit_size);
}

void flush_at_exit() { progress_flush(); }

// A terminal is written to when the last output is 50 ms old, a pipe only
// when the buffer fills.
void written_piece() {
  if (!flush_registered) flush_registered = atexit(flush_at_exit) == 0;
  if (!terminal()) return;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  long elapsed = (now.tv_sec - last_output.tv_sec) * 1000000000L + (now.tv_nsec - last_output.tv_nsec);
  if (elapsed >= TERMINAL_INTERVAL_NS || last_output.tv_sec == 0) write_pending();
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

}  // namespace

void progress_flush() {
  bool had_output = pending_used > 0;
  write_pending();
  // Only a terminal has output to wait for, and only once, before the
  // text that follows.
  if (had_output && terminal()) tcdrain(fileno(stderr));
}

void progress_line(const char* name, int entries_percent, int bytes_percent) {
  if (quiet) return;
  if (!name) {
    if (progress_written > 0) {
      put_repeated("\b \b", 3, progress_written);
      written_piece();
    }
    progress_written = 0;
    progress_bytes = progress_entries = -1;
    free(progress_name);
    progress_name = nullptr;
    return;
  }
  if (bytes_percent == progress_bytes && entries_percent == progress_entries && progress_name &&
      strcmp(progress_name, name) == 0) {
    if (terminal()) written_piece();
    return;
  }
  char* shortened = shortened_name(name);
  const char* shown = shortened ? shortened : name;
  if (progress_written > 0) put_repeated("\b", 1, progress_written);
  char numbers[32];
  int n = snprintf(numbers, sizeof numbers, "%3d%% %3d%%  ", entries_percent, bytes_percent);
  size_t length = strlen(shown);
  if (n > 0) put(numbers, size_t(n));
  put(shown, length);
  put(" ", 1);
  progress_written = n + int(length) + 1;
  display_pending = true;
  free(shortened);

  progress_bytes = bytes_percent;
  progress_entries = entries_percent;
  free(progress_name);
  progress_name = strdup(name);
  written_piece();
}
