#include "codec/decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/codec/reference_decoder.h"
#include "tests/codec/stream_builder.h"

namespace {

using DecodeFunction = int32_t (*)(CodecContext*, ByteRange*, ByteRange*);

// Every case runs through the fast decoder and through the step-by-step
// reference: the reference is what the fast one is compared with elsewhere,
// so it must be right on its own.
struct DecoderUnderTest {
  const char* name;
  DecodeFunction decode;
};
const DecoderUnderTest DECODERS[] = {{"Fast", codec_decode}, {"Reference", reference_decode}};

// One stream through one context, called slice by slice.
class Decoding {
 public:
  Decoding(DecodeFunction decode, std::string stream) : decode_(decode), stream_(std::move(stream)) {
    EXPECT_EQ(codec_create(&context_), 0);
    auto* bytes = reinterpret_cast<uint8_t*>(stream_.data());
    input_ = {bytes, bytes + stream_.size(), 0, bytes, int32_t(stream_.size())};
  }
  ~Decoding() { codec_release(&context_); }

  // One call with a slice of `size` bytes; appends what it produced.
  int32_t call(size_t size) {
    std::vector<uint8_t> slice(size + 1, 0xEE);
    ByteRange out = {slice.data(), slice.data() + size, 0, slice.data(), int32_t(size)};
    int32_t result = decode_(context_, &input_, &out);
    produced_ = size_t(out.cur - slice.data());
    EXPECT_EQ(std::count(slice.begin() + long(produced_), slice.end(), 0xEE), long(size + 1 - produced_))
        << "wrote past what it produced";
    EXPECT_EQ(out.count, 0u);
    output_.append(reinterpret_cast<char*>(slice.data()), produced_);
    return result;
  }

  // `total` bytes in slices of min(rest, 8192), each expected to succeed.
  std::string all(size_t total) {
    while (output_.size() < total) {
      size_t want = std::min<size_t>(total - output_.size(), 8192);
      EXPECT_EQ(call(want), 0);
      EXPECT_EQ(produced_, want);
    }
    return output_;
  }

  CodecContext* context() { return context_; }
  ByteRange& input() { return input_; }
  const std::string& output() const { return output_; }
  size_t produced() const { return produced_; }

