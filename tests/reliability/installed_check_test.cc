// --verify and --repair through the real zolt-setup: each kind of change to
// an installed tree is one line, a verify writes nothing, and a repair puts
// back what the record says was installed and nothing else.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/reliability/reliability_support.h"
#include "tests/support/files.h"

namespace {

constexpr int32_t kTime = 1683062507;

std::vector<TestEntry> product() {
  return {{"bin", ENTRY_DIRECTORY, "", "", kTime, 040755},
          {"bin/tool", ENTRY_STORED, "#!/bin/sh\necho tool\n", "", kTime, 0100755},
          {"bin/current", ENTRY_SYMLINK, "tool", "tool", kTime, 0120777},
          {"etc/tool.conf", ENTRY_STORED, "colour=blue\n", "", kTime},
          {"share/readme", ENTRY_STORED, "read me\n", "", kTime},
          {"etc/site.conf", ENTRY_STORED, "site=here\n", "", kTime, 0100644, RECORD_FLAG_CONFIG}};
}

ProcessResult setup(const std::string& installer, const std::string& dir, const std::string& option) {
  ProcessOptions o;
  o.args = {"--target", dir, "--accept-licence"};
  if (!option.empty()) o.args.push_back(option);
  o.timeout_seconds = 20;
  return run_process(installer, o);
}

// Someone's edit that keeps the size and puts the time back.
void edit_in_place(const std::string& path) {
  std::string bytes = read_file(path);
  bytes[0] ^= 1;
  write_file(path, bytes);
  const timespec times[2] = {{kTime, 0}, {kTime, 0}};
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

struct Change {
  const char* what;
  std::string path;
  std::function<void(const std::string& path)> apply;
  std::string word;
};

const std::vector<Change>& changes() {
  static const std::vector<Change> table = {
      {"mode", "bin/tool", [](const std::string& p) { chmod(p.c_str(), 0700); }, ".M..."},
      {"a byte, size and time kept", "etc/tool.conf", edit_in_place, "..5.."},
      {"removed", "share/readme", [](const std::string& p) { unlink(p.c_str()); }, "missing"},
      {"link retargeted", "bin/current",
       [](const std::string& p) { unlink(p.c_str()), symlink("../etc", p.c_str()); }, "...L."},
      {"directory mode", "bin", [](const std::string& p) { chmod(p.c_str(), 0750); }, ".M..."},
  };
  return table;
}

std::string line_for(const std::string& word, const std::string& dir, const std::string& path) {
  return word + std::string(word.size() < 7 ? 7 - word.size() : 0, ' ') + "  " + dir + "/" + path + "\n";
}

std::string record(const std::string& dir) { return read_file(dir + "/.zolt-setup/QUMBA.list"); }

TEST(InstalledCheck, EachChangeIsOneLineAndNothingIsWritten) {
  TempDir work;
  write_installer(work / "setup", product());
  int trees = 0;
  for (const Change& c : changes()) {
    SCOPED_TRACE(c.what);
    // A tree of its own: reinstalling over a change would keep the user's copy beside it.
    const std::string dir = work / ("target" + std::to_string(++trees));
    ASSERT_EQ(setup(work / "setup", dir, "").exit_status, 0);
    ProcessResult untouched = setup(work / "setup", dir, "--verify");
    EXPECT_EQ(untouched.exit_status, 0) << untouched.err;
    EXPECT_EQ(untouched.out.find("QUMBA verified: "), 0u) << untouched.out;
    EXPECT_NE(untouched.out.find(", 0 differ (0 missing).\n"), std::string::npos) << untouched.out;
    c.apply(dir + "/" + c.path);
    const Snapshot before = snapshot(dir);
    const std::string list = record(dir);
    ProcessResult r = setup(work / "setup", dir, "--verify");
    EXPECT_EQ(r.exit_status, 1) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find("QUMBA verified")), line_for(c.word, dir, c.path));
    EXPECT_NE(r.out.find(", 1 differ ("), std::string::npos) << r.out;
    EXPECT_EQ(snapshot_diff(before, snapshot(dir)), "");
    EXPECT_EQ(record(dir), list);
  }
}

