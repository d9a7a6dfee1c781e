// Packing single files and the ordered, bounded hand-over between threads.
#include "pack/compression_queue.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "archive/crc16.h"
#include "archive/format.h"
#include "codec/codec_context.h"
#include "codec/decoder.h"
#include "pack/failure.h"
#include "tests/pack/pack_support.h"
#include "tests/support/files.h"
#include "tests/support/installer_builder.h"

namespace {

SourceFile source(const TempDir& temp, const std::string& name, const std::string& bytes) {
  put_file(temp / name, bytes, 0644, 1683062507);
  return SourceFile{name, temp / name, bytes.size(), 1683062507, 0100644, 0, 0, 1};
}

std::string decode(const PackedFile& p, size_t size) {
  CodecContext* codec = nullptr;
  EXPECT_EQ(codec_create(&codec), 0);
  std::string out(size, '\0');
  ByteRange in{};
  in.cur = p.stored.get();
  in.end = p.stored.get() + p.stored_size;
  for (size_t done = 0; done < size || size == 0;) {
    size_t chunk = std::min<size_t>(CODEC_WINDOW, size - done);
    ByteRange slice{};
    slice.cur = reinterpret_cast<uint8_t*>(out.data()) + done;
    slice.end = slice.cur + chunk;
    EXPECT_EQ(codec_decode(codec, &in, &slice), 0);
    done += chunk;
    if (size == 0) break;
  }
  codec_release(&codec);
  return out;
}

class PackFile : public ::testing::Test {
 protected:
  void TearDown() override { free(table); }
  TempDir temp;
  uint8_t* table = crc16_table();
};

TEST_F(PackFile, CompressesWhereThatIsSmallerAndStoresOtherwise) {
  std::string text;
  for (int i = 0; i < 3000; i++) text += "value " + std::to_string(i % 50) + "\n";
  std::string noise = random_bytes(30000, 1);
  // The stream of a file does not depend on what was packed before it.
  std::string first_stream;
  for (int round = 0; round < 2; round++) {
    PackedFile stored = pack_file(source(temp, "noise", noise), false, table);
    ASSERT_EQ(stored.failure, "");
    EXPECT_EQ(stored.entry_type, ENTRY_STORED);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(stored.stored.get()), stored.stored_size), noise);
    EXPECT_EQ(stored.file_crc, test_crc16(noise));

    PackedFile packed = pack_file(source(temp, "text", text), false, table);
    ASSERT_EQ(packed.failure, "");
    EXPECT_EQ(packed.entry_type, ENTRY_COMPRESSED);
    EXPECT_LT(packed.stored_size, text.size() / 4);
    EXPECT_EQ(packed.file_crc, test_crc16(text));
    EXPECT_TRUE(decode(packed, text.size()) == text);
    std::string stream(reinterpret_cast<char*>(packed.stored.get()), packed.stored_size);
    if (round == 0) first_stream = stream;
    EXPECT_TRUE(stream == first_stream);
  }
  PackedFile empty = pack_file(source(temp, "empty", ""), false, table);
  EXPECT_EQ(empty.entry_type, ENTRY_STORED);
  EXPECT_EQ(empty.stored_size, 0u);
  EXPECT_EQ(empty.file_crc, 0);
  PackedFile forced = pack_file(source(temp, "text", text), true, table);
  EXPECT_EQ(forced.entry_type, ENTRY_STORED);
  EXPECT_EQ(forced.stored_size, text.size());
}

TEST_F(PackFile, NoticesAFileThatChangedSinceTheScan) {
  SourceFile f = source(temp, "grows", "short");
  put_file(temp / "grows", "longer now", 0644, 1683062507);
  EXPECT_EQ(pack_file(f, false, table).failure, f.path + ": changed while the installer was being made");
  f = source(temp, "touched", "same size");
  put_file(temp / "touched", "same size", 0644, 1683062999);
  EXPECT_EQ(pack_file(f, false, table).failure, f.path + ": changed while the installer was being made");
  f.path = temp / "gone";
  EXPECT_EQ(pack_file(f, false, table).failure, f.path + ": cannot open: No such file or directory");
}

TEST(CompressionQueue, HandsOverInOrderWithinATightWindow) {
  TempDir temp;
  std::vector<SourceFile> files;
  for (int i = 0; i < 60; i++) {
    std::string bytes =
        std::string(size_t(i % 7) * 3000, char('a' + i % 26)) + random_bytes(size_t(i) * 50, uint32_t(i));
    files.push_back(source(temp, "f" + std::to_string(i), bytes));
  }
  QueueLimits limits;
  limits.threads = 4;
  limits.window_files = 3;
  limits.window_bytes = 20000;  // less than some single files: they go one at a time
  CompressionQueue queue(files, PackMethod{}, limits);
  for (const SourceFile& f : files) {
    const PackedFile& p = queue.next();
    std::string bytes = read_file(f.path);
    EXPECT_EQ(p.file_crc, test_crc16(bytes)) << f.name;
    if (p.entry_type == ENTRY_COMPRESSED) {
      EXPECT_TRUE(decode(p, bytes.size()) == bytes) << f.name;
    }
  }
}

TEST(CompressionQueue, ReportsTheFailingFileInItsTurn) {
  TempDir temp;
  std::vector<SourceFile> files = {source(temp, "a", "aaaa"), source(temp, "b", "bbbb"), source(temp, "c", "cccc")};
  files[1].path = temp / "missing";
  QueueLimits limits;
  limits.threads = 2;
  CompressionQueue queue(files, PackMethod{}, limits);
  EXPECT_EQ(queue.next().file_crc, test_crc16("aaaa"));
  try {
    queue.next();
    ADD_FAILURE() << "no failure";
  } catch (const Failure& f) {
    EXPECT_EQ(std::string(f.what()), temp / "missing" + ": cannot open: No such file or directory");
  }
}

}  // namespace
