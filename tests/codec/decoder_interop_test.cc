// Streams written by an independent encoder: jlha stores -lh5- members of
// .lzh archives as exactly such streams. The archives are made at test time
// from generated data, the members' raw data taken out with a small header
// parser, and each decoded in slices of 8192 bytes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "codec/decoder.h"
#include "tests/codec/stream_builder.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace {

constexpr const char* JLHA = "/usr/bin/jlha";

struct Member {
  std::string name;
  std::string method;
  std::string data;     // the stored bytes
  uint32_t original;    // size before compression
};

uint32_t get16(const std::string& a, size_t p) { return uint8_t(a[p]) | uint32_t(uint8_t(a[p + 1])) << 8; }
uint32_t get32(const std::string& a, size_t p) { return get16(a, p) | get16(a, p + 2) << 16; }

// Extended headers of levels 1 and 2: each is [type][data][size of the next],
// and its own size counts all three. `p` is where the first one starts, `next`
// its size. Returns where the chain ends, or 0 when it leaves the archive.
size_t skip_extensions(const std::string& a, size_t p, uint32_t next, std::string* name) {
  while (next != 0) {
    if (next < 3 || p + next > a.size()) return 0;
    if (a[p] == 0x01) *name = a.substr(p + 1, next - 3);
    size_t here = p;
    p += next;
    next = get16(a, here + next - 2);
  }
  return p;
}

// The members of an LHA archive of header levels 0, 1 and 2. Common to all
// three: method at 2..6, stored size at 7, original size at 11, level at 20.
// Level 0 and 1: byte 0 is the header size less 2, the name's length is at
// 21, the name at 22; level 1's stored size also counts its extended headers,
// whose chain begins with the size in the base header's last two bytes.
// Level 2: bytes 0..1 are the whole header's size, the first extended header
// size is at 24, and the name is in an extended header of type 1.
std::vector<Member> parse_lzh(const std::string& a) {
  std::vector<Member> members;
  size_t p = 0;
  while (p < a.size() && a[p] != 0) {
    if (p + 26 > a.size()) break;
    Member m;
    m.method = a.substr(p + 2, 5);
    uint32_t stored = get32(a, p + 7);
    m.original = get32(a, p + 11);
    int level = a[p + 20];
    size_t data = 0;
    if (level == 0 || level == 1) {
      size_t base_end = p + uint8_t(a[p]) + 2;
      m.name = a.substr(p + 22, uint8_t(a[p + 21]));
      data = base_end;
      if (level == 1) {
        data = skip_extensions(a, base_end, get16(a, base_end - 2), &m.name);
        if (data == 0 || data - base_end > stored) break;
        stored -= uint32_t(data - base_end);
      }
    } else if (level == 2) {
      data = p + get16(a, p);
      if (skip_extensions(a, p + 26, get16(a, p + 24), &m.name) != data) break;
    } else {
      break;
    }
    if (data + stored > a.size()) break;
    m.data = a.substr(data, stored);
    members.push_back(m);
    p = data + stored;
  }
  return members;
}

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
    TempDir dir;
    ProcessOptions options;
    options.cwd = dir.path();
    options.args = {"a" + std::to_string(level) + "o5", "test.lzh"};
    for (const auto& [name, bytes] : files) {
      write_file(dir / name, bytes);
      options.args.push_back(name);
    }
    ProcessResult run = run_process(JLHA, options);
    ASSERT_EQ(run.exit_status, 0) << run.err;
    std::vector<Member> members = parse_lzh(read_file(dir / "test.lzh"));
    ASSERT_EQ(members.size(), files.size());
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
