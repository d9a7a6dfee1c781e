// Installation trees that fight back: symbolic links to /, in loops, to
// files and directories outside, 10,000 nested directories, names of 255
// bytes, a FIFO in the way, and installation directories of 4094 characters
// or ending in a backslash. Every run ends in the defined way, writes only below the
// installation directory and leaves what lies outside it as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "engine/read/entry_reader.h"
#include "archive/format.h"
#include "tests/reliability/defined_endings.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/files.h"

namespace {

std::string system_text(int error_number) { return strerror(error_number); }

TestEntry stored(const std::string& name, const std::string& data) {
  TestEntry e;
  e.name = name;
  e.data = data;
  e.mod_time = 1683062507;
  return e;
}

class HostileTree : public ::testing::Test {
 protected:
  void SetUp() override {
    mkdir(outside.c_str(), 0755);
    // Files outside that bear the entries' base names: a run that followed a
    // link out of the tree would sweep them.
    for (const TestEntry& e : sample_entries()) write_file(outside + "/" + entry_base_name(e.name.c_str()), "outside");
    make_sample_tree(target);
  }

  void remember_outside() { around = snapshot(parent.path(), "target"); }

  void expect_outside_untouched() {
    Snapshot now = snapshot(parent.path(), "target");
    EXPECT_TRUE(now == around) << snapshot_diff(around, now);
  }

  void expect_sample_installed(const std::string& dir) {
    for (const TestEntry& e : sample_entries()) {
      if (e.type == ENTRY_DELETE)
        EXPECT_FALSE(path_exists(dir + "/" + e.name)) << e.name;
      else
        EXPECT_EQ(read_file(dir + "/" + e.name), e.data) << e.name;
    }
  }

