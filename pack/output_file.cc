#include "pack/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "pack/failure.h"
#include "pack/pending_file.h"

namespace {

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Only a regular file is lost by being written over; a device or a FIFO
// may well be read and written by one command.
void refuse_inputs(const struct stat& output, const std::string& label, const std::vector<std::string>& inputs) {
  if (!S_ISREG(output.st_mode)) return;
  for (const std::string& input : inputs) {
    struct stat st;
    int found = input == "-" ? fstat(STDIN_FILENO, &st) : stat(input.c_str(), &st);
    if (found == 0 && same_file(st, output))
      throw Failure(label + ": is the same file as the input " + (input == "-" ? "(standard input)" : input) +
                    "; nothing written");
  }
}

}  // namespace

mode_t default_file_mode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

OutputFile::OutputFile(const std::string& path, const std::vector<std::string>& inputs, Kind kind)
    : path_(path), label_(path) {
  struct stat st;
  if (kind == REGULAR_ONLY && (path == "-" || (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))))
    throw Failure(label_ + ": not a regular file; written as a file of its own (nothing written)");
  if (path == "-") {
    label_ = "standard output";
    if (fstat(STDOUT_FILENO, &st) == 0) refuse_inputs(st, label_, inputs);
    stream_ = stdout;
    return;
  }
  if (stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) throw Failure(system_failure(path, "cannot examine", errno));
    struct stat link;
    // A dangling link: writing through it would create its target somewhere else.
    if (lstat(path.c_str(), &link) == 0) throw Failure(path + ": symbolic link to nothing; nothing written");
    pending_ = std::make_unique<PendingFile>(path);
    stream_ = pending_->stream();
    return;
  }
  refuse_inputs(st, label_, inputs);
  if (S_ISDIR(st.st_mode)) throw Failure(path + ": is a directory; nothing written");
  if (S_ISREG(st.st_mode)) {
    // A file that could not be written in place is not replaced either.
    if (access(path.c_str(), W_OK) != 0) throw Failure(system_failure(path, "cannot write", errno));
    struct stat link;
    if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
      char resolved[PATH_MAX];
      if (!realpath(path.c_str(), resolved)) throw Failure(system_failure(path, "cannot follow the link", errno));
      path_ = resolved;
    }
    existed_ = true;
    old_mode_ = st.st_mode & 07777;
    pending_ = std::make_unique<PendingFile>(path_);
    stream_ = pending_->stream();
    return;
  }
  // A device, FIFO or socket: opened as it is, without O_TRUNC or O_CREAT.
  int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) throw Failure(system_failure(path, "cannot open", errno));
  stream_ = fdopen(fd, "wb");
  if (!stream_) {
    int error_number = errno;
    ::close(fd);
    throw Failure(system_failure(path, "cannot open", error_number));
  }
  own_stream_ = true;
}

OutputFile::~OutputFile() {
  if (own_stream_ && stream_) fclose(stream_);
}

const std::string& OutputFile::written_path() const { return pending_->temp_path(); }

bool OutputFile::is_terminal() const { return stream_ && isatty(fileno(stream_)); }

void OutputFile::close(mode_t new_mode, bool force_mode) {
  if (pending_) {
    stream_ = nullptr;
    pending_->close(existed_ && !force_mode ? old_mode_ : new_mode);
    return;
  }
  FILE* f = stream_;
  bool failed = fflush(f) != 0 || ferror(f);
  int error_number = errno;
  if (own_stream_) {
    stream_ = nullptr;
    if (fclose(f) != 0 && !failed) {
      failed = true;
      error_number = errno;
    }
  }
  if (failed) throw Failure(system_failure(label_, "cannot write", error_number));
}

void OutputFile::check_place() const {
  if (!pending_) return;
  struct stat st;
  if (lstat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
    throw Failure(label_ + ": no longer a regular file; nothing written");
}

void OutputFile::commit() {
  if (pending_) pending_->commit();
}
