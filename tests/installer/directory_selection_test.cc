// The directory page of the real installer: each check with its message and
// follow-up prompt, in their order, and the paths it accepts.
#include "installer/directory_selection.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/installer/dialogue_texts.h"

namespace {

using namespace dialogue;

// A directory below /home, where paths draw no warning about their place.
class HomeDir {
 public:
  HomeDir() {
    char pattern[] = "/home/zolt-dlg-XXXXXX";
    if (mkdtemp(pattern)) path_ = pattern;
  }
  ~HomeDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Types `lines` at the entry prompt; the output from there on. Where the
// input ends at a later entry prompt, the installer ends there as cancelled.
std::string enter(const std::string& lines, const std::string& cwd = "") {
  std::string out = run_dialogue(kInputToEntry + lines, {}, cwd);
  const std::string to_entry = output_to_entry();
  EXPECT_EQ(out.substr(0, to_entry.size()), to_entry);
  return out.size() < to_entry.size() ? out : out.substr(to_entry.size());
}

// What follows when `path`, an existing directory, is accepted and the rest is Next.
std::string installed_into_existing(const std::string& path) {
  return existing_directory(path) + kOutputFromInstall;
}

const std::string kNewPass = kHeading + kEnter;

TEST(DirectorySelection, IsDirectory) {
  TempDir dir;
  write_file(dir / "file", "x");
  symlink((dir / "file").c_str(), (dir / "to-file").c_str());
  symlink(dir.path().c_str(), (dir / "to-dir").c_str());
  EXPECT_EQ(is_directory(dir.path().c_str()), 1);
  EXPECT_EQ(is_directory((dir / "to-dir").c_str()), 1);
  EXPECT_EQ(is_directory((dir / "file").c_str()), 0);
  EXPECT_EQ(is_directory((dir / "to-file").c_str()), 0);
  EXPECT_EQ(is_directory((dir / "missing").c_str()), -1);
  EXPECT_EQ(is_directory((dir / "file/below").c_str()), -1);
}

TEST(DirectorySelection, EmptyInputAsksAgainWithoutTheDefault) {
  EXPECT_EQ(enter("\no\n\nc\n"), kMustSelect + kNewPass + kMustSelect + kTerminated);
}

TEST(DirectorySelection, Blanks) {
  // Checked before anything else, also before the path is made absolute.
  EXPECT_EQ(enter("/usr/qumba \no\n/usr/q\tumba\nc\n"), kSpaces + kNewPass + kSpaces + kTerminated);
  EXPECT_EQ(enter("bin/ x\nc\n"), kSpaces + kTerminated);
}

TEST(DirectorySelection, RootWarnsThenThePlace) {
  // No on both warnings accepts the root, which exists.
  EXPECT_EQ(enter("/\nn\nn\nn\nn\n"), kRoot + kPlace + installed_into_existing("/"));
  EXPECT_EQ(enter("/.\nn\nc\n"), kRoot + kPlace + kTerminated);
  EXPECT_EQ(enter("/..\nc\n"), kRoot + kTerminated);
  // Yes starts over without the default offer.
  EXPECT_EQ(enter("/\ny\n"), kRoot + kNewPass + kTerminated);
  // Other spellings of the root are not recognised.
  EXPECT_EQ(enter("//\nc\n"), kPlace + kTerminated);
}

TEST(DirectorySelection, ExistingFileIsRefusedBeforeTheWarnings) {
  TempDir dir;
  std::filesystem::create_directory(dir / "bin");
  write_file(dir / "bin/notes", "x");
  EXPECT_EQ(enter(dir.path() + "/bin/notes\no\n"), kIsFile + kNewPass + kTerminated);
  // Where it does not exist, the bin warning comes first, then the place.
  EXPECT_EQ(enter(dir.path() + "/bin/new\nn\nc\n"), kBin + kPlace + kTerminated);
}

TEST(DirectorySelection, BinDirectories) {
  ASSERT_EQ(is_directory("/usr/bin/tools"), -1);
  EXPECT_EQ(enter("/usr/bin/tools\nn\nn\n"), kBin + kOutputFromInstall);
  EXPECT_EQ(enter("/usr/bin/tools\ny\n"), kBin + kNewPass + kTerminated);
  // Without a slash behind "bin" there is no warning.
  std::string local_bin = is_directory("/usr/local/bin") == 1 ? existing_directory("/usr/local/bin")
                                                               : kInstalling + kFilesInstalled + kBackNextCancel;
  EXPECT_EQ(enter("/usr/local/bin\nc\n"), local_bin + kTerminated);
}

TEST(DirectorySelection, Place) {
  EXPECT_EQ(enter("/usr\nc\n"), kPlace + kTerminated);
  EXPECT_EQ(enter("/home\nc\n"), kPlace + kTerminated);
  EXPECT_EQ(enter("/USR/local/qumba\nc\n"), kPlace + kTerminated);
  EXPECT_EQ(enter("/opt/qumba\ny\n"), kPlace + kNewPass + kTerminated);
  ASSERT_EQ(is_directory("/home/zolt-no-such-dir"), -1);
  EXPECT_EQ(enter("/home/zolt-no-such-dir\nn\nn\n"), kOutputFromInstall);
}

TEST(DirectorySelection, RelativePathsJoinTheWorkingDirectory) {
  // From the root: "tmp" becomes /tmp, outside /usr and /home.
  EXPECT_EQ(enter("tmp\nn\nn\nn\n", "/"), kPlace + installed_into_existing("/tmp"));

  HomeDir home;
  ASSERT_FALSE(home.path().empty());
  std::filesystem::create_directories(home.path() + "/with blank/sub");
  std::filesystem::create_directory(home.path() + "/sub");
  EXPECT_EQ(enter("sub\nn\nn\n", home.path()), installed_into_existing(home.path() + "/sub"));
  EXPECT_EQ(enter("new\nn\nn\n", home.path()), kOutputFromInstall);
  // A blank in the working directory is not held against the typed path.
  EXPECT_EQ(enter("sub\nn\nn\n", home.path() + "/with blank"),
            installed_into_existing(home.path() + "/with blank/sub"));
  // "." and ".." stay as typed.
  EXPECT_EQ(enter("./sub/..\nn\nn\n", home.path()), installed_into_existing(home.path() + "/./sub/.."));
}

TEST(DirectorySelection, LengthLimits) {
  auto path_of = [](size_t length) { return "/usr/" + std::string(length - 5, 'q'); };
  // A typed line of 4094 characters passes, one of 4095 does not; a path
  // typed after an overlong line is judged on its own.
  EXPECT_EQ(enter(path_of(4094) + "\nn\nn\n"), kOutputFromInstall);
  EXPECT_EQ(enter(path_of(4095) + "\no\n/usr/qumba-short\nn\nn\n"), kTooLong + kNewPass + kOutputFromInstall);
  EXPECT_EQ(enter(path_of(9000) + "\nc\n"), kTooLong + kTerminated);

  // Joined with the working directory, the path may have 4094 characters.
  HomeDir home;
  ASSERT_FALSE(home.path().empty());
  size_t room = 4093 - home.path().size();
  EXPECT_EQ(enter(std::string(room, 'r') + "\nn\nn\n", home.path()), kOutputFromInstall);
  EXPECT_EQ(enter(std::string(room + 1, 'r') + "\nc\n", home.path()), kTooLong + kTerminated);
}

}  // namespace
