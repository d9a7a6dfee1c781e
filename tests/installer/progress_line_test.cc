// The progress line and concat_strings. Each case runs in a fresh child, so
// that it starts from the line's initial state; the exact bytes written to
// standard error are compared, through a pipe and on a real terminal.
#include "installer/progress_line.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "tests/support/process.h"
#include "tests/support/pty_process.h"

// Counts the drains the progress line asks for; otherwise it is tcdrain.
namespace {
int drains = 0;
int drained_fd = -1;
}  // namespace
extern "C" int tcdrain(int fd) {
  drains++;
  drained_fd = fd;
  return ioctl(fd, TCSBRK, 1);
}

namespace {

// What `body` writes to standard error; standard output gets the number of
// drains on standard error.
ProcessResult in_child(const std::function<void()>& body) {
  ProcessResult r = run_in_child([&] {
    body();
    progress_flush();  // as the installer does before any other output
    printf("%d drains on fd %d", drains, drained_fd);
  });
  EXPECT_EQ(r.exit_status, 0);
  return r;
}

std::string backspaces(size_t n) { return std::string(n, '\b'); }
std::string erase(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; i++) s += "\b \b";
  return s;
}

TEST(ProgressLine, Format) {
  EXPECT_EQ(in_child([] { progress_line("lib/qumba.a", 7, 100); }).err, "  7% 100%  lib/qumba.a ");
  EXPECT_EQ(in_child([] { progress_line("x", -5, 1234); }).err, " -5% 1234%  x ");
}

TEST(ProgressLine, ShortensLongNamesFromTheLeft) {
  const std::string forty(40, 'a');
  auto shown = [](const std::string& name) {
    std::string err = in_child([&] { progress_line(name.c_str(), 1, 2); }).err;
    const std::string lead = "  1%   2%  ";
    EXPECT_EQ(err.substr(0, lead.size()), lead);
    EXPECT_EQ(err.back(), ' ');
    return err.substr(lead.size(), err.size() - lead.size() - 1);
  };
  EXPECT_EQ(shown(forty), forty);
  EXPECT_EQ(shown(forty + "z"), "...z");
  // The first separator at index 40 or later, the separator kept.
  std::string sixty = std::string(45, 'd') + "/" + std::string(6, 'e') + "/" + std::string(7, 'f');
  ASSERT_EQ(sixty.size(), 60u);
  EXPECT_EQ(shown(sixty), "..." + sixty.substr(45));
  EXPECT_EQ(shown(forty + "/tail"), ".../tail");
  EXPECT_EQ(shown(std::string(42, 'g') + "\\win\\name"), "...\\win\\name");
  // Separators before index 40 do not count; without one behind it, the cut is at 40.
  EXPECT_EQ(shown("dir/" + std::string(36, 'h') + "ijk"), "...ijk");
}

TEST(ProgressLine, SkipsWhenNothingChanged) {
  // Skipped calls write nothing (on a terminal they still drain, see
  // OnATerminal). The comparison is with the full name, not with the
  // shortened text.
  const std::string name = std::string(50, 'n') + "/file";
  ProcessResult r = in_child([&] {
    progress_line(name.c_str(), 3, 4);
    progress_line(name.c_str(), 3, 4);
    progress_line((std::string(50, 'm') + "/file").c_str(), 3, 4);
  });
  EXPECT_EQ(r.err, "  3%   4%  .../file " + backspaces(20) + "  3%   4%  .../file ");
  EXPECT_EQ(r.out, "0 drains on fd -1") << "a pipe has nothing to wait for";
}

TEST(ProgressLine, Reset) {
  ProcessResult r = in_child([] {
    progress_line(nullptr, 0, 0);  // nothing shown yet: writes nothing
    progress_line("abcdefgh", 10, 20);
    progress_line(nullptr, 0, 0);
    progress_line(nullptr, 0, 0);
    progress_line("abcdefgh", 10, 20);  // after a reset the same line is written again
  });
  EXPECT_EQ(r.err, " 10%  20%  abcdefgh " + erase(20) + " 10%  20%  abcdefgh ");
  EXPECT_EQ(r.out, "0 drains on fd -1");
}

TEST(ProgressLine, AFailedWriteMovesNothingBack) {
  ProcessResult r = in_child([] {
    int saved = dup(2);
    close(2);
    progress_line("lost", 1, 1);
    progress_flush();  // the write fails
    dup2(saved, 2);
    close(saved);
    progress_line("seen", 2, 2);
    progress_line(nullptr, 0, 0);
  });
  EXPECT_EQ(r.err, "  2%   2%  seen " + erase(16));
}

TEST(ProgressLine, OnATerminal) {
  // Long lines exercise the block writes of backspaces and erase sequences.
  const std::string name = std::string(200, 'x');
  PtyProcess p([&] {
    if (!isatty(2)) return;
    progress_line(nullptr, 0, 0);
    for (int percent : {0, 0, 9, 10, 100}) progress_line(name.c_str(), percent / 2, percent);
    progress_line(name.c_str(), 50, 100);
    progress_line(nullptr, 0, 0);
    progress_flush();
    printf("%d drains on fd %d", drains, drained_fd);
  });
  PtyResult r = p.finish();
  EXPECT_EQ(r.exit_status, 0);
  const std::string text = "..." + name.substr(40) + " ";
  const size_t length = 11 + text.size();
  EXPECT_EQ(r.terminal, "  0%   0%  " + text + backspaces(length) + "  4%   9%  " + text +
                            backspaces(length) + "  5%  10%  " + text + backspaces(length) +
                            " 50% 100%  " + text + erase(length));
  // Held back while updates come quickly, and waited for once, before the
  // output that follows rather than after every update.
  EXPECT_EQ(r.out, "1 drains on fd 2");
}

TEST(ProgressLine, HeldBackOnAPipeUntilFlushed) {
  ProcessResult r = in_child([] {
    int ends[2];
    if (pipe(ends) != 0) return;
    int saved = dup(2);
    dup2(ends[1], 2);
    for (int i = 0; i < 20; i++) {
      progress_line(("dir/file" + std::to_string(i)).c_str(), i, i);
      progress_line(nullptr, 0, 0);
    }
    int before = 0, after = 0;
    ioctl(ends[0], FIONREAD, &before);
    progress_flush();
    ioctl(ends[0], FIONREAD, &after);
    dup2(saved, 2);
    fprintf(stderr, "%d %d", before, after);
  });
  EXPECT_EQ(r.err, "0 1720");
}

TEST(ConcatStrings, JoinsTheStringsThatAreNotNull) {
  auto take = [](char* s) {
    std::string copy = s ? s : "(null)";
    free(s);
    return copy;
  };
  EXPECT_EQ(take(concat_strings(2, "...", "/name")), ".../name");
  EXPECT_EQ(take(concat_strings(3, "a", nullptr, "c")), "ac");
  EXPECT_EQ(take(concat_strings(2, nullptr, nullptr)), "");
  EXPECT_EQ(take(concat_strings(0)), "");
  EXPECT_EQ(take(concat_strings(4, "/usr/local/qumba", "/", "lib", "/qumba.a")), "/usr/local/qumba/lib/qumba.a");
}

}  // namespace
