// Properties of the built zolt-setup file itself.
#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "archive/format.h"
#include "tests/support/files.h"
#include "tests/support/installer_builder.h"

namespace {

TEST(SetupBinary, DoesNotContainTheMarker) {
  std::string image = read_file(setup_binary());
  uint8_t marker[MARKER_SIZE];
  make_marker(marker);
  std::string m(reinterpret_cast<char*>(marker), MARKER_SIZE);
  EXPECT_EQ(image.find(m), std::string::npos);
  // Not even the part behind the altered character.
  EXPECT_EQ(image.find(m.substr(MARKER_ALTERED_INDEX - 4, 40)), std::string::npos);
}

#ifndef ZOLT_SANITIZED_BUILD
TEST(SetupBinary, IsStaticallyLinked) {
  std::string image = read_file(setup_binary());
  ASSERT_GE(image.size(), sizeof(Elf64_Ehdr));
  Elf64_Ehdr eh;
  memcpy(&eh, image.data(), sizeof eh);
  ASSERT_EQ(memcmp(eh.e_ident, ELFMAG, SELFMAG), 0);
  for (int i = 0; i < eh.e_phnum; i++) {
    Elf64_Phdr ph;
    memcpy(&ph, image.data() + eh.e_phoff + size_t(i) * eh.e_phentsize, sizeof ph);
    EXPECT_NE(ph.p_type, uint32_t(PT_INTERP)) << "needs a dynamic loader";
    EXPECT_NE(ph.p_type, uint32_t(PT_DYNAMIC)) << "has dynamic sections";
  }
}
#endif

}  // namespace
