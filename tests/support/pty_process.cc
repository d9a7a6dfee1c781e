#include "tests/support/pty_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

double now_seconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

termios terminal_settings(bool echo) {
  termios t{};
  t.c_iflag = ICRNL;
  t.c_oflag = 0;  // no OPOST: "\n" stays "\n"
  t.c_cflag = CS8 | CREAD | CLOCAL;
  t.c_lflag = ICANON | (echo ? ECHO : 0);
  t.c_cc[VEOF] = 4;
  t.c_cc[VERASE] = 0177;
  t.c_cc[VKILL] = 025;
  t.c_cc[VMIN] = 1;
  cfsetispeed(&t, B38400);
  cfsetospeed(&t, B38400);
  return t;
}

}  // namespace

PtyProcess::PtyProcess(const std::string& program, const PtyOptions& options) {
  std::vector<std::string> strings{program};
  strings.insert(strings.end(), options.args.begin(), options.args.end());
  start(
      [&] {
        std::vector<char*> argv;
        for (auto& s : strings) argv.push_back(s.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
      },
      options);
}

PtyProcess::PtyProcess(const std::function<void()>& body, const PtyOptions& options) {
  start(
      [&] {
        body();
        fflush(nullptr);
        _exit(0);
      },
      options);
}

void PtyProcess::start(const std::function<void()>& body, const PtyOptions& options) {
  deadline_ = now_seconds() + options.timeout_seconds;
  int out[2];
  if (pipe(out) != 0) return;
  termios settings = terminal_settings(options.echo);
  winsize size{24, 80, 0, 0};
  fflush(nullptr);
  pid_ = forkpty(&master_, nullptr, &settings, &size);
  if (pid_ == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    body();
    _exit(127);
  }
  close(out[1]);
  out_ = out[0];
  if (pid_ < 0) {
    close(out_);
    out_ = -1;
    return;
  }
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  fcntl(out_, F_SETFL, fcntl(out_, F_GETFL) | O_NONBLOCK);
}

PtyProcess::~PtyProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (master_ >= 0) close(master_);
  if (out_ >= 0) close(out_);
}

bool PtyProcess::expired() const { return now_seconds() >= deadline_; }

bool PtyProcess::pump(int timeout_ms) {
  pollfd fds[2];
  int count = 0;
  if (master_ >= 0) fds[count++] = {master_, POLLIN, 0};
  if (out_ >= 0) fds[count++] = {out_, POLLIN, 0};
  if (count == 0) return false;
  if (poll(fds, nfds_t(count), timeout_ms) <= 0) return master_ >= 0;
  for (int i = 0; i < count; i++) {
    if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    bool terminal = fds[i].fd == master_;
    char buffer[4096];
    ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
    if (got > 0) {
      (terminal ? result_.terminal : result_.out).append(buffer, size_t(got));
    } else if (got == 0 || errno != EAGAIN) {
      // On the terminal, EIO: every holder of its other side has closed it.
      close(fds[i].fd);
      (terminal ? master_ : out_) = -1;
    }
  }
  return master_ >= 0;
}

bool PtyProcess::wait_for(const std::string& text) {
  for (;;) {
    size_t at = result_.terminal.find(text, matched_);
    if (at != std::string::npos) {
      matched_ = at + text.size();
      return true;
    }
    if (expired() || !pump(100)) return false;
  }
}

void PtyProcess::send(const std::string& keys) {
  size_t written = 0;
  while (master_ >= 0 && written < keys.size() && !expired()) {
    ssize_t put = write(master_, keys.data() + written, keys.size() - written);
    if (put > 0)
      written += size_t(put);
    else if (put < 0 && errno != EAGAIN)
      return;
    else
      pump(10);  // the child reads only as fast as we take its output
  }
}

void PtyProcess::send_eof() { send("\x04"); }

PtyResult PtyProcess::finish() {
  while (!expired() && (master_ >= 0 || out_ >= 0)) pump(100);
  if (pid_ > 0) {
    int status = 0;
    if (expired()) {
      kill(pid_, SIGKILL);
      result_.timed_out = true;
    }
    waitpid(pid_, &status, 0);
    pid_ = -1;
    if (WIFEXITED(status)) result_.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result_.term_signal = WTERMSIG(status);
  }
  return result_;
}
