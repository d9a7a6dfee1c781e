// The progress line of a long command. On a smart terminal (standard error
// is a tty and TERM is not "dumb") one line is rewritten in place, cut to the
// terminal's width, at most ten times a second; anywhere else, or when
// disabled, nothing is shown, so that logs get no stream of partial lines.
#pragma once

#include <chrono>
#include <string>

class ProgressDisplay {
 public:
  explicit ProgressDisplay(bool enabled);
  ~ProgressDisplay();
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  bool shown() const { return smart_; }
  // Shows `text`, control characters escaped, unless the last update was less than 100 ms ago; `force`
  // shows it regardless.
  void update(const std::string& text, bool force = false);
  // Erases the line, so that messages and the summary start on a clean one.
  void clear();

 private:
  bool smart_;
  bool dirty_ = false;
  std::chrono::steady_clock::time_point last_{};
};
