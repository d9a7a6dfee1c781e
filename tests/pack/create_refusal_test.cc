// What create refuses: each refusal names the path and why, exits with 1
// (2 for a bad command line), and leaves no output behind, not even a
// temporary file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "archive/format.h"
#include "tests/pack/pack_support.h"
#include "tests/support/files.h"

namespace {

class CreateRefusal : public ::testing::Test {
 protected:
  void SetUp() override {
    put_file(tree + "/ok.txt", "fine", 0644, 1683062507);
    std::filesystem::create_directories(out_dir);
  }

  std::vector<std::string> args(std::vector<std::string> extra = {}) {
    std::vector<std::string> a = {"create", "-q", "-o", output, "--product", "QUMBA", "--version", "7.1"};
    a.insert(a.end(), extra.begin(), extra.end());
    a.push_back(tree);
    return a;
  }

  // Status, the message on stderr, and nothing in the output directory.
  void expect_refusal(const ProcessResult& r, int status, const std::string& message) {
    EXPECT_EQ(r.exit_status, status);
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_TRUE(std::filesystem::is_empty(out_dir)) << "output left behind";
  }

  TempDir temp;
  std::string tree = temp / "tree", out_dir = temp / "out", output = out_dir + "/q.run";
};

TEST_F(CreateRefusal, FileOf4GiB) {
  int fd = open((tree + "/huge.img").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, off_t(1) << 32), 0);  // sparse: costs no disk
  close(fd);
  expect_refusal(
      run_pack(args()), 1,
      "zolt-pack: " + tree + "/huge.img: file of 4294967296 bytes; an installer holds files of less than 4 GiB\n");
  EXPECT_NE(run_pack(args()).err.find("zolt-pack: " + tree + ": 1 path cannot be packed; nothing written\n"),
            std::string::npos);
}

TEST_F(CreateRefusal, TotalBeyondThe32BitFields) {
  for (const char* name : {"/a.img", "/b.img"}) {
    int fd = open((tree + name).c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, (off_t(1) << 31) + 1), 0);
    close(fd);
  }
  expect_refusal(run_pack(args()), 1,
                 "zolt-pack: " + tree + ": the files hold 4294967302 bytes; an installer holds at most 4294967295");
}

