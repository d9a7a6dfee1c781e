// The aarch64 installer under qemu-aarch64-static beside the native one: made
// from the same tree or attachment, both must write the same dialogue byte for
// byte (pages, progress line, messages) and leave the same files. Skipped
// where the build made no aarch64 stub or qemu is missing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <tuple>

#include "tests/pack/pack_support.h"
#include "tests/support/files.h"
#include "tests/support/installer_builder.h"

namespace {

TEST(Aarch64Installer, InstallsAndRefusesAsTheNativeOne) {
  if (access(ZOLT_SETUP_AARCH64, X_OK) != 0 || !*ZOLT_QEMU_AARCH64)
    GTEST_SKIP() << "no aarch64 stub in this build (aarch64-linux-gnu-g++) or no qemu-aarch64-static";
  TempDir temp;
  // The sample with a link, made by its own system calls on each machine.
  const std::string sample = temp / "qumba", native = ZOLT_NATIVE_ARCH;
  std::filesystem::copy(ZOLT_SOURCE_DIR "/examples/qumba", sample, std::filesystem::copy_options::recursive);
  std::filesystem::create_symlink("QUMBA.HTM", sample + "/index.htm");
  for (const std::string& arch : {std::string("aarch64"), native})
    ASSERT_EQ(run_pack({"create", "-q", "--product", "QUMBA", "--version", "7.1", "--arch", arch, "--platform",
                        "Linux aarch64", "--build-time", "1683062507", "-o", temp / ("sample-" + arch), sample}).exit_status, 0);
  // The sample's smaller installer is the -lh5- one.
  EXPECT_NE(run_pack({"list", temp / "sample-aarch64"}).out.find(" lh5 "), std::string::npos);
  // Fixed times: the two runs may lie seconds apart on a loaded machine.
  std::vector<TestEntry> damaged{{"a.txt", ENTRY_STORED, "complete", "", 1683062507},
                                 {"b.txt", ENTRY_STORED, "right", "wrong", 1683062507}};
  write_file(temp / "damaged-aarch64", build_installer(read_file(ZOLT_SETUP_AARCH64), TestHeader(), damaged), 0755);
  write_file(temp / ("damaged-" + native), build_installer(read_file(setup_binary()), TestHeader(), damaged), 0755);

  for (const auto& [kind, ending, status] :
       {std::tuple{"sample", "Installation complete.", 0}, {"damaged", "(err=5).", 1}}) {
    std::string err[2];
    std::map<std::string, FileState> tree[2];
    for (int emulated : {0, 1}) {
      std::filesystem::remove_all(temp / "dir");
      std::string installer = temp / (kind + ("-" + (emulated ? std::string("aarch64") : native)));
      ProcessOptions o;
      o.input = "n\na\nn\n" + temp / "dir" + "\nn\nn\n";
      o.timeout_seconds = 240;
      if (emulated) o.args = {installer};
      ProcessResult r = run_process(emulated ? ZOLT_QEMU_AARCH64 : installer, o);
      EXPECT_EQ(r.exit_status, status) << installer;
      err[emulated] = r.err;
      tree[emulated] = snapshot_tree(temp / "dir");
    }
    EXPECT_NE(err[1].find(ending), std::string::npos) << err[1];
    EXPECT_EQ(err[1], err[0]) << kind;
    EXPECT_EQ(tree[1], std::string(kind) == "sample" ? snapshot_tree(sample) : tree[0]) << kind;
  }
  // Unattended: the options are parsed by the emulated stub itself.
  ProcessOptions o;
  o.args = {temp / "sample-aarch64", "--target", temp / "unattended", "--accept-licence", "--quiet"};
  o.timeout_seconds = 240;
  ProcessResult r = run_process(ZOLT_QEMU_AARCH64, o);
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err, "Installation complete.\n");
  EXPECT_EQ(snapshot_tree(temp / "unattended"), snapshot_tree(sample));
}

}  // namespace
