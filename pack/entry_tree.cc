#include "pack/entry_tree.h"

#include "archive/entry_paths.h"
#include "engine/read/entry_reader.h"
#include "pack/text_escape.h"

std::vector<std::string> name_components(const std::string& name) {
  std::vector<std::string> parts;
  for (size_t start = 0; start <= name.size();) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(start, end - start);
    if (!part.empty() && part != ".") parts.push_back(part);
    start = end + 1;
  }
  return parts;
}

EntryTree::Node* EntryTree::parent_of(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return nullptr;
  auto it = nodes_.find(path.substr(0, slash));
  return it == nodes_.end() ? nullptr : &it->second;
}

void EntryTree::insert(const std::string& path, bool directory, uint32_t index) {
  if (!nodes_.emplace(path, Node{directory, 0, index}).second) return;
  if (Node* parent = parent_of(path)) parent->children++;
}

void EntryTree::erase(const std::string& path) {
  if (Node* parent = parent_of(path)) parent->children--;
  nodes_.erase(path);
}

std::string EntryTree::add(const Entry& e, uint32_t index) {
  const std::string name = e.name;
  if (e.type == ENTRY_DELETE) {
    // The last component goes: a file (unless the name ends in '/'), or a
    // directory that nothing is left in. Names the installer does not act
    // on ("", ".", a path through a file) match nothing here.
    size_t end = name.find_last_not_of('/');
    if (end == std::string::npos) return "";
    size_t start = name.rfind('/', end);
    std::string last = name.substr(start == std::string::npos ? 0 : start + 1, end + 1 - (start == std::string::npos ? 0 : start + 1));
    if (last == "." || last == "..") return "";
    std::string path;
    for (const std::string& part : name_components(name)) path += (path.empty() ? "" : "/") + part;
    auto it = nodes_.find(path);
    if (it == nodes_.end()) return "";
    bool only_directory = end + 1 < name.size();
    if (it->second.directory ? it->second.children == 0 : !only_directory) erase(path);
    return "";
  }
  if (e.type == ENTRY_POST_INSTALL) return "";  // named for listings only; installs nothing
  int problem = entry_name_problem(e.name);
  if (problem != ENTRY_NAME_OK) return entry_name_problem_text(problem);
  std::vector<std::string> parts = name_components(name);
  std::string path;
  for (size_t i = 0; i + 1 < parts.size(); i++) {
    path += (path.empty() ? "" : "/") + parts[i];
    auto it = nodes_.find(path);
    if (it == nodes_.end())
      insert(path, true, index);
    else if (!it->second.directory)
      return "needs '" + escaped_text(path) + "' as a directory, where entry " + std::to_string(it->second.entry + 1) +
             " installs a file";
  }
  path += (path.empty() ? "" : "/") + parts.back();
  auto it = nodes_.find(path);
  bool directory = e.type == ENTRY_DIRECTORY;
  if (it != nodes_.end() && it->second.directory && !directory)
    return "is a directory that entry " + std::to_string(it->second.entry + 1) + " needs";
  if (it != nodes_.end() && !it->second.directory && directory)
    return "is a directory where entry " + std::to_string(it->second.entry + 1) + " installs a file";
  insert(path, directory, index);
  return "";
}