TEST_F(CreateRefusal, NameLongerThanARecordHolds) {
  // 4091 bytes below the tree: deeper than PATH_MAX from here, so built and
  // removed relative to directory descriptors.
  int fd = open(tree.c_str(), O_RDONLY | O_DIRECTORY);
  std::string component(200, 'd');
  std::string name;
  for (int i = 0; i < 20; i++) {
    ASSERT_EQ(mkdirat(fd, component.c_str(), 0755), 0);
    int next = openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
    name += component + "/";
  }
  std::string leaf(RECORD_MAX_NAME + 1 - name.size(), 'f');
  name += leaf;
  ASSERT_EQ(name.size(), RECORD_MAX_NAME + 1);
  int file = openat(fd, leaf.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(file, 0);
  close(file);
  close(fd);
  expect_refusal(run_pack(args()), 1, ": name of 4091 bytes; an installer holds names of at most 4090\n");
  // Tidy up from the bottom, where paths are short again.
  fd = open(tree.c_str(), O_RDONLY | O_DIRECTORY);
  std::vector<int> fds = {fd};
  for (int i = 0; i < 20; i++) fds.push_back(openat(fds.back(), component.c_str(), O_RDONLY | O_DIRECTORY));
  unlinkat(fds.back(), leaf.c_str(), 0);
  for (int i = 20; i > 0; i--) {
    close(fds[size_t(i)]);
    unlinkat(fds[size_t(i) - 1], component.c_str(), AT_REMOVEDIR);
  }
  close(fd);
}

TEST_F(CreateRefusal, HeaderTextsOver63Bytes) {
  std::string long_text(64, 'v');
  std::vector<std::vector<std::string>> cases = {
      {"create", "-o", output, "--product", long_text, "--version", "1", tree},
      {"create", "-o", output, "--product", "Q", "--version", long_text, tree},
      {"create", "-o", output, "--product", "Q", "--version", "1", "--platform", long_text, tree}};
  for (const auto& c : cases) {
    expect_refusal(run_pack(c), 2, "is 64 bytes long; an installer holds at most 63\nTry 'zolt-pack create --help'");
  }
  // 63 bytes fit.
  ProcessResult r = run_pack({"create", "-q", "-o", output, "--product", std::string(63, 'p'), "--version", "1", tree});
  EXPECT_EQ(r.exit_status, 0) << r.err;
}

// Links are packed as links; with --dereference, as copies of files only.
TEST_F(CreateRefusal, SpecialFilesAndLinksThatAreNotFiles) {
  ASSERT_EQ(mkfifo((tree + "/pipe").c_str(), 0644), 0);
  std::filesystem::create_directories(tree + "/dir");
  put_file(tree + "/dir/in.txt", "in", 0644, 1683062507);
  std::filesystem::create_directory_symlink("dir", tree + "/dirlink");
  std::filesystem::create_symlink("nowhere", tree + "/dangling");
  std::filesystem::create_symlink("/dev/null", tree + "/devlink");
  put_file(tree + "/dir/a\\b", "the installer would make a directory 'a' for it", 0644, 1683062507);
  std::filesystem::create_directories(tree + "/.zolt-setup");
  put_file(tree + "/.zolt-setup/P.list", "the installer's own record", 0644, 1683062507);
  ProcessResult r = run_pack(args({"--dereference"}));
  expect_refusal(r, 1, "zolt-pack: " + tree + "/pipe: special file (device, FIFO or socket)");
  EXPECT_NE(r.err.find("zolt-pack: " + tree + "/dirlink: symbolic link to a directory"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("zolt-pack: " + tree + "/dangling: symbolic link that cannot be followed: No such file"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("zolt-pack: " + tree + "/devlink: symbolic link to a special file"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("zolt-pack: " + tree + "/dir/a\\b: the name holds a backslash"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("zolt-pack: " + tree + "/.zolt-setup/P.list: the name lies in the directory where"), std::string::npos);
  EXPECT_NE(r.err.find("zolt-pack: " + tree + ": 6 paths cannot be packed; nothing written\n"), std::string::npos)
      << r.err;
}

TEST_F(CreateRefusal, LinksLeadingOutOfTheTreeUnlessAllowed) {
  std::filesystem::create_directories(tree + "/lib/deep");
  const std::vector<std::pair<std::string, std::string>> links = {
      {"lib/abs", "/etc/passwd"}, {"lib/up", "../../x"}, {"lib/deep/zigzag", "../../a/../../b"},  // refused
      {"lib/deep/in", "../../ok.txt"}, {"lib/dangling", "gone/../../nowhere"}};                   // inside
  for (const auto& [name, target] : links) std::filesystem::create_symlink(target, tree + "/" + name);
  ProcessResult r = run_pack(args());
  expect_refusal(r, 1, "zolt-pack: " + tree + "/lib/abs: symbolic link to '/etc/passwd' outside the tree: " +
                           "its target is absolute (give --allow-outside-links");
  for (const char* name : {"/lib/up: ", "/lib/deep/zigzag: "})
    EXPECT_NE(r.err.find(tree + name + "symbolic link to"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(": 3 paths cannot be packed"), std::string::npos) << r.err;
  ASSERT_EQ(run_pack(args({"--allow-outside-links"})).exit_status, 0);
  ProcessResult l = run_pack({"list", output});
  for (const auto& [name, target] : links)
    EXPECT_NE(l.out.find(" " + name + " -> " + target + "\n"), std::string::npos) << l.out;
}

TEST_F(CreateRefusal, UnreadableFilesAndDirectories) {
  put_file(tree + "/secret.txt", "no", 0000, 1683062507);
  std::filesystem::create_directories(tree + "/closed");
  put_file(tree + "/closed/x", "x", 0644, 1683062507);
  chmod((tree + "/closed").c_str(), 0);
  bool available;
  ProcessResult r = run_pack_without_override(args(), &available);
  if (!available) GTEST_SKIP() << "cannot drop the right to override file modes here";
  expect_refusal(r, 1, "zolt-pack: " + tree + "/secret.txt: cannot be read: Permission denied\n");
  EXPECT_NE(r.err.find("zolt-pack: " + tree + "/closed: cannot read directory: Permission denied\n"), std::string::npos)
      << r.err;
}

TEST_F(CreateRefusal, DirectoryThatIsNone) {
  expect_refusal(run_pack({"create", "-o", output, "--product", "Q", "--version", "1", temp / "missing"}), 1,
                 "zolt-pack: " + temp / "missing" + ": cannot read directory: No such file or directory\n");
  expect_refusal(run_pack({"create", "-o", output, "--product", "Q", "--version", "1", tree + "/ok.txt"}), 1,
                 "zolt-pack: " + tree + "/ok.txt: not a directory\n");
  expect_refusal(run_pack({"create", "-o", out_dir, "--product", "Q", "--version", "1", tree}), 1,
                 "zolt-pack: " + out_dir + ": is a directory; name the installer file with -o\n");
}

TEST_F(CreateRefusal, StubThatIsNoBareInstaller) {
  std::string first = temp / "first.run";
  ASSERT_EQ(run_pack({"create", "-q", "-o", first, "--product", "Q", "--version", "1", tree}).exit_status, 0);
  expect_refusal(run_pack(args({"--stub", first})), 1,
                 "zolt-pack: " + first + ": the stub is an installer already (it carries an attachment)");
  write_file(temp / "empty", "");
  for (const auto& [stub, why] : std::vector<std::pair<std::string, std::string>>{
           {zolt_pack_binary(), "not a zolt-setup program"},
           {temp / "empty", "not an ELF program"},
           {"/dev/zero", "not a regular file"}})
    expect_refusal(run_pack(args({"--stub", stub})), 1,
                   "zolt-pack: " + stub + ": not a bare zolt-setup installer (" + why + "); name one with --stub\n");
  expect_refusal(run_pack(args({"--stub", temp / "nostub"})), 1,
                 "zolt-pack: " + temp / "nostub" +
                     ": cannot open the installer stub: No such file or directory (name one with --stub)\n");
}

TEST_F(CreateRefusal, BadCommandLines) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  std::vector<Case> cases = {
      {{"create", "--version", "1", tree}, "create: the product name is required: give --product NAME\n"},
      {{"create", "--product", "Q", tree}, "create: the version is required: give --version TEXT\n"},
      {{"create", "--product", "Q", "--version", "1"}, "create: no directory to pack\n"},
      {{"create", "--product", "Q", "--version", "1", tree, tree}, "create: one directory at a time, not 2\n"},
      {{"create", "--product", "Q", "--version", "1", "-j", "0", tree},
       "create: option '-j' wants at least 1 thread\n"},
      {{"create", "--product", "Q", "--version", "1", "--space", "4294967296", tree},
       "create: option '--space': 4294967296 is more than 4294967295\n"},
      {{"create", "--product", "Q", "--version", "1", "--delete", "../up", tree},
       "create: option '--delete': '../up': has a '..' component"},
      {{"create", "--product", "Q", "--version", "1", "--delete=/etc/passwd", tree},
       "create: option '--delete': '/etc/passwd': absolute"},
      // Every installer refuses a record in its own directory, however spelt.
      {{"create", "--product", "Q", "--version", "1", "--delete", ".zolt-setup/QUMBA.list", tree},
       "create: option '--delete': '.zolt-setup/QUMBA.list': lies in the directory where the installer keeps"},
      {{"create", "--product", "Q", "--version", "1", "--delete=./.zolt-setup/x", tree},
       "create: option '--delete': './.zolt-setup/x': lies in the directory"},
      {{"create", "--product", "Q", "--version", "1", "--delete", ".zolt-setup", tree},
       "create: option '--delete': '.zolt-setup': lies in the directory"},
      {{"create", "--product", "Q", "--version", "1", "--frobnicate", tree}, "create: unknown option '--frobnicate'\n"},
      {{"create", "--product", "Q", "--version"}, "create: option '--version' needs a value\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    std::vector<std::string> a = c.args;
    a.insert(a.begin() + 1, {"-o", output});
    ProcessResult r = run_pack(a);
    expect_refusal(r, 2, "zolt-pack: " + c.message);
    EXPECT_NE(r.err.find("Try 'zolt-pack create --help' for more information.\n"), std::string::npos);
  }
  ProcessResult r = run_pack(args(), {"SOURCE_DATE_EPOCH=yesterday"});
  expect_refusal(r, 2, "create: SOURCE_DATE_EPOCH is 'yesterday', not a number of seconds");
}

TEST_F(CreateRefusal, DeletionNamesBesideTheRecordDirectoryInstall) {
  ASSERT_EQ(run_pack(args({"--delete", "a/.zolt-setup/x", "--delete", ".zolt-setup-old"})).exit_status, 0);
  ProcessResult verify = run_pack({"verify", "-q", output});
  EXPECT_EQ(verify.exit_status, 0) << verify.err;
}

}  // namespace
