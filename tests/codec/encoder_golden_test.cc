// The compressor's output is fixed by the stream format's rules down to the
// last bit: a faster match finder or bit writer must not change one byte.
// These digests were taken from the step-by-step compressor before any speed
// work; a change in any of them means the output changed.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tests/codec/encode_helpers.h"
#include "tests/codec/encoder_inputs.h"

namespace {

// FNV-1a, 64 bits: enough to tell streams apart, and simple to recompute.
uint64_t digest(const std::string& bytes) {
  uint64_t h = 0xCBF29CE484222325ull;
  for (unsigned char b : bytes) h = (h ^ b) * 0x100000001B3ull;
  return h;
}

struct Golden {
  const char* name;
  std::function<std::string()> input;
  size_t stream_size;
  uint64_t stream_digest;
};

std::string several_megabytes() {
  std::string s;
  for (uint32_t part = 0; s.size() < (3u << 20); part++) s += mixed_bytes(200000 + part * 777, part);
  return s;
}

const std::vector<Golden>& goldens() {
  static const std::vector<Golden> table = {
      {"empty", [] { return std::string(); }, 7, 0x778B1A14B6876AA7ull},
      {"one byte", [] { return std::string("a"); }, 7, 0xAC7E0BE1D293D454ull},
      {"abcabc", [] { return std::string("abcabcabcabcabcd"); }, 13, 0x6E4FCADF6DC54849ull},
      {"257 x", [] { return std::string(257, 'x'); }, 10, 0xCC948314219E1A35ull},
      {"text 8191", [] { return wordy_text(8191, 8191); }, 1715, 0x1D6AEDA9D3A28624ull},
      {"random 8191", [] { return random_bytes(8191, 8191); }, 8286, 0xA0FE37DCF079378Aull},
      {"binary 8191", [] { return binary_like(8191, 8191); }, 2819, 0xFB3EF5C97113484Dull},
      {"runs 8191", [] { return byte_runs(8191, 8191); }, 97, 0x21A704F4D4528F1Eull},
      {"text 8192", [] { return wordy_text(8192, 8192); }, 1765, 0x3D4B33175D661E85ull},
      {"random 8192", [] { return random_bytes(8192, 8192); }, 8280, 0x988510C36A66925Eull},
      {"binary 8192", [] { return binary_like(8192, 8192); }, 2880, 0x8373916AC87BF285ull},
      {"runs 8192", [] { return byte_runs(8192, 8192); }, 111, 0x26F971074A45ED4ull},
      {"text 8193", [] { return wordy_text(8193, 8193); }, 1743, 0x3E80117702612C37ull},
      {"random 8193", [] { return random_bytes(8193, 8193); }, 8287, 0x590E261FB8853EE5ull},
      {"binary 8193", [] { return binary_like(8193, 8193); }, 2816, 0x22F4CE1779522B05ull},
      {"runs 8193", [] { return byte_runs(8193, 8193); }, 100, 0xEFA5F2417F7791FBull},
      {"text 8447", [] { return wordy_text(8447, 8447); }, 1811, 0xF220C92E56860684ull},
      {"random 8447", [] { return random_bytes(8447, 8447); }, 8539, 0x131DF383CEA2D4FFull},
      {"binary 8447", [] { return binary_like(8447, 8447); }, 2906, 0xCFD50DDCEA2E1655ull},
      {"runs 8447", [] { return byte_runs(8447, 8447); }, 109, 0xED3D1D1C0BEC3D9Aull},
      {"text 8448", [] { return wordy_text(8448, 8448); }, 1786, 0x6BAD7EEB99C2B42Cull},
      {"random 8448", [] { return random_bytes(8448, 8448); }, 8532, 0xCDF4D5D085A5F547ull},
      {"binary 8448", [] { return binary_like(8448, 8448); }, 2952, 0x1910D23FA38D20E1ull},
      {"runs 8448", [] { return byte_runs(8448, 8448); }, 132, 0x81BC0DFD43D2E89ull},
      {"text 8449", [] { return wordy_text(8449, 8449); }, 1778, 0x8D545955EFAB200Bull},
      {"random 8449", [] { return random_bytes(8449, 8449); }, 8535, 0x96F7AABF7AAF91ECull},
      {"binary 8449", [] { return binary_like(8449, 8449); }, 2797, 0xE863D9AB6CFC5D0Bull},
      {"runs 8449", [] { return byte_runs(8449, 8449); }, 100, 0xD97E8786B20CAE4Full},
      {"text 16383", [] { return wordy_text(16383, 16383); }, 3226, 0x8654CC57D25DC472ull},
      {"random 16383", [] { return random_bytes(16383, 16383); }, 16510, 0x8E22A25E15BF2748ull},
      {"binary 16383", [] { return binary_like(16383, 16383); }, 5549, 0xCD91081AF5C0796ull},
      {"runs 16383", [] { return byte_runs(16383, 16383); }, 204, 0x51EE4A0AA3A13DA1ull},
      {"text 16384", [] { return wordy_text(16384, 16384); }, 3228, 0xC5A3AD7CEABFFB77ull},
      {"random 16384", [] { return random_bytes(16384, 16384); }, 16511, 0x16160DC76C3F2BBBull},
      {"binary 16384", [] { return binary_like(16384, 16384); }, 5429, 0x3AD074196932DE7Full},
      {"runs 16384", [] { return byte_runs(16384, 16384); }, 197, 0xBB310294B19460ECull},
      {"text 16385", [] { return wordy_text(16385, 16385); }, 3236, 0x76400DD1DF4C8CE1ull},
      {"random 16385", [] { return random_bytes(16385, 16385); }, 16521, 0x5F725A5F1B77BE56ull},
      {"binary 16385", [] { return binary_like(16385, 16385); }, 5404, 0xC96F56105AB9E66Cull},
      {"runs 16385", [] { return byte_runs(16385, 16385); }, 175, 0x48961EDB017BCFB8ull},
      {"text 16639", [] { return wordy_text(16639, 16639); }, 3327, 0xF96102C092F6DD30ull},
      {"random 16639", [] { return random_bytes(16639, 16639); }, 16760, 0xE9D5B62E3F158377ull},
      {"binary 16639", [] { return binary_like(16639, 16639); }, 5663, 0xA4D7230E4C52A39Eull},
      {"runs 16639", [] { return byte_runs(16639, 16639); }, 183, 0x6E69D7981C23A61Full},
      {"text 16640", [] { return wordy_text(16640, 16640); }, 3302, 0x7EA02FE05522E41ull},
      {"random 16640", [] { return random_bytes(16640, 16640); }, 16776, 0xFFF52DF2B59035BBull},
      {"binary 16640", [] { return binary_like(16640, 16640); }, 5550, 0xCDEDE6C9C33C14EDull},
      {"runs 16640", [] { return byte_runs(16640, 16640); }, 220, 0xF9E6430B76C08880ull},
      {"text 16641", [] { return wordy_text(16641, 16641); }, 3267, 0x76D54AB3622B449Dull},
      {"random 16641", [] { return random_bytes(16641, 16641); }, 16764, 0x53ECA11F12A82F5Dull},
      {"binary 16641", [] { return binary_like(16641, 16641); }, 5607, 0x8FEA07DEB8CCCFA6ull},
      {"runs 16641", [] { return byte_runs(16641, 16641); }, 210, 0x3C3C97816F0DE34Eull},
      {"text 24576", [] { return wordy_text(24576, 24576); }, 4715, 0x307A807EDB643C89ull},
      {"random 24576", [] { return random_bytes(24576, 24576); }, 24750, 0x97CF56DB8EF773C4ull},
      {"binary 24576", [] { return binary_like(24576, 24576); }, 7868, 0xAD5E1256498469EAull},
      {"runs 24576", [] { return byte_runs(24576, 24576); }, 287, 0xF21844FFF5BC8442ull},
      {"text 24577", [] { return wordy_text(24577, 24577); }, 4701, 0xE69FEE2CE2E9039Full},
      {"random 24577", [] { return random_bytes(24577, 24577); }, 24743, 0x7845A0F10E856370ull},
      {"binary 24577", [] { return binary_like(24577, 24577); }, 8072, 0x539A0BBA6D8882B1ull},
      {"runs 24577", [] { return byte_runs(24577, 24577); }, 295, 0x488812DD688D26CCull},
      {"text 25344", [] { return wordy_text(25344, 25344); }, 4812, 0x28BE85A6C8813393ull},
      {"random 25344", [] { return random_bytes(25344, 25344); }, 25517, 0xCE54C1D1B0CAC798ull},
      {"binary 25344", [] { return binary_like(25344, 25344); }, 8282, 0x5AC4827EF2C1AC05ull},
      {"runs 25344", [] { return byte_runs(25344, 25344); }, 286, 0xA345F41C0137D0D7ull},
      {"text 33792", [] { return wordy_text(33792, 33792); }, 6353, 0xCB720D812ED3A109ull},
      {"random 33792", [] { return random_bytes(33792, 33792); }, 34015, 0x5BD1CAF25AA11F02ull},
      {"binary 33792", [] { return binary_like(33792, 33792); }, 11056, 0x5BFF29D4A537B711ull},
      {"runs 33792", [] { return byte_runs(33792, 33792); }, 350, 0x664629BB1AA03426ull},
      {"period 1", [] { return periodic_bytes(70000, 1, 1); }, 46, 0x6BAAE61E304C9F95ull},
      {"period 3", [] { return periodic_bytes(70000, 3, 3); }, 85, 0xF9F017C689016A34ull},
      {"period 256", [] { return periodic_bytes(70000, 256, 256); }, 617, 0xFD493001450A9CAull},
      {"period 257", [] { return periodic_bytes(70000, 257, 257); }, 652, 0x4E6636209AD22895ull},
      {"period 8191", [] { return periodic_bytes(70000, 8191, 8191); }, 8799, 0xAB1EC460F200936Aull},
      {"period 8192", [] { return periodic_bytes(70000, 8192, 8192); }, 70438, 0x17E35D6BC76F89BDull},
      {"period 8193", [] { return periodic_bytes(70000, 8193, 8193); }, 70439, 0xE9492E9605C7447Aull},
      {"alphabet 1", [] { return small_alphabet(60000, 1, 1); }, 42, 0x2A044F6FC2043830ull},
      {"alphabet 2", [] { return small_alphabet(60000, 2, 2); }, 9313, 0xD11C3DB5736B0C59ull},
      {"alphabet 3", [] { return small_alphabet(60000, 3, 3); }, 14288, 0x23379E8A1FB8107ull},
      {"alphabet 4", [] { return small_alphabet(60000, 4, 4); }, 17810, 0x245792F03CEF7E83ull},
      {"no repeat", [] { return no_repeat_text(70000); }, 59857, 0xCE8000BB0AB92307ull},
      {"zeros 1 MB", [] { return std::string(1u << 20, '\0'); }, 529, 0xFA5872607DF07CCFull},
      {"text 2 MB", [] { return wordy_text(2u << 20, 7); }, 373647, 0xBB8CDB362F7CF5C2ull},
      {"binary 2 MB", [] { return binary_like(2u << 20, 7); }, 677318, 0x858F0EDD304B7C78ull},
      {"random 1 MB", [] { return random_bytes(1u << 20, 7); }, 1054968, 0x2D6ED6AB5AE9EC0Bull},
      {"mixed 3 MB", [] { return several_megabytes(); }, 1226490, 0xD323624609842659ull},
  };
  return table;
}

TEST(EncoderGolden, StreamsMatchTheRecordedDigests) {
  ASSERT_FALSE(goldens().empty());
  for (const Golden& g : goldens()) {
    const std::string stream = compress(g.input());
    const uint64_t d = digest(stream);
    EXPECT_TRUE(stream.size() == g.stream_size && d == g.stream_digest)
        << g.name << ": now " << stream.size() << " bytes, digest 0x" << std::hex << d;
  }
}

// The same inputs one after the other on one context: the bytes that an
// earlier input left past the end of the text buffer steer ties near the end
// of a later one, so this digest covers what a reused context does.
TEST(EncoderGolden, OneContextForAllInputs) {
  ContextHolder context;
  uint64_t h = 0;
  for (const Golden& g : goldens()) h = h * 31 + digest(compress(g.input(), context.get()));
  EXPECT_EQ(h, 0x1D6765F1067F7656ull) << std::hex << h;
}

}  // namespace
