#include "pack/exclude_patterns.h"

#include <fnmatch.h>

std::string normalized_pattern(const std::string& pattern) {
  std::string p = pattern;
  while (p.size() > 2 && p.compare(0, 2, "./") == 0) p.erase(0, 2);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

const std::string* excluding_pattern(const std::vector<std::string>& patterns, const std::string& name) {
  for (const std::string& p : patterns) {
    for (size_t start = 0; start < name.size();) {
      if (fnmatch(p.c_str(), name.c_str() + start, 0) == 0) return &p;
      size_t slash = name.find('/', start);
      if (slash == std::string::npos) break;
      start = slash + 1;
    }
  }
  return nullptr;
}
