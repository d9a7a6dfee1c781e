#include "pack/source_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <cerrno>
#include <cstring>

#include "archive/entry_paths.h"
#include "archive/format.h"
#include "pack/exclude_patterns.h"
#include "pack/failure.h"
#include "pack/link_target.h"

namespace {

constexpr uint64_t FILE_SIZE_LIMIT = uint64_t(1) << 32;  // a file_size field holds less

constexpr mode_t DEFAULT_DIRECTORY_MODE = 0755;  // what the installer makes directories with

struct Walker {
  SourceTree& tree;
  const ScanOptions& options;

  void refuse(const std::string& path, const std::string& why) { tree.refusals.push_back(path + ": " + why); }

  // False, with the refusal, for a name that no record holds or that the
  // installer would install otherwise than the tree shows it.
  bool name_fits(const std::string& name, const std::string& path) {
    if (name.size() > RECORD_MAX_NAME) {
      refuse(path, "name of " + std::to_string(name.size()) + " bytes; an installer holds names of at most " +
                       std::to_string(RECORD_MAX_NAME));
      return false;
    }
    if (int problem = entry_name_problem(name.c_str()); problem != ENTRY_NAME_OK) {
      refuse(path, std::string("the name ") + entry_name_problem_text(problem));
      return false;
    }
    return true;
  }

  void add_object(std::vector<SourceObject>* to, SourceKind kind, const std::string& name, const std::string& path,
                  const struct stat& st, const std::string& target) {
    if (!name_fits(name, path)) return;
    to->push_back({kind, name, path, target, int64_t(st.st_mtime), uint16_t(st.st_mode)});
    tree.total_record_size += RECORD_NAME + name.size() + RECORD_NAME_PADDING;
  }

  void add_link(int dir, const std::string& entry, const std::string& name, const std::string& path,
                const struct stat& st) {
    std::string target(size_t(st.st_size) + 1, 0);
    ssize_t n = readlinkat(dir, entry.c_str(), target.data(), target.size());
    if (n < 0 || size_t(n) >= target.size()) {
      refuse(path, std::string("symbolic link that cannot be read: ") + strerror(n < 0 ? errno : EAGAIN));
      return;
    }
    target.resize(size_t(n));
    if (target.empty() || target.size() > LINK_TARGET_MAX) {
      refuse(path, "symbolic link with a target of " + std::to_string(target.size()) + " bytes");
      return;
    }
    // Nothing may lead into the installer's own records, whatever is allowed.
    if (link_target_escape(name.c_str(), target.data(), target.size()) == LINK_RECORD_DIRECTORY) {
      refuse(path, "symbolic link to '" + target + "': " + link_target_escape(name, target));
      return;
    }
    if (!options.allow_outside_links) {
      std::string escape = link_target_escape(name, target);
      if (!escape.empty()) {
        refuse(path, "symbolic link to '" + target + "' outside the tree: " + escape +
                         " (give --allow-outside-links to pack it, or --dereference to pack copies)");
        return;
      }
    }
    add_object(&tree.links, SOURCE_LINK, name, path, st, target);
  }

  // The old way: a link to a file is packed as a copy of it.
  void add_link_copy(int dir, const std::string& entry, const std::string& name, const std::string& path) {
    struct stat target;
    if (fstatat(dir, entry.c_str(), &target, 0) != 0) {
      refuse(path, std::string("symbolic link that cannot be followed: ") + strerror(errno));
    } else if (S_ISREG(target.st_mode)) {
      tree.notes.push_back(path + ": symbolic link packed as a copy of its target");
      add_file(name, path, target);
      tree.files.back().names = 1;  // a copy, whatever else names its target
    } else if (S_ISDIR(target.st_mode)) {
      refuse(path, "symbolic link to a directory; with --dereference an installer holds copies of files only");
    } else {
      refuse(path, "symbolic link to a special file; an installer holds regular files only");
    }
  }

  void add_file(const std::string& name, const std::string& path, const struct stat& st) {
    if (uint64_t(st.st_size) >= FILE_SIZE_LIMIT) {
      refuse(path, "file of " + std::to_string(st.st_size) + " bytes; an installer holds files of less than 4 GiB");
      return;
    }
    if (!name_fits(name, path)) return;
    if (access(path.c_str(), R_OK) != 0 && errno == EACCES) {
      refuse(path, "cannot be read: " + std::string(strerror(EACCES)));
      return;
    }
    tree.files.push_back({name, path, uint64_t(st.st_size), int64_t(st.st_mtime),
                          uint16_t(st.st_mode), uint64_t(st.st_dev), uint64_t(st.st_ino), uint64_t(st.st_nlink)});
    tree.total_size += uint64_t(st.st_size);
    tree.total_record_size += RECORD_NAME + name.size() + RECORD_NAME_PADDING;
  }

