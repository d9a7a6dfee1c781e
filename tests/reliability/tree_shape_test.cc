// Upgrades that change what kind of object lies at a path, and links that
// lead into the installer's record directory, through the real zolt-setup
// and zolt-pack: an earlier version's unchanged object gives way, anything
// else in the way ends the run before the first change.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/failure.h"
#include "tests/reliability/defined_endings.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/files.h"

namespace {

constexpr int32_t kTime = 1683062507;

enum Kind { FILE_KIND, LINK_KIND, DIRECTORY_KIND, ABSENT_KIND };
const char* const kKindNames[] = {"file", "link", "directory", "absent"};

TestEntry link(const std::string& name, const std::string& target) {
  return {name, ENTRY_SYMLINK, target, target, kTime, 0120777};
}

// With its time, so that a second run leaves a snapshot as it was.
TestEntry file(const std::string& name, const std::string& data) { return {name, ENTRY_STORED, data, "", kTime}; }

// The record directory without file times: a refused run may write the same
// record again, within the same second or not.
Snapshot record_without_times(const std::string& dir) {
  Snapshot s = snapshot(dir + "/.zolt-setup");
  for (auto& [path, what] : s) {
    size_t at = what.find(", mtime ");
    if (at != std::string::npos) what.erase(at, what.find(':', at) - at);
  }
  return s;
}

// What each version ships at "p", beside what both ship alike.
std::vector<TestEntry> version(Kind kind, const std::string& tag) {
  std::vector<TestEntry> entries = {file("keep", "keep"), file("real/x", "x")};
  if (kind == FILE_KIND) entries.push_back(file("p", tag));
  if (kind == LINK_KIND) entries.push_back(link("p", tag == "v1" ? "real" : "keep"));
  if (kind == DIRECTORY_KIND) {
    entries.push_back({"p", ENTRY_DIRECTORY, "", "", 0, 040755});
    entries.push_back(file("p/" + tag, tag));
  }
  return entries;
}

// Someone else's object of `kind` at `path`, in place of whatever is there.
void put_object(const std::string& path, Kind kind) {
  std::filesystem::remove_all(path);
  if (kind == FILE_KIND) write_file(path, "mine");
  if (kind == LINK_KIND) {
    ASSERT_EQ(symlink("real", path.c_str()), 0);
  }
  if (kind == DIRECTORY_KIND) std::filesystem::create_directory(path), write_file(path + "/mine", "mine");
}

ProcessResult install(const std::string& installer, const std::string& dir, std::vector<std::string> more = {}) {
  ProcessOptions o;
  o.args = {"--target", dir, "--accept-licence"};
  o.args.insert(o.args.end(), more.begin(), more.end());
  o.timeout_seconds = 20;
  return run_process(installer, o);
}

// What "p" holds after v2 installed it.
void expect_version_2(const std::string& p, Kind kind) {
  struct stat st;
  if (kind == ABSENT_KIND) return;
  ASSERT_EQ(lstat(p.c_str(), &st), 0);
  const bool right = kind == FILE_KIND   ? S_ISREG(st.st_mode) && read_file(p) == "v2"
                     : kind == LINK_KIND ? S_ISLNK(st.st_mode) && std::filesystem::read_symlink(p) == "keep"
                                         : S_ISDIR(st.st_mode) && read_file(p + "/v2") == "v2";
  EXPECT_TRUE(right);
}

TEST(TreeShape, EveryPairOfKinds) {
  enum Variant { UNCHANGED, CHANGED, USERS };
  const char* const variants[] = {"v1's object unchanged", "v1's object changed", "a user's object, none of v1's"};
  for (int k1 = 0; k1 < 4; k1++)
    for (int k2 = 0; k2 < 4; k2++)
      for (int variant = UNCHANGED; variant <= USERS; variant++) {
        const Kind from = Kind(k1), to = Kind(k2);
        // Where v1 ships nothing, nothing of it can change and no user's
        // object stands in for one of its.
        if (from == ABSENT_KIND && variant != UNCHANGED) continue;
        SCOPED_TRACE(std::string(kKindNames[k1]) + " to " + kKindNames[k2] + ", " + variants[variant]);
        TempDir work;
        const std::string dir = work / "target", p = dir + "/p";
        write_installer(work / "v1", version(variant == USERS ? ABSENT_KIND : from, "v1"));
        write_installer(work / "v2", version(to, "v2"));
        ASSERT_EQ(install(work / "v1", dir).exit_status, 0);
        if (variant != UNCHANGED) put_object(p, from);
        // Replacing a file or a link is a rename; removing a directory, or
        // anything but a directory where one is wanted, is only for what v1
        // left as it was.
        const bool refused = variant != UNCHANGED && to != ABSENT_KIND && (from == DIRECTORY_KIND) != (to == DIRECTORY_KIND);
        const Snapshot before = snapshot(dir);
        ProcessResult r = install(work / "v2", dir);
        if (refused) {
          EXPECT_EQ(r.exit_status, 1);
          EXPECT_TRUE(r.err.find(in_the_way(p) + "\n") != std::string::npos) << r.err;
          EXPECT_EQ(snapshot_diff(before, snapshot(dir)), "");
          continue;
        }
        ASSERT_EQ(r.exit_status, 0) << r.err;
        expect_version_2(p, to);
        const Snapshot after = snapshot(dir);
        ProcessResult again = install(work / "v2", dir);
        EXPECT_EQ(again.exit_status, 0) << again.err;
        EXPECT_EQ(snapshot_diff(after, snapshot(dir)), "");
        // The record lists v2's object: uninstalling takes it.
        if (variant == UNCHANGED && to != ABSENT_KIND) {
          EXPECT_EQ(install(work / "v2", dir, {"--uninstall"}).exit_status, 0);
          EXPECT_FALSE(path_exists(p));
        }
      }
}

// The audit's shapes: a link that v2 turns into a directory must not carry
// v2's files to where it led.
TEST(TreeShape, LinkBecomesDirectory) {
  TempDir work;
  const std::string dir = work / "target";
  write_installer(work / "v1", {file("lib64/x", "x"), link("lib", "lib64"),
                                link("lnk", "gone")});
  write_installer(work / "v2", {file("lib64/x", "x"), file("lib/y", "y"),
                                file("lnk/f", "f")});
  ASSERT_EQ(install(work / "v1", dir).exit_status, 0);
  ProcessResult r = install(work / "v2", dir);
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(read_file(dir + "/lib/y"), "y");
  EXPECT_EQ(read_file(dir + "/lnk/f"), "f");
  EXPECT_FALSE(path_exists(dir + "/lib64/y"));
}

// Nothing reaches the record directory through a link: not an installer's
// own link, nor one a user made.
TEST(TreeShape, LinksIntoTheRecordDirectory) {
  struct Case {
    const char* what;
    std::string user_link;  // made below the directory before the run
    std::vector<TestEntry> entries;
    std::string message;  // "" for the link in the way
  };
  const Case cases[] = {
      {"a link entry to it", "", {link("a", ".zolt-setup")}, "Corrupted file(s) (err=8).\n"},
      {"a link entry into it from below", "", {link("d/a", "../.zolt-setup/lock")},
       "Corrupted file(s) (err=8).\n"},
      {"a user's link on the way to a file", ".zolt-setup", {file("a/f", "f")}, ""},
      {"a user's link on the way to the lock", ".zolt-setup", {file("a/lock", "f")}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir work;
    const std::string dir = work / "target";
    write_installer(work / "v0", {file("keep", "keep")});
    ASSERT_EQ(install(work / "v0", dir).exit_status, 0);
    if (!c.user_link.empty()) {
      ASSERT_EQ(symlink(c.user_link.c_str(), (dir + "/a").c_str()), 0);
    }
    const Snapshot record = record_without_times(dir);
    write_installer(work / "v1", c.entries);
    ProcessResult r = install(work / "v1", dir);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_TRUE(r.err.find(c.message.empty() ? in_the_way(dir + "/a") + "\n" : c.message) != std::string::npos) << r.err;
    EXPECT_EQ(snapshot_diff(record, record_without_times(dir)), "");
    // zolt-pack create refuses to pack such a link.
    if (c.user_link.empty()) {
      const std::string tree = work / "tree";
      std::filesystem::create_directories(tree + "/d");
      const TestEntry& e = c.entries[0];
      ASSERT_EQ(symlink(e.data.c_str(), (tree + "/" + e.name).c_str()), 0);
      ProcessOptions o;
      o.args = {"create", "-q", "--stub-texts", "-o", work / "made", "--product", "Q", "--version", "1", "--allow-outside-links", tree};
      ProcessResult made = run_process(ZOLT_PACK_BINARY, o);
      EXPECT_NE(made.exit_status, 0);
      EXPECT_TRUE(made.err.find("leads into .zolt-setup") != std::string::npos) << made.err;
    }
  }
}

}  // namespace
