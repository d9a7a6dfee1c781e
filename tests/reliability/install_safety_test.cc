// Installing without harm, through the real zolt-setup and zolt-pack: a
// user's files are never swept, a failed, truncated, refused or killed run
// leaves every path with nothing, its old or its complete new version, and a
// tree changed under the sweep cannot lead it outside.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "archive/extraction.h"
#include "tests/reliability/defined_endings.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/files.h"

namespace {

TestEntry file(const std::string& name, const std::string& data) {
  TestEntry e;
  e.name = name;
  e.data = data;
  return e;
}

// A compressed entry whose stream decodes, but not to its file CRC.
TestEntry bad_file(const std::string& name) {
  TestEntry e = file(name, "AAAB");
  e.type = ENTRY_COMPRESSED;
  e.stored = std::string("\x00\x02\x20\x04\x30\x10\xB6\x55\x40\x10", 10);
  return e;
}

void put(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  write_file(path, text);
}

std::string answers(const std::string& dir) { return "n\na\nn\n" + dir + "\nn\n" + (path_exists(dir) ? "n\n" : "") + "n\n"; }

ProcessResult setup(const std::string& installer, const std::string& dir, ProcessOptions o = {}) {
  o.input = answers(dir);
  ProcessResult r = run_process(installer, o);
  EXPECT_EQ(r.exit_status, r.err.find(kTerminatedEnding) == std::string::npos ? 0 : 1) << r.err;
  return r;
}

struct Case {
  const char* what;
  std::function<void(const std::string& dir, const std::string& work)> before;  // the tree, maybe a first version
  std::vector<TestEntry> entries;
  std::string message;  // "" for completion
  std::function<void(const std::string& dir)> check;
};

TEST(InstallSafety, UsersFilesAndOldVersionsSurvive) {
  const std::vector<TestEntry> v1 = {file("a/README", "a1"), file("b/README", "b1"), file("c/README", "b1"),
                                     file("lib", "an old file"), file("big", "the old big file")};
  auto install_v1 = [&](const std::string& dir, const std::string& work) {
    write_installer(work + "/v1", v1);
    ASSERT_EQ(setup(work + "/v1", dir).exit_status, 0);
  };
  const Case cases[] = {
      {"a user's files of the entries' base names stay",
       [](const std::string& dir, const std::string&) {
         put(dir + "/thesis/README", "mine");
         put(dir + "/other/config.h", "another library's");
       },
       {file("README", "new"), file("include/config.h", "new")}, "",
       [](const std::string& dir) {
         EXPECT_EQ(read_file(dir + "/thesis/README"), "mine");
         EXPECT_EQ(read_file(dir + "/other/config.h"), "another library's");
       }},
      {"a damaged entry costs no file of the old version", install_v1,
       {file("a/README", "a2"), bad_file("x/damaged"), file("b/README", "b2"), file("c/README", "c2")},
       "Corrupted file(s) (err=5).",
       [](const std::string& dir) {
         EXPECT_EQ(read_file(dir + "/a/README"), "a2");
         EXPECT_EQ(read_file(dir + "/b/README"), "b1");
         EXPECT_FALSE(path_exists(dir + "/x/damaged"));
       }},
      {"a recorded file where this version needs a directory", install_v1, {file("lib/lib", "new")}, "",
       [](const std::string& dir) { EXPECT_EQ(read_file(dir + "/lib/lib"), "new"); }},
      {"a link inside the tree in the entry's path",
       [](const std::string& dir, const std::string&) {
         std::filesystem::create_directories(dir + "/real");
         symlink("real", (dir + "/L").c_str());
       },
       {file("L/L", "through the link")}, "",
       [](const std::string& dir) { EXPECT_EQ(read_file(dir + "/L/L"), "through the link"); }},
      {"an empty directory this run made, then a file of its name", nullptr, {file("B\\c", "c"), file("B", "b")}, "",
       [](const std::string& dir) { EXPECT_EQ(read_file(dir + "/B"), "b"); }},
      {"a file-size limit", install_v1, {file("big", std::string(100000, 'n'))},
       "Error saving data - " + std::string(strerror(EFBIG)) + " (err=1).",
       [](const std::string& dir) { EXPECT_EQ(read_file(dir + "/big"), "the old big file"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir work;
    const std::string dir = work / "target";
    std::filesystem::create_directories(dir);
    if (c.before) c.before(dir, work.path());
    write_installer(work / "v2", c.entries);
    ProcessOptions o;
    if (std::string(c.what) == "a file-size limit") o.limits = {{RLIMIT_FSIZE, 4096}};
    ProcessResult r = setup(work / "v2", dir, o);
    EXPECT_EQ(r.term_signal, 0);
    EXPECT_EQ(c.message.empty() ? "" : final_message(r.err), c.message) << r.err;
    c.check(dir);
  }
}

// Permissions as a user who is not root meets them: a directory with write
// and search permission but no read permission takes its files; a writable
// file in a directory that takes no new names is written where it is.
TEST(InstallSafety, DirectoriesWithoutReadOrWritePermission) {
  TempDir work;
  const std::string dir = work / "target";
  put(dir + "/d/f", "old");
  put(dir + "/g/x", "old");
  write_installer(work / "setup", {file("d/f", "new"), file("g/x", "new")});
  chmod((dir + "/g/x").c_str(), 0666);
  chmod((dir + "/d").c_str(), 0333);
  chmod((dir + "/g").c_str(), 0555);
  ProcessOptions o;
  o.input = answers(dir);
  std::string program = work / "setup";
  if (geteuid() == 0) {
    for (const std::string& path : {work.path(), dir, dir + "/d", dir + "/g", dir + "/d/f", dir + "/g/x"})
      ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
    chmod(work.path().c_str(), 0755);
    o.args = {"--reuid=65534", "--regid=65534", "--clear-groups", program};
    program = "/usr/bin/setpriv";
  }
  ProcessResult r = run_process(program, o);
  if (r.err.find("setpriv") != std::string::npos) GTEST_SKIP() << r.err;
  EXPECT_NE(r.err.find("Installation complete."), std::string::npos) << r.err;
  chmod((dir + "/d").c_str(), 0755);
  EXPECT_EQ(read_file(dir + "/d/f"), "new");
  EXPECT_EQ(read_file(dir + "/g/x"), "new");
}

// What the whole attachment's check and the lock refuse changes nothing, in
// the installer and in zolt-pack extract.
TEST(InstallSafety, RefusedRunsChangeNothing) {
  TempDir work;
  const std::string dir = work / "target";
  write_installer(work / "v1", {file("a/README", "old"), file("b/README", "old")});
  ASSERT_EQ(setup(work / "v1", dir).exit_status, 0);
  put(dir + "/thesis/README", "mine");
  const Snapshot before = snapshot(dir);

  write_installer(work / "v2", {file("a/README", "new"), file("b/README", "new")});
  std::string cut = read_file(work / "v2");
  write_file(work / "cut", cut.substr(0, cut.size() - 2), 0755);
  EXPECT_EQ(final_message(setup(work / "cut", dir).err), "Corrupted file(s) (err=3).");
  EXPECT_TRUE(snapshot(dir) == before) << snapshot_diff(before, snapshot(dir));

  int lock = open((dir + "/.zolt-setup/lock").c_str(), O_RDWR);
  ASSERT_EQ(flock(lock, LOCK_EX), 0);
  ProcessResult busy = setup(work / "v2", dir);
  EXPECT_EQ(final_message(busy.err), EXTRACTION_BUSY_MESSAGE);
  ProcessOptions o;
  o.args = {"extract", "-q", work / "v2", "-C", dir};
  ProcessResult x = run_process(ZOLT_PACK_BINARY, o);
  EXPECT_EQ(x.exit_status, 1);
  EXPECT_NE(x.err.find(EXTRACTION_BUSY_MESSAGE), std::string::npos) << x.err;
  EXPECT_TRUE(snapshot(dir) == before) << snapshot_diff(before, snapshot(dir));
  close(lock);

  // zolt-pack extract sweeps as the installer does, and says so.
  o.args = {"extract", work / "v2", "-C", dir};
  x = run_process(ZOLT_PACK_BINARY, o);
  EXPECT_NE(x.out.find(", 0 deletions,"), std::string::npos) << x.out;
  EXPECT_EQ(read_file(dir + "/thesis/README"), "mine");
  EXPECT_EQ(read_file(dir + "/b/README"), "new");
}

// An update of 150 files killed at many points: each file holds the old or
// the new version whole, each new file is whole or missing, and the next run
// completes and clears the temporaries the killed ones left.
TEST(InstallSafety, KilledAtManyPoints) {
  TempDir work;
  const std::string dir = work / "target";
  std::vector<TestEntry> v1, v2;
  for (int i = 0; i < 150; i++) {
    std::string name = "d" + std::to_string(i % 7) + "/f" + std::to_string(i);
    v1.push_back(file(name, std::string(3000 + i, 'o')));
    v2.push_back(file(name, std::string(5000 + i, 'n')));
    v2.push_back(file(name + ".new", std::string(100, 'w')));
  }
  write_installer(work / "v1", v1);
  write_installer(work / "v2", v2);
  ASSERT_EQ(setup(work / "v1", dir).exit_status, 0);
  write_file(work / "answers", answers(dir));
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(setup(work / "v2", dir).exit_status, 0);
  const auto whole = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(setup(work / "v1", dir).exit_status, 0);
  for (int trial = 0; trial < 25; trial++) {
    pid_t pid = fork();
    if (pid == 0) {
      int in = open((work / "answers").c_str(), O_RDONLY), null = open("/dev/null", O_WRONLY);
      dup2(in, 0);
      dup2(null, 2);
      execl((work / "v2").c_str(), "setup", nullptr);
      _exit(127);
    }
    std::this_thread::sleep_for(whole * trial / 25);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    for (size_t i = 0; i < v2.size(); i++) {
      std::string path = dir + "/" + v2[i].name;
      if (i % 2 == 1 && !path_exists(path)) continue;
      std::string now = read_file(path);
      ASSERT_TRUE(now == v2[i].data || (i % 2 == 0 && now == v1[i / 2].data)) << "trial " << trial << ": " << path;
    }
  }
  ASSERT_EQ(setup(work / "v2", dir).exit_status, 0);
  std::vector<std::string> own;
  for (const auto& e : std::filesystem::directory_iterator(dir + "/.zolt-setup")) own.push_back(e.path().filename());
  std::sort(own.begin(), own.end());
  EXPECT_EQ(own, (std::vector<std::string>{"QUMBA.list", "lock"}));
}

// A directory of the tree swapped for a link to the outside, again and again,
// while the sweep removes recorded stale copies in it: nothing outside goes.
TEST(InstallSafety, RacingDirectorySwapStaysInside) {
  for (int run = 0; run < 10; run++) {
    TempDir work;
    const std::string dir = work / "target", outside = work / "outside";
    std::vector<TestEntry> v1, v2;
    for (int i = 0; i < 200; i++) {
      v1.push_back(file("old/f" + std::to_string(i), "stale"));
      v2.push_back(file("new/f" + std::to_string(i), "new"));
      put(outside + "/f" + std::to_string(i), "outside");
    }
    write_installer(work / "v1", v1);
    write_installer(work / "v2", v2);
    ASSERT_EQ(setup(work / "v1", dir).exit_status, 0);
    bool stop = false;
    std::thread racer([&] {
      while (!__atomic_load_n(&stop, __ATOMIC_RELAXED)) {
        rename((dir + "/old").c_str(), (dir + "/old.real").c_str());
        symlink(outside.c_str(), (dir + "/old").c_str());
        std::this_thread::yield();
        unlink((dir + "/old").c_str());
        rename((dir + "/old.real").c_str(), (dir + "/old").c_str());
      }
    });
    ProcessOptions o;
    o.args = {"extract", "-q", work / "v2", "-C", dir};
    ProcessResult x = run % 2 ? run_process(ZOLT_PACK_BINARY, o) : setup(work / "v2", dir);
    __atomic_store_n(&stop, true, __ATOMIC_RELAXED);
    racer.join();
    EXPECT_EQ(x.term_signal, 0);
    for (int i = 0; i < 200; i++) ASSERT_EQ(read_file(outside + "/f" + std::to_string(i)), "outside") << run;
  }
}

}  // namespace
