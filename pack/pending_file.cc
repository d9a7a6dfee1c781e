#include "pack/pending_file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "pack/failure.h"

namespace {

// Temporary paths that a signal must not leave behind. Written only with
// signals blocked; read by the handler, which may only call unlink.
constexpr int SLOTS = 4;
char pending_paths[SLOTS][PATH_MAX];
volatile sig_atomic_t pending_used[SLOTS];
std::mutex slots_mutex;

extern "C" void remove_pending_and_die(int signal_number) {
  for (int i = 0; i < SLOTS; i++)
    if (pending_used[i]) unlink(pending_paths[i]);
  ::signal(signal_number, SIG_DFL);
  raise(signal_number);
}

void install_handlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction action {};
      action.sa_handler = remove_pending_and_die;
      sigemptyset(&action.sa_mask);
      struct sigaction old {};
      sigaction(s, nullptr, &old);
      if (old.sa_handler == SIG_IGN) continue;  // as under nohup: keep ignoring
      sigaction(s, &action, nullptr);
    }
  });
}

class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

 private:
  sigset_t old_;
};

int claim_slot(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  std::lock_guard<std::mutex> lock(slots_mutex);
  SignalsBlocked blocked;
  for (int i = 0; i < SLOTS; i++) {
    if (pending_used[i]) continue;
    memcpy(pending_paths[i], path.c_str(), path.size() + 1);
    pending_used[i] = 1;
    return i;
  }
  return -1;
}

void release_slot(int slot) {
  if (slot < 0) return;
  std::lock_guard<std::mutex> lock(slots_mutex);
  SignalsBlocked blocked;
  pending_used[slot] = 0;
}

}  // namespace

PendingFile::PendingFile(const std::string& final_path) : final_path_(final_path) {
  install_handlers();
  size_t slash = final_path.rfind('/');
  std::string directory = slash == std::string::npos ? "." : final_path.substr(0, slash ? slash : 1);
  std::string base = slash == std::string::npos ? final_path : final_path.substr(slash + 1);
  if (base.empty() || base == "." || base == "..") throw Failure(final_path + ": not a file name");
  std::string pattern = (slash == std::string::npos ? "" : final_path.substr(0, slash + 1)) + "." + base + ".XXXXXX";
  {
    // The slot is claimed before the file exists, so a signal in between
    // finds at most a name that is not there yet.
    SignalsBlocked blocked;
    int fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) throw Failure(system_failure(directory, "cannot create a file in it", errno));
    temp_path_ = pattern;
    slot_ = claim_slot(temp_path_);
    stream_ = fdopen(fd, "wb");
    if (!stream_) {
      int error_number = errno;
      ::close(fd);
      unlink(temp_path_.c_str());
      release_slot(slot_);
      slot_ = -1;
      throw Failure(system_failure(temp_path_, "cannot write", error_number));
    }
  }
  buffer_.reset(new char[BUFFER_SIZE]);
  setvbuf(stream_, buffer_.get(), _IOFBF, BUFFER_SIZE);
}

PendingFile::~PendingFile() {
  if (stream_) fclose(stream_);
  if (!committed_) unlink(temp_path_.c_str());
  release_slot(slot_);
}

void PendingFile::close(mode_t mode) {
  FILE* f = stream_;
  stream_ = nullptr;
  int error_number = 0;
  if (fflush(f) != 0 || ferror(f)) error_number = errno ? errno : EIO;
  if (!error_number && fchmod(fileno(f), mode) != 0) error_number = errno;
  if (!error_number && fsync(fileno(f)) != 0 && errno != EINVAL && errno != EROFS) error_number = errno;
  if (fclose(f) != 0 && !error_number) error_number = errno;
  if (error_number) throw Failure(system_failure(final_path_, "cannot write", error_number));
}

void PendingFile::commit() {
  if (rename(temp_path_.c_str(), final_path_.c_str()) != 0)
    throw Failure(system_failure(final_path_, "cannot put in place", errno));
  committed_ = true;
  release_slot(slot_);
  slot_ = -1;
}