TEST(InstalledCheck, RepairRestoresEveryChangeAndTouchesNothingElse) {
  TempDir work;
  const std::string dir = work / "target";
  write_installer(work / "setup", product());
  ASSERT_EQ(setup(work / "setup", dir, "").exit_status, 0);
  write_file(dir + "/share/notes", "the user's own");
  const Snapshot installed = snapshot(dir);
  std::string restored;
  for (const Change& c : changes()) c.apply(dir + "/" + c.path);
  edit_in_place(dir + "/etc/site.conf");
  const std::string site = read_file(dir + "/etc/site.conf");
  ProcessResult r = setup(work / "setup", dir, "--repair");
  EXPECT_EQ(r.exit_status, 0) << r.err;
  // In the installer's order, each path once.
  for (const char* path : {"bin", "bin/tool", "bin/current", "etc/tool.conf", "share/readme"})
    restored += "restored  " + dir + "/" + path + "\n";
  // The changed configuration file is shown, as --verify shows it, and left.
  EXPECT_EQ(r.out.substr(0, r.out.find("QUMBA repaired")), restored + line_for("..5..", dir, "etc/site.conf"));
  EXPECT_NE(r.out.find("QUMBA repaired, 5 restored: "), std::string::npos) << r.out;
  // The changed files' old copies stay beside them, as in an upgrade; the
  // configuration file stays as the user has it, and so still differs.
  EXPECT_EQ(snapshot_diff(installed, snapshot(dir)),
            "changed: etc/site.conf\nnew: bin/tool.zolt-old\nnew: etc/tool.conf.zolt-old\n");
  EXPECT_EQ(read_file(dir + "/etc/site.conf"), site);
  ProcessResult after = setup(work / "setup", dir, "--verify");
  EXPECT_EQ(after.exit_status, 1);
  EXPECT_EQ(after.out.substr(0, after.out.find("QUMBA verified")), line_for("..5..", dir, "etc/site.conf"));
  // A record another user could have written vouches for nothing.
  chmod((dir + "/.zolt-setup/QUMBA.list").c_str(), 0664);
  for (const char* option : {"--verify", "--repair"}) {
    ProcessResult refused = setup(work / "setup", dir, option);
    EXPECT_EQ(refused.exit_status, 1) << option;
    EXPECT_NE(refused.err.find("could have been written by another user"), std::string::npos) << refused.err;
  }
}

// Files packed together in one Zstandard frame: a repair that writes only
// those behind a large one must still decode that one to reach them.
TEST(InstalledCheck, RepairWithinASolidFrame) {
  TempDir work;
  const std::string tree = work / "tree", dir = work / "target";
  std::string large;
  for (uint32_t i = 0; large.size() < (3u << 19); i++) large += std::to_string(i * 2654435761u) + "\n";
  mkdir(tree.c_str(), 0755);
  write_file(tree + "/a-large", large);
  for (const char* name : {"b", "c", "d"}) write_file(tree + "/" + name, std::string(name) + " as shipped\n");
  for (const std::string method : {"zstd", "lh5"}) {
    SCOPED_TRACE(method);
    ProcessOptions o;
    o.args = {"create", "-q", "--method", method, "-o", work / "setup", "--product", "QUMBA", "--version", "1", tree};
    if (method == "zstd") o.args.insert(o.args.begin() + 1, "-1");
    ASSERT_EQ(run_process(ZOLT_PACK_BINARY, o).exit_status, 0);
    ASSERT_EQ(setup(work / "setup", dir, "").exit_status, 0);
    write_file(dir + "/c", "changed");
    unlink((dir + "/d").c_str());
    ProcessResult r = setup(work / "setup", dir, "--repair");
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find("QUMBA")), "restored  " + dir + "/c\nrestored  " + dir + "/d\n");
    EXPECT_EQ(read_file(dir + "/c") + read_file(dir + "/d"), "c as shipped\nd as shipped\n");
    EXPECT_EQ(setup(work / "setup", dir, "--verify").exit_status, 0);
  }
}

}  // namespace
