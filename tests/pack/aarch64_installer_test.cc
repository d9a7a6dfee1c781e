// The aarch64 installer under qemu-aarch64-static, beside the native one:
// made from the same tree or attachment, both must write the same dialogue
// byte for byte (pages, progress line, messages) and install the same files.
// Skipped where the build made no aarch64 stub or qemu is missing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/pack/pack_support.h"
#include "tests/support/files.h"
#include "tests/support/installer_builder.h"

namespace {

struct Outcome {
  std::string err;
  std::map<std::string, FileState> tree;
};

// Runs `installer` (under qemu when `emulated`) into `dir`, emptied first.
Outcome install(const std::string &installer, bool emulated, const std::string &dir) {
  std::filesystem::remove_all(dir);
  ProcessOptions o;
  o.input = "n\na\nn\n" + dir + "\nn\nn\n";
  o.timeout_seconds = 240;
  ProcessResult r;
  if (emulated) {
    o.args = {installer};
    r = run_process(ZOLT_QEMU_AARCH64, o);
  } else {
    r = run_process(installer, o);
  }
  EXPECT_EQ(r.exit_status, 0) << installer;
  return {r.err, snapshot_tree(dir)};
}

class Aarch64Installer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string(ZOLT_SETUP_AARCH64).empty() || access(ZOLT_SETUP_AARCH64, X_OK) != 0)
      GTEST_SKIP() << "no aarch64 stub in this build (aarch64-linux-gnu-g++ missing)";
    if (std::string(ZOLT_QEMU_AARCH64).empty()) GTEST_SKIP() << "qemu-aarch64-static is missing";
  }
  TempDir temp;
};

TEST_F(Aarch64Installer, InstallsTheSampleProductAsTheNativeOneDoes) {
  std::string sample = ZOLT_SOURCE_DIR "/examples/qumba";
  for (const char *arch : {"aarch64", ZOLT_NATIVE_ARCH}) {
    ProcessResult r = run_pack({"create", "-q", "--product", "QUMBA", "--version", "7.1", "--arch", arch, "--platform",
                                "Linux aarch64", "--build-time", "1683062507", "-o", temp / arch, sample});
    ASSERT_EQ(r.exit_status, 0) << r.err;
  }
  Outcome emulated = install(temp / "aarch64", true, temp / "dir");
  Outcome native = install(temp / ZOLT_NATIVE_ARCH, false, temp / "dir");
  EXPECT_NE(emulated.err.find("Installation complete."), std::string::npos) << emulated.err;
  EXPECT_EQ(emulated.err, native.err);
  EXPECT_EQ(emulated.tree, snapshot_tree(sample));
}

TEST_F(Aarch64Installer, RefusesADamagedEntryAsTheNativeOneDoes) {
  std::vector<TestEntry> entries{{"a.txt", ENTRY_STORED, "complete", ""}, {"b.txt", ENTRY_STORED, "right", "wrong"}};
  write_file(temp / "aarch64", build_installer(read_file(ZOLT_SETUP_AARCH64), TestHeader(), entries), 0755);
  write_file(temp / "native", build_installer(read_file(setup_binary()), TestHeader(), entries), 0755);
  Outcome emulated = install(temp / "aarch64", true, temp / "dir");
  Outcome native = install(temp / "native", false, temp / "dir");
  EXPECT_NE(emulated.err.find("Corrupted file(s) (err="), std::string::npos) << emulated.err;
  EXPECT_EQ(emulated.err, native.err);
  EXPECT_EQ(emulated.tree, native.tree);
}

}  // namespace
