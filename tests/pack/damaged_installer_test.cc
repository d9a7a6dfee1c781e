// verify, list and extract on installers that were cut short or had a byte
// changed: each fails with status 1 and a message that names the entry and
// gives the installer's own text, and extract writes nothing. The same for
// either method: -lh5- file by file, Zstandard in one solid run.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "archive/format.h"
#include "pack/failure.h"
#include "pack/installer_reader.h"
#include "tests/pack/pack_support.h"
#include "tests/support/files.h"
#include "tests/support/installer_builder.h"

namespace {

class DamagedInstaller : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    bool zstd = GetParam() == "zstd";
    if (zstd && zstd_setup_binary().empty()) GTEST_SKIP() << "built without libzstd";
    std::string text;
    for (int i = 0; i < 1500; i++) text += "line " + std::to_string(i % 97) + " of the QUMBA notes\n";
    put_file(temp / "tree/a.txt", text, 0644, 1683062507);
    total = text.size() + 3000;
    put_file(temp / "tree/b.bin", random_bytes(3000, 3), 0644, 1683062507);
    ProcessResult r = run_pack(
        {"create", "-q", "-o", good, "--method", GetParam(), "--product", "QUMBA", "--version", "7.1", temp / "tree"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    bytes = read_file(good);
    header = header_offset_for(read_file(zstd ? zstd_setup_binary() : setup_binary()).size());
    ASSERT_EQ(bytes.compare(header, 7, "ZOLT(R)"), 0);
    first_record = header + HEADER_SIZE;
    first_length = get_u32(at(first_record + RECORD_LENGTH));
    ASSERT_EQ(get_u32(at(first_record + RECORD_ENTRY_TYPE)), zstd ? ENTRY_ZSTD_FRAME : ENTRY_COMPRESSED);
    first_stored = get_u32(at(first_record + RECORD_STORED_SIZE));
    second_record = first_record + first_length + first_stored;
  }

  const uint8_t* at(size_t offset) const { return reinterpret_cast<const uint8_t*>(bytes.data()) + offset; }

  // Writes `damaged` as an installer and runs `command` on it.
  ProcessResult run_on(const std::string& damaged, const std::string& command) {
    write_file(bad, damaged, 0755);
    if (command == "extract") return run_pack({"extract", bad, "-C", temp / "out"});
    return run_pack({command, bad});
  }

  // Damage that only decoding shows costs extract the damaged entry alone:
  // `first_installed`.
  void expect_refused(const std::string& damaged, const std::string& message, bool first_installed = false) {
    for (const char* command : {"verify", "list", "extract"}) {
      SCOPED_TRACE(command);
      ProcessResult r = run_on(damaged, command);
      EXPECT_EQ(r.exit_status, 1);
      EXPECT_EQ(r.err, "zolt-pack: " + bad + ": " + message + "\n");
      EXPECT_EQ(path_exists(temp / "out/a.txt"), first_installed && command == std::string("extract"));
      EXPECT_FALSE(path_exists(temp / "out/b.bin"));
    }
  }

  // Sets a record's CRC to match its bytes again, so that a deeper check is reached.
  void repair_record_crc(std::string* damaged, size_t record) {
    uint32_t length = get_u32(reinterpret_cast<const uint8_t*>(damaged->data()) + record);
    std::string r = damaged->substr(record, length);
    r[RECORD_CRC] = r[RECORD_CRC + 1] = 0;
    uint16_t crc = test_crc16(r);
    (*damaged)[record + RECORD_CRC] = char(crc & 0xFF);
    (*damaged)[record + RECORD_CRC + 1] = char(crc >> 8);
  }

  TempDir temp;
  std::string good = temp / "good.run", bad = temp / "bad.run";
  std::string bytes;
  size_t total = 0, header = 0, first_record = 0, first_length = 0, first_stored = 0, second_record = 0;
};

TEST_P(DamagedInstaller, SoundInstallerPasses) {
  ProcessResult r = run_on(bytes, "verify");
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, bad + ": OK, 2 entries (2 files, 0 deletions), " + std::to_string(total) + " bytes\n");
}

