#include "bench/corpus.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

namespace {

namespace fs = std::filesystem;

// CORPUS_SIZE bytes of the files below `root` whose path passes `wanted`,
// taken in path order so that every run measures the same bytes; the files
// are taken again if they are too few, and `fallback` bytes stand in when
// there are none.
std::string concatenate(const char* root, bool (*wanted)(const fs::path&), char fallback) {
  std::vector<fs::path> paths;
  std::error_code ignored;
  for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_regular_file(ignored) && !it->is_symlink(ignored) && wanted(it->path())) paths.push_back(it->path());
  }
  std::sort(paths.begin(), paths.end());
  std::string bytes;
  std::vector<char> buffer(1 << 16);
  while (bytes.size() < CORPUS_SIZE) {
    const size_t before = bytes.size();
    for (const auto& path : paths) {
      FILE* f = fopen(path.c_str(), "rb");
      if (!f) continue;
      size_t n;
      while (bytes.size() < CORPUS_SIZE && (n = fread(buffer.data(), 1, buffer.size(), f)) > 0)
        bytes.append(buffer.data(), n);
      fclose(f);
      if (bytes.size() >= CORPUS_SIZE) break;
    }
    if (bytes.size() == before) break;  // nothing readable
  }
  if (bytes.empty()) bytes.assign(CORPUS_SIZE, fallback);
  bytes.resize(CORPUS_SIZE, fallback);
  return bytes;
}

bool is_header(const fs::path& p) { return p.extension() == ".h"; }
bool is_shared_library(const fs::path& p) { return p.filename().string().find(".so") != std::string::npos; }

}  // namespace

const std::string& corpus_text() {
  static const std::string bytes = concatenate("/usr/include", is_header, ' ');
  return bytes;
}

const std::string& corpus_binary() {
  static const std::string bytes = concatenate("/usr/lib/x86_64-linux-gnu", is_shared_library, '\0');
  return bytes;
}

const std::string& corpus_random() {
  static const std::string bytes = [] {
    std::mt19937_64 generator(20230502);
    std::string s(CORPUS_SIZE, '\0');
    for (size_t i = 0; i < s.size(); i += 8) {
      uint64_t v = generator();
      for (size_t j = 0; j < 8 && i + j < s.size(); j++) s[i + j] = char(v >> (8 * j));
    }
    return s;
  }();
  return bytes;
}