  // `fd` is open on the directory `path`; `prefix` is its name below the
  // root with a trailing '/', empty for the root. Takes ownership of `fd`.
  // Returns whether the directory holds anything that is packed.
  bool walk(int fd, const std::string& path, const std::string& prefix) {
    DIR* d = fdopendir(fd);
    if (!d) {
      close(fd);
      refuse(path, std::string("cannot read directory: ") + strerror(errno));
      return true;
    }
    std::vector<std::string> names;
    errno = 0;
    while (dirent* e = readdir(d)) {
      if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
      errno = 0;
    }
    if (errno != 0) refuse(path, std::string("cannot read directory: ") + strerror(errno));
    bool holds = false;
    for (const std::string& n : names) {
      std::string child_path = path + "/" + n;
      std::string child_name = prefix + n;
      if (const std::string* pattern = excluding_pattern(options.excludes, child_name)) {
        tree.excluded.push_back(child_path + ": left out by --exclude '" + *pattern + "'");
        continue;
      }
      holds = true;
      struct stat st;
      if (fstatat(dirfd(d), n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        refuse(child_path, std::string("cannot examine: ") + strerror(errno));
        continue;
      }
      if (S_ISLNK(st.st_mode)) {
        if (options.dereference)
          add_link_copy(dirfd(d), n, child_name, child_path);
        else
          add_link(dirfd(d), n, child_name, child_path, st);
      } else if (S_ISREG(st.st_mode)) {
        add_file(child_name, child_path, st);
      } else if (S_ISDIR(st.st_mode)) {
        int child = openat(dirfd(d), n.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child < 0) {
          refuse(child_path, std::string("cannot read directory: ") + strerror(errno));
          continue;
        }
        // An empty directory is made by its own entry; so is one whose mode
        // the installer's default would not give.
        if (!walk(child, child_path, child_name + "/") || (st.st_mode & 07777) != DEFAULT_DIRECTORY_MODE)
          add_object(&tree.directories, SOURCE_DIRECTORY, child_name, child_path, st, "");
      } else {
        refuse(child_path, "special file (device, FIFO or socket); an installer holds regular files only");
      }
    }
    closedir(d);
    return holds;
  }
};

// The later names of a file found under several become hard links to the
// first; the files are in byte order of their names already.
void link_names_of_one_file(SourceTree* tree) {
  std::map<std::pair<uint64_t, uint64_t>, std::string> first;
  std::vector<SourceFile> files;
  for (SourceFile& f : tree->files) {
    if (f.names > 1) {
      auto [at, is_first] = first.try_emplace({f.device, f.inode}, f.name);
      if (!is_first) {
        tree->links.push_back({SOURCE_HARD_LINK, f.name, f.path, at->second, f.mod_time, f.mode});
        tree->total_size -= f.size;
        continue;
      }
    }
    files.push_back(std::move(f));
  }
  tree->files = std::move(files);
}

}  // namespace

SourceTree scan_source_tree(const std::string& directory, const ScanOptions& options) {
  SourceTree tree;
  std::string root = directory;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    int error_number = errno;
    if (error_number == ENOTDIR) throw Failure(root + ": not a directory");
    throw Failure(system_failure(root, "cannot read directory", error_number));
  }
  Walker walker{tree, options};
  walker.walk(fd, root == "/" ? "" : root, "");
  auto by_name = [](const auto& a, const auto& b) { return a.name < b.name; };
  std::sort(tree.files.begin(), tree.files.end(), by_name);
  if (options.hard_links) link_names_of_one_file(&tree);
  std::sort(tree.links.begin(), tree.links.end(), by_name);
  std::sort(tree.directories.begin(), tree.directories.end(), by_name);
  std::sort(tree.excluded.begin(), tree.excluded.end());
  std::sort(tree.notes.begin(), tree.notes.end());
  std::sort(tree.refusals.begin(), tree.refusals.end());
  return tree;
}
