#include "archive/attachment_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "archive/crc16.h"
#include "tests/support/installer_builder.h"

namespace {

std::string marker_text() {
  uint8_t m[MARKER_SIZE];
  make_marker(m);
  return std::string(reinterpret_cast<char*>(m), MARKER_SIZE);
}

// Runs find_attachment over `bytes` and reports the result and, on success,
// the next 4 bytes that read_attachment returns.
struct Located {
  int result;
  uint32_t first_word = 0;
  uint32_t first_count = 0;
};

Located locate(const std::string& bytes) {
  FILE* f = tmpfile();
  fwrite(bytes.data(), 1, bytes.size(), f);
  fflush(f);
  AttachmentHeader header;
  Located out{find_attachment(f, &header)};
  if (out.result == LOCATE_OK) {
    attachment_file = f;
    uint8_t word[4];
    out.first_count = read_attachment(word, 4);
    if (out.first_count == 4) out.first_word = get_u32(word);
    attachment_file = nullptr;
  }
  fclose(f);
  return out;
}

std::string image_of(size_t n) { return std::string(n, '\x7f'); }

TEST(Marker, MatchesTheFormatText) {
  EXPECT_EQ(marker_text(),
            "ZOLT(R)....SOFTWARE.....DISTRIBUTION"
            "185957483282934729385792938102382358104503028582458593028480274058238583083967392048592375930573920547769332251686535875121018012084105105684165201230235254340643554230423544234212869320204830584579332059862389425312");
}

TEST(FindAttachment, FindsTheHeaderAtEveryAlignedOffset) {
  TestEntry e;
  e.name = "a.txt";
  e.data = "hello";
  for (size_t image : {0, 1, 1023, 1024, 1025, 5000, 65536}) {
    std::string bytes = build_installer(image_of(image), TestHeader(), {e});
    Located l = locate(bytes);
    ASSERT_EQ(l.result, LOCATE_OK) << "image of " << image;
    EXPECT_EQ(l.first_count, 4u);
    EXPECT_EQ(l.first_word, 38u + 5 + 8) << "first read gives the first record_length";
  }
}

TEST(FindAttachment, IgnoresMarkersOffTheGrid) {
  std::string marker = marker_text();
  std::string at_zero = marker + std::string(8192, 0);
  EXPECT_EQ(locate(at_zero).result, LOCATE_NOT_FOUND);
  std::string off_grid = std::string(1500, 0) + marker + std::string(8192, 0);
  EXPECT_EQ(locate(off_grid).result, LOCATE_NOT_FOUND);
}

TEST(FindAttachment, NeedsAWholeBlockBehindTheMarker) {
  std::string good = build_installer(image_of(10), TestHeader(), {});
  ASSERT_EQ(good.size(), 1024u + HEADER_SIZE);
  EXPECT_EQ(locate(good).result, LOCATE_OK);
  EXPECT_EQ(locate(good.substr(0, 2051)).result, LOCATE_NOT_FOUND);
  EXPECT_EQ(locate("").result, LOCATE_NOT_FOUND);
}

TEST(FindAttachment, ABadCrcIsFinalEvenWithAGoodBlockLater) {
  std::string first = build_installer(image_of(10), TestHeader(), {});
  first[HEADER_ALIGN + HEADER_PRODUCT_NAME] ^= 1;
  std::string second = build_installer(image_of(10), TestHeader(), {});
  std::string bytes = first + std::string(1024 - first.size() % 1024, 0) + second.substr(1024);
  EXPECT_EQ(locate(bytes).result, LOCATE_CORRUPTED);
}

TEST(FindAttachment, EveryByteOutsideTheMarkerIsCovered) {
  std::string good = build_installer(image_of(3000), TestHeader(), {});
  size_t base = header_offset_for(3000);
  for (size_t i = MARKER_SIZE; i < HEADER_SIZE; i++) {
    std::string bad = good;
    bad[base + i] ^= 0x01;
    ASSERT_EQ(locate(bad).result, LOCATE_CORRUPTED) << "byte " << i;
  }
}

TEST(FindAttachment, MessagesOfTheLocator) {
  EXPECT_STREQ(locate_message(LOCATE_NOT_FOUND), "Can't find attachments (3).");
  EXPECT_STREQ(locate_message(LOCATE_CORRUPTED), "Attachments corrupted (3).");
  EXPECT_STREQ(locate_message(LOCATE_NO_MEMORY), "Insufficient memory (2).");
}

}  // namespace
