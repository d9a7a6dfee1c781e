#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

void set_nonblocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Forks; the child gets the pipes as its standard streams and the options'
// working directory and limits, then runs `body`, which does not return.
ProcessResult run_child(const ProcessOptions& options, const std::function<void()>& body) {
  ProcessResult result;
  int in[2], out[2], err[2];
  if (pipe(in) || pipe(out) || pipe(err)) return result;
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    for (const auto& [resource, value] : options.limits) {
      rlimit limit{value, value};
      setrlimit(resource, &limit);
    }
    if (options.ignore_sigxfsz) signal(SIGXFSZ, SIG_IGN);
    body();
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  set_nonblocking(in[1]);
  set_nonblocking(out[0]);
  set_nonblocking(err[0]);
  signal(SIGPIPE, SIG_IGN);

  size_t written = 0;
  int in_fd = in[1];
  if (options.input.empty()) {
    close(in_fd);
    in_fd = -1;
  }
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  int open_outputs = 2;
  while (open_outputs > 0) {
    pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {in_fd, POLLOUT, 0}};
    int n = poll(fds, in_fd >= 0 ? 3 : 2, 200);
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec - start.tv_sec >= options.timeout_seconds) {
      kill(pid, SIGKILL);
      result.timed_out = true;
      break;
    }
    if (n <= 0) continue;
    for (int i = 0; i < 2; i++) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[65536];
      ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        (i == 0 ? result.out : result.err).append(buffer, size_t(got));
      } else if (got == 0 || errno != EAGAIN) {
        close(fds[i].fd);
        (i == 0 ? out[0] : err[0]) = -1;
        open_outputs--;
      }
    }
    if (in_fd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t put = write(in_fd, options.input.data() + written, options.input.size() - written);
      if (put > 0) written += size_t(put);
      if (put < 0 && errno != EAGAIN) written = options.input.size();
      if (written == options.input.size()) {
        close(in_fd);
        in_fd = -1;
      }
    }
  }
  if (in_fd >= 0) close(in_fd);
  if (out[0] >= 0) close(out[0]);
  if (err[0] >= 0) close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.term_signal = WTERMSIG(status);
  return result;
}

}  // namespace

ProcessResult run_process(const std::string& program, const ProcessOptions& options) {
  std::vector<std::string> strings;
  strings.push_back(options.argv0.empty() ? program : options.argv0);
  for (const auto& a : options.args) strings.push_back(a);
  std::vector<char*> argv;
  for (auto& s : strings) argv.push_back(s.data());
  argv.push_back(nullptr);
  return run_child(options, [&] { execv(program.c_str(), argv.data()); });
}

ProcessResult run_in_child(const std::function<void()>& body, const ProcessOptions& options) {
  return run_child(options, [&] {
    body();
    fflush(nullptr);
    _exit(0);
  });
}
