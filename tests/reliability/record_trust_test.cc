// A record vouches for files only where nobody but the installing user and
// root could have written it: a record forged by the user who owns the
// installation directory, and each way a record may lie open to others.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/reliability/reliability_support.h"
#include "tests/support/files.h"

namespace {

constexpr uid_t kUser = 65534;  // nobody, less privileged than the root who installs
const std::string kUntrusted =
    "The installation record in this directory could have been written by another user: it is not trusted.\n";

ProcessResult run(const std::string& installer, const std::string& dir, bool uninstall = false) {
  ProcessOptions o;
  o.args = {uninstall ? "--uninstall" : "--accept", "--unattended", "--quiet", "--target", dir};
  o.timeout_seconds = 20;
  return run_process(installer, o);
}

TEST(RecordTrust, ARecordForgedByTheDirectorysOwnerRemovesNothing) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: another user owns the installation directory";
  TempDir work;
  const std::string dir = work / "target";
  std::filesystem::create_directories(dir);
  ASSERT_EQ(chown(dir.c_str(), kUser, kUser), 0);
  TestHeader other;
  other.product_name = "OTHER";
  write_installer(work / "other", {{"bin/q", ENTRY_STORED, "another product's", ""}}, other);
  write_installer(work / "v2", {{"lib/q", ENTRY_STORED, "a stale copy's namesake", ""}});
  ASSERT_EQ(run(work / "other", dir).exit_status, 0);
  // The user's own record where root's would be, naming a file they cannot
  // remove, with its identity as lstat and its CRC give it.
  write_record(dir, {"bin/q"});
  ASSERT_EQ(system(("chown -R 65534:65534 '" + dir + "/.zolt-setup'").c_str()), 0);

  ProcessResult r = run(work / "v2", dir, true);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err.rfind(kUntrusted, 0), 0u) << r.err;
  r = run(work / "v2", dir);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.err.find("No installation record is kept in " + dir + ", as another user could have written it"),
            std::string::npos) << r.err;
  EXPECT_EQ(read_file(dir + "/bin/q"), "another product's");
}

TEST(RecordTrust, ARecordOpenToOthersIsNotTrusted) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: objects of another user";
  struct Case {
    std::string path;  // below the installation directory
    uid_t owner;
    mode_t mode;
    bool trusted;
  } cases[] = {
      {"", kUser, 0755, false},  {"", 0, 0777, false},
      {".zolt-setup", 0, 0775, false}, {".zolt-setup", kUser, 0755, false},
      {".zolt-setup/QUMBA.list", 0, 0646, false}, {".zolt-setup/QUMBA.list", kUser, 0644, false},
      {"", 0, 01777, true},  // others may add names, but rename only their own
  };
  TempDir work;
  write_installer(work / "v1", {{"a", ENTRY_STORED, "1", ""}});
  for (const Case& c : cases) {
    const std::string dir = work / "target", path = dir + "/" + c.path, where = c.path + " " + std::to_string(c.mode);
    std::filesystem::remove_all(dir);
    ASSERT_EQ(run(work / "v1", dir).exit_status, 0) << where;
    ASSERT_EQ(chown(path.c_str(), c.owner, c.owner) | chmod(path.c_str(), c.mode), 0) << where;
    ProcessResult r = run(work / "v1", dir, true);
    EXPECT_EQ(r.exit_status, c.trusted ? 0 : 1) << where << r.err;
    EXPECT_EQ(r.err.rfind(kUntrusted, 0) == 0, !c.trusted) << where << r.err;
    EXPECT_EQ(path_exists(dir + "/a"), !c.trusted) << where;
  }
}

}  // namespace
