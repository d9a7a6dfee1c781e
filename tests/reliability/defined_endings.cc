#include "tests/reliability/defined_endings.h"

#include <cstring>

#include "engine/failure.h"

const char* const kTerminatedEnding = "\n\nInstallation terminated.\n";

namespace {

// Messages of `error`: start-up, the locator, the sequencer and the installation.
const char* const kPlainMessages[] = {
    "Can't find attachments (err=1).", "Can't find attachments (err=2).", "Can't find attachments (3).",
    "Attachments corrupted (3).",      "Insufficient memory (2).",        "Insufficient memory (err=3).",
    "Insufficient memory (err=4).",    "Memory allocation error (err=3).", "Memory allocation error (err=4).",
    "Corrupted file(s) (err=1).",      "Corrupted file(s) (err=2).",      "Corrupted file(s) (err=3).",
    "Corrupted file(s) (err=4).",      "Corrupted file(s) (err=5).",      "Corrupted file(s) (err=6).",
    "Corrupted file(s) (err=7).",      "Corrupted file(s) (err=8).",      "Corrupted file(s) (err=10).",     "Decompression error (err=1).",
    "Install error (err=10).",         "Install error (err=11).",         "Install error (err=12).",
    "Another installation into this directory is running (err=9).",
};

// Messages of `error_errno`, each with its detail: the message, then
// " - " and the system's text when there is one, then " " and the detail.
struct ErrnoMessage {
  const char* message;
  const char* detail;
};
const ErrnoMessage kErrnoMessages[] = {
    {"Can't create directory", "(err=4)."},
    {"Can't create file", "(err=5)."},
    {"Error saving data", "(err=1)."},
    {"Can't save the installation record", "(err=1)."},
};

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::string in_the_way(const std::string& path) { return std::string(failure_message(FAILURE_IN_THE_WAY)) + " " + path; }

std::string final_message(const std::string& err) {
  if (!ends_with(err, std::string("\n") + kTerminatedEnding)) return "";
  const std::string text = err.substr(0, err.size() - 1 - std::string(kTerminatedEnding).size());
  for (const char* m : kPlainMessages)
    if (ends_with(text, m)) return m;
  // The one message followed by a path, what stands in an entry's way; like
  // the others, it may follow what is left of the progress line.
  size_t at = text.rfind(failure_message(FAILURE_IN_THE_WAY));
  if (at != std::string::npos && text.find('\n', at) == std::string::npos) return text.substr(at);
  for (const ErrnoMessage& m : kErrnoMessages) {
    const std::string detail = std::string(" ") + m.detail;
    if (!ends_with(text, detail)) continue;
    const std::string head = text.substr(0, text.size() - detail.size());
    size_t at = head.rfind(m.message);
    if (at == std::string::npos) continue;
    const std::string between = head.substr(at + std::string(m.message).size());
    // Nothing, or " - " and a one-line system text.
    if (between.empty() ||
        (between.size() > 3 && between.compare(0, 3, " - ") == 0 && between.find('\n') == std::string::npos))
      return text.substr(at);
  }
  return "";
}
