#include "pack/progress_display.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pack/text_escape.h"

ProgressDisplay::ProgressDisplay(bool enabled) {
  const char* term = getenv("TERM");
  smart_ = enabled && isatty(STDERR_FILENO) && term && *term && strcmp(term, "dumb") != 0;
}

ProgressDisplay::~ProgressDisplay() { clear(); }

void ProgressDisplay::update(const std::string& text, bool force) {
  if (!smart_) return;
  auto now = std::chrono::steady_clock::now();
  if (!force && dirty_ && now - last_ < std::chrono::milliseconds(100)) return;
  last_ = now;
  size_t width = 80;
  winsize size;
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) width = size.ws_col;
  // Leave the last column free: writing into it wraps on some terminals.
  std::string safe = terminal_safe_text(text);
  std::string line = safe.size() < width ? safe : safe.substr(0, width > 1 ? width - 1 : 0);
  fprintf(stderr, "\r%s\x1b[K", line.c_str());
  fflush(stderr);
  dirty_ = true;
}

void ProgressDisplay::clear() {
  if (!smart_ || !dirty_) return;
  fputs("\r\x1b[K", stderr);
  fflush(stderr);
  dirty_ = false;
}
