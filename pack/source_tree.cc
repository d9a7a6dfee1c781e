#include "pack/source_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/entry_names.h"
#include "archive/format.h"
#include "pack/failure.h"

namespace {

constexpr uint64_t FILE_SIZE_LIMIT = uint64_t(1) << 32;  // a file_size field holds less

struct Walker {
  SourceTree& tree;

  void refuse(const std::string& path, const std::string& why) { tree.refusals.push_back(path + ": " + why); }

  void add_file(const std::string& name, const std::string& path, const struct stat& st) {
    if (uint64_t(st.st_size) >= FILE_SIZE_LIMIT) {
      refuse(path, "file of " + std::to_string(st.st_size) + " bytes; an installer holds files of less than 4 GiB");
      return;
    }
    if (name.size() > RECORD_MAX_NAME) {
      refuse(path, "name of " + std::to_string(name.size()) + " bytes; an installer holds names of at most " +
                       std::to_string(RECORD_MAX_NAME));
      return;
    }
    // A name the installer would install otherwise than the tree shows it.
    if (int problem = entry_name_problem(name.c_str()); problem != ENTRY_NAME_OK) {
      refuse(path, std::string("the name ") + entry_name_problem_text(problem));
      return;
    }
    if (access(path.c_str(), R_OK) != 0 && errno == EACCES) {
      refuse(path, "cannot be read: " + std::string(strerror(EACCES)));
      return;
    }
    tree.files.push_back({name, path, uint64_t(st.st_size), int64_t(st.st_mtime), uint16_t(st.st_mode),
                          uint64_t(st.st_dev), uint64_t(st.st_ino)});
    tree.total_size += uint64_t(st.st_size);
    tree.total_record_size += RECORD_NAME + name.size() + RECORD_NAME_PADDING;
  }

  // `fd` is open on the directory `path`; `prefix` is its name below the
  // root with a trailing '/', empty for the root. Takes ownership of `fd`.
  void walk(int fd, const std::string& path, const std::string& prefix) {
    DIR* d = fdopendir(fd);
    if (!d) {
      close(fd);
      refuse(path, std::string("cannot read directory: ") + strerror(errno));
      return;
    }
    std::vector<std::string> names;
    errno = 0;
    while (dirent* e = readdir(d)) {
      if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
      errno = 0;
    }
    if (errno != 0) refuse(path, std::string("cannot read directory: ") + strerror(errno));
    if (names.empty() && !prefix.empty())
      tree.notes.push_back(path + ": empty directory left out (an installer makes only directories that hold files)");
    for (const std::string& n : names) {
      std::string child_path = path + "/" + n;
      std::string child_name = prefix + n;
      struct stat st;
      if (fstatat(dirfd(d), n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        refuse(child_path, std::string("cannot examine: ") + strerror(errno));
        continue;
      }
      if (S_ISLNK(st.st_mode)) {
        struct stat target;
        if (fstatat(dirfd(d), n.c_str(), &target, 0) != 0) {
          refuse(child_path, std::string("symbolic link that cannot be followed: ") + strerror(errno));
        } else if (S_ISREG(target.st_mode)) {
          tree.notes.push_back(child_path + ": symbolic link packed as a copy of its target");
          add_file(child_name, child_path, target);
        } else if (S_ISDIR(target.st_mode)) {
          refuse(child_path, "symbolic link to a directory; an installer holds regular files only");
        } else {
          refuse(child_path, "symbolic link to a special file; an installer holds regular files only");
        }
      } else if (S_ISREG(st.st_mode)) {
        add_file(child_name, child_path, st);
      } else if (S_ISDIR(st.st_mode)) {
        int child = openat(dirfd(d), n.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child < 0)
          refuse(child_path, std::string("cannot read directory: ") + strerror(errno));
        else
          walk(child, child_path, child_name + "/");
      } else {
        refuse(child_path, "special file (device, FIFO or socket); an installer holds regular files only");
      }
    }
    closedir(d);
  }
};

}  // namespace

SourceTree scan_source_tree(const std::string& directory) {
  SourceTree tree;
  std::string root = directory;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    int error_number = errno;
    if (error_number == ENOTDIR) throw Failure(root + ": not a directory");
    throw Failure(system_failure(root, "cannot read directory", error_number));
  }
  Walker walker{tree};
  walker.walk(fd, root == "/" ? "" : root, "");
  std::sort(tree.files.begin(), tree.files.end(),
            [](const SourceFile& a, const SourceFile& b) { return a.name < b.name; });
  std::sort(tree.notes.begin(), tree.notes.end());
  std::sort(tree.refusals.begin(), tree.refusals.end());
  return tree;
}
