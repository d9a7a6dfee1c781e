// The fast decoder against the step-by-step reference: the same stream goes
// through a context driven by each, and a third context is handed from one
// decoder to the other between calls. After every call the three must agree
// on the result, the bytes produced, the input's cur and count, and every
// field of decoder state (reference_decoder.h).
//
// Streams: jlha's; random well-formed streams with random complete codes
// (long codes included), which must also decode to what their tokens say;
// the same streams damaged; every prefix of one stream. Slices keep the
// calling rule or break it at will.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "codec/decoder.h"
#include "tests/codec/lzh_samples.h"
#include "tests/codec/reference_decoder.h"
#include "tests/codec/stream_builder.h"

namespace {

using DecodeFunction = int32_t (*)(CodecContext*, ByteRange*, ByteRange*);

// One context and its own copy of the stream, in a heap block of exactly the
// stream's size: the sanitizer build faults on a read past its end.
class Lane {
 public:
  explicit Lane(const std::string& stream) : bytes_(stream.begin(), stream.end()) {
    EXPECT_EQ(codec_create(&context_), 0);
    input_ = {bytes_.data(), bytes_.data() + bytes_.size(), 0, bytes_.data(), int32_t(bytes_.size())};
  }
  ~Lane() { codec_release(&context_); }
  Lane(const Lane&) = delete;
  Lane& operator=(const Lane&) = delete;

  struct Step {
    int32_t result;
    std::vector<uint8_t> produced;
    size_t input_offset;
    uint32_t input_count;
  };

  Step call(DecodeFunction decode, size_t size) {
    std::vector<uint8_t> slice(size);
    ByteRange out = {slice.data(), slice.data() + size, 0, slice.data(), int32_t(size)};
    Step step;
    step.result = decode(context_, &input_, &out);
    EXPECT_EQ(out.count, 0u);
    slice.resize(size_t(out.cur - slice.data()));
    step.produced = std::move(slice);
    step.input_offset = size_t(input_.cur - bytes_.data());
    step.input_count = input_.count;
    return step;
  }

  const CodecContext& context() const { return *context_; }