  TempDir parent;
  std::string target = parent / "target";
  std::string outside = parent / "outside";
  Snapshot around;
};

TEST_F(HostileTree, LinksAreRemovedAsLinksAndNeverFollowed) {
  ASSERT_EQ(symlink("/", (target + "/to-root").c_str()), 0);
  ASSERT_EQ(symlink(outside.c_str(), (target + "/to-outside").c_str()), 0);
  symlink("loop-b", (target + "/loop-a").c_str());
  symlink("loop-a", (target + "/loop-b").c_str());
  symlink(".", (target + "/self").c_str());
  symlink("..", (target + "/doc/up").c_str());
  // Links named like entries, to files outside, in the entry's own place and
  // elsewhere: the links go, their targets stay.
  remove((target + "/doc/readme.txt").c_str());
  symlink((outside + "/readme.txt").c_str(), (target + "/doc/readme.txt").c_str());
  symlink((outside + "/libqumba.a").c_str(), (target + "/stale/libqumba.a").c_str());
  symlink((outside + "/no-such-file").c_str(), (target + "/stale/notes.txt").c_str());
  write_record(target, {"old/gone.txt", "doc/readme.txt", "stale/qumba.h", "stale/libqumba.a", "stale/notes.txt"});
  remember_outside();

  ProcessOptions options;
  options.timeout_seconds = 20;  // a walk that went through the link to / would not end in time
  ProcessResult r = install_in_child(stub_installer(sample_entries()), target, options);
  EXPECT_EQ(r.err.find(kTerminatedEnding), std::string::npos) << r.err;
  expect_sample_installed(target);
  struct stat st;
  EXPECT_EQ(lstat((target + "/doc/readme.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode)) << "a new file in place of the link";
  EXPECT_FALSE(path_exists(target + "/stale/libqumba.a"));
  EXPECT_FALSE(path_exists(target + "/stale/notes.txt"));
  for (const char* kept : {"/to-root", "/to-outside", "/loop-a", "/loop-b", "/self", "/doc/up"})
    EXPECT_TRUE(path_exists(target + kept)) << kept;
  expect_outside_untouched();
}

// A chain of 10,000 directories, far beyond PATH_MAX: the sweep reaches the
// recorded stale copy in it, not the one no record lists; the installation
// completes.
TEST_F(HostileTree, TenThousandNestedDirectories) {
  const int depth = 10000;
  ProcessResult made = run_in_child([&] {
    if (chdir(target.c_str()) != 0) _exit(1);
    for (int i = 0; i < depth; i++) {
      if (mkdir("d", 0755) != 0 || chdir("d") != 0) _exit(2);
      if (i == 100 || i == depth - 1) write_file("qumba.h", "stale, deep down");
    }
  });
  ASSERT_EQ(made.exit_status, 0);
  std::string recorded;
  for (int i = 0; i <= 100; i++) recorded += "d/";
  write_record(target, {"old/gone.txt", "doc/readme.txt", "stale/qumba.h", recorded + "qumba.h"});
  remember_outside();

  ProcessResult r = install_in_child(stub_installer(sample_entries()), target);
  EXPECT_EQ(r.err.find(kTerminatedEnding), std::string::npos) << r.err;
  expect_sample_installed(target);
  // The recorded stale copy is swept, the other stays, and the chain is whole.
  std::string shallow = target;
  for (int i = 0; i <= 100; i++) shallow += "/d";
  EXPECT_FALSE(path_exists(shallow + "/qumba.h"));
  ProcessResult walked = run_in_child([&] {
    if (chdir(target.c_str()) != 0) _exit(1);
    int levels = 0;
    while (chdir("d") == 0) levels++;
    _exit(levels == depth && access("qumba.h", F_OK) == 0 ? 0 : 2);
  });
  EXPECT_EQ(walked.exit_status, 0);
  expect_outside_untouched();
  remove_tree(target);
}

// Components of 255 bytes, the most a name can have, in the tree and in
// entries; one byte more is refused by the file system and reported.
TEST_F(HostileTree, NamesOf255Bytes) {
  const std::string longest(255, 'n'), too_long(256, 'm');
  mkdir((target + "/" + longest).c_str(), 0755);
  write_file(target + "/" + longest + "/c", "stale, in a directory with the longest name");
  write_file(target + "/old/" + longest, "stale, with the longest name");
  write_record(target, {"old/" + longest, longest + "/c"});
  remember_outside();

  std::vector<TestEntry> entries = {stored("a/" + longest, "longest file"), stored(longest + "/b", "b"),
                                    stored("c/" + too_long, "too long")};
  ProcessResult r = install_in_child(stub_installer(entries), target);
  EXPECT_EQ(final_message(r.err), "Can't create file - " + system_text(ENAMETOOLONG) + " (err=5).");
  EXPECT_EQ(r.err.find("mmmm"), std::string::npos) << "failed before its data is read: " << r.err;
  EXPECT_EQ(read_file(target + "/a/" + longest), "longest file");
  EXPECT_EQ(read_file(target + "/" + longest + "/b"), "b");
  EXPECT_FALSE(path_exists(target + "/old/" + longest)) << "swept";
  EXPECT_TRUE(path_exists(target + "/" + longest + "/c")) << "below a directory of the same name";

  entries = {stored(too_long + "/d", "in a directory whose name is too long")};
  r = install_in_child(stub_installer(entries), target);
  EXPECT_EQ(final_message(r.err), "Can't create directory - " + system_text(ENAMETOOLONG) + " (err=4).");
  expect_outside_untouched();
}

// The longest directory that directory selection accepts: made as needed,
// but nothing fits below it, and that is reported.
TEST_F(HostileTree, InstallationDirectoryOf4094Characters) {
  std::string dir = target;
  while (dir.size() < 4094) dir += "/" + std::string(std::min<size_t>(200, 4094 - dir.size() - 1), 'x');
  ASSERT_EQ(dir.size(), 4094u);
  remember_outside();
  ProcessResult r = install_in_child(stub_installer(sample_entries()), dir);
  EXPECT_EQ(final_message(r.err), "Can't create directory - " + system_text(ENAMETOOLONG) + " (err=4).");
  struct stat st;
  EXPECT_TRUE(stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode));

  // Through the real program and its dialogue, into the existing directory.
  std::string installer = parent / "setup";
  write_installer(installer, sample_entries());
  ProcessOptions o;
  o.input = "n\na\nn\n" + dir + "\nn\nn\n";
  ProcessResult real = run_process(installer, o);
  EXPECT_EQ(real.exit_status, 1);
  EXPECT_EQ(real.out, "");
  EXPECT_EQ(final_message(real.err), "Can't create directory - " + setup_system_text(ENAMETOOLONG) + " (err=4).");
  remove((parent / "setup").c_str());
  expect_outside_untouched();
}

// A directory whose name ends in a backslash: the files go inside it, like
// the directories they need.
TEST_F(HostileTree, InstallationDirectoryEndingInABackslash) {
  const std::string dir = parent / "qumba\\";
  remember_outside();
  ProcessResult r = install_in_child(stub_installer({stored("a.txt", "a"), stored("sub/b.txt", "b")}), dir);
  EXPECT_EQ(r.err.find(kTerminatedEnding), std::string::npos) << r.err;
  EXPECT_EQ(read_file(dir + "/a.txt"), "a");
  EXPECT_EQ(read_file(dir + "/sub/b.txt"), "b");
  Snapshot now = snapshot(parent.path(), "target");
  now.erase("qumba\\");
  now.erase("qumba\\/a.txt");
  now.erase("qumba\\/sub");
  now.erase("qumba\\/sub/b.txt");
  for (const char* own : {"", "/lock", "/QUMBA.list"}) now.erase(std::string("qumba\\/.zolt-setup") + own);
  EXPECT_TRUE(now == around) << snapshot_diff(around, now);
}

// Objects the sweep cannot remove in the entry's own place (below a
// directory of the entry's base name): a FIFO, which opening for writing
// would wait on, and a link to a file outside, which writing would follow.
// Both are replaced by the new file; neither is opened.
TEST_F(HostileTree, SpecialFilesInTheEntrysPlace) {
  mkdir((target + "/qumba").c_str(), 0755);
  ASSERT_EQ(mkfifo((target + "/qumba/qumba").c_str(), 0644), 0);
  mkdir((target + "/notes.txt").c_str(), 0755);
  ASSERT_EQ(symlink((outside + "/notes.txt").c_str(), (target + "/notes.txt/notes.txt").c_str()), 0);
  remember_outside();
  ProcessOptions options;
  options.timeout_seconds = 10;
  ProcessResult r = install_in_child(
      stub_installer({stored("first.txt", "1"), stored("qumba/qumba", "q"), stored("notes.txt/notes.txt", "n")}),
      target, options);
  EXPECT_EQ(r.err.find(kTerminatedEnding), std::string::npos) << r.err;
  EXPECT_EQ(read_file(target + "/first.txt"), "1");
  for (const char* name : {"/qumba/qumba", "/notes.txt/notes.txt"}) {
    struct stat st;
    EXPECT_TRUE(lstat((target + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) << name;
  }
  EXPECT_EQ(read_file(target + "/qumba/qumba"), "q");
  expect_outside_untouched();
}

// Directory links planted in the tree: one that leads out of it is never
// written through, not even where the sweep would not look; one that stays
// inside is used like the directory it names.
TEST_F(HostileTree, DirectoryLinksThatLeadOutOrStayInside) {
  ASSERT_EQ(symlink(outside.c_str(), (target + "/lib").c_str()), 0);
  ASSERT_EQ(symlink("/", (target + "/include").c_str()), 0);
  remember_outside();
  for (const char* name : {"lib/libqumba.a", "include/qumba.h", "lib/deeper/x.h"}) {
    ProcessResult r = install_in_child(stub_installer({stored(name, "through the link")}), target);
    EXPECT_EQ(final_message(r.err), in_the_way(target + "/" + std::string(name).substr(0, std::string(name).find('/'))))
        << name;
  }
  // Deletions do not go through it either.
  TestEntry gone;
  gone.name = "lib/libqumba.a";
  gone.type = ENTRY_DELETE;
  write_file(outside + "/keep-me", "outside");
  remember_outside();
  install_in_child(stub_installer({gone, stored("x", "x")}), target);
  expect_outside_untouched();

  mkdir((target + "/real").c_str(), 0755);
  ASSERT_EQ(symlink("real", (target + "/alias").c_str()), 0);
  ASSERT_EQ(symlink("../real", (target + "/doc/up-alias").c_str()), 0);
  ProcessResult r =
      install_in_child(stub_installer({stored("alias/a.txt", "a"), stored("doc/up-alias/b.txt", "b")}), target);
  EXPECT_EQ(r.err.find(kTerminatedEnding), std::string::npos) << r.err;
  EXPECT_EQ(read_file(target + "/real/a.txt"), "a");
  EXPECT_EQ(read_file(target + "/real/b.txt"), "b");
  expect_outside_untouched();
}

// A dangling link where a directory is needed, pointing outside: it is not
// made through the link, and the run ends before its first change.
TEST_F(HostileTree, DanglingLinkWhereADirectoryIsNeeded) {
  symlink((outside + "/made-through-link").c_str(), (target + "/lib").c_str());
  remember_outside();
  ProcessResult r = install_in_child(stub_installer(sample_entries()), target);
  EXPECT_EQ(final_message(r.err), in_the_way(target + "/lib"));
  EXPECT_FALSE(path_exists(target + "/include/qumba.h"));
  EXPECT_FALSE(path_exists(outside + "/made-through-link"));
  expect_outside_untouched();
}

}  // namespace
