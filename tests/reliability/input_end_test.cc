// The real zolt-setup on whole answer scripts cut after every byte: wherever
// standard input ends, the run ends as a Cancel does (status 1, "Installation
// terminated.", nothing on standard output), and the product is installed
// exactly when the answers reached the installation.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "installer/licence_lines.h"
#include "tests/reliability/defined_endings.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/files.h"

namespace {

class InputEnds : public ::testing::Test {
 protected:
  void SetUp() override { write_installer(installer, sample_entries()); }

  struct Script {
    const char* what;
    std::string input;
    size_t installs_from;     // the shortest prefix with which the files get installed
    std::string installed_in;  // where they go
  };

  // Runs every prefix of `s`, and `s` whole, which must complete.
  void run_prefixes(const Script& s) {
    for (size_t n = 0; n <= s.input.size(); n++) {
      SCOPED_TRACE(std::string(s.what) + ", input cut after " + std::to_string(n) + " bytes");
      ProcessOptions o;
      o.input = s.input.substr(0, n);
      o.timeout_seconds = 20;
      ProcessResult r = run_process(installer, o);
      ASSERT_FALSE(r.timed_out);
      ASSERT_EQ(r.exit_status, n == s.input.size() ? 0 : 1);
      ASSERT_EQ(r.out, "");
      const std::string ending = n == s.input.size() ? "\n\nInstallation complete.\n\n" : kTerminatedEnding;
      ASSERT_GE(r.err.size(), ending.size());
      ASSERT_EQ(r.err.substr(r.err.size() - ending.size()), ending);
      if (n >= s.installs_from) {
        ASSERT_EQ(read_file(s.installed_in + "/doc/readme.txt"), std::string(300, 'r'));
        remove_tree(s.installed_in);
        make_sample_tree(existing);
      } else {
        ASSERT_FALSE(path_exists(fresh));
        ASSERT_EQ(read_file(existing + "/doc/readme.txt"), "the previous readme");
      }
    }
  }

  TempDir parent;
  std::string installer = parent / "setup";
  std::string fresh = parent / "fresh";       // does not exist before
  std::string existing = parent / "existing";  // holds the sample tree
};

// Welcome, licence, no default, the path, insist on the place, [Next on the
// existing-directory warning,] Next on the notice.
TEST_F(InputEnds, EveryPrefixOfTheAnswers) {
  make_sample_tree(existing);
  const std::string to_path = "n\na\nn\n";
  run_prefixes({"a new directory", to_path + fresh + "\nn\nn\n", to_path.size() + fresh.size() + 3, fresh});
  run_prefixes(
      {"an existing directory", to_path + existing + "\nn\nn\nn\n", to_path.size() + existing.size() + 5, existing});
  // Back from the warning to the selection, which now offers the directory
  // just chosen; declined, and a new one entered.
  const std::string back = to_path + existing + "\nn\nb\nn\n" + fresh + "\nn\n";
  run_prefixes({"back from the warning", back + "n\n", back.size(), fresh});
}

// Slow display reads a line for each line of the agreement.
TEST_F(InputEnds, EveryPrefixThroughSlowDisplay) {
  make_sample_tree(existing);
  size_t lines = 0;
  while (licence_lines[lines]) lines++;
  const std::string to_path = "n\ns\n" + std::string(lines, '\n') + "a\nn\n";
  run_prefixes({"slow display", to_path + fresh + "\nn\nn\n", to_path.size() + fresh.size() + 3, fresh});
}

// No standard input at all: the descriptor is closed, so that the
// installer's own file is opened on it and the prompts read from that.
TEST_F(InputEnds, StandardInputClosed) {
  ProcessOptions o;
  o.args = {"-c", "exec \"$0\" <&-", installer};
  o.timeout_seconds = 20;
  ProcessResult r = run_process("/bin/sh", o);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.substr(r.err.size() - std::string(kTerminatedEnding).size()), kTerminatedEnding);
}

// Started under the name of a device that never ends, the installer reads its
// own file, not the one argv[0] names.
TEST(InstallerFile, ADeviceWithoutAnEndHoldsNoAttachment) {
  ProcessOptions o;
  o.argv0 = "/dev/zero";
  o.timeout_seconds = 20;
  ProcessResult r = run_process(setup_binary(), o);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(final_message(r.err), "Can't find attachments (3).");
}

}  // namespace
