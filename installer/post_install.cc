#include "installer/post_install.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive/attachment_reader.h"

extern char** environ;

namespace {

constexpr int STATUS_NOT_STARTED = 127;  // as a shell reports a command it cannot run

int write_all(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    data += n;
    size -= size_t(n);
  }
  return 0;
}

int write_slice(void* context, const uint8_t* data, uint32_t size) {
  return write_all(*static_cast<int*>(context), data, size);
}

// The step's process, from fork to exec; only async-signal-safe calls but
// setenv, which is safe here as no other thread runs any more.
[[noreturn]] void start_step(const PostInstall* step, const char* install_dir, int interactive) {
  if (!interactive) {
    int null = open("/dev/null", O_RDONLY);
    if (null < 0 || dup2(null, STDIN_FILENO) < 0) _exit(STATUS_NOT_STARTED);
    if (null != STDIN_FILENO) close(null);
  }
  // The installer's own file is none of the step's business.
  if (attachment_file) close(fileno(attachment_file));
  // The installer ignores these; an ignored signal would stay ignored.
  signal(SIGXFSZ, SIG_DFL);
  signal(SIGPIPE, SIG_DFL);
  char where[PATH_MAX];
  if (chdir(*install_dir ? install_dir : ".") != 0 || !getcwd(where, sizeof where)) _exit(STATUS_NOT_STARTED);
  if (setenv("ZOLT_INSTALL_DIR", where, 1) != 0) _exit(STATUS_NOT_STARTED);
  char* argv[] = {const_cast<char*>(step->name), where, nullptr};
  fexecve(step->fd, argv, environ);
  _exit(STATUS_NOT_STARTED);
}

}  // namespace

void post_install_init(PostInstall* step) {
  step->fd = -1;
  step->name[0] = 0;
}

void post_install_release(PostInstall* step) {
  if (step->fd >= 0) close(step->fd);
  post_install_init(step);
}

int post_install_keep(PostInstall* step, EntryStream* stream, const uint8_t* crc_table, const Entry& e,
                      const uint8_t* held, int* fault) {
  *fault = FAILURE_NONE;
  post_install_release(step);
  // Not close-on-exec: a script's interpreter opens it by its descriptor.
  int fd = memfd_create("zolt-post-install", 0);
  if (fd < 0) return -1;
  int result = 0;
  if (held) {
    result = write_all(fd, held, e.file_size);
  } else {
    EntryStreamer streamer{};
    *fault = entry_streamer_open(&streamer, stream);
    if (*fault == FAILURE_NONE) {
      const EntrySink sink{write_slice, &fd};
      *fault = stream_entry_data(stream, crc_table, &streamer, &e, &sink, nullptr);
    }
    entry_streamer_close(&streamer);
    if (*fault != FAILURE_NONE) result = -1;
  }
  // A short write leaves a program that would run cut short.
  if (result == 0 && lseek(fd, 0, SEEK_END) != off_t(e.file_size)) {
    errno = EIO;
    result = -1;
  }
  if (result != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  step->fd = fd;
  const char* base = strrchr(e.name, '/');
  snprintf(step->name, sizeof step->name, "%s", base ? base + 1 : e.name);
  return 0;
}

int post_install_run(const PostInstall* step, const char* install_dir, int interactive) {
  if (step->fd < 0) return 0;
  fflush(stderr);
  pid_t child = fork();
  if (child < 0) return STATUS_NOT_STARTED;
  if (child == 0) start_step(step, install_dir, interactive);
  int status;
  while (waitpid(child, &status, 0) < 0)
    if (errno != EINTR) return STATUS_NOT_STARTED;
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}
