// The fuzz targets' seed corpus and every finding of theirs, replayed through
// the installation as the fuzz target runs it (see fuzz/install_fuzz.cc),
// each in a child: status 0, no signal, a message of the defined set when
// the run was ended, nothing made or changed outside the installation
// directory. A finding goes to fuzz_findings/ (which need not exist while
// there are none), named after the fault, together with its fix.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_attachment.h"
#include "tests/reliability/defined_endings.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/files.h"

namespace {

std::vector<std::string> replay_inputs() {
  std::vector<std::string> paths;
  for (const char* dir : {ZOLT_FUZZ_CORPUS, ZOLT_FUZZ_FINDINGS}) {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
      if (e.is_regular_file()) paths.push_back(e.path().string());
  }
  return paths;
}

TEST(FuzzReplay, CorpusAndFindingsEndInTheDefinedWay) {
  const std::vector<std::string> inputs = replay_inputs();
  ASSERT_GE(inputs.size(), 6u);
  for (const std::string& path : inputs) {
    SCOPED_TRACE(path);
    const std::string input = read_file(path);
    const std::string file =
        fuzz_installer_file(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    TempDir parent;
    const std::string target = parent / "target";
    make_sample_tree(target);
    write_file(parent / "canary", "beside the installation directory");
    const Snapshot around = snapshot(parent.path(), "target");
    ProcessResult r = install_in_child(file, target);
    if (r.err.find(kTerminatedEnding) != std::string::npos) {
      EXPECT_NE(final_message(r.err), "") << r.err;
    }
    Snapshot now = snapshot(parent.path(), "target");
    EXPECT_TRUE(now == around) << snapshot_diff(around, now);
  }
}

}  // namespace
