// Whole installations under valgrind's memcheck: no invalid access, no use of
// uninitialised memory, nothing leaked. The program run is zolt-setup linked
// from the same objects, but dynamically and with its symbols: valgrind
// cannot take over malloc in the static, stripped zolt-setup, and reports
// false positives inside a static C library.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "archive/format.h"
#include "tests/reliability/defined_endings.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/files.h"

namespace {

class Memcheck : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(ZOLT_SANITIZED_BUILD) || !defined(ZOLT_MEMCHECK_BINARY)
    GTEST_SKIP() << "memcheck runs in the build without sanitizers";
#else
    if (access(ZOLT_VALGRIND, X_OK) != 0) GTEST_SKIP() << "valgrind is not installed";
#endif
  }

  // Runs `installer` under memcheck with `input`; valgrind's own report is
  // the part of standard error that its lines (==pid==) make up.
  ProcessResult run(const std::string& installer, const std::string& input) {
    ProcessOptions o;
    o.args = {"--error-exitcode=99", "--leak-check=full", "--show-leak-kinds=definite,indirect,possible",
              "--errors-for-leak-kinds=definite,indirect,possible", "--track-fds=no", "-q", installer};
    o.input = input;
    o.timeout_seconds = 120;
    return run_process(ZOLT_VALGRIND, o);
  }

  std::string image() {
#ifdef ZOLT_MEMCHECK_BINARY
    return read_file(ZOLT_MEMCHECK_BINARY);
#else
    return "";
#endif
  }

  TempDir parent;
  std::string installer = parent / "setup";
  std::string target = parent / "target";
};

TEST_F(Memcheck, InstallReinstallAndAFailure) {
  const std::string answers = "n\na\nn\n" + target + "\nn\n";
  write_file(installer, build_installer(image(), TestHeader(), sample_entries()), 0755);
  // Into a new directory, then again over what is there now.
  ProcessResult r = run(installer, answers + "n\n");
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.err.find("Installation complete."), std::string::npos) << r.err;
  EXPECT_EQ(read_file(target + "/doc/readme.txt"), std::string(300, 'r'));
  r = run(installer, answers + "n\nn\n");
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.err.find("Installation complete."), std::string::npos) << r.err;

  // A damaged fourth entry ends the run from inside the installation.
  std::string bytes = read_file(installer);
  std::vector<EntrySpan> spans = entry_spans(bytes);
  bytes[spans[3].data] ^= 1;
  write_file(installer, bytes, 0755);
  r = run(installer, answers + "n\nn\n");
  EXPECT_EQ(r.exit_status, 1) << r.err;
  EXPECT_EQ(final_message(r.err), "Corrupted file(s) (err=4).") << r.err;
}

}  // namespace
