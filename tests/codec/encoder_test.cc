// The compressor as a whole: exact streams, the items it chooses, and what
// it does when the output is too small or the context cannot be used.
#include "codec/encoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/codec/encode_helpers.h"
#include "tests/support/process.h"

namespace {

// The items of the last block, which stay staged in work_buf after a call:
// "a" for a literal, "<length>@<distance>" for a match.
std::vector<std::string> last_block_items(const CodecContext* c) {
  std::vector<std::string> items;
  const uint8_t* b = c->work_buf;
  for (uint32_t i = 0, at = 0, flags = 0; at < c->out_index; i++) {
    if (i % 8 == 0) flags = b[at++];
    if (flags & (0x80u >> (i % 8))) {
      items.push_back(std::to_string(b[at] + 3) + "@" + std::to_string((b[at + 1] << 8 | b[at + 2]) + 1));
      at += 3;
    } else {
      items.push_back(std::string(1, char(b[at++])));
    }
  }
  return items;
}

std::vector<std::string> items_of(const std::string& input, CodecContext* context = nullptr) {
  ContextHolder own;
  compress(input, context ? context : own.get());
  return last_block_items(context ? context : own.get());
}

using Items = std::vector<std::string>;

TEST(Encoder, SmallInputsGiveTheirExactStreams) {
  const std::pair<std::string, const char*> cases[] = {
      {"", "00 00 00 00 00 00 00"},
      {"a", "00 01 00 00 06 10 00"},
      {"AAAA", "00 02 20 04 30 10 B6 55 40 10"},
      {std::string(257, 'x'), "00 02 20 04 3F E1 92 B8 40 10"},
      {"abcabcabcabcabcd", "00 05 30 09 2A 15 13 71 24 30 2C 3D 00"},
  };
  for (const auto& [input, stream] : cases) EXPECT_EQ(hex(compress(input)), stream) << input.size() << " bytes";
  EXPECT_EQ(items_of(std::string(257, 'x')), (Items{"x", "256@1"}));
  EXPECT_EQ(items_of("abcabcabcabcabcd"), (Items{"a", "b", "c", "12@3", "d"}));
}

// At 11 "abcdeQ" matches 5 bytes, and so does "bcdeQ" at 12: the earlier
// match stays. With "R" after each Q the match at 12 is longer and wins.
TEST(Encoder, LazyChoiceKeepsAnEqualMatchAndYieldsToALongerOne) {
  EXPECT_EQ(items_of("abcdeX" "bcdeQ" "abcdeQ"), (Items{"a", "b", "c", "d", "e", "X", "4@5", "Q", "5@11", "Q"}));
  EXPECT_EQ(items_of("abcdeX" "bcdeQR" "abcdeQR"),
            (Items{"a", "b", "c", "d", "e", "X", "4@5", "Q", "R", "a", "6@7"}));
}

// Without a 3-byte repeat the first block holds 7264 literals.
TEST(Encoder, InputWithoutRepeatsIsAllLiterals) {
  std::string input = no_repeat_text(10000);
  ContextHolder c;
  EXPECT_EQ(BitReader(compress(input, c.get())).get(16), 7264u);
  Items rest;
  for (size_t i = 7264; i < input.size(); i++) rest.push_back(input.substr(i, 1));
  EXPECT_EQ(last_block_items(c.get()), rest);
}

// Bytes left in text_buf by earlier inputs would extend the last match; it
// stops with the input all the same. (Those bytes can steer the choice
// between equally long matches at the end, so a used context's stream may
// differ from a new one's; it decodes to the same bytes.)
TEST(Encoder, UsedContextStopsMatchesAtTheEndOfTheInput) {
  ContextHolder c;
  std::string stale = std::string(3000, 'q');
  for (int i = 0; i < 2000; i++) stale += "xyz";
  compress(wordy_text(30000, 1) + random_bytes(9000, 3), c.get());
  compress(stale, c.get());
  EXPECT_EQ(items_of("xyzxyz", c.get()), (Items{"x", "y", "z", "3@3"}));
  std::string text = wordy_text(50000, 2) + "pqrsXpqrsYpqrs";
  EXPECT_EQ(decompress(compress(text, c.get()), text.size()), text);
}

// Every room short of the stream gives 0 and holds the stream's first bytes,
// with nothing written past the room; the stream's own size gives 1. The
// output count grows by what was written.
TEST(Encoder, OutputTooSmallStopsAtTheEndOfTheRange) {
  for (const std::string& input : {std::string("abcabcabcabcabcd"), wordy_text(3000, 7), random_bytes(20000, 8)}) {
    const std::string stream = compress(input);
    std::vector<size_t> rooms = {0, 1, stream.size() / 2, stream.size() - 1, stream.size()};
    for (size_t n = 0; n < stream.size() && input.size() < 5000; n++) rooms.push_back(n);
    for (size_t room : rooms) {
      ContextHolder c;
      std::string in = input, out(room + 16, '\xA5');
      ByteRange input_range = range_over(in), output_range = range_over(out);
      output_range.end = output_range.cur + room;
      output_range.count = 1000;
      EXPECT_EQ(codec_encode(c.get(), &input_range, &output_range), room == stream.size() ? 1 : 0) << room;
      EXPECT_EQ(output_range.cur, output_range.end) << room;
      EXPECT_EQ(output_range.count, 1000 + room) << room;
      EXPECT_EQ(out, stream.substr(0, room) + std::string(16, '\xA5')) << room;
    }
  }
}

// A context left with out_full or a decoder's error writes nothing, though
// it still reads its first 8448 bytes of input.
TEST(Encoder, StoppedContextWritesNothing) {
  for (int32_t out_full : {0, 1}) {
    ContextHolder c;
    c->out_full = out_full;
    c->status = out_full ? 0 : CODEC_BAD_TABLE;
    std::string in = random_bytes(20000, 4), out(30000, '\0');
    ByteRange input = range_over(in), output = range_over(out);
    EXPECT_EQ(codec_encode(c.get(), &input, &output), out_full ? 0 : CODEC_BAD_TABLE);
    EXPECT_EQ(output.count, 0u);
    EXPECT_EQ(output.cur, output.start);
    EXPECT_EQ(input.count, 8448u);
  }
}

// A bare record gets its arrays on its first call. One that holds only some
// of them (as an allocation that failed half-way leaves it), or lacks its
// work buffer, is refused with neither range touched.
TEST(Encoder, ContextWithoutItsArrays) {
  std::string in = "abcabcabcabcabcd", out(64, '\0');
  auto* bare = static_cast<CodecContext*>(zero_alloc(sizeof(CodecContext)));
  EXPECT_EQ(compress(in, bare), compress(in));
  codec_release(&bare);
  for (int missing = 0; missing < 2; missing++) {
    ContextHolder c;
    uint8_t** field = missing ? &c->work_buf : reinterpret_cast<uint8_t**>(&c->node_next);
    uint8_t* kept = *field;
    *field = nullptr;
    ByteRange input = range_over(in), output = range_over(out);
    EXPECT_EQ(codec_encode(c.get(), &input, &output), CODEC_NO_MEMORY);
    EXPECT_EQ(input.cur, input.start);
    EXPECT_EQ(output.cur, output.start);
    *field = kept;
  }
}

#ifndef ZOLT_SANITIZED_BUILD
void* volatile allocation_sink;  // keeps the compiler from dropping unused allocations

// In a child whose address space is capped and then used up, the arrays of a
// bare record cannot be had: -2, and neither range moves.
TEST(Encoder, ArraysThatCannotBeAllocatedGiveNoMemory) {
  ProcessOptions options;
  options.limits = {{RLIMIT_AS, rlim_t(512) << 20}};
  ProcessResult r = run_in_child(
      [] {
        static uint8_t in[100], out[100];
        ByteRange input{in, in + 100, 0, in, 100}, output{out, out + 100, 0, out, 100};
        auto* bare = static_cast<CodecContext*>(zero_alloc(sizeof(CodecContext)));
        for (size_t size = size_t(1) << 26; size >= 16;) {
          void* block = malloc(size);
          allocation_sink = block;
          if (!block) size /= 2;
        }
        bool ok = bare && codec_encode(bare, &input, &output) == CODEC_NO_MEMORY && input.cur == in && output.cur == out;
        _exit(ok ? 0 : 1);
      },
      options);
  EXPECT_EQ(r.exit_status, 0);
}
#endif

}  // namespace