 private:
  DecodeFunction decode_;
  std::string stream_;
  CodecContext* context_ = nullptr;
  ByteRange input_;
  std::string output_;
  size_t produced_ = 0;
};

std::string bytes(std::initializer_list<uint8_t> list) { return std::string(list.begin(), list.end()); }

// One block of `count` symbols, all three codes in the single-symbol form.
void put_single_block(BitWriter& w, uint32_t count, uint32_t lit_symbol, uint32_t pos_symbol = 0) {
  w.put(count, 16);
  put_single(w, 5, 0);
  put_single(w, 9, lit_symbol);
  put_single(w, 4, pos_symbol);
}

class Decoder : public ::testing::TestWithParam<DecoderUnderTest> {
 protected:
  DecodeFunction decode() const { return GetParam().decode; }
};

TEST_P(Decoder, SevenByteStreamGivesOneByte) {
  // count 1; pre-tree, literal/length and position codes single-symbol
  // (0, 65, 0); four bits of padding.
  Decoding d(decode(), bytes({0x00, 0x01, 0x00, 0x00, 0x04, 0x10, 0x00}));
  EXPECT_EQ(d.all(1), "A");
  EXPECT_EQ(d.input().count, 7u);
}

TEST_P(Decoder, TenByteStreamOfFourBytes) {
  BitWriter w;
  w.put(2, 16);                     // two symbols
  w.put(4, 5);                      // pre-tree: 4 lengths
  w.put(0, 3), w.put(0, 3), w.put(1, 3);
  w.put(0, 2);                      //   zero run after the third: none
  w.put(1, 3);                      //   symbols 2 and 3 have the codes 0 and 1
  w.put(257, 9);                    // literal/length: 257 lengths
  w.put(0, 1), w.put(45, 9);        //   run symbol 2: 20 + 45 zeros
  w.put(1, 1);                      //   symbol 3: length 1 for symbol 65
  w.put(0, 1), w.put(170, 9);       //   20 + 170 zeros
  w.put(1, 1);                      //   length 1 for symbol 256
  put_single(w, 4, 0);              // position code: symbol 0
  w.put(0, 1);                      // literal 0x41
  w.put(1, 1);                      // match of length 3, distance 1 (no position bits)
  const std::string stream = bytes({0x00, 0x02, 0x20, 0x04, 0x30, 0x10, 0xB6, 0x55, 0x40, 0x10});
  ASSERT_EQ(w.bytes(), stream);

  EXPECT_EQ(Decoding(decode(), stream).all(4), "AAAA");
  // Past the end zero bits form a head of count 0 whose literal is byte 0.
  EXPECT_EQ(Decoding(decode(), stream).all(10), "AAAA" + std::string(6, '\0'));
}

TEST_P(Decoder, SingleSymbolForms) {
  // The literal code consumes no bits: the next head follows at once.
  BitWriter literals;
  put_single_block(literals, 3, 'Z');
  put_single_block(literals, 1, 'Q');
  EXPECT_EQ(Decoding(decode(), literals.bytes()).all(4), "ZZZQ");

  // A single match length still reads a position code for each symbol.
  BitWriter matches;
  put_single_block(matches, 1, 'A');
  put_single_block(matches, 1, 'B');
  matches.put(2, 16);
  put_single(matches, 5, 0);
  put_single(matches, 9, 256);             // every symbol: match of length 3
  put_aux_lengths(matches, 4, {1, 1}, false);  // positions 0 and 1: codes 0 and 1
  matches.put(1, 1);                       // distance 2: ABA
  matches.put(0, 1);                       // distance 1: AAA
  EXPECT_EQ(Decoding(decode(), matches.bytes()).all(8), "ABABAAAA");

  // A single pre-tree symbol consumes no bits, but a run still reads its field.
  BitWriter runs;
  runs.put(1, 16);
  put_single(runs, 5, 2);  // every pre-tree symbol: 20 + 9 bits zeros
  runs.put(510, 9);
  runs.put(490, 9);        // 510 zeros: no code, so the table keeps its zeros (literal 0)
  put_single(runs, 4, 0);
  put_single_block(runs, 1, 'Q');
  EXPECT_EQ(Decoding(decode(), runs.bytes()).all(2), std::string("\0Q", 2));
}

TEST_P(Decoder, ZeroRunFieldFollowsAThirdLengthEvenWhenItIsTheLast) {
  // Pre-tree count 3 (lengths 1, 2, 2: codes 0, 10, 11), then the 2-bit zero
  // run 0; if it were not read, the 'Q' block behind would be misread.
  BitWriter w;
  w.put(1, 16);
  w.put(3, 5);
  w.put(1, 3), w.put(2, 3), w.put(2, 3);
  w.put(0, 2);
  w.put(510, 9);
  w.put(0b11, 2), w.put(490, 9);  // symbol 2: 510 zeros, no code
  put_single(w, 4, 0);
  put_single_block(w, 1, 'Q');
  EXPECT_EQ(Decoding(decode(), w.bytes()).all(2), std::string("\0Q", 2));
}

TEST_P(Decoder, MatchesRepeatAndReachBeforeTheStart) {
  BitWriter w;
  put_block(w, {lit('x'), match(10, 1), match(5, 14)});
  EXPECT_EQ(Decoding(decode(), w.bytes()).all(16), std::string(11, 'x') + std::string(3, '\0') + "xx");
}

TEST_P(Decoder, CodesLongerThanTheTables) {
  // Literal/length lengths 1..13 for 'a'.., 14 for symbols 400 and 401
  // (lengths 147, 148): 13 and 14 bits pass the 12-bit table. Positions 1..12
  // bits, then 13, 13: the last five pass the 8-bit table.
  std::vector<uint8_t> lits(510, 0), pos(14, 0);
  for (int i = 0; i < 13; ++i) lits['a' + i] = uint8_t(i + 1), pos[i] = uint8_t(i + 1);
  lits[400] = lits[401] = 14;
  pos[13] = 13;
  std::vector<Token> tokens = {lit('m'), lit('a'), lit('l'), match(147, 1), lit('b'), match(148, 4097),
                               match(148, 8000), match(147, 300), lit('m')};
  BitWriter w;
  put_block(w, tokens, lits, pos);
  std::string expected = expand(tokens);
  EXPECT_EQ(first_difference(Decoding(decode(), w.bytes()).all(expected.size()), expected), std::string::npos);
}

TEST_P(Decoder, ChunksKeepMatchesAndTheWindow) {
  // 8190 literals; a match that straddles the first chunk's end; then
  // back-references from the second chunk into the first, one of them the
  // whole window back; literals up to 10000 bytes.
  std::vector<Token> tokens;
  for (int i = 0; i < 8190; ++i) tokens.push_back(lit(uint8_t(i * 7 % 251)));
  tokens.push_back(match(10, 5));
  tokens.push_back(match(256, 8192));
  tokens.push_back(match(100, 3000));
  for (size_t n = expand(tokens).size(); n < 10000; ++n) tokens.push_back(lit(uint8_t(n)));
  std::string expected = expand(tokens);
  ASSERT_EQ(expected.size(), 10000u);
  BitWriter w;
  put_block(w, tokens);

  Decoding d(decode(), w.bytes());
  EXPECT_EQ(d.call(8192), 0);
  EXPECT_EQ(d.context()->copy_left, 8);  // two of its ten bytes fitted
  EXPECT_EQ(d.call(10000 - 8192), 0);
  EXPECT_EQ(d.produced(), 1808u);
  EXPECT_EQ(first_difference(d.output(), expected), std::string::npos);
}

TEST_P(Decoder, BlockCountZeroKeepsItsCodes) {
  // The count wraps to 2^32 - 1; no further head is read, so the zero bits
  // after the stream are never taken for one.
  BitWriter w;
  put_single_block(w, 0, 'Z');
  Decoding d(decode(), w.bytes());
  EXPECT_EQ(d.all(20000), std::string(20000, 'Z'));
  EXPECT_EQ(d.context()->block_left, 0xFFFFFFFFu - 19999);
}

TEST_P(Decoder, BadTableDeliversTheChunkThenStops) {
  BitWriter w;
  put_single_block(w, 1, 'A');
  w.put(5, 16);
  put_aux_lengths(w, 5, {1}, true);  // one code of length 1: incomplete
  Decoding d(decode(), w.bytes() + std::string(100, '\x55'));

  EXPECT_EQ(d.call(100), CODEC_BAD_TABLE);
  EXPECT_EQ(d.produced(), 100u);
  EXPECT_EQ(d.output()[0], 'A');
  EXPECT_EQ(d.context()->state, DECODER_STOPPED);

  const ByteRange before = d.input();
  EXPECT_EQ(d.call(8192), CODEC_BAD_TABLE);
  EXPECT_EQ(d.produced(), 0u);
  EXPECT_EQ(d.call(0), CODEC_BAD_TABLE);
  EXPECT_EQ(d.input().cur, before.cur);
  EXPECT_EQ(d.input().count, before.count);
}

// Heads that no encoder writes and that would, read literally, write outside
// the length arrays or name symbols that do not exist: each is refused like a
// bad table, whatever follows it, and nothing outside the context is touched
// (the sanitizer build checks).
TEST_P(Decoder, MalformedHeadsAreRefused) {
  struct Case {
    const char* what;
    void (*head)(BitWriter&);
  };
  const Case cases[] = {
      {"pre-tree count 20", [](BitWriter& w) { w.put(20, 5); }},
      {"pre-tree count 31", [](BitWriter& w) { w.put(31, 5); }},
      {"pre-tree length 17",
       [](BitWriter& w) { put_aux_lengths(w, 5, {17, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 16}, true); }},
      {"pre-tree symbol 19", [](BitWriter& w) { put_single(w, 5, 19); }},
      {"pre-tree symbol 31", [](BitWriter& w) { put_single(w, 5, 31); }},
      {"literal count 511", [](BitWriter& w) { put_single(w, 5, 3), w.put(511, 9); }},
      {"zero run past 509",
       [](BitWriter& w) {
         put_aux_lengths(w, 5, fixed_pre_tree(), true);
         w.put(510, 9);
         w.put_code(fixed_pre_tree(), 3), w.put_code(fixed_pre_tree(), 3);  // two lengths of 1
         w.put_code(fixed_pre_tree(), 2), w.put(511, 9);                    // 531 zeros
       }},
      {"literal symbol 510", [](BitWriter& w) { put_single(w, 5, 0), put_single(w, 9, 510); }},
      {"literal symbol 511", [](BitWriter& w) { put_single(w, 5, 0), put_single(w, 9, 511); }},
      {"position symbol 14", [](BitWriter& w) { put_single(w, 5, 0), put_single(w, 9, 'B'), put_single(w, 4, 14); }},
      {"position symbol 15", [](BitWriter& w) { put_single(w, 5, 0), put_single(w, 9, 'B'), put_single(w, 4, 15); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BitWriter w;
    put_single_block(w, 1, 'A');
    w.put(3, 16);
    c.head(w);
    // Whatever the rest of the head reads, the stream goes on as 1 bits.
    Decoding d(decode(), w.bytes() + std::string(64, '\xFF'));
    EXPECT_EQ(d.call(8192), CODEC_BAD_TABLE);
    EXPECT_EQ(d.produced(), 8192u);
    EXPECT_EQ(d.output()[0], 'A');
    EXPECT_EQ(d.call(8192), CODEC_BAD_TABLE);
    EXPECT_EQ(d.produced(), 0u);
  }
}

TEST_P(Decoder, RefusedSingleSymbolKeepsTheTable) {
  // The refused literal 511 leaves the table of 'A' in place; the rest of the
  // chunk is decoded with it.
  BitWriter w;
  put_single_block(w, 1, 'A');
  put_single_block(w, 0, 511);  // count 0: no further head
  Decoding d(decode(), w.bytes());
  EXPECT_EQ(d.call(300), CODEC_BAD_TABLE);
  EXPECT_EQ(d.output(), std::string(300, 'A'));
}

TEST_P(Decoder, PositionCountFifteenIsAccepted) {
  // The 4-bit field can send a fifteenth position length; no symbol has it.
  std::vector<uint8_t> pos = all_pos_lengths();
  pos.push_back(5);
  std::vector<Token> tokens = {lit('a'), lit('b'), match(20, 2)};
  BitWriter w;
  put_block(w, tokens, all_lit_lengths(), pos);
  EXPECT_EQ(Decoding(decode(), w.bytes()).all(22), expand(tokens));
}

TEST_P(Decoder, EmptyAndMisplacedRanges) {
  uint8_t one = 0x41;
  uint8_t sink[4] = {};
  CodecContext* c = nullptr;
  ASSERT_EQ(codec_create(&c), 0);
  ByteRange in = {&one, &one + 1, 0, &one, 1};
  ByteRange empty = {sink, sink, 0, sink, 0};
  EXPECT_EQ(decode()(c, &in, &empty), 0);
  EXPECT_EQ(empty.cur, sink);
  // An output range whose cur lies beyond its end is empty too.
  ByteRange behind = {sink + 2, sink + 1, 0, sink, 1};
  EXPECT_EQ(decode()(c, &in, &behind), 0);
  EXPECT_EQ(behind.cur, sink + 2);
  EXPECT_EQ(sink[0] | sink[1] | sink[2] | sink[3], 0);

  EXPECT_EQ(decode()(nullptr, &in, &empty), CODEC_MISUSE);
  EXPECT_EQ(decode()(c, nullptr, &empty), CODEC_MISUSE);
  EXPECT_EQ(decode()(c, &in, nullptr), CODEC_MISUSE);
  codec_release(&c);

  // An input range whose cur lies beyond its end reads as zero bits: a head
  // of count 0 whose literal is byte 0.
  ASSERT_EQ(codec_create(&c), 0);
  ByteRange past = {&one + 1, &one, 0, &one, 0};
  ByteRange out = {sink, sink + 4, 0, sink, 4};
  sink[0] = 0xEE;
  EXPECT_EQ(decode()(c, &past, &out), 0);
  EXPECT_EQ(out.cur, sink + 4);
  EXPECT_EQ(sink[0], 0);
  EXPECT_EQ(past.cur, &one + 1);
  EXPECT_EQ(past.count, 0u);
  codec_release(&c);
}

INSTANTIATE_TEST_SUITE_P(Both, Decoder, ::testing::ValuesIn(DECODERS),
                         [](const ::testing::TestParamInfo<DecoderUnderTest>& info) { return info.param.name; });

}  // namespace
