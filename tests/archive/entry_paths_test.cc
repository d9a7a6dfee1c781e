#include "archive/entry_paths.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// One name, and what each rule makes of it.
struct NameCase {
  std::string name;
  int escape, problem;
  size_t directory_part, parent_part;
  const char* file_name;
  const char* base_name;
};

TEST(EntryPaths, EachRuleOverOneTableOfNames) {
  const std::string long_component = "d/" + std::string(NAME_COMPONENT_MAX + 1, 'c');
  const std::string longest_component = "d/" + std::string(NAME_COMPONENT_MAX, 'c');
  const std::string too_long(ENTRY_NAME_MAX + 1, 'a');
  const NameCase cases[] = {
      {"a/b/c", NAME_INSIDE, ENTRY_NAME_OK, 3, 3, "c", "c"},
      {"a\\b", NAME_INSIDE, ENTRY_NAME_BACKSLASH, 1, 0, "a\\b", "b"},
      {"..\\x", NAME_INSIDE, ENTRY_NAME_BACKSLASH, 2, 0, "..\\x", "x"},
      {"x/", NAME_INSIDE, ENTRY_NAME_NOT_A_FILE, 1, 1, "", "x/"},
      {"a/.", NAME_INSIDE, ENTRY_NAME_NOT_A_FILE, 1, 1, ".", "."},
      {"", NAME_INSIDE, ENTRY_NAME_NOT_A_FILE, 0, 0, "", ""},
      {"/etc/passwd", NAME_ABSOLUTE, ENTRY_NAME_OK, 4, 4, "passwd", "passwd"},
      {"a/../b", NAME_PARENT, ENTRY_NAME_OK, 4, 4, "b", "b"},
      {"../.zolt-setup", NAME_PARENT, ENTRY_NAME_OK, 2, 2, ".zolt-setup", ".zolt-setup"},
      {".zolt-setup", NAME_RECORD_DIRECTORY, ENTRY_NAME_RESERVED, 0, 0, ".zolt-setup", ".zolt-setup"},
      {".zolt-setup/QUMBA.list", NAME_RECORD_DIRECTORY, ENTRY_NAME_RESERVED, 11, 11, "QUMBA.list", "QUMBA.list"},
      {"./.zolt-setup/x", NAME_RECORD_DIRECTORY, ENTRY_NAME_OK, 13, 13, "x", "x"},
      {"a/.zolt-setup/x", NAME_INSIDE, ENTRY_NAME_OK, 13, 13, "x", "x"},
      {".zolt-setup-old/x", NAME_INSIDE, ENTRY_NAME_OK, 15, 15, "x", "x"},
      {longest_component, NAME_INSIDE, ENTRY_NAME_OK, 1, 1, longest_component.c_str() + 2, longest_component.c_str() + 2},
      {long_component, NAME_INSIDE, ENTRY_NAME_LONG_COMPONENT, 1, 1, long_component.c_str() + 2, long_component.c_str() + 2},
      {too_long, NAME_INSIDE, ENTRY_NAME_TOO_LONG, 0, 0, too_long.c_str(), too_long.c_str()},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.name.size() > 40 ? c.name.substr(0, 40) + "..." : c.name);
    const char* name = c.name.c_str();
    EXPECT_EQ(name_escape(name), c.escape);
    EXPECT_EQ(entry_name_problem(name), c.problem);
    EXPECT_EQ(entry_directory_part(name), c.directory_part);
    EXPECT_EQ(entry_parent_part(name), c.parent_part);
    EXPECT_EQ(std::string(entry_file_name(name)), c.file_name);
    EXPECT_EQ(std::string(entry_base_name(name)), c.base_name);
  }
}

TEST(EntryPaths, NormalisingAndComponents) {
  const struct {
    const char* path;
    const char* normal;  // empty: nothing left, or a ".." component
  } normals[] = {{"./a//b/.", "a/b"}, {"a/../b", ""}, {"./.", ""}, {"a", "a"}, {"/a/b/", "a/b"}};
  for (const auto& c : normals) {
    char out[64];
    size_t length = normalize_path(c.path, strlen(c.path), out);
    EXPECT_EQ(std::string(out, length), c.normal) << c.path;
  }
  // Only the first `length` bytes count: the file's own name is no directory.
  EXPECT_TRUE(path_has_component("a/lib/lib", 6, "lib"));
  EXPECT_FALSE(path_has_component("a/lib/lib", 2, "lib"));
  EXPECT_FALSE(path_has_component("a/libx/", 7, "lib"));

  const struct {
    const char* name;
    size_t start, end;
  } lasts[] = {{"a/bc//", 2, 4}, {"///", 0, 0}, {"bc", 0, 2}};
  for (const auto& c : lasts) {
    size_t start, end;
    entry_last_component(c.name, &start, &end);
    EXPECT_EQ(start, c.start) << c.name;
    EXPECT_EQ(end, c.end) << c.name;
  }
  EXPECT_EQ(joined_prefix_length("/opt", 4), 5u);
  EXPECT_EQ(joined_prefix_length("/", 1), 1u);
  EXPECT_TRUE(path_fits(SYSTEM_PATH_SIZE - 1));
  EXPECT_FALSE(path_fits(SYSTEM_PATH_SIZE));
}

TEST(EntryPaths, LinkTargetsResolvedAgainstTheLinksDirectory) {
  const struct {
    const char* name;
    const char* target;
    int escape;
  } cases[] = {
      {"lib/libfoo.so", "libfoo.so.1", LINK_INSIDE},
      {"lib/x", "../y", LINK_INSIDE},
      {"lib/x", "../../y", LINK_CLIMBS_OUT},
      {"./lib//x", "../y", LINK_INSIDE},
      {"./x", "../y", LINK_CLIMBS_OUT},
      {"a/x", "b/../../c", LINK_INSIDE},
      {"x", "a/../../y", LINK_CLIMBS_OUT},
      {"x", "./.", LINK_INSIDE},
      {"a/x", "/etc", LINK_ABSOLUTE},
      {"a", ".zolt-setup", LINK_RECORD_DIRECTORY},
      {"d/a", "../.zolt-setup/lock", LINK_RECORD_DIRECTORY},
      {"a", "d/../x/.././.zolt-setup", LINK_RECORD_DIRECTORY},
      {"d/a", ".zolt-setup", LINK_INSIDE},
      {"a", ".zolt-setupx", LINK_INSIDE},
  };
  for (const auto& c : cases)
    EXPECT_EQ(link_target_escape(c.name, c.target, strlen(c.target)), c.escape) << c.name << " -> " << c.target;
}

}  // namespace
