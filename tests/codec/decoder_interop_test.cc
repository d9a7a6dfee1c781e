// Streams written by an independent encoder (jlha, see lzh_samples.h), each
// decoded in slices of 8192 bytes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "codec/decoder.h"
#include "tests/codec/lzh_samples.h"
#include "tests/codec/stream_builder.h"

namespace {

std::string decode(const std::string& stream, size_t size) {
  CodecContext* context = nullptr;
  EXPECT_EQ(codec_create(&context), 0);
  std::string in_bytes = stream, out(size, '\0');
  auto* in_start = reinterpret_cast<uint8_t*>(in_bytes.data());
  ByteRange in = {in_start, in_start + in_bytes.size(), 0, in_start, int32_t(in_bytes.size())};
  auto* out_start = reinterpret_cast<uint8_t*>(out.data());
  for (size_t done = 0; done < size;) {
    size_t slice = std::min<size_t>(size - done, 8192);
    ByteRange o = {out_start + done, out_start + done + slice, 0, out_start + done, int32_t(slice)};
    if (codec_decode(context, &in, &o) != 0) break;
    done += slice;
  }
  codec_release(&context);
  return out;
}

class JlhaStreams : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(JLHA, X_OK) != 0) GTEST_SKIP() << "jlha (Debian package jlha-utils) is not installed";
  }

  // Writes the files, archives them with -lh5- at the given header level and
  // checks that every member decodes to its file.
  void check(int level, const std::vector<std::pair<std::string, std::string>>& files) {
    std::string error;
    std::vector<Member> members = jlha_members(level, files, &error);
    ASSERT_EQ(members.size(), files.size()) << error;
    for (size_t i = 0; i < files.size(); ++i) {
      SCOPED_TRACE(files[i].first);
      EXPECT_EQ(members[i].name, files[i].first);
      EXPECT_EQ(members[i].method, "-lh5-");
      ASSERT_EQ(members[i].original, files[i].second.size());
      EXPECT_EQ(first_difference(decode(members[i].data, members[i].original), files[i].second), std::string::npos);
    }
  }
};

TEST_F(JlhaStreams, SeveralMegabytesAcrossBlocks) {
  std::mt19937 rng(5);
  check(2, {{"words.txt", words(rng, 2'000'000)}, {"records.bin", records(rng, 600'000)},
            {"runs.bin", runs(rng, 500'000)}, {"noise.bin", noise(rng, 200'000)}});
}

TEST_F(JlhaStreams, SmallMembersAndOlderHeaders) {
  std::mt19937 rng(6);
  check(0, {{"short.txt", words(rng, 300)}, {"window.txt", words(rng, 8192)}});
  check(1, {{"one-block.bin", records(rng, 9000)}, {"runs.bin", runs(rng, 20000)}});
}

}  // namespace
