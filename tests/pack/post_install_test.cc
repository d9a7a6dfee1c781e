// The vendor's post-install step, from create --post-install to the real
// installer running it once the installation is complete.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/pack/pack_support.h"
#include "tests/support/files.h"

namespace {

TEST(PostInstall, RunsOnceInstalledAndReportsAFailureWithoutUndoingAnything) {
  TempDir temp;
  put_file(temp / "tree/bin/tool", "#!/bin/sh\n", 0755, 1683062507);
  const char* writes = "#!/bin/sh\necho \"$1 $ZOLT_INSTALL_DIR $(pwd)\" > ran; read x && echo read >> ran; echo said\n";
  const struct {
    const char* script;
    int status;
    const char* message;  // after "Installation complete."
    bool skipped;         // with --no-post-install
  } cases[] = {
      // Its argument, environment and working directory; standard input is
      // empty when the run is not interactive; its output passes through.
      {writes, 0, "", false},
      {"#!/bin/sh\necho failing >&2\nexit 3\n", 1, "failing\nPost-install step failed (status 3).\n", false},
      {writes, 0, "", true},
  };
  for (const auto& c : cases) {
    std::string target = temp / "installed", installer = temp / "q.run";
    std::filesystem::remove_all(target);
    put_file(temp / "post.sh", c.script, 0644, 1683062507);
    ProcessResult p = run_pack({"create", "-q", "-o", installer, "--product", "QUMBA", "--version", "7.1",
                                "--post-install", temp / "post.sh", temp / "tree"});
    ASSERT_EQ(p.exit_status, 0) << p.err;
    EXPECT_NE(run_pack({"list", installer}).out.find(" post.sh (post-install step"), std::string::npos);
    ProcessOptions o;
    o.input = "n\na\nn\n" + target + "\nn\nn\n";
    if (c.skipped) o.args = {"--no-post-install"};
    ProcessResult r = run_process(installer, o);
    EXPECT_EQ(r.exit_status, c.status) << r.err;
    size_t complete = r.err.find("Installation complete.\n\n");
    ASSERT_NE(complete, std::string::npos) << r.err;
    EXPECT_EQ(r.err.substr(complete + 24), c.message);
    EXPECT_EQ(read_file(target + "/bin/tool"), "#!/bin/sh\n");  // never undone
    EXPECT_FALSE(std::filesystem::exists(target + "/post.sh"));
    EXPECT_EQ(std::filesystem::exists(target + "/ran"), c.script == writes && !c.skipped);
    if (c.script == writes && !c.skipped) {
      EXPECT_EQ(read_file(target + "/ran"), target + " " + target + " " + target + "\n");
      EXPECT_EQ(r.out, "said\n");
    }
  }
}

}  // namespace
