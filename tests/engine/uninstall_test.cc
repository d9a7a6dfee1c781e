// Removing an installed product: its unchanged files and the directories it
// made go, whatever a user or another product changed stays and is named.
#include "engine/ownership/uninstall.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/install/extraction.h"

#include "tests/reliability/reliability_support.h"
#include "tests/support/files.h"

namespace {

void collect(void* context, const char* path) { static_cast<std::vector<std::string>*>(context)->push_back(path); }

TEST(Uninstall, RemovesWhatIsUnchangedAndKeepsTheRest) {
  TempDir tmp;
  const std::string dir = tmp / "target";
  TestHeader other;
  other.product_name = "OTHER";
  for (const auto& [entries, header] : {std::pair{std::vector<TestEntry>{{"d/one", ENTRY_STORED, "1", ""},
                                                                          {"d/two", ENTRY_STORED, "2", ""},
                                                                          {"e/f/three", ENTRY_STORED, "3", ""},
                                                                          {"mine/x", ENTRY_STORED, "x", ""},
                                                                          {"top", ENTRY_STORED, "t", ""}},
                                                   TestHeader()},
                                         std::pair{std::vector<TestEntry>{{"theirs", ENTRY_STORED, "o", ""}}, other}})
    ASSERT_EQ(install_in_child(stub_installer(entries, header), dir).exit_status, 0);
  write_file(dir + "/d/two", "edited");  // same size, other bytes
  write_file(dir + "/mine/users.txt", "the user's");
  std::vector<std::string> kept;
  UninstallResult result;
  EngineFailure failure;
  ASSERT_EQ(uninstall_product(dir.c_str(), "QUMBA", collect, &kept, &result, &failure), 0) << failure_message(failure.code);
  EXPECT_EQ(kept, std::vector<std::string>{"d/two"});
  EXPECT_EQ(result.removed, 6u);  // four files, then e/f and e; d and mine hold what stays
  EXPECT_EQ(result.kept, 1u);
  EXPECT_EQ(read_file(dir + "/d/two"), "edited");
  EXPECT_EQ(read_file(dir + "/mine/users.txt"), "the user's");
  EXPECT_EQ(read_file(dir + "/theirs"), "o");
  for (const char* gone : {"/d/one", "/e", "/mine/x", "/top", "/.zolt-setup/QUMBA.list"})
    EXPECT_FALSE(path_exists(dir + gone)) << gone;
  // Nothing of the product is recorded any more; the other product's record
  // stays until it goes too, and then the record directory with it.
  EXPECT_EQ(uninstall_product(dir.c_str(), "QUMBA", nullptr, nullptr, &result, &failure), -1);
  EXPECT_EQ(failure.code, FAILURE_NOT_RECORDED);
  ASSERT_EQ(uninstall_product(dir.c_str(), "OTHER", nullptr, nullptr, &result, &failure), 0);
  EXPECT_FALSE(path_exists(dir + "/.zolt-setup"));
}

// A run killed after it made its directories: the record written before its
// first change claims them, so an uninstall clears them.
TEST(Uninstall, ClearsTheDirectoriesOfAKilledUpgrade) {
  TempDir tmp;
  const std::string dir = tmp / "target";
  ASSERT_EQ(install_in_child(stub_installer({{"old.txt", ENTRY_STORED, "1", ""}}), dir).exit_status, 0);
  ProcessResult killed = run_in_child([&] {
    Extraction x;
    extraction_init(&x, dir.c_str());
    for (const char* name : {"old.txt", "new/sub/f.txt", "new/g.txt"}) {
      Entry e{};
      e.name = reinterpret_cast<char*>(memcpy(e.record + RECORD_NAME, name, strlen(name) + 1));
      if (extraction_expect(&x, e) != 0) _exit(2);
    }
    EngineFailure failure;
    if (extraction_begin(&x, "QUMBA", &failure) != 0 || mkdir((dir + "/new").c_str(), 0755) != 0) _exit(3);
    _exit(mkdir((dir + "/new/sub").c_str(), 0755));  // as a kill would: no record after the first
  });
  ASSERT_EQ(killed.exit_status, 0) << killed.err;
  const std::string list = read_file(dir + "/.zolt-setup/QUMBA.list");
  for (const std::string made : {"new", "new/sub"}) EXPECT_NE(list.find("\t" + made + '\0'), std::string::npos) << made;
  UninstallResult result;
  EngineFailure failure;
  ASSERT_EQ(uninstall_product(dir.c_str(), "QUMBA", nullptr, nullptr, &result, &failure), 0);
  EXPECT_FALSE(path_exists(dir + "/new"));
}

}  // namespace
