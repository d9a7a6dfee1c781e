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
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/install/extraction.h"
#include "tests/reliability/defined_endings.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/files.h"

namespace {

TestEntry file(const std::string& name, const std::string& data) { return {name, ENTRY_STORED, data, ""}; }
TestEntry config(const std::string& name, const std::string& data) {
  TestEntry e = file(name, data);
  e.flags = RECORD_FLAG_CONFIG;
  return e;
}
// A stream that decodes, but not to its file CRC.
const TestEntry kDamaged = {"x/damaged", ENTRY_COMPRESSED, "AAAB", std::string("\x00\x02\x20\x04\x30\x10\xB6\x55\x40\x10", 10)};

// A file, or with "->" in front a symbolic link, or with a mode in front, or
// "/" for an empty directory in place of whatever was there.
void put(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  if (text == "/") std::filesystem::remove(path), std::filesystem::create_directory(path);
  else if (text.rfind("->", 0) == 0) symlink(text.substr(2).c_str(), path.c_str());
  else if (text.rfind("0", 0) == 0) chmod(path.c_str(), mode_t(std::stoi(text, nullptr, 8)));
  else write_file(path, text);
}

// An installer that carries the whole product, as `create --remove-obsolete` makes it.
TestHeader whole_product() {
  TestHeader h;
  h.flags = HEADER_FLAG_WHOLE_PRODUCT;
  return h;
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
  std::vector<std::pair<std::string, std::string>> tree;  // made after the first version, in order
  std::vector<TestEntry> v2;
  std::string message;                        // "" for completion
  std::map<std::string, std::string> expect;  // path: contents, "" for nothing there
  rlim_t file_size_limit = RLIM_INFINITY;
  bool as_user = false;  // run as nobody when root: permissions count
  std::string after{};   // the end of what the run writes behind its last line
  bool whole_product = false;  // v2 carries the whole product
};

TEST(InstallSafety, UsersFilesAndOldVersionsSurvive) {
  const std::vector<TestEntry> v1 = {file("a/README", "a1"), file("b/README", "b1"), file("lib", "old"),
                                     file("big", "old")};
  const Case cases[] = {
      {"a user's files of the entries' base names stay",
       {{"thesis/README", "mine"}, {"other/config.h", "theirs"}},
       {file("README", "new"), file("include/config.h", "new")}, "",
       {{"thesis/README", "mine"}, {"other/config.h", "theirs"}, {"README", "new"}}},
      {"a damaged entry costs no file of the old version", {},
       {file("a/README", "a2"), kDamaged, file("b/README", "b2")}, "Corrupted file(s) (err=5).",
       {{"a/README", "a2"}, {"b/README", "b1"}, {"x/damaged", ""}}},
      {"a cut installer changes nothing", {}, {file("a/README", "a2"), file("b/README", "b2")},
       "Corrupted file(s) (err=3).", {{"a/README", "a1"}, {"b/README", "b1"}}},
      {"a recorded file where a directory goes", {}, {file("lib/lib", "new")}, "", {{"lib/lib", "new"}}},
      {"an empty directory where a recorded file goes", {{"big", "/"}}, {file("a/big", "a"), file("big", "new")}, "",
       {{"a/big", "a"}, {"big", "new"}}},
      {"a link inside the tree on the way", {{"real/x", "x"}, {"L", "->real"}}, {file("L/L", "new")}, "",
       {{"L/L", "new"}, {"real/L", "new"}}},
      {"an empty directory this run made, then a file of its name", {}, {file("B\\c", "c"), file("B", "b")}, "",
       {{"B", "b"}, {"B\\c", "c"}}},
      {"a file-size limit", {}, {file("big", std::string(100000, 'n'))},
       "Error saving data - " + std::string(strerror(EFBIG)) + " (err=1).", {{"big", "old"}}, 4096},
      {"an upgrade removes what it no longer ships, unless it changed since", {{"b/README", "another product's"}},
       {file("a/README", "a2")}, "", {{"b/README", "another product's"}, {"lib", ""}, {"big", ""}, {"b", "/"}},
       RLIM_INFINITY, false, "Installation complete.\n\nLeft as it is, changed since it was installed: /b/README\n", true},
      {"an add-on keeps what it does not ship", {}, {file("plugin/p", "p")}, "",
       {{"a/README", "a1"}, {"b/README", "b1"}, {"lib", "old"}, {"big", "old"}, {"plugin/p", "p"}}},
      {"a recorded file where a directory goes", {}, {file("big/index.html", "new")}, "", {{"big/index.html", "new"}}},
      {"names with a backslash stay files inside, even when they read like \"..\"", {},
       {file("..\\x", "x"), file("sub/..\\y", "y")}, "", {{"..\\x", "x"}, {"sub/..\\y", "y"}}},
      {"a file-size limit on a file rewritten in place", {{"g/x", "old"}, {"g/x", "0666"}, {"g", "0555"}},
       {file("g/x", std::string(100000, 'n'))}, "Error saving data - " + std::string(strerror(EFBIG)) + " (err=1).",
       {{"g/x", "old"}}, 4096, true},
      {"a user's edit of a file shipped again is kept beside the new version", {{"a/README", "edited"}},
       {file("a/README", "a2")}, "", {{"a/README", "a2"}, {"a/README.zolt-old", "edited"}}, RLIM_INFINITY, false,
       "Replaced, changed since it was installed; your copy is kept as: /a/README.zolt-old\n"},
      {"a user's edit of a configuration file stays, the new version beside it", {{"a/README", "edited"}},
       {config("a/README", "a2")}, "", {{"a/README", "edited"}, {"a/README.zolt-new", "a2"}}, RLIM_INFINITY, false,
       "Left as it is, changed since it was installed; the new version is beside it: /a/README.zolt-new\n"},
      {"names a user holds, or the product ships, are passed over",
       {{"a/README", "edited"}, {"a/README.zolt-old", "mine"}, {"b/README", "edited"}, {"b/README.zolt-new", "/"}},
       {file("a/README", "a2"), config("b/README", "b2"), file("a/README.zolt-old.1", "shipped")}, "",
       {{"a/README", "a2"}, {"a/README.zolt-old", "mine"}, {"a/README.zolt-old.1", "shipped"},
        {"a/README.zolt-old.2", "edited"}, {"b/README", "edited"}, {"b/README.zolt-new", "/"},
        {"b/README.zolt-new.1", "b2"}}},
      {"unchanged files are replaced, configuration files too", {},
       {file("a/README", "a2"), config("b/README", "b2")}, "",
       {{"a/README", "a2"}, {"a/README.zolt-old", ""}, {"b/README", "b2"}, {"b/README.zolt-new", ""}}},
      {"an edit the new version already holds needs no copy", {{"b/README", "b2"}}, {config("b/README", "b2")}, "",
       {{"b/README", "b2"}, {"b/README.zolt-new", ""}}},
      {"an edit in a directory that takes no new names ends the run with the edit kept",
       {{"a/README", "edited"}, {"a/README", "0666"}, {"a", "0555"}}, {file("a/README", "a2")},
       "Can't create file - " + setup_system_text(EACCES) + " (err=5).", {{"a/README", "edited"}}, RLIM_INFINITY,
       true},
      {"directories without read, or without write permission",
       {{"d/f", "old"}, {"g/x", "old"}, {"g/x", "0666"}, {"d", "0333"}, {"g", "0555"}},
       {file("d/f", "new"), file("g/x", "new")}, "", {{"d/f", "new"}, {"g/x", "new"}}, RLIM_INFINITY, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir work;
    const std::string dir = work / "target";
    write_installer(work / "v1", v1);
    ASSERT_EQ(setup(work / "v1", dir).exit_status, 0);
    for (const auto& [path, text] : c.tree) put(dir + "/" + path, text);
    write_installer(work / "v2", c.v2, c.whole_product ? whole_product() : TestHeader());
    if (c.message == "Corrupted file(s) (err=3).") truncate((work / "v2").c_str(), std::filesystem::file_size(work / "v2") - 1);
    ProcessOptions o;
    o.limits = {{RLIMIT_FSIZE, c.file_size_limit}};
    std::string program = work / "v2";
    if (c.as_user && geteuid() == 0) {
      for (const auto& e : std::filesystem::recursive_directory_iterator(work.path()))
        lchown(e.path().c_str(), 65534, 65534);
      chmod(work.path().c_str(), 0755);
      o.args = {"--reuid=65534", "--regid=65534", "--clear-groups", program};
      program = "/usr/bin/setpriv";
    }
    ProcessResult r = setup(program, dir, o);
    EXPECT_EQ(r.exit_status, c.message.empty() ? 0 : 1) << r.err;
    EXPECT_EQ(final_message(r.err), c.message) << r.err;
    std::string after = c.after;
    if (size_t at = after.find(": /"); at != std::string::npos) after.insert(at + 2, dir);
    EXPECT_TRUE(r.err.ends_with(after)) << r.err;
    chmod((dir + "/d").c_str(), 0755);
    for (const auto& [path, text] : c.expect)
      EXPECT_EQ(!path_exists(dir + "/" + path) ? "" : text == "/" ? "/" : read_file(dir + "/" + path), text) << path;
  }
}

// A deletion entry goes by the product's record where there is one that can
// tell, and is the vendor's word alone where there is none. A record of paths
// alone never makes a file "changed", not even for the sweep.
TEST(InstallSafety, DeletionEntriesFollowTheRecord) {
  const TestEntry deletion = {"old/f", ENTRY_DELETE, "", ""};
  const struct {
    const char* record;  // "QUMBA": lists old/f; "edited": so, then old/f changed; "other": lists another path
    TestEntry entry;
    bool removed;
    std::string note;
  } cases[] = {
      {"QUMBA", deletion, true, ""},        {"edited", deletion, false, "changed since it was installed"},
      {"paths", deletion, true, ""},        {"", deletion, true, ""},
      {"OTHER", deletion, true, ""},        {"other", deletion, false, "not installed by this product"},
      {"paths", file("new/f", "n"), false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.record + (" " + c.entry.name));
    TempDir work;
    const std::string dir = work / "target", record = c.record;
    put(dir + "/old/f", "v1");
    if (record == "QUMBA" || record == "edited" || record == "OTHER")
      write_record(dir, {"old/f"}, record == "OTHER" ? "OTHER" : "QUMBA");
    if (record == "other") write_record(dir, {"old/other"});
    if (record == "paths") put(dir + "/.zolt-setup/QUMBA.list", std::string("zolt-setup installation record 1\nold/f\0", 39));
    if (record == "edited") put(dir + "/old/f", "v1 edited");
    write_installer(work / "v2", {c.entry, file("n", "n")});
    ProcessResult r = setup(work / "v2", dir);
    EXPECT_EQ(path_exists(dir + "/old/f"), !c.removed);
    // The one note, and the last line.
    const std::string note = c.note.empty() ? "" : "Left as it is, " + c.note + ": " + dir + "/old/f\n";
    EXPECT_TRUE(r.err.ends_with(note)) << r.err;
    EXPECT_EQ(r.err.find("Left as it is"), note.empty() ? std::string::npos : r.err.size() - note.size()) << r.err;
  }
}

// The lock keeps a second installer and zolt-pack extract out; extract
// sweeps as the installer does, and counts it.
TEST(InstallSafety, OneInstallerPerDirectory) {
  TempDir work;
  const std::string dir = work / "target";
  write_installer(work / "v1", {file("a/README", "old")});
  write_installer(work / "v2", {file("b/README", "new")}, whole_product());
  ASSERT_EQ(setup(work / "v1", dir).exit_status, 0);
  put(dir + "/thesis/README", "mine");
  const Snapshot before = snapshot(dir);
  int lock = open((dir + "/.zolt-setup/lock").c_str(), O_RDWR);
  ASSERT_EQ(flock(lock, LOCK_EX), 0);
  EXPECT_EQ(final_message(setup(work / "v2", dir).err), failure_message(FAILURE_BUSY));
  ProcessOptions o;
  o.args = {"extract", work / "v2", "-C", dir};
  ProcessResult x = run_process(ZOLT_PACK_BINARY, o);
  EXPECT_EQ(x.exit_status, 1);
  EXPECT_NE(x.err.find(failure_message(FAILURE_BUSY)), std::string::npos) << x.err;
  EXPECT_TRUE(snapshot(dir) == before) << snapshot_diff(before, snapshot(dir));
  close(lock);
  x = run_process(ZOLT_PACK_BINARY, o);
  EXPECT_NE(x.out.find(", 2 deletions,"), std::string::npos) << x.out;  // a/README, then a/
  EXPECT_FALSE(path_exists(dir + "/a/README"));
  EXPECT_EQ(read_file(dir + "/thesis/README"), "mine");
}

// The record and the paths to it, as a hostile or unusual directory has them:
// a FIFO named like the record, a record that cannot be written, a deletion
// through an in-tree link, a directory that takes no new names.
TEST(InstallSafety, RecordsAndPathsOutOfTheOrdinary) {
  TempDir work;
  const std::string dir = work / "target", list = dir + "/.zolt-setup/QUMBA.list";
  write_installer(work / "v1", {file("real/x", "x"), file("L/y", "y")});
  // The deletion must clear the way for the directory that follows it.
  write_installer(work / "v2", {{"L/y", ENTRY_DELETE, "", ""}, file("real/y/sub", "s")});
  put(dir + "/real/keep", "k");
  put(dir + "/L", "->real");
  std::filesystem::create_directories(dir + "/.zolt-setup");
  ProcessOptions o, quick;
  o.timeout_seconds = quick.timeout_seconds = 20;
  o.args = {"extract", "-q", work / "v1", "-C", dir};
  for (int installer = 0; installer < 2; installer++) {
    std::filesystem::remove(list);
    ASSERT_EQ(mkfifo(list.c_str(), 0644), 0);
    ProcessResult r = installer ? setup(work / "v1", dir, quick) : run_process(ZOLT_PACK_BINARY, o);
    EXPECT_EQ(r.exit_status, 0) << "a FIFO in the record's place is not read: " << r.err;
  }
  EXPECT_EQ(read_file(dir + "/real/y"), "y");
  ASSERT_EQ(setup(work / "v2", dir).exit_status, 0);
  EXPECT_EQ(read_file(dir + "/real/y/sub"), "s");

  // A record that cannot take its new name stops the run before any change.
  const Snapshot before = snapshot(dir);
  std::filesystem::remove(list);
  put(list + "/in-the-way", "");
  ProcessResult r = setup(work / "v1", dir);
  EXPECT_TRUE(final_message(r.err).starts_with("Can't save the installation record - ")) << r.err;
  EXPECT_TRUE(snapshot(dir) == before) << snapshot_diff(before, snapshot(dir));

  // A directory that takes no new names keeps no record: its files are
  // rewritten in place, a new one cannot be made.
  if (geteuid() != 0) GTEST_SKIP() << "not root: cannot run as another user";
  const std::string locked = work / "locked";
  put(locked + "/f", "old");
  chown((locked + "/f").c_str(), 65534, 65534);
  chmod(work.path().c_str(), 0755);
  write_installer(work / "v3", {file("f", "new")});
  write_installer(work / "v4", {file("g", "g"), file("f", "newer")});
  o.args = {"--reuid=65534", "--regid=65534", "--clear-groups", work / "v3"};
  r = setup("/usr/bin/setpriv", locked, o);
  EXPECT_NE(r.err.find("Installation complete.\n\nNo installation record could be kept in " + locked), std::string::npos)
      << r.err;
  o.args.back() = work / "v4";
  r = setup("/usr/bin/setpriv", locked, o);
  EXPECT_NE(r.err.find("Can't create file - " + setup_system_text(EACCES) + " (err=5).\n" + kTerminatedEnding),
            std::string::npos) << r.err;
  EXPECT_EQ(read_file(locked + "/f"), "new");
}

// Upgrades back and forth killed at random moments: each file holds one
// version whole, each file new in v2 is whole or missing, and the next run
// completes, clears every temporary the killed ones left and records the
// tree. As root the tree is an ext4 disk with a tmpfs mounted inside, whose
// temporaries lie beside their files, and every run is process 1 of a fresh
// PID namespace, as in a container.
TEST(InstallSafety, KilledAtManyPoints) {
  TempDir work;
  const std::string dir = work / "target";
  ScratchMount disk(dir, "ext4");
  std::unique_ptr<ScratchMount> ram;
  if (disk.ok()) ram = std::make_unique<ScratchMount>(dir + "/d0", "tmpfs");
  const bool isolated = ram && ram->ok();
  if (!isolated) std::cout << "[   NOTE   ] " << disk.why() << ": one file system, no PID namespace\n";
  std::vector<TestEntry> v1, v2;
  for (int i = 0; i < 150; i++) {
    std::string name = "d" + std::to_string(i % 7) + "/f" + std::to_string(i);
    v1.push_back(file(name, std::string(3000 + i, 'o')));
    v2.push_back(file(name, std::string(5000 + i, 'n')));
    v2.push_back(file(name + ".new", std::string(100, 'w')));
  }
  // Streamed, not held, and long enough for many kills to land in its write.
  v2.push_back(file("d0/big", std::string(16 << 20, 'b')));
  write_installer(work / "v1", v1, whole_product());
  write_installer(work / "v2", v2);
  ProcessResult first = setup(work / "v1", dir);
  ASSERT_EQ(first.exit_status, 0) << first.err;
  write_file(work / "answers", answers(dir));
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(setup(work / "v2", dir).exit_status, 0);
  const auto whole = std::chrono::steady_clock::now() - start;
  std::cout << "[   NOTE   ] a whole run takes " << std::chrono::duration<double>(whole).count() << " s\n";
  std::mt19937 random(21);
  for (int trial = 0; trial < 120; trial++) {
    const std::string installer = work / (trial % 2 ? "v1" : "v2");
    pid_t pid = fork();
    if (pid == 0) {
      int in = open((work / "answers").c_str(), O_RDONLY), null = open("/dev/null", O_WRONLY);
      dup2(in, 0);
      dup2(null, 2);
      if (isolated) execl("/usr/bin/unshare", "unshare", "--pid", "--fork", "--kill-child", installer.c_str(), nullptr);
      else execl(installer.c_str(), "setup", nullptr);
      _exit(127);
    }
    std::this_thread::sleep_for(whole * std::uniform_real_distribution<>(0, 1)(random));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    // The installer itself may outlive unshare by a moment: it is gone once
    // its lock is free.
    int lock = open((dir + "/.zolt-setup/lock").c_str(), O_RDWR);
    flock(lock, LOCK_EX);
    close(lock);
    for (size_t i = 0; i + 1 < v2.size(); i++) {
      const std::string path = dir + "/" + v2[i].name, now = path_exists(path) ? read_file(path) : "missing";
      ASSERT_TRUE(now == v2[i].data || now == (i % 2 ? "missing" : v1[i / 2].data)) << "trial " << trial << ": " << path;
    }
    ASSERT_TRUE(!path_exists(dir + "/d0/big") || read_file(dir + "/d0/big") == v2.back().data) << "trial " << trial;
  }
  // The killed run recorded what it was about to write before it began: the
  // version it interrupted removes the new files it left.
  ASSERT_EQ(setup(work / "v1", dir).exit_status, 0);
  for (size_t i = 1; i < v2.size(); i += 2) ASSERT_FALSE(path_exists(dir + "/" + v2[i].name)) << v2[i].name;
  ASSERT_EQ(setup(work / "v2", dir).exit_status, 0);
  // Nothing beside the record and the lock, both of which every completed run leaves.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir + "/.zolt-setup"), {}), 2);
  const std::string record = read_file(dir + "/.zolt-setup/QUMBA.list");
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    const std::string path = e.path().string().substr(dir.size() + 1);
    EXPECT_EQ(path.find(".zolt-setup-"), std::string::npos) << path;
    if (e.is_regular_file() && path.rfind(".zolt-setup/", 0) != 0) {
      EXPECT_NE(record.find(path + '\0'), std::string::npos) << path << " is not recorded";
    }
  }
}

// A power cut just after "Installation complete.": the disk's image copied
// before the kernel wrote anything more back, then mounted as the next boot
// would mount it (replaying the journal), holds every new file whole.
TEST(InstallSafety, PowerCutAfterCompletion) {
  TempDir work;
  ScratchMount disk(work / "disk", "ext4");
  if (!disk.ok()) GTEST_SKIP() << disk.why();
  const std::string dir = work / "disk/target";
  std::vector<TestEntry> v1, v2;
  for (int i = 0; i < 300; i++) {
    std::string name = "d" + std::to_string(i % 9) + "/f" + std::to_string(i);
    v1.push_back(file(name, std::string(2000 + 37 * i, 'o')));
    v2.push_back(file(name, std::string(4000 + 53 * i, 'n')));
  }
  write_installer(work / "v1", v1);
  write_installer(work / "v2", v2);
  ASSERT_EQ(setup(work / "v1", dir).exit_status, 0);
  sync();
  ASSERT_EQ(setup(work / "v2", dir).exit_status, 0);
  std::filesystem::copy_file(disk.image(), work / "cut.img");
  ScratchMount cut(work / "cut", "ext4", work / "cut.img");
  ASSERT_TRUE(cut.ok()) << cut.why();
  for (const TestEntry& e : v2) ASSERT_EQ(read_file(work / "cut/target/" + e.name), e.data) << e.name;
}

// The same into a directory the run makes, which it fills through a stage.
TEST(InstallSafety, PowerCutAfterCompletionInANewDirectory) {
  TempDir work;
  ScratchMount disk(work / "disk", "ext4");
  if (!disk.ok()) GTEST_SKIP() << disk.why();
  std::vector<TestEntry> v;
  for (int i = 0; i < 300; i++) v.push_back(file("d" + std::to_string(i % 9) + "/f" + std::to_string(i), std::string(4000 + 53 * i, 'n')));
  write_installer(work / "v", v);
  ASSERT_EQ(setup(work / "v", work / "disk/target").exit_status, 0);
  std::filesystem::copy_file(disk.image(), work / "cut.img");
  ScratchMount cut(work / "cut", "ext4", work / "cut.img");
  ASSERT_TRUE(cut.ok()) << cut.why();
  for (const TestEntry& e : v) ASSERT_EQ(read_file(work / "cut/target/" + e.name), e.data) << e.name;
}

// While its data is written, a new file's temporary is readable by its owner
// only: the final mode comes with the last byte.
TEST(InstallSafety, TemporariesArePrivateWhileWritten) {
  TempDir work;
  const std::string dir = work / "target";
  const size_t size = 32 << 20;
  write_installer(work / "v", {file("secret", std::string(size, 's'))});
  bool seen = false;
  for (int attempt = 0; attempt < 10 && !seen; attempt++) {
    pid_t pid = fork();
    if (pid == 0) {
      execl(ZOLT_PACK_BINARY, "zolt-pack", "extract", "-q", (work / "v").c_str(), "-C", dir.c_str(), nullptr);
      _exit(127);
    }
    while (waitpid(pid, nullptr, WNOHANG) == 0) {
      std::error_code ignored;
      for (const auto& e : std::filesystem::directory_iterator(dir + "/.zolt-setup", ignored)) {
        struct stat st;
        if (e.path().filename().string().rfind("tmp-", 0) != 0 || stat(e.path().c_str(), &st) != 0) continue;
        if (st.st_size < (1 << 20) || size_t(st.st_size) == size) continue;  // the record's are small
        seen = true;
        EXPECT_EQ(st.st_mode & 07777, 0600u);
      }
    }
  }
  EXPECT_TRUE(seen) << "no temporary caught while written";
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

// A new directory, filled through a stage, ends as an existing empty one, hard
// links as hard links, with no stage left and a record an uninstall clears.
TEST(InstallSafety, NewDirectoryEndsAsAnExistingOne) {
  const int32_t t = 1683062507;
  auto dir = [&](const std::string& name, uint16_t mode) { return TestEntry{name, ENTRY_DIRECTORY, "", "", t, mode}; };
  auto inode = [](const std::string& path) { struct stat st{}; stat(path.c_str(), &st); return st.st_ino; };
  const struct {
    const char* what;
    std::vector<TestEntry> entries;
    rlim_t file_size_limit = RLIM_INFINITY;
  } cases[] = {
      {"every kind", {dir("d", 040750), file("d/a", "A"), {"d/b", ENTRY_HARD_LINK, "d/a", "d/a", t},
                      {"s", ENTRY_SYMLINK, "d/a", "d/a", t, 0120777}, file("x/y/z", "Z"), dir("e", 040555)}},
      {"a file given twice", {file("a", "one"), file("a", "two")}},
      {"a damaged file", {file("ok", "ok"), kDamaged, file("after", "x")}},
      {"a file over the size limit", {file("ok", "ok"), file("big", std::string(20000, 'b')), file("after", "x")}, 8192},
  };
  for (const auto& c : cases) {
    TempDir work;
    const std::string old = work / "old", fresh = work / "new/target";
    std::vector<TestEntry> entries = c.entries;
    for (TestEntry& e : entries) e.mod_time = t;  // else the two trees' times may differ
    write_installer(work / "v", entries);
    std::filesystem::create_directory(old);
    const ProcessOptions limited{"", {}, "", "", {{RLIMIT_FSIZE, c.file_size_limit}}, true};
    EXPECT_EQ(setup(work / "v", old, limited).exit_status, setup(work / "v", fresh, limited).exit_status) << c.what;
    EXPECT_EQ(snapshot_diff(snapshot(old), snapshot(fresh)), "") << c.what;
    EXPECT_FALSE(path_exists(fresh + "/.zolt-setup/stage")) << c.what;
    EXPECT_EQ(inode(fresh + "/d/a"), inode(fresh + "/d/b")) << c.what;
    run_process(work / "v", {"", {"--uninstall", "--target", fresh}, "y\n", "", {}});
    EXPECT_FALSE(path_exists(fresh + "/.zolt-setup")) << c.what;
  }
}

// A run killed in a new directory leaves its stage and whole top-level entries;
// the next install, or an uninstall (which then leaves nothing), removes it.
TEST(InstallSafety, KilledInANewDirectory) {
  TempDir work;
  std::vector<TestEntry> v{file("t0/big", std::string(16 << 20, 'b'))};
  for (int i = 0; i < 60; i++) v.push_back(file("t" + std::to_string(i % 6) + "/f" + std::to_string(i), "n"));
  write_installer(work / "v", v);
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(setup(work / "v", work / "probe").exit_status, 0);
  const auto whole = std::chrono::steady_clock::now() - start;
  std::mt19937 random(7);
  int stages = 0;
  for (int trial = 0; trial < 24; trial++) {
    const std::string dir = work / ("target" + std::to_string(trial));
    write_file(work / "answers", answers(dir));
    pid_t pid = fork();
    if (pid == 0) {
      int in = open((work / "answers").c_str(), O_RDONLY), null = open("/dev/null", O_WRONLY);
      dup2(in, 0), dup2(null, 1), dup2(null, 2);
      execl((work / "v").c_str(), "setup", nullptr);
      _exit(127);
    }
    std::this_thread::sleep_for(whole * std::uniform_real_distribution<>(0, 1)(random));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    for (const TestEntry& e : v)
      ASSERT_TRUE(!path_exists(dir + "/" + e.name) || read_file(dir + "/" + e.name) == e.data) << trial << e.name;
    stages += path_exists(dir + "/.zolt-setup/stage");
    if (trial % 2) {
      ASSERT_EQ(setup(work / "v", dir).exit_status, 0);
      for (const TestEntry& e : v) ASSERT_EQ(read_file(dir + "/" + e.name), e.data) << trial << e.name;
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir + "/.zolt-setup"), {}), 2) << trial;
    } else if (path_exists(dir + "/.zolt-setup/QUMBA.list")) {
      EXPECT_EQ(run_process(work / "v", {"", {"--uninstall", "--target", dir}, "y\n", "", {}}).exit_status, 0) << trial;
      EXPECT_TRUE(std::filesystem::is_empty(dir)) << trial;
    }
  }
  EXPECT_GT(stages, 0) << "no kill landed while the stage was filled";
}

}  // namespace