 private:
  std::vector<uint8_t> bytes_;
  CodecContext* context_ = nullptr;
  ByteRange input_;
};

// Runs the stream through the three lanes with the given slice sizes and
// returns the reference's output; stops at the first disagreement (with a
// test failure) or after a call that failed.
std::string compare(const std::string& stream, const std::vector<size_t>& slices, uint32_t handover_seed) {
  Lane fast(stream), reference(stream), mixed(stream);
  std::mt19937 handover(handover_seed);
  std::string output;
  for (size_t i = 0; i < slices.size(); ++i) {
    const Lane::Step want = reference.call(reference_decode, slices[i]);
    const Lane::Step got = fast.call(codec_decode, slices[i]);
    const bool mixed_fast = handover() & 1;
    const Lane::Step handed = mixed.call(mixed_fast ? codec_decode : reference_decode, slices[i]);
    bool same = true;
    for (const Lane::Step* step : {&got, &handed}) {
      const char* lane = step == &got ? "fast" : "handed over";
      EXPECT_EQ(step->result, want.result) << lane << ", call " << i;
      EXPECT_EQ(step->input_offset, want.input_offset) << lane << ", call " << i;
      EXPECT_EQ(step->input_count, want.input_count) << lane << ", call " << i;
      EXPECT_TRUE(step->produced == want.produced) << lane << ", call " << i << ": output differs";
      same = same && step->result == want.result && step->input_offset == want.input_offset &&
             step->input_count == want.input_count && step->produced == want.produced;
    }
    const char* fast_differs = decoder_state_difference(fast.context(), reference.context());
    const char* mixed_differs = decoder_state_difference(mixed.context(), reference.context());
    EXPECT_EQ(fast_differs, nullptr) << "fast, call " << i << ": " << fast_differs;
    EXPECT_EQ(mixed_differs, nullptr) << "handed over, call " << i << ": " << mixed_differs;
    output.append(want.produced.begin(), want.produced.end());
    if (!same || fast_differs || mixed_differs) break;
  }
  return output;
}

// Slices of the calling rule: 8192 until the last, which asks for the rest.
std::vector<size_t> by_rule(size_t total) {
  std::vector<size_t> slices;
  for (size_t done = 0; done < total; done += slices.back()) slices.push_back(std::min<size_t>(total - done, 8192));
  return slices;
}

// Any sizes: empty, tiny, around the window, beyond it.
std::vector<size_t> at_will(std::mt19937& rng) {
  static const size_t sizes[] = {0, 1, 2, 3, 7, 8, 9, 15, 16, 17, 100, 255, 256, 257, 4095, 8191, 8192, 8193, 20000};
  std::vector<size_t> slices(2 + rng() % 8);
  for (size_t& s : slices) s = rng() % 4 ? sizes[rng() % std::size(sizes)] : rng() % 9000;
  return slices;
}

// A well-formed stream of random blocks and what it decodes to.
struct RandomStream {
  std::string bytes;
  std::string plain;
};

// A random complete code over `symbols` symbols: two codes of length 1, then
// random codes split in two (which keeps the code complete) until `used`
// symbols have one. Leaning on the longest codes now and then gives lengths
// up to 16, longer than the tables.
std::vector<uint8_t> random_code(std::mt19937& rng, size_t symbols, size_t used) {
  std::vector<uint8_t> lengths(symbols, 0);
  std::vector<uint32_t> unused(symbols), coded;
  for (uint32_t s = 0; s < symbols; ++s) unused[s] = s;
  std::shuffle(unused.begin(), unused.end(), rng);
  for (int k = 0; k < 2; ++k) {
    coded.push_back(unused.back());
    unused.pop_back();
    lengths[coded.back()] = 1;
  }
  const bool deep = rng() % 3 == 0;
  while (coded.size() < used && !unused.empty()) {
    uint32_t split = coded[rng() % coded.size()];
    if (deep) split = *std::max_element(coded.begin(), coded.end(), [&](uint32_t a, uint32_t b) {
      return lengths[a] < lengths[b] || (lengths[a] == lengths[b] && a < b);
    });
    if (lengths[split] >= 16) split = coded[rng() % coded.size()];
    if (lengths[split] >= 16) continue;
    ++lengths[split];
    coded.push_back(unused.back());
    unused.pop_back();
    lengths[coded.back()] = lengths[split];
  }
  return lengths;
}

RandomStream random_stream(std::mt19937& rng) {
  BitWriter w;
  std::vector<Token> all;
  for (int blocks = 1 + int(rng() % 3); blocks > 0; --blocks) {
    std::vector<uint8_t> lits = random_code(rng, CODEC_LIT_SYMBOLS, 2 + rng() % 508);
    std::vector<uint8_t> pos = random_code(rng, CODEC_POS_SYMBOLS, 2 + rng() % 12);
    std::vector<uint32_t> literal_symbols, length_symbols, position_symbols;
    for (uint32_t s = 0; s < CODEC_LIT_SYMBOLS; ++s)
      if (lits[s]) (s < 256 ? literal_symbols : length_symbols).push_back(s);
    for (uint32_t p = 0; p < CODEC_POS_SYMBOLS; ++p)
      if (pos[p]) position_symbols.push_back(p);
    std::vector<Token> tokens(1 + rng() % 800);
    for (Token& t : tokens) {
      const bool literal = length_symbols.empty() || (!literal_symbols.empty() && rng() % 2);
      if (literal) {
        t = lit(uint8_t(literal_symbols[rng() % literal_symbols.size()]));
        continue;
      }
      // Mostly short lengths, as in real data, but every length can come.
      uint32_t symbol = length_symbols[rng() % length_symbols.size()];
      for (int k = rng() % 4; k > 0; --k) symbol = std::min(symbol, length_symbols[rng() % length_symbols.size()]);
      const uint32_t p = position_symbols[rng() % position_symbols.size()];
      const uint32_t distance = p < 2 ? p + 1 : (1u << (p - 1)) + 1 + uint32_t(rng() % (1u << (p - 1)));
      t = match(symbol - 253, distance);
    }
    put_block(w, tokens, lits, pos);
    all.insert(all.end(), tokens.begin(), tokens.end());
  }
  return {w.bytes(), expand(all)};
}

std::string damage(std::mt19937& rng, std::string s) {
  if (s.empty()) return s;
  switch (rng() % 5) {
    case 0:
      for (int n = 1 + int(rng() % 8); n > 0; --n) s[rng() % s.size()] ^= char(1u << (rng() % 8));
      break;
    case 1: s[rng() % s.size()] = char(rng()); break;
    case 2: s.resize(rng() % s.size()); break;
    case 3: s.insert(rng() % s.size(), std::string(1 + rng() % 4, char(rng()))); break;
    default: {
      const size_t at = rng() % s.size();
      s.replace(at, std::min<size_t>(2, s.size() - at), std::string(2, rng() % 2 ? '\0' : '\xFF'));
    }
  }
  return s;
}

TEST(DecoderDifferential, RandomStreamsKeepingTheCallingRule) {
  std::mt19937 rng(11);
  for (int i = 0; i < 1000; ++i) {
    SCOPED_TRACE(i);
    const RandomStream s = random_stream(rng);
    // A little past the end too: the input then reads as zero bits.
    const std::string out = compare(s.bytes, by_rule(s.plain.size() + rng() % 3 * 5000), rng());
    ASSERT_EQ(first_difference(out.substr(0, s.plain.size()), s.plain), std::string::npos);
    if (HasFailure()) break;
  }
}

TEST(DecoderDifferential, RandomStreamsInAnySlices) {
  std::mt19937 rng(12);
  for (int i = 0; i < 1000 && !HasFailure(); ++i) {
    SCOPED_TRACE(i);
    compare(random_stream(rng).bytes, at_will(rng), rng());
  }
}

TEST(DecoderDifferential, DamagedStreams) {
  std::mt19937 rng(13);
  for (int i = 0; i < 2000 && !HasFailure(); ++i) {
    SCOPED_TRACE(i);
    std::string bytes = random_stream(rng).bytes;
    for (int n = 1 + int(rng() % 3); n > 0; --n) bytes = damage(rng, bytes);
    compare(bytes, rng() % 2 ? by_rule(rng() % 40000) : at_will(rng), rng());
  }
}

// Every prefix: the input's end falls at every bit position of heads,
// codes, extra bits and the 8-byte refills.
TEST(DecoderDifferential, EveryPrefix) {
  std::mt19937 rng(14);
  RandomStream s = random_stream(rng);
  while (s.bytes.size() < 600 || s.bytes.size() > 3000) s = random_stream(rng);
  for (size_t n = 0; n <= s.bytes.size() && !HasFailure(); ++n) {
    SCOPED_TRACE(n);
    compare(s.bytes.substr(0, n), n % 2 ? by_rule(s.plain.size()) : at_will(rng), uint32_t(n));
  }
}

TEST(DecoderDifferential, JlhaStreams) {
  if (access(JLHA, X_OK) != 0) GTEST_SKIP() << "jlha (Debian package jlha-utils) is not installed";
  std::mt19937 rng(15);
  const std::vector<std::pair<std::string, std::string>> files = {
      {"words.txt", words(rng, 400'000)}, {"records.bin", records(rng, 200'000)},
      {"runs.bin", runs(rng, 200'000)},   {"noise.bin", noise(rng, 100'000)}};
  std::string error;
  const std::vector<Member> members = jlha_members(2, files, &error);
  ASSERT_EQ(members.size(), files.size()) << error;
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i].first);
    const std::string out = compare(members[i].data, by_rule(members[i].original), uint32_t(i));
    EXPECT_EQ(first_difference(out, files[i].second), std::string::npos);
    // Damaged, and in slices of any size.
    for (int k = 0; k < 20 && !HasFailure(); ++k) compare(damage(rng, members[i].data), at_will(rng), rng());
  }
}

