#include "archive/attachment_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "archive/attachment_reader.h"
#include "archive/crc16.h"
#include "tests/support/installer_builder.h"

namespace {

const uint8_t* u8(const std::string& s, size_t at = 0) { return reinterpret_cast<const uint8_t*>(s.data()) + at; }

TEST(AttachmentWriter, RecordLayoutAndCrcByteOrder) {
  TestEntry e;
  e.name = "doc/abc.txt";
  e.data = "abc";
  e.mod_time = 1234567890;
  e.mode = 0100755;
  std::string bytes = build_installer("IMAGE", TestHeader(), {e});
  size_t r = 1024 + HEADER_SIZE;
  ASSERT_EQ(get_u32(u8(bytes, r + RECORD_LENGTH)), 38u + 11 + 8);
  // CRC-16/ARC of "abc" is 0x9738, stored high byte first.
  EXPECT_EQ(uint8_t(bytes[r + RECORD_FILE_CRC]), 0x97);
  EXPECT_EQ(uint8_t(bytes[r + RECORD_FILE_CRC + 1]), 0x38);
  EXPECT_EQ(uint8_t(bytes[r + RECORD_STORED_CRC]), 0x97);
  EXPECT_EQ(get_u32(u8(bytes, r + RECORD_FILE_SIZE)), 3u);
  EXPECT_EQ(get_u32(u8(bytes, r + RECORD_STORED_SIZE)), 3u);
  EXPECT_EQ(get_u32(u8(bytes, r + RECORD_ENTRY_TYPE)), ENTRY_STORED);
  EXPECT_EQ(get_u32(u8(bytes, r + RECORD_STREAM_OFFSET)), 0u);
  EXPECT_EQ(get_i32(u8(bytes, r + RECORD_MOD_TIME)), 1234567890);
  EXPECT_EQ(get_u16(u8(bytes, r + RECORD_MODE)), 0100755);
  EXPECT_EQ(bytes.substr(r + RECORD_NAME, 12), std::string("doc/abc.txt\0", 12));
  EXPECT_EQ(bytes.substr(r + RECORD_NAME + 11, 8), std::string(8, '\0'));
  EXPECT_EQ(bytes.substr(r + 57), "abc");
  // record_crc over the finished record with its own field zero.
  std::string record = bytes.substr(r, 57);
  uint16_t stored = get_u16(u8(record, RECORD_CRC));
  record[RECORD_CRC] = record[RECORD_CRC + 1] = 0;
  EXPECT_EQ(stored, test_crc16(record));
}

TEST(AttachmentWriter, HeaderTotalsOffsetsAndFixedFields) {
  std::vector<TestEntry> entries(3);
  entries[0].name = "gone.txt";
  entries[0].type = ENTRY_DELETE;
  entries[1].name = "a";
  entries[1].data = std::string(1000, 'x');
  entries[2].name = "b/c";
  entries[2].type = ENTRY_COMPRESSED;
  entries[2].data = "AAAA";
  entries[2].stored = std::string("\x00\x02\x20\x04\x30\x10\xB6\x55\x40\x10", 10);
  TestHeader th;
  th.product_name = std::string(63, 'P');
  std::string bytes = build_installer(std::string(2048, 'i'), th, entries);

  FILE* f = tmpfile();
  fwrite(bytes.data(), 1, bytes.size(), f);
  AttachmentHeader h;
  ASSERT_EQ(find_attachment(f, &h), LOCATE_OK);
  fclose(f);
  EXPECT_EQ(memcmp(h.bytes, bytes.data() + 2048, HEADER_SIZE), 0) << "header at the image's own end";
  EXPECT_EQ(header_entry_count(h), 3u);
  EXPECT_EQ(get_u32(h.bytes + HEADER_ENTRY_COUNT_COPY), 3u);
  EXPECT_EQ(header_total_file_size(h), 1004u);
  EXPECT_EQ(get_u32(h.bytes + HEADER_TOTAL_STORED), 1010u);
  uint32_t records = (38 + 8 + 8) + (38 + 1 + 8) + (38 + 3 + 8);
  EXPECT_EQ(get_u32(h.bytes + HEADER_TOTAL_RECORD), records);
  EXPECT_EQ(header_volume(h), -1);
  EXPECT_EQ(get_u32(h.bytes + HEADER_RESERVED_272), 0xFFFFFFFFu);
  EXPECT_EQ(header_build_time(h), 1683062507);
  EXPECT_EQ(header_space_required(h), 14194286u);
  char name[HEADER_TEXT_SIZE];
  header_text(h, HEADER_PRODUCT_NAME, name);
  EXPECT_EQ(std::string(name), th.product_name);

  // stream_offset of each record: the sum of records and data before it.
  size_t first = 2048 + HEADER_SIZE;
  size_t second = first + 54;
  size_t third = second + 47 + 1000;
  EXPECT_EQ(get_u32(u8(bytes, second + RECORD_STREAM_OFFSET)), 54u);
  EXPECT_EQ(get_u32(u8(bytes, third + RECORD_STREAM_OFFSET)), 54u + 47 + 1000);
  EXPECT_EQ(get_u32(u8(bytes, first + RECORD_STORED_SIZE)), 0u) << "a deletion has no data";
  EXPECT_EQ(bytes.size(), third + 49 + 10);
}

TEST(AttachmentWriter, RefusesWhatTheFormatCannotHold) {
  uint8_t record[RECORD_MAX_LENGTH];
  EntryFields f{};
  std::string longest(RECORD_MAX_NAME, 'n');
  f.name = longest.c_str();
  EXPECT_EQ(build_record(record, f), RECORD_MAX_LENGTH);
  std::string too_long(RECORD_MAX_NAME + 1, 'n');
  f.name = too_long.c_str();
  EXPECT_EQ(build_record(record, f), 0u);
  f.name = "";
  EXPECT_EQ(build_record(record, f), 0u);

  AttachmentHeader h;
  std::string text64(64, 't');
  HeaderFields hf{text64.c_str(), "1", "p", 0, 0, 0};
  EXPECT_EQ(build_header(&h, hf, EntryTotals{}), WRITE_BAD_TEXT);
}

}  // namespace