TEST_P(DamagedInstaller, CutShortAnywhere) {
  expect_refused(bytes.substr(0, header + 500),
                 "no attachment (not an installer, or cut short): Can't find attachments (3).");
  expect_refused(bytes.substr(0, first_record + 2),
                 "entry 1 of 2, record at offset " + std::to_string(first_record) + ": Corrupted file(s) (err=1).");
  expect_refused(bytes.substr(0, first_record + 20),
                 "entry 1 of 2, record at offset " + std::to_string(first_record) + ": Corrupted file(s) (err=2).");
  expect_refused(bytes.substr(0, first_record + first_length + 10), "entry 1 of 2 (a.txt): Corrupted file(s) (err=3).");
  expect_refused(bytes.substr(0, bytes.size() - 1), "entry 2 of 2 (b.bin): Corrupted file(s) (err=3).");
}

TEST_P(DamagedInstaller, EveryPrefixOfTheAttachmentFailsCleanly) {
  // In process, through the same reader: every cut from the header on.
  for (size_t cut = header; cut < bytes.size(); cut += cut < first_record + 64 ? 1 : 97) {
    write_file(bad, bytes.substr(0, cut));
    bool failed = false;
    try {
      InstallerReader reader(bad);
      Entry entry;
      uint32_t index;
      while (reader.next(&entry, &index)) release_entry(&entry);
    } catch (const Failure& f) {
      failed = std::string(f.what()).rfind(bad + ": ", 0) == 0;
    }
    EXPECT_TRUE(failed) << "cut at " << cut;
  }
}

TEST_P(DamagedInstaller, ChangedByteInTheHeader) {
  std::string damaged = bytes;
  damaged[header + HEADER_PRODUCT_NAME] = 'X';
  expect_refused(damaged, "header block damaged: Attachments corrupted (3).");
  damaged = bytes;
  damaged[header + 300] ^= 1;  // a reserved field counts too
  expect_refused(damaged, "header block damaged: Attachments corrupted (3).");
  // A sound header whose attachment is not held whole in this file.
  damaged = bytes;
  damaged[header + HEADER_VOLUME] = 0;
  std::string block = damaged.substr(header, HEADER_SIZE);
  block[HEADER_CRC] = block[HEADER_CRC + 1] = 0;
  uint16_t crc = test_crc16(block);
  damaged[header + HEADER_CRC] = char(crc & 0xFF);
  damaged[header + HEADER_CRC + 1] = char(crc >> 8);
  expect_refused(damaged, "attachment not held whole in this file: Can't find attachments (err=2).");
}

TEST_P(DamagedInstaller, ChangedByteInARecord) {
  std::string damaged = bytes;
  damaged[second_record + RECORD_NAME] = 'c';
  expect_refused(damaged,
                 "entry 2 of 2, record at offset " + std::to_string(second_record) + ": Corrupted file(s) (err=6).");
  damaged = bytes;
  damaged[first_record + RECORD_LENGTH] = 40;
  expect_refused(damaged,
                 "entry 1 of 2, record at offset " + std::to_string(first_record) + ": Corrupted file(s) (err=1).");
}

TEST_P(DamagedInstaller, ChangedByteInTheData) {
  std::string damaged = bytes;
  damaged[first_record + first_length + first_stored / 2] ^= 0x10;
  expect_refused(damaged, "entry 1 of 2 (a.txt): Corrupted file(s) (err=4).");
  damaged = bytes;
  damaged[bytes.size() - 1] ^= 0x10;
  expect_refused(damaged, "entry 2 of 2 (b.bin): Corrupted file(s) (err=4).");
}

TEST_P(DamagedInstaller, WrongFileCrcBehindSoundRecordAndData) {
  std::string damaged = bytes;
  damaged[second_record + RECORD_FILE_CRC] ^= 1;
  repair_record_crc(&damaged, second_record);
  expect_refused(damaged, "entry 2 of 2 (b.bin): Corrupted file(s) (err=5).", true);
}

TEST_P(DamagedInstaller, NameLeadingOutsideTheDirectory) {
  std::string damaged = bytes;
  damaged.replace(second_record + RECORD_NAME, 5, "../bb");
  repair_record_crc(&damaged, second_record);
  expect_refused(damaged, "entry 2 of 2 (../bb): Corrupted file(s) (err=8).");
}

