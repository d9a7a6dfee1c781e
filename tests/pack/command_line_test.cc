// The option parser and the defaults of create, in process.
#include "pack/command_line.h"

#include <gtest/gtest.h>

#include <string>

#include "pack/create_options.h"
#include "pack/failure.h"

namespace {

const std::vector<OptionDecl> DECLS = {
    {"output", 'o', true, 1}, {"quiet", 'q', false, 2}, {"size", 0, true, 3}, {nullptr, 'j', true, 4}};

std::string usage_message(const std::vector<std::string>& args) {
  try {
    parse_command_line("test", args, DECLS);
  } catch (const UsageError& e) {
    EXPECT_EQ(e.command, "test");
    return e.what();
  }
  return "";
}

TEST(CommandLine, AcceptsEverySpellingOfAValue) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{{"--output=F", "x"},
                                                                                    {"--output", "F", "x"},
                                                                                    {"-o", "F", "x"},
                                                                                    {"-oF", "x"},
                                                                                    {"x", "--output", "F"},
                                                                                    {"--out=F", "x"}}) {
    ParsedCommandLine cl = parse_command_line("test", args, DECLS);
    ASSERT_EQ(cl.options.size(), 1u);
    EXPECT_EQ(cl.options[0].id, 1);
    EXPECT_EQ(cl.options[0].value, "F");
    EXPECT_EQ(cl.operands, std::vector<std::string>{"x"});
  }
}

TEST(CommandLine, KeepsOrderAndStopsAtDoubleDash) {
  ParsedCommandLine cl = parse_command_line("test", {"-q", "a", "-j3", "--", "-o", "--quiet"}, DECLS);
  ASSERT_EQ(cl.options.size(), 2u);
  EXPECT_EQ(cl.options[0].spelling, "-q");
  EXPECT_EQ(cl.options[1].spelling, "-j");
  EXPECT_EQ(cl.options[1].value, "3");
  EXPECT_EQ(cl.operands, (std::vector<std::string>{"a", "-o", "--quiet"}));
  // A value may look like an option.
  cl = parse_command_line("test", {"--output", "-q"}, DECLS);
  EXPECT_EQ(cl.options[0].value, "-q");
}

TEST(CommandLine, NamesTheOptionInEveryMistake) {
  EXPECT_EQ(usage_message({"--nope"}), "unknown option '--nope'");
  EXPECT_EQ(usage_message({"--nope=1"}), "unknown option '--nope'");
  EXPECT_EQ(usage_message({"-x"}), "unknown option '-x'");
  EXPECT_EQ(usage_message({"--quiet=1"}), "option '--quiet' takes no value");
  EXPECT_EQ(usage_message({"--size"}), "option '--size' needs a value");
  EXPECT_EQ(usage_message({"a", "-o"}), "option '-o' needs a value");
}

TEST(CommandLine, CountsAreStrict) {
  EXPECT_EQ(parse_count("c", "-j", "0", 10), 0u);
  EXPECT_EQ(parse_count("c", "-j", "10", 10), 10u);
  EXPECT_EQ(parse_count("c", "--space", "4294967295", UINT32_MAX), 4294967295u);
  for (const char* bad : {"", "-1", "+1", " 1", "1 ", "1k", "0x10", "11", "99999999999999999999999"})
    EXPECT_THROW(parse_count("c", "-j", bad, 10), UsageError) << bad;
}

TEST(CreateDefaults, FollowFromProductVersionAndEnvironment) {
  CreateOptions o = parse_create_options({"--product", "QUMBA", "--version", "7.1", "tree"}, nullptr, 1683062507);
  EXPECT_EQ(o.directory, "tree");
  EXPECT_EQ(o.platform, machine_platform());
  EXPECT_EQ(o.output, default_installer_name("QUMBA", "7.1", machine_platform()));
  EXPECT_EQ(o.build_time, 1683062507);
  EXPECT_FALSE(o.has_source_date_epoch);
  EXPECT_GE(o.jobs, 1u);
  EXPECT_EQ(o.stub.substr(o.stub.rfind('/')), zstd_available() ? "/zolt-setup-zstd" : "/zolt-setup");
  EXPECT_EQ(o.zstd, zstd_available());
  // The method and its level; -N is --level=N, and -lh5- packs with the stub
  // that has no Zstandard.
  o = parse_create_options({"--product=Q", "--version=1", "--method", "lh5", "tree"}, nullptr, 0);
  EXPECT_FALSE(o.zstd);
  EXPECT_EQ(o.stub.substr(o.stub.rfind('/')), "/zolt-setup");
  EXPECT_THROW(parse_create_options({"--product=Q", "--version=1", "--method=lh5", "-9", "tree"}, nullptr, 0),
               UsageError);
  EXPECT_THROW(parse_create_options({"--product=Q", "--version=1", "--method=xz", "tree"}, nullptr, 0), UsageError);
  if (zstd_available()) {
    EXPECT_EQ(parse_create_options({"--product=Q", "--version=1", "-3", "tree"}, nullptr, 0).level, 3);
    EXPECT_EQ(parse_create_options({"--product=Q", "--level=22", "--version=1", "tree"}, nullptr, 0).level, 22);
    EXPECT_EQ(parse_create_options({"--product=Q", "--version=1", "--", "-3"}, nullptr, 0).directory, "-3");
    for (const char* bad : {"-0", "-23", "--level=x"})
      EXPECT_THROW(parse_create_options({"--product=Q", "--version=1", bad, "tree"}, nullptr, 0), UsageError) << bad;
  }

  o = parse_create_options({"--product=Q", "--version=1", "tree"}, "1700000000", 1683062507);
  EXPECT_TRUE(o.has_source_date_epoch);
  EXPECT_EQ(o.build_time, 1700000000);
  o = parse_create_options({"--product=Q", "--version=1", "--build-time=5", "tree"}, "1700000000", 1683062507);
  EXPECT_EQ(o.build_time, 5);
  EXPECT_EQ(o.source_date_epoch, 1700000000);  // still clamps file times
  o = parse_create_options({"--product=Q", "--version=1", "tree"}, "", 1683062507);
  EXPECT_FALSE(o.has_source_date_epoch);
  EXPECT_THROW(parse_create_options({"--product=Q", "--version=1", "tree"}, nullptr, int64_t(INT32_MAX) + 1),
               UsageError);
}

TEST(CreateDefaults, InstallerNameIsLowerCaseWithDashes) {
  EXPECT_EQ(default_installer_name("QUMBA", "7.1", "Linux x86_64"), "qumba-7.1-linux-x86_64.run");
  EXPECT_EQ(default_installer_name("Qumba Lib", "7.1/beta 2", "Linux\tx86"), "qumba-lib-7.1-beta-2-linux-x86.run");
}

TEST(CreateDefaults, DeletionsKeepOrderWithoutRepeats) {
  CreateOptions o = parse_create_options(
      {"--product=Q", "--version=1", "--delete=b", "--delete", "a/x.h", "--delete=b", "tree"}, nullptr, 1);
  EXPECT_EQ(o.deletions, (std::vector<std::string>{"b", "a/x.h"}));
  EXPECT_EQ(deletion_name_problem("a/..b/c"), "");
  EXPECT_NE(deletion_name_problem("a/../c"), "");
  EXPECT_NE(deletion_name_problem(".."), "");
  EXPECT_NE(deletion_name_problem(""), "");
  EXPECT_NE(deletion_name_problem(std::string(4091, 'n')), "");
  EXPECT_EQ(deletion_name_problem(std::string(4090, 'n')), "");
}

}  // namespace
