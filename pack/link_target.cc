#include "pack/link_target.h"

std::string link_target_escape(const std::string& name, const std::string& target) {
  if (!target.empty() && target[0] == '/') return "its target is absolute";
  // Depth of the link's directory below the top.
  long depth = 0;
  for (size_t start = 0;;) {
    size_t slash = name.find('/', start);
    if (slash == std::string::npos) break;
    std::string part = name.substr(start, slash - start);
    if (!part.empty() && part != ".") depth++;
    start = slash + 1;
  }
  for (size_t start = 0; start <= target.size();) {
    size_t slash = target.find('/', start);
    if (slash == std::string::npos) slash = target.size();
    std::string part = target.substr(start, slash - start);
    if (part == "..") {
      if (--depth < 0) return "its target leads out of the tree";
    } else if (!part.empty() && part != ".") {
      depth++;
    }
    start = slash + 1;
  }
  return "";
}
