// Zstandard installers carry their records compressed in record blocks.
// A product with more records than one block holds: the names shrink, every
// tool and the installer give the tree back (extract reads the entries
// twice, so it must come back to the first block), and damage inside a
// block is found before anything is written.
#include <gtest/gtest.h>

#include <string>

#include "archive/format.h"
#include "tests/pack/pack_support.h"
#include "tests/support/files.h"
#include "tests/support/installer_builder.h"

namespace {

TEST(RecordBlocks, TwoBlocksGiveTheTreeBackAndDamageInOneIsFoundFirst) {
  if (zstd_setup_binary().empty()) GTEST_SKIP() << "built without libzstd";
  TempDir temp;
  const std::string tree = temp / "tree", installer = temp / "z.run";
  uint64_t records = 0;
  int files = 0;
  for (; records <= RECORD_BLOCK_MAX + 4096; files++) {
    std::string name = "include/qumba/imaging/section_" + std::to_string(files / 200) +
                       "/filter_with_a_long_descriptive_name_" + std::to_string(files) + ".h";
    put_file(tree + "/" + name, "#define QUMBA_FILTER_" + std::to_string(files) + "\n", 0644, 1683062507);
    records += RECORD_NAME + name.size() + RECORD_NAME_PADDING;
  }
  ASSERT_EQ(run_pack({"create", "-q", "-5", "--product=Q", "--version=1", "-o", installer, tree}).exit_status, 0);
  const std::string bytes = read_file(installer);
  const size_t block = header_offset_for(read_file(zstd_setup_binary()).size()) + HEADER_SIZE;
  auto u32 = [&](size_t at) { return get_u32(reinterpret_cast<const uint8_t*>(bytes.data()) + at); };
  ASSERT_EQ(u32(block + RECORD_ENTRY_TYPE), ENTRY_RECORD_BLOCK);
  EXPECT_LT(bytes.size() - block, records / 4);

  ProcessResult r = run_pack({"verify", installer});
  EXPECT_EQ(r.out.find(": OK, " + std::to_string(files) + " entries"), installer.size()) << r.out << r.err;
  expect_unpacks_as(installer, tree, temp.path());

  const size_t data = block + u32(block + RECORD_LENGTH), stored = u32(block + RECORD_STORED_SIZE);
  const std::string where = "entry 1 of " + std::to_string(files) + ", record at offset " + std::to_string(block);
  for (const auto& [damaged, message] :
       {std::pair{bytes.substr(0, data + stored / 2), "(err=3)."},
        {bytes.substr(0, data + stored / 2) + char(bytes[data + stored / 2] ^ 0x10) + bytes.substr(data + stored / 2 + 1),
         "(err=4)."}}) {
    write_file(temp / "bad.run", damaged, 0755);
    r = run_pack({"verify", temp / "bad.run"});
    EXPECT_EQ(r.err, "zolt-pack: " + temp / "bad.run" + ": " + where + ": Corrupted file(s) " + message + "\n");
    ProcessOptions o;
    o.args = {"--quiet", "--target", temp / "refused", "--accept-licence"};
    r = run_process(temp / "bad.run", o);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_FALSE(path_exists(temp / "refused/include"));
  }
}

}  // namespace
