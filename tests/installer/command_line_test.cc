// The installer's options through the real binary on a pipe: what each one
// does and its exit status, refusals before anything happens, unattended
// installs, uninstalling, and the free-space check before the first change.
#include <sys/mount.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/installer_builder.h"
#include "tests/support/process.h"

namespace {

const std::vector<TestEntry> kEntries = {{"doc/read\x1b]0;me.txt", ENTRY_STORED, "read me\n", ""},
                                         {"lib/a.txt", ENTRY_STORED, "alpha\n", "", 1683062507, 0100755}};

ProcessResult run(const std::string& installer, std::vector<std::string> args, const std::string& input = "") {
  ProcessOptions o;
  o.args = std::move(args);
  o.input = input;
  o.timeout_seconds = 20;
  return run_process(installer, o);
}

const std::string kControlRefused =
    "Installation into a directory path containing control characters is not possible.\n";

TEST(InstallerOptions, EachOptionsEffectAndStatus) {
  TempDir temp;
  write_installer(temp / "setup", kEntries);
  write_file(temp / "file", "x");
  const std::string usage = "Usage: setup [--target DIR";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out, err;  // the start of each; for a usage error, a line of stderr
  } cases[] = {
      {{"--help"}, 0, "Usage: setup [OPTION]...\n", ""},
      {{"--list", "-h"}, 0, "Usage: setup [OPTION]...\n", ""},
      {{"--version"}, 0, "QUMBA 7.1 Linux x86_64 (build 230502.212147)\n", ""},
      {{"--list"}, 0, "Product:   QUMBA\n", ""},
      {{"--check", "--target", temp / "new", "--quiet"}, 0, "", ""},
      {{"--check", "--target=" + temp / "file"}, 1, "", "The directory already exists as a file.\n"},
      {{"--target", temp / "new", "--quiet"}, 1, "",
       "An installation without questions needs the licence accepted with --accept-licence.\n"},
      {{"--taget", temp / "new", "--accept"}, 2, "", "setup: unknown option '--taget'\n" + usage},
      {{"--autonext", "--list"}, 2, "", "setup: unknown option '--autonext'\n"},
      {{"--accept=yes", "--quiet"}, 2, "", "setup: unknown option '--accept=yes'\n"},
      {{"--check", "-\x1b[2J\n"}, 2, "", "setup: unknown option '-\\033[2J\\n'\n"},
      {{"--accept", "--target"}, 2, "", "setup: a directory must follow '--target'\n"},
      {{"--prefix="}, 2, "", "setup: a directory must follow '--prefix='\n"},
      {{"--list", "--check"}, 2, "", "setup: only one of --list, --check, --version, --uninstall, --verify, --repair at a time\n"},
      {{"--uninstall"}, 2, "", "setup: --uninstall needs --target DIR\n"},
      {{"--verify"}, 2, "", "setup: --verify needs --target DIR\n"},
      {{"--repair", "--quiet"}, 2, "", "setup: --repair needs --target DIR\n"},
      {{"--verify", "--target", temp / "new"}, 1, "",
       "No installation of this product is recorded in this directory.\n"},
      // A directory's name reaches the terminal only escaped, and one that
      // would drive it is refused as the directory page refuses blanks.
      {{"--check", "--target", temp / "a\x1b[31m"}, 1, "", kControlRefused},
      {{"--check", "--target=" + temp / "a\nb"}, 1, "", kControlRefused},
      {{"--check", "--target", temp / "\xc2\x9b"}, 1, "", kControlRefused},
      {{"--check", "--target", temp / "\x9b[2J"}, 1, "", kControlRefused},
      {{"--check", "--target", temp / "new\\\xff\xc3\xa9"}, 0,
       "QUMBA 7.1: every check passed; it would install into " + temp / "new\\\\\\377\xc3\xa9\n", ""},
  };
  for (const Case& c : cases) {
    std::string where = ::testing::PrintToString(c.args);
    ProcessResult r = run(temp / "setup", c.args, "a\n");
    EXPECT_EQ(r.exit_status, c.status) << where << r.err;
    EXPECT_EQ(r.out.substr(0, c.out.size()), c.out) << where;
    // A usage error names the argument on one line and shows the usage on the next.
    EXPECT_EQ(c.status == 2 ? r.err.find(c.err) != std::string::npos : r.err.rfind(c.err, 0) == 0, true)
        << where << r.err;
    EXPECT_FALSE(path_exists(temp / "new")) << where;
  }
  // Without a known option every other argument is ignored, as it always
  // was: the dialogue is the bare installer's, byte for byte.
  ProcessResult bare = run(temp / "setup", {}, "n\n");
  for (std::vector<std::string> ignored : {std::vector<std::string>{"--autonext"}, {"-Autonext", "-x"}, {"--accept=yes"},
                                           {"x", "--taget", temp / "new"}}) {
    ProcessResult r = run(temp / "setup", ignored, "n\n");
    EXPECT_EQ(r.exit_status, bare.exit_status) << ::testing::PrintToString(ignored);
    EXPECT_EQ(r.err, bare.err) << ::testing::PrintToString(ignored);
  }
  // The listing escapes what would reach the terminal.
  std::string list = run(temp / "setup", {"--list"}).out;
  EXPECT_NE(list.find("-rwxr-xr-x          6          6 stored 2023-05-02 21:21:47 lib/a.txt\n"), std::string::npos) << list;
  EXPECT_NE(list.find(" doc/read\\033]0;me.txt\n"), std::string::npos) << list;
  // --check decodes: a file that fails its CRC only once decoded is found.
  write_installer(temp / "damaged", {{"a.txt", ENTRY_STORED, "right", "wrong"}});
  ProcessResult r = run(temp / "damaged", {"--check", "--quiet", "--target", temp / "new"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "Corrupted file(s) (err=5).\nInstallation terminated.\n");
  // A cancellation is status 0 unless asked otherwise.
  EXPECT_EQ(run(temp / "setup", {"--fail-on-cancel"}, "c\n").exit_status, 3);
  EXPECT_EQ(run(temp / "setup", {}, "c\n").exit_status, 0);
}

TEST(InstallerOptions, UnattendedIntoAnExistingDirectoryOutsideUsrAndHome) {
  TempDir temp;
  write_installer(temp / "setup", kEntries);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--target", "dir", "--accept-licence"}, {"--prefix=dir", "--skip-license", "--quiet"},
        {"--unattended", "--accept", "--directory", "dir", "--no-post-install"}}) {
    std::string where = ::testing::PrintToString(args);
    ASSERT_EQ(system(("rm -rf " + temp / "dir" + " && mkdir " + temp / "dir").c_str()), 0);
    ProcessOptions o;
    o.args = args;
    o.cwd = temp.path();  // a relative target is taken from here
    ProcessResult r = run_process(temp / "setup", o);
    EXPECT_EQ(r.exit_status, 0) << where << r.err;
    EXPECT_EQ(read_file(temp / "dir/lib/a.txt"), "alpha\n") << where;
    if (args[1] == "--skip-license") {
      EXPECT_EQ(r.err, "Installation complete.\n");
      continue;
    }
    EXPECT_NE(r.err.find("\n\nNote: Installing anywhere other than under '/usr' or '/home' directories is not "
                         "recommended.\n\n\nInstallation directory: " + temp / "dir\n\n\nNote: the directory " +
                         temp / "dir already exists; installing into it.\n"),
              std::string::npos) << where << r.err;
    EXPECT_NE(r.err.find("\n\nFiles installed!\n"), std::string::npos) << where;
    EXPECT_EQ(r.err.substr(r.err.size() - 26), "\n\nInstallation complete.\n\n") << where;
  }
  // With -autonext the target is the directory offered, and the warning waits.
  ProcessResult r = run(temp / "setup", {"-autonext", "--target", temp / "auto"}, "a\nn\n");
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.err.find("\n\nDefault directory: " + temp / "auto.\n"), std::string::npos) << r.err;
  EXPECT_EQ(read_file(temp / "auto/lib/a.txt"), "alpha\n");
}

