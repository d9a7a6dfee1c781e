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

// Generated data, deterministic. jlha starts a block every few ten thousand
// symbols, so every file but the small ones crosses blocks and window wraps.
// Words give position codes longer than the 8-bit table, the skewed noise
// literal codes longer than the 12-bit table (up to 14 bits); runs give long
// matches and distances near the window's reach.
std::string words(std::mt19937& rng, size_t size) {
  std::vector<std::string> vocabulary;
  for (int i = 0; i < 4000; ++i) {
    std::string w;
    for (int n = 2 + int(rng() % 9); n > 0; --n) w.push_back(char(33 + rng() % 94));
    vocabulary.push_back(w);
  }
  std::string out;
  while (out.size() < size) {
    double u = std::uniform_real_distribution<double>(0, 1)(rng);
    out += vocabulary[size_t(u * u * u * double(vocabulary.size()))];
    out += (rng() % 12 == 0) ? '\n' : ' ';
  }
  return out;
}

std::string records(std::mt19937& rng, size_t size) {
  std::string out;
  for (uint32_t id = 0; out.size() < size; ++id) {
    uint32_t fields[4] = {id, id * 40503u, uint32_t(rng() % 1000), uint32_t(rng())};
    out.append(reinterpret_cast<const char*>(fields), sizeof fields);
  }
  return out;
}

std::string runs(std::mt19937& rng, size_t size) {
  std::string out;
  while (out.size() < size) {
    switch (rng() % 3) {
      case 0: out.append(1 + rng() % 2000, char(rng())); break;
      case 1: {  // a repeat from far back, near the window's reach
        size_t back = 8000 + rng() % 192;
        if (out.size() > back) out += out.substr(out.size() - back, 300 + rng() % 3000);
        break;
      }
      default:
        for (int n = int(rng() % 500); n > 0; --n) out.push_back(char(rng()));
    }
  }
  return out;
}

std::string noise(std::mt19937& rng, size_t size) {
  std::string out;
  std::geometric_distribution<int> skewed(0.02);
  while (out.size() < size) out.push_back(char(std::min(skewed(rng), 255)));
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
