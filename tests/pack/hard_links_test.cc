// Hard links with the real zolt-pack and zolt-setup: stored once, installed
// as one file, upgraded and uninstalled by name; entries that name no
// earlier file refused before anything is written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "engine/failure.h"
#include "tests/pack/pack_support.h"
#include "tests/support/files.h"
#include "tests/support/installer_builder.h"

namespace {

namespace fs = std::filesystem;

constexpr int64_t kTime = 1683062507;

struct HardLinks : ::testing::Test {
  TempDir temp;
  std::string src = temp / "src", installer = temp / "q.run", target = temp / "installed";

  // A 256 KiB file that does not compress, under three names.
  void make_tree(const std::string& data_tag) {
    put_file(src + "/lib/libbig.so.1", random_bytes(256 << 10, 7) + data_tag, 0755, kTime);
    fs::create_directories(src + "/bin");
    for (const char* name : {"/bin/big", "/lib/libbig.so"}) {
      fs::remove(src + name);
      fs::create_hard_link(src + "/lib/libbig.so.1", src + name);
    }
  }
  ProcessResult pack(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"create", "-q", "-o", installer, "--product", "QUMBA", "--version", "7.1"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(src);
    return run_pack(args);
  }
  ProcessResult run_installer(std::vector<std::string> args) {
    ProcessOptions o;
    o.args = std::move(args);
    return run_process(installer, o);
  }
  ProcessResult install() { return run_installer({"--target", target, "--accept-licence", "--quiet"}); }
  // The three names are one file of three links, with the tree's bytes.
  void expect_one_file(const std::string& dir) {
    struct stat st[3];
    const char* names[] = {"/bin/big", "/lib/libbig.so", "/lib/libbig.so.1"};
    for (int i = 0; i < 3; i++) ASSERT_EQ(stat((dir + names[i]).c_str(), &st[i]), 0) << names[i];
    for (const struct stat& one : st) EXPECT_TRUE(one.st_ino == st[0].st_ino && one.st_nlink == 3) << dir;
    EXPECT_EQ(snapshot_tree(dir), snapshot_tree(src));
  }
};

TEST_F(HardLinks, StoredOnceAndInstalledAsOneFileByBothMethodsAndExtract) {
  make_tree("v1");
  for (const char* method : {"lh5", "zstd"}) {
    SCOPED_TRACE(method);
    if (method[0] == 'z' && zstd_setup_binary().empty()) continue;
    ASSERT_EQ(pack({"--method", method}).exit_status, 0);
    // The stub and one copy.
    EXPECT_LT(fs::file_size(installer), fs::file_size(method[0] == 'z' ? zstd_setup_binary() : setup_binary()) + 300'000u);
    ProcessResult list = run_pack({"list", installer});
    // The first name in byte order holds the data.
    EXPECT_NE(list.out.find(" hlink  2023-05-02 21:21:47 lib/libbig.so => bin/big\n"), std::string::npos) << list.out;
    EXPECT_NE(run_installer({"--list"}).out.find("lib/libbig.so.1 => bin/big\n"), std::string::npos);
    fs::remove_all(target);
    ASSERT_EQ(install().exit_status, 0);
    expect_one_file(target);
    ASSERT_EQ(run_pack({"extract", "-q", installer, "-C", temp / "extracted"}).exit_status, 0);
    expect_one_file(temp / "extracted");
    fs::remove_all(temp / "extracted");
  }
  // Copies when the vendor asks for them.
  ASSERT_EQ(pack({"--no-hard-links", "--method", "lh5"}).exit_status, 0);
  EXPECT_GT(fs::file_size(installer), 3u * (256u << 10));
}

TEST_F(HardLinks, UpgradesReplaceBothNamesAndUninstallRemovesEveryName) {
  make_tree("v1");
  ASSERT_EQ(pack().exit_status, 0);
  ASSERT_EQ(install().exit_status, 0);
  // The new version's data under all three names, one file again; the old
  // file, unchanged, goes.
  make_tree("v2");
  ASSERT_EQ(pack().exit_status, 0);
  ProcessResult r = install();
  ASSERT_EQ(r.exit_status, 0) << r.err;
  expect_one_file(target);
  // A name the user took out of the link keeps the user's file; the
  // others, unchanged, go.
  fs::remove(target + "/bin/big");
  put_file(target + "/bin/big", "the user's own", 0644, kTime);
  r = run_installer({"--uninstall", "--target", target, "--accept-licence", "--quiet"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.err.find("bin/big"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(target + "/lib"));
  EXPECT_EQ(read_file(target + "/bin/big"), "the user's own");
}

// A hard link must name a file that an earlier entry installs and that is
// still there when the link comes; anything else is a damaged installer,
// refused before the installation directory is even made.
TEST(HardLinkEntries, ThatNameNoEarlierFileAreRefusedBeforeAnythingIsWritten) {
  auto file = [](const std::string& name) { return TestEntry{name, ENTRY_STORED, "data", "", kTime}; };
  auto hard = [](const std::string& name, const std::string& first) {
    return TestEntry{name, ENTRY_HARD_LINK, first, first, kTime};
  };
  const TestEntry symlink{"s", ENTRY_SYMLINK, "a", "a", kTime, 0120777}, deletion{"a", ENTRY_DELETE, "", "", 0};
  const struct {
    const char* what;
    std::vector<TestEntry> entries;
    int fault;
  } cases[] = {
      {"absent", {file("a"), hard("b", "c")}, ENTRY_FAULT_TREE_OBJECT},
      {"later", {hard("b", "a"), file("a")}, ENTRY_FAULT_TREE_OBJECT},
      {"a directory", {{"d", ENTRY_DIRECTORY, "", "", kTime, 040755}, hard("b", "d")}, ENTRY_FAULT_TREE_OBJECT},
      {"a symbolic link", {file("a"), symlink, hard("b", "s")}, ENTRY_FAULT_TREE_OBJECT},
      {"another hard link", {file("a"), hard("b", "a"), hard("c", "b")}, ENTRY_FAULT_TREE_OBJECT},
      {"deleted since", {file("a"), deletion, hard("b", "a")}, ENTRY_FAULT_TREE_OBJECT},
      {"replaced since", {file("a"), symlink, {"a", ENTRY_SYMLINK, "s", "s", kTime, 0120777}, hard("b", "a")},
       ENTRY_FAULT_TREE_OBJECT},
      {"outside", {file("a"), hard("b", "../a")}, ENTRY_FAULT_NAME_ESCAPES},
      {"absolute", {file("a"), hard("b", "/a")}, ENTRY_FAULT_NAME_ESCAPES},
      {"the record", {file("a"), hard("b", ".zolt-setup/QUMBA.list")}, ENTRY_FAULT_NAME_ESCAPES},
      {"with a NUL", {file("a"), hard("b", std::string("a\0b", 3))}, ENTRY_FAULT_TREE_OBJECT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir temp;
    write_installer(temp / "bad.run", c.entries);
    ProcessOptions o;
    o.args = {"--target", temp / "installed", "--accept-licence", "--quiet"};
    ProcessResult r = run_process(temp / "bad.run", o);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.err.find(failure_message(c.fault)), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(temp / "installed"));
    r = run_pack({"verify", "-q", temp / "bad.run"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.err.find(failure_message(c.fault)), std::string::npos) << r.err;
  }
}

}  // namespace
