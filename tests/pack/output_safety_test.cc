// No subcommand destroys a file it was not asked to create, nor the one it
// was when it fails: outputs are put in place whole or not at all, special
// files are written as they are and never removed, and an output that is an
// input is refused.
#include <fcntl.h>
#include <sys/resource.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "archive/format.h"
#include "tests/pack/pack_support.h"
#include "tests/support/files.h"
#include "tests/support/installer_builder.h"

namespace {

TEST(OutputSafety, FailingOrSelfOverwritingCommandsLeaveTheOutputAsItWas) {
  TempDir temp;
  const std::string text = random_bytes(4000, 3) + std::string(9000, 'z');
  write_file(temp / "same.txt", text);
  write_file(temp / "old", "an earlier result");
  write_file(temp / "bad", std::string(64, '\xff'));  // a block head that is no code
  ASSERT_EQ(mkfifo((temp / "fifo").c_str(), 0600), 0);
  // A reader, so that opening the FIFO for writing does not wait.
  int reader = open((temp / "fifo").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  struct Case {
    std::vector<std::string> args;
    std::string output, message;
  };
  for (const Case& c : std::vector<Case>{
           {{"encode", "-o", temp / "same.txt", temp / "same.txt"}, temp / "same.txt", "is the same file as the input"},
           {{"decode", "--size=99999", "-o", temp / "old", temp / "bad"}, temp / "old", "not a valid stream"},
           {{"decode", "--size=99999", "-o", temp / "fifo", temp / "bad"}, temp / "fifo", "not a valid stream"},
           {{"decode", "--size=9", "-o", temp / "old", temp / "missing"}, temp / "old", "cannot open"},
       }) {
    SCOPED_TRACE(c.args[0] + " -o " + c.output);
    std::string before = std::filesystem::is_fifo(c.output) ? "" : read_file(c.output);
    ProcessResult r = run_pack(c.args);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    if (std::filesystem::is_fifo(c.output)) continue;  // still there, and a FIFO
    EXPECT_EQ(read_file(c.output), before);
  }
  close(reader);
  EXPECT_TRUE(std::filesystem::is_fifo(temp / "fifo"));
  // Nothing left beside them: no temporary files.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp.path()), {}), 4);
}

TEST(OutputSafety, CreateReplacesNeitherFileUnlessItCanWriteBoth) {
  TempDir temp;
  put_file(temp / "tree/a.txt", "a", 0644, 1683062507);
  write_file(temp / "q.run", "the installer of yesterday");
  std::filesystem::create_directory(temp / "q.run.sha256");
  std::vector<std::string> create = {"create", "-q", "--product", "Q", "--version", "1", "-o"};
  auto with = [&](std::vector<std::string> tail) {
    std::vector<std::string> a = create;
    a.insert(a.end(), tail.begin(), tail.end());
    return a;
  };
  ProcessResult r = run_pack(with({temp / "q.run", temp / "tree"}));
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find("q.run.sha256: is a directory"), std::string::npos) << r.err;
  EXPECT_EQ(read_file(temp / "q.run"), "the installer of yesterday");
  // A name that sha256sum must escape still gives a line it reads back.
  const std::string odd = "odd\nname\\.run";
  r = run_pack(with({temp / odd, temp / "tree"}));
  ASSERT_EQ(r.exit_status, 0) << r.err;
  ProcessOptions check;
  check.args = {"-c", odd + ".sha256"};
  check.cwd = temp.path();
  EXPECT_EQ(run_process("/usr/bin/sha256sum", check).exit_status, 0);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp.path()), {}), 5);
}

}  // namespace

namespace {

// A compressed entry of one stored byte that declares `file_size` bytes.
std::string inflated_installer(uint32_t file_size) {
  TestEntry e;
  e.name = "big";
  e.type = ENTRY_COMPRESSED;
  e.data = "x";
  e.stored = std::string(1, '\0');
  std::string bytes = build_installer(read_file(setup_binary()), TestHeader(), {e});
  size_t record = header_offset_for(read_file(setup_binary()).size()) + HEADER_SIZE;
  uint32_t length = uint8_t(bytes[record]) | uint8_t(bytes[record + 1]) << 8;
  for (int i = 0; i < 4; i++) bytes[record + RECORD_FILE_SIZE + i] = char(file_size >> (8 * i));
  bytes[record + RECORD_CRC] = bytes[record + RECORD_CRC + 1] = 0;
  uint16_t crc = test_crc16(bytes.substr(record, length));
  bytes[record + RECORD_CRC] = char(crc & 0xFF);
  bytes[record + RECORD_CRC + 1] = char(crc >> 8);
  return bytes;
}

TEST(ListOutput, ShowsControlCharactersInNamesAndTextsEscaped) {
  TempDir temp;
  TestEntry forged;
  forged.name = "a\n-rw-r--r--          0          0 stored 2023-05-02 21:21:47 forged\x1b[2J";
  TestHeader header;
  header.product_name = "Q\rProduct:   Other";
  write_installer(temp / "i.run", {forged}, header);
  ProcessResult r = run_pack({"list", temp / "i.run"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find("Product:   Q\\rProduct:   Other\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" a\\n-rw-r--r--          0          0 stored 2023-05-02 21:21:47 forged\\033[2J\n"),
            std::string::npos)
      << r.out;
}

TEST(VerifyMemory, BoundedWhateverSizeAnEntryDeclares) {
  TempDir temp;
  write_file(temp / "big.run", inflated_installer(uint32_t(160) << 20));
  ProcessOptions o;
  o.args = {"verify", "-q", temp / "big.run"};
#ifndef ZOLT_SANITIZED_BUILD
  o.limits = {{RLIMIT_AS, rlim_t(96) << 20}};
#endif
  ProcessResult r = run_process(zolt_pack_binary(), o);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "zolt-pack: " + temp / "big.run" + ": entry 1 of 1 (big): Corrupted file(s) (err=5).\n");
}

}  // namespace
