#include "pack/messages.h"

#include <cstdio>

#include "pack/text_escape.h"

std::string counted(uint64_t count, const std::string& noun, const std::string& plural) {
  return std::to_string(count) + " " + (count == 1 ? noun : plural.empty() ? noun + "s" : plural);
}

std::string spoken_list(const std::vector<std::string>& items) {
  std::string list;
  for (size_t i = 0; i < items.size(); i++) list += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
  return list;
}

std::string short_size(uint64_t bytes) {
  static const char* const units[] = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = double(bytes) / 1024;
  int unit = 0;
  while (value >= 1024 && unit < 3) {
    value /= 1024;
    unit++;
  }
  char text[32];
  snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  return text;
}

// Messages carry names from installers, from the tree and from the command
// line: none reaches the terminal raw.
void print_error(const std::string& text) {
  fprintf(stderr, "%s: %s\n", PROGRAM_NAME, terminal_safe_text(text).c_str());
}

void print_note(const std::string& text) {
  fprintf(stderr, "%s: note: %s\n", PROGRAM_NAME, terminal_safe_text(text).c_str());
}