TEST_P(DamagedInstaller, ListShowsTheEntriesBeforeTheDamagedOne) {
  std::string damaged = bytes;
  damaged[bytes.size() - 1] ^= 0x10;
  ProcessResult r = run_on(damaged, "list");
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.out.find(" " + std::string(GetParam() == "zstd" ? "zstd " : "lh5  ") + "  2023-05-02 21:21:47 a.txt\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("b.bin"), std::string::npos) << r.out;
}

TEST_P(DamagedInstaller, NotAnInstallerAtAll) {
  write_file(bad, std::string(5000, 'x'));
  ProcessResult r = run_pack({"verify", bad});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err,
            "zolt-pack: " + bad + ": no attachment (not an installer, or cut short): Can't find attachments (3).\n");
  r = run_pack({"verify", temp / "missing.run"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "zolt-pack: " + temp / "missing.run" + ": cannot open: No such file or directory\n");
}

// Zstandard frames made by hand from raw blocks, to say what their records do not.
std::string frame(const std::string& blocks, int window_log = 17, char dictionary = 0) {
  std::string start = std::string("\x28\xb5\x2f\xfd", 4) + char(dictionary ? 1 : 0) + char((window_log - 10) << 3);
  return start + (dictionary ? std::string(1, dictionary) : "") + blocks;
}
std::string raw_block(const std::string& data, bool last) {
  uint32_t h = uint32_t(data.size()) << 3 | (last ? 1 : 0);
  return std::string{char(h), char(h >> 8), char(h >> 16)} + data;
}

// The installer, --check and verify refuse each with status 1: a header
// before anything is written, data past the records when the next frame
// begins or the entries end.
TEST(ZstandardBounds, FramesThatDisagreeWithTheirRecordsAreRefused) {
  if (zstd_setup_binary().empty()) GTEST_SKIP() << "built without libzstd";
  TempDir temp;
  const std::string a(3000, 'a'), b(2000, 'b'), target = temp / "target";
  const uint32_t F = ENTRY_ZSTD_FRAME, C = ENTRY_ZSTD_CONTINUED;
  const TestEntry z{"z.txt", ENTRY_STORED, "last\n", ""}, open_a{"a", F, a, frame(raw_block(a, false))};
  const std::vector<std::pair<std::vector<TestEntry>, bool>> cases = {  // entries, refused before any change
      {{open_a, {"b", C, b, raw_block(b, true)}, z}, false},            // sound
      {{z, {"a", F, a, frame(raw_block(a + std::string(5000, 'x'), true))}}, false},
      {{open_a, {"b", F, b, frame(raw_block(b, true))}, z}, false},
      {{open_a, {"b", C, b, raw_block(b + b, true)}}, false},
      {{z, {"a", F, a, frame(raw_block(a, true), 25)}}, true},
      {{z, {"a", F, a, frame(raw_block(a, true), 17, 7)}}, true},
      {{z, {"a", F, a, "\x29" + frame(raw_block(a, true)).substr(1)}}, true}};
  for (size_t i = 0; i < cases.size(); i++) {
    const auto& [entries, first] = cases[i];
    const bool sound = i == 0;
    SCOPED_TRACE(i);
    std::filesystem::remove_all(target);
    write_file(temp / "z.run", build_installer(read_file(zstd_setup_binary()), TestHeader(), entries), 0755);
    ProcessOptions o;
    o.args = {"--quiet", "--target", target, "--accept-licence"};
    ProcessResult r = run_process(temp / "z.run", o);
    EXPECT_EQ(r.exit_status, sound ? 0 : 1) << r.err;
    EXPECT_EQ(r.err.find("Decompression error (err=1).") != std::string::npos, !sound) << r.err;
    EXPECT_EQ(path_exists(target + "/z.txt"), i < 2);
    EXPECT_EQ(path_exists(target), !first);
    o.args = {"--check", "--target", temp / "checked"};
    EXPECT_EQ(run_process(temp / "z.run", o).exit_status, sound ? 0 : 1);
    EXPECT_EQ(run_pack({"verify", "-q", temp / "z.run"}).exit_status, sound ? 0 : 1);
  }
  write_file(temp / "lh5.run", build_installer(read_file(setup_binary()), TestHeader(), cases.front().first), 0755);
  ProcessResult r = run_pack({"verify", "-q", temp / "lh5.run"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find("entry 1 of 3 (a): Decompression error (err=1). (its stub does not"), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Methods, DamagedInstaller, ::testing::Values("lh5", "zstd"),
                         [](const auto& info) { return info.param; });

}  // namespace
