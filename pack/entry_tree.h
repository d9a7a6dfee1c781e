// The tree that an installer's entries make in an empty installation
// directory, followed entry by entry, so that the checks find what the
// installer would fail on only midway: a file where a later entry needs a
// directory, or a directory where a later entry writes a file. Deletion
// entries take away what they would remove, so a later entry may put a file
// where an earlier one made a directory. Entries that name one file twice
// replace it, as the installer does.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

struct Entry;

class EntryTree {
 public:
  // Adds entry `index` (from 0), which passed the record checks. Returns why
  // the installer cannot install it, or an empty text.
  std::string add(const Entry& entry, uint32_t index);
  void clear() { nodes_.clear(); }

 private:
  struct Node {
    bool directory;
    uint32_t children;
    uint32_t entry;  // the entry that made it
  };
  // "" for the installation directory itself.
  Node* parent_of(const std::string& path);
  void insert(const std::string& path, bool directory, uint32_t index);
  void erase(const std::string& path);
  std::unordered_map<std::string, Node> nodes_;
};

// The components of `name` between '/', without empty and "." ones, joined
// by '/': the path below the installation directory that the installer
// reaches with it.
std::vector<std::string> name_components(const std::string& name);
