// The program as a whole: help, version, usage errors, and the raw stream
// commands.
#include <gtest/gtest.h>

#include <string>

#include "tests/pack/pack_support.h"
#include "tests/support/files.h"

namespace {

TEST(Commands, HelpForEachSubcommandGoesToStdout) {
  for (const char* command : {"create", "list", "verify", "extract", "encode", "decode"}) {
    SCOPED_TRACE(command);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {command, "--help"}, {command, "-h"}, {"help", command}, {command, "x", "--help"}}) {
      ProcessResult r = run_pack(args);
      EXPECT_EQ(r.exit_status, 0);
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.out.rfind(std::string("Usage: zolt-pack ") + command, 0), 0u) << r.out;
      EXPECT_NE(r.out.find("--help"), std::string::npos);
    }
  }
  ProcessResult r = run_pack({"--help"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_NE(r.out.find("  create   pack a directory tree into an installer\n"), std::string::npos) << r.out;
}

TEST(Commands, VersionAndUsageErrors) {
  ProcessResult r = run_pack({"--version"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out.rfind("zolt-pack ", 0), 0u);
  EXPECT_EQ(r.err, "");

  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  for (const Case& c : std::vector<Case>{
           {{}, "zolt-pack: no command given\nTry 'zolt-pack --help' for more information.\n"},
           {{"pack"}, "zolt-pack: unknown command 'pack'\nTry 'zolt-pack --help' for more information.\n"},
           {{"--frob"}, "zolt-pack: unknown option '--frob'\nTry 'zolt-pack --help' for more information.\n"},
           {{"list"}, "zolt-pack: list: no installer named\nTry 'zolt-pack list --help' for more information.\n"},
           {{"verify", "a", "b"},
            "zolt-pack: verify: one installer at a time\nTry 'zolt-pack verify --help' for more information.\n"},
           {{"extract", "a.run"},
            "zolt-pack: extract: no directory named: give -C DIR\nTry 'zolt-pack extract --help' for more "
            "information.\n"},
           {{"decode"},
            "zolt-pack: decode: the decoded size is required: give --size N\nTry 'zolt-pack decode --help' for more "
            "information.\n"},
       }) {
    ProcessResult u = run_pack(c.args);
    EXPECT_EQ(u.exit_status, 2);
    EXPECT_EQ(u.err, c.err);
    EXPECT_EQ(u.out, "");
  }
}

TEST(Commands, EncodeAndDecodeRoundTrip) {
  TempDir temp;
  std::string data;
  for (int i = 0; i < 5000; i++) data += "row " + std::to_string(i % 300) + ";";
  data += random_bytes(20000, 9);
  write_file(temp / "in", data);
  ProcessResult e = run_pack({"encode", "-o", temp / "stream", temp / "in"});
  ASSERT_EQ(e.exit_status, 0) << e.err;
  std::string stream = read_file(temp / "stream");
  EXPECT_LT(stream.size(), data.size());
  // Standard input and output are the defaults.
  ProcessOptions piped;
  piped.args = {"decode", "--size=" + std::to_string(data.size())};
  piped.input = stream;
  ProcessResult d = run_process(zolt_pack_binary(), piped);
  ASSERT_EQ(d.exit_status, 0) << d.err;
  EXPECT_TRUE(d.out == data);
  // An empty input is one stream too: seven bytes.
  ProcessOptions empty;
  empty.args = {"encode"};
  ProcessResult z = run_process(zolt_pack_binary(), empty);
  EXPECT_EQ(z.exit_status, 0);
  EXPECT_EQ(z.out, std::string("\0\0\0\0\0\0\0", 7));
  ProcessResult missing = run_pack({"encode", temp / "nothing"});
  EXPECT_EQ(missing.exit_status, 1);
  EXPECT_EQ(missing.err, "zolt-pack: " + temp / "nothing" + ": cannot open: No such file or directory\n");
}

TEST(Commands, DecodeReportsAStreamThatIsNoCode) {
  TempDir temp;
  // A block head that announces codes whose lengths are no complete code.
  write_file(temp / "bad", std::string(64, '\xff'));
  ProcessResult d = run_pack({"decode", "--size", "100000", "-o", temp / "out", temp / "bad"});
  EXPECT_EQ(d.exit_status, 1);
  EXPECT_NE(d.err.find(temp / "bad" + ": not a valid stream"), std::string::npos) << d.err;
  EXPECT_FALSE(path_exists(temp / "out"));
}

}  // namespace
