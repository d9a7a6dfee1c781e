// The real zolt-setup installing an attachment, driven through its dialogue.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "archive/format.h"
#include "tests/support/files.h"
#include "tests/support/installer_builder.h"
#include "tests/support/process.h"

namespace {

// Answers for a directory outside /usr/ and /home/: Next, Accept, no default,
// the path, insist despite the place warning, [Next on the existing-directory
// warning,] Next on the files-installed notice.
std::string answers_for(const std::string& dir, bool exists) {
  return "n\na\nn\n" + dir + "\nn\n" + (exists ? "n\n" : "") + "n\n";
}

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

ProcessResult run_installer(const std::string& installer, const std::string& input) {
  ProcessOptions o;
  o.input = input;
  ProcessResult r = run_process(installer, o);
  EXPECT_EQ(r.exit_status, ends_with(r.err, "Installation terminated.\n") ? 1 : 0);
  EXPECT_EQ(r.out, "");
  return r;
}

TEST(InstallEndToEnd, InstallsThenReinstallsOverTheSameTree) {
  TempDir tmp;
  TestEntry header;
  header.name = "include/qumba.h";
  header.data = "int qumba(void);\n";
  header.mod_time = 1683062507;
  header.mode = 0100644;
  TestEntry packed;
  packed.name = "lib/aaaa";
  packed.type = ENTRY_COMPRESSED;
  packed.data = "AAAA";
  packed.stored = std::string("\x00\x02\x20\x04\x30\x10\xB6\x55\x40\x10", 10);
  packed.mod_time = 1683062507;
  packed.mode = 0100755;
  write_installer(tmp / "setup", {header, packed});

  std::string target = tmp / "qumba";
  ProcessResult first = run_installer(tmp / "setup", answers_for(target, false));
  EXPECT_NE(first.err.find("\n\n.... Installing files ....\n\n"), std::string::npos);
  EXPECT_NE(first.err.find("  0%  80%  include/qumba.h "), std::string::npos) << first.err;
  EXPECT_NE(first.err.find(" 50% 100%  lib/aaaa "), std::string::npos);
  EXPECT_TRUE(ends_with(first.err, "\n\nInstallation complete.\n\n"));
  EXPECT_EQ(read_file(target + "/include/qumba.h"), header.data);
  EXPECT_EQ(read_file(target + "/lib/aaaa"), "AAAA");
  struct stat st;
  ASSERT_EQ(stat((target + "/lib/aaaa").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  EXPECT_EQ(st.st_mtime, 1683062507);

  // Into the directory that now exists: the warning page, then the same
  // files, the user's edit kept beside them.
  write_file(target + "/include/qumba.h", "edited by the user");
  ProcessResult second = run_installer(tmp / "setup", answers_for(target, true));
  EXPECT_NE(second.err.find("already exists!"), std::string::npos);
  EXPECT_TRUE(ends_with(second.err, "\n\nInstallation complete.\n\nReplaced, changed since it was installed; your copy is "
                                    "kept as: " + target + "/include/qumba.h.zolt-old\n")) << second.err;
  EXPECT_EQ(read_file(target + "/include/qumba.h"), header.data);
  EXPECT_EQ(read_file(target + "/include/qumba.h.zolt-old"), "edited by the user");
}

TEST(InstallEndToEnd, ADamagedEntryChangesNothingAndEndsWithStatusOne) {
  TempDir tmp;
  TestEntry a;
  a.name = "a.txt";
  a.data = "first";
  TestEntry b = a;
  b.name = "b.txt";
  std::string bytes = build_installer(read_file(setup_binary()), TestHeader(), {a, b});
  bytes.back() ^= 0x20;  // the last byte of b's stored data
  write_file(tmp / "setup", bytes, 0755);
  ProcessResult r = run_installer(tmp / "setup", answers_for(tmp / "t", false));
  EXPECT_TRUE(ends_with(r.err, ".... Installing files ....\n\nCorrupted file(s) (err=4).\n\n\nInstallation terminated.\n"))
      << r.err;
  EXPECT_FALSE(path_exists(tmp / "t/a.txt")) << "the whole attachment is checked first";
  EXPECT_FALSE(path_exists(tmp / "t/b.txt"));
}

}  // namespace
