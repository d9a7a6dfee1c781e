// Start-up through the real binary: opening its own file, locating and
// checking the attachment, the volume field.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "archive/format.h"
#include "installer/startup.h"
#include "tests/support/files.h"
#include "tests/support/installer_builder.h"
#include "tests/support/process.h"

namespace {

const std::string kEnding = "\n\nInstallation terminated.\n";

ProcessResult run_setup(const std::string& path, ProcessOptions options = {}) {
  ProcessResult r = run_process(path, options);
  // Every run here ends early: by a failure, or by input that ended.
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, "") << "standard output is never written";
  return r;
}

TEST(Startup, BareInstallerHasNoAttachment) {
  EXPECT_EQ(run_setup(setup_binary()).err, "Can't find attachments (3).\n" + kEnding);
}

// argv[0] is the caller's choice: a name that does not exist, or a planted
// file or a FIFO of that name in the working directory (a bare name started
// through PATH), never takes the place of the installer's own file.
TEST(Startup, Argv0IsNotTheFileItReads) {
  TempDir dir;
  write_installer(dir / "setup", {});
  write_file(dir / "planted", build_installer(read_file(setup_binary()), TestHeader(), {}).substr(0, 2000), 0755);
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
  ProcessOptions o;
  o.cwd = dir.path();
  o.timeout_seconds = 20;
  for (const char* argv0 : {"/nonexistent/zolt-setup", "planted", "fifo"}) {
    o.argv0 = argv0;
    ProcessResult r = run_setup(dir / "setup", o);
    EXPECT_FALSE(r.timed_out) << argv0;
    EXPECT_EQ(r.err.find("Can't find"), std::string::npos) << argv0 << ": " << r.err;
  }
}

// Started by bare name through PATH from a directory holding a planted
// installer of that name: one that its user may run but not read ends with
// err=1, nothing else is read in its place; without /proc it finds its own
// file through the path the kernel executed.
TEST(Startup, OwnFileOnlyThroughTheKernel) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: another user, a mount namespace";
  TempDir dir;
  chmod(dir.path().c_str(), 0755);
  mkdir((dir / "bin").c_str(), 0755);
  write_installer(dir / "bin/setup", {});
  chmod((dir / "bin/setup").c_str(), 0711);
  write_installer(dir / "setup", {});
  ProcessOptions o;
  o.cwd = dir.path();
  o.args = {"--reuid=65534", "--regid=65534", "--clear-groups", "env", "PATH=" + dir / "bin", "setup"};
  EXPECT_EQ(run_setup("/usr/bin/setpriv", o).err, "Can't find attachments (err=1).\n" + kEnding);
  remove((dir / "setup").c_str());
  o.args = {"-m", "sh", "-c", "mount -t tmpfs none /proc && PATH=" + dir / "bin" + " exec setup"};
  ProcessResult r = run_setup("/usr/bin/unshare", o);
  EXPECT_EQ(r.err.find("Can't find"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Let's install"), std::string::npos) << r.err;
}

TEST(Startup, RelativeAbsoluteAndLinkedPathsFindTheAttachment) {
  TempDir dir;
  write_installer(dir / "setup", {});
  ASSERT_EQ(symlink((dir / "setup").c_str(), (dir / "link").c_str()), 0);
  ProcessOptions o;
  o.input = "";
  for (const std::string& argv0 : std::vector<std::string>{"./setup", "link", dir / "setup"}) {
    o.argv0 = argv0;
    o.cwd = dir.path();
    ProcessResult r = run_setup(dir / "setup", o);
    EXPECT_EQ(r.err.find("Can't find"), std::string::npos) << argv0 << ": " << r.err;
  }
}

TEST(Startup, DamagedHeaderAndWrongVolume) {
  TempDir dir;
  std::string good = build_installer(read_file(setup_binary()), TestHeader(), {});
  size_t at = good.size() - HEADER_SIZE;
  std::string bad = good;
  bad[at + HEADER_SPACE_REQUIRED] ^= 0x40;
  write_file(dir / "bad", bad, 0755);
  EXPECT_EQ(run_setup(dir / "bad").err, "Attachments corrupted (3).\n" + kEnding);

  // A volume other than -1 with a correct CRC: the header is rebuilt around it.
  std::string vol = good;
  put_u32(reinterpret_cast<uint8_t*>(vol.data()) + at + HEADER_VOLUME, 0);
  std::string block = vol.substr(at, HEADER_SIZE);
  block[HEADER_CRC] = block[HEADER_CRC + 1] = 0;
  put_u16(reinterpret_cast<uint8_t*>(vol.data()) + at + HEADER_CRC, test_crc16(block));
  write_file(dir / "vol", vol, 0755);
  ProcessOptions o;
  o.args = {"-autonext"};  // the attachment is judged before the options
  EXPECT_EQ(run_setup(dir / "vol", o).err, "Can't find attachments (err=2).\n" + kEnding);
}

TEST(Startup, TruncatedInstallerIsNotFound) {
  TempDir dir;
  std::string good = build_installer(std::string(100, 'i'), TestHeader(), {});
  write_file(dir / "short", read_file(setup_binary()) + good.substr(0, 1024 + 1000), 0755);
  EXPECT_EQ(run_setup(dir / "short").err, "Can't find attachments (3).\n" + kEnding);
}

TEST(Autonext, ExactMatchInAnyPosition) {
  auto check = [](std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    return find_autonext(int(argv.size()), argv.data());
  };
  EXPECT_EQ(check({"setup"}), 0);
  EXPECT_EQ(check({"setup", "-autonext"}), 1);
  EXPECT_EQ(check({"-autonext"}), 1) << "argv[0] counts";
  EXPECT_EQ(check({"setup", "x", "y", "-autonext"}), 1);
  for (const char* near : {"--autonext", "-Autonext", "-AUTONEXT", "-autonex", "-autonextx", "autonext", "-", ""})
    EXPECT_EQ(check({"setup", near}), 0) << near;
}

}  // namespace