// The input range is read only from cur up to end: the stream is put right
// before and right after a page that may not be touched, and each of its
// prefixes decoded by both decoders. Any read beyond the range faults, in
// every build.
TEST(DecoderDifferential, NeverReadsOutsideTheInput) {
  const size_t page = size_t(sysconf(_SC_PAGESIZE));
  auto* map = static_cast<uint8_t*>(mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(map, MAP_FAILED);
  ASSERT_EQ(mprotect(map, page, PROT_NONE), 0);
  ASSERT_EQ(mprotect(map + 2 * page, page, PROT_NONE), 0);
  uint8_t* const usable = map + page;

  std::mt19937 rng(16);
  RandomStream s = random_stream(rng);
  while (s.bytes.size() < 40 || s.bytes.size() > page) s = random_stream(rng);
  for (DecodeFunction decode : {codec_decode, reference_decode}) {
    for (size_t n = 0; n <= s.bytes.size(); ++n) {
      for (uint8_t* at : {usable + page - n, usable}) {
        memcpy(at, s.bytes.data(), n);
        CodecContext* c = nullptr;
        ASSERT_EQ(codec_create(&c), 0);
        ByteRange in = {at, at + n, 0, at, int32_t(n)};
        std::vector<uint8_t> out(s.plain.size() + 100);
        for (size_t done = 0; done < out.size();) {
          const size_t slice = std::min<size_t>(out.size() - done, 8192);
          ByteRange o = {out.data() + done, out.data() + done + slice, 0, out.data(), 0};
          if (decode(c, &in, &o) != 0) break;
          done += slice;
        }
        EXPECT_LE(in.cur, at + n);
        codec_release(&c);
      }
    }
  }
  munmap(map, 3 * page);
}

}  // namespace