// Every path below `dir`, relative to it.
std::set<std::string> tree_of(const std::string& dir) {
  std::set<std::string> paths;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
    paths.insert(std::filesystem::relative(e.path(), dir).string());
  return paths;
}

TEST(InstallerOptions, UninstallAfterAnInstallAndAfterAnUpgrade) {
  TempDir temp;
  const std::string dir = temp / "dir";
  write_installer(temp / "v1", {{"a.txt", ENTRY_STORED, "a1", ""}, {"sub/b.txt", ENTRY_STORED, "b", ""},
                                {"c.txt", ENTRY_STORED, "c", ""}});
  write_installer(temp / "v2", {{"a.txt", ENTRY_STORED, "a2", ""}, {"sub/b.txt", ENTRY_STORED, "b", ""}});
  // v1 installed twice, and v1 upgraded to v2, which no longer ships c.txt.
  for (const std::string last : {"v1", "v2"}) {
    std::filesystem::remove_all(dir);
    for (const std::string& version : {std::string("v1"), last})
      ASSERT_EQ(run(temp / version, {"--target", dir, "--accept", "--quiet"}).exit_status, 0);
    write_file(dir + "/a.txt", "changed");
    write_file(dir + "/mine.txt", "the user's");
    // Declined, nothing changes; then confirmed.
    EXPECT_EQ(run(temp / "v2", {"--uninstall", "--target", dir}, "n\n").exit_status, 0);
    EXPECT_EQ(tree_of(dir).count("sub/b.txt"), 1u);
    ProcessResult r = run(temp / "v2", {"--uninstall", "--target", dir}, "y\n");
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(r.err.find("Kept, changed since it was installed: a.txt\n"), std::string::npos) << r.err;
    EXPECT_EQ(tree_of(dir), (std::set<std::string>{"a.txt", "mine.txt"})) << last;
    // Without a record there is nothing to remove.
    r = run(temp / "v1", {"--uninstall", "--target", dir, "--unattended"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err.rfind("No installation of this product is recorded in this directory.\n", 0), 0u) << r.err;
  }
}

TEST(InstallerOptions, AFullFileSystemIsRefusedBeforeAnyChange) {
  TempDir temp;
  mkdir((temp / "mnt").c_str(), 0755);
  if (mount("tmpfs", (temp / "mnt").c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  struct Unmount {
    std::string path;
    ~Unmount() { umount(path.c_str()); }
  } unmount{temp / "mnt"};
  std::vector<TestEntry> big = kEntries;
  big.push_back({"big.bin", ENTRY_STORED, std::string(200000, 'b'), ""});
  write_installer(temp / "setup", big);
  ProcessResult r = run(temp / "setup", {"--target", temp / "mnt/dir", "--accept", "--quiet"});
  EXPECT_EQ(r.exit_status, 1);
  // The files' 0.199 MiByte, and the record's directory and list, written
  // a second time beside the first at the end.
  EXPECT_EQ(r.err, "Not enough free space: 0.215 MiByte needed, 0.062 MiByte free (err=13).\nInstallation terminated.\n");
  r = run(ZOLT_PACK_BINARY, {"extract", "-q", temp / "setup", "-C", temp / "mnt/dir"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find(": Not enough free space: 0.215 MiByte needed"), std::string::npos) << r.err;
  // To the last page: the record no longer fits beside it.
  write_installer(temp / "full", {{"big", ENTRY_STORED, std::string(65536, 'b'), ""}});
  for (const char* how : {"--check", "--accept"}) {
    r = run(temp / "full", {how, "--target", temp / "mnt/dir", "--quiet"});
    EXPECT_EQ(r.err.rfind("Not enough free space: ", 0), 0u) << how << r.err;
  }
  EXPECT_FALSE(path_exists(temp / "mnt/dir"));
  // What fits is installed.
  write_installer(temp / "setup", kEntries);
  EXPECT_EQ(run(temp / "setup", {"--target", temp / "mnt/dir", "--accept", "--quiet"}).exit_status, 0);
}

// A tmpfs mounted at `path` while it lives.
struct ScratchTmpfs {
  std::string path;
  bool ok;
  ScratchTmpfs(const std::string& at, const char* options, unsigned long flags = 0) : path(at) {
    mkdir(path.c_str(), 0755);
    ok = mount("tmpfs", path.c_str(), "tmpfs", flags, options) == 0;
  }
  ~ScratchTmpfs() {
    if (ok) umount(path.c_str());
  }
};

// --check ends as the installation would where a directory takes no new
// names; the installation says that it kept no record only after it wrote.
TEST(InstallerOptions, CheckFailsWhereTheInstallationWould) {
  TempDir temp;
  ScratchTmpfs ro(temp / "ro", "size=1m", MS_RDONLY);
  if (!ro.ok || geteuid() != 0) GTEST_SKIP() << "needs root: a read-only mount, another user";
  chmod(temp.path().c_str(), 0755);
  mkdir((temp / "locked").c_str(), 0755);
  write_file(temp / "locked/mine", "x");
  chmod((temp / "locked/mine").c_str(), 0666);
  const std::string rofs = setup_system_text(EROFS), denied = setup_system_text(EACCES);
  const TestEntry f = {"f", ENTRY_STORED, "f", ""}, sub = {"sub/f", ENTRY_STORED, "f", ""},
                  mine = {"mine", ENTRY_STORED, "in place", ""};
  struct Case {
    std::string target;
    std::vector<TestEntry> entries;
    std::string message;  // "" when both pass
    bool wrote = false;   // the user's file, rewritten in place
  } cases[] = {
      {ro.path, {f}, "Can't create file - " + rofs + " (err=5)."},
      {ro.path, {sub}, "Can't create directory - " + rofs + " (err=4)."},
      {ro.path + "/new", {f}, "Can't create directory - " + rofs + " (err=4)."},
      {temp / "locked", {f}, "Can't create file - " + denied + " (err=5)."},
      {temp / "locked", {mine, sub}, "Can't create directory - " + denied + " (err=4).", true},
      {temp / "locked", {mine}, "", true},
  };
  for (const Case& c : cases) {
    write_installer(temp / "setup", c.entries);
    std::string results[2];
    for (int install = 0; install < 2; install++) {
      std::vector<std::string> args = {temp / "setup", install ? "--accept" : "--check", "--target", c.target, "--quiet"};
      // The locked directory is root's: run as nobody, who may not write it.
      if (c.target.starts_with(ro.path)) results[install] = run(args[0], {args.begin() + 1, args.end()}).err;
      args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups"});
      if (!c.target.starts_with(ro.path)) results[install] = run("/usr/bin/setpriv", args).err;
    }
    const std::string where = c.target + " " + c.entries.back().name,
                      ending = c.message.empty() ? "" : c.message + "\nInstallation terminated.\n";
    EXPECT_EQ(results[0], ending) << where;
    EXPECT_EQ(results[1].rfind(c.message.empty() ? "Installation complete.\n" : ending, 0), 0u) << where << results[1];
    EXPECT_EQ(results[1].find("No installation record could be kept in " + c.target) != std::string::npos, c.wrote)
        << where << results[1];
  }
}

}  // namespace
