// The compressor's streams against independent LHA tools: each stream goes
// into a plain level-0 .lzh archive (method -lh5-) written here, and every
// tool that is installed must extract the original bytes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/codec/encode_helpers.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace {

// CRC-16/ARC, which LHA keeps little-endian.
uint16_t crc16_arc(const std::string& bytes) {
  uint32_t crc = 0;
  for (unsigned char b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; i++) crc = crc & 1 ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return uint16_t(crc);
}

void put_le(std::string& s, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; i++) s += char(value >> (8 * i));
}

// A level-0 header: its size less 2, the byte sum of what follows those two,
// method, stored and original size, MS-DOS time and date, attribute, level,
// name, and the CRC of the original bytes; then the stream.
std::string level0_entry(const std::string& name, const std::string& original) {
  const std::string stream = compress(original);
  std::string h(2, '\0');
  h += "-lh5-";
  put_le(h, uint32_t(stream.size()), 4);
  put_le(h, uint32_t(original.size()), 4);
  put_le(h, 12u << 11, 2);                    // 12:00:00
  put_le(h, (43u << 9) | (5u << 5) | 2u, 2);  // 2023-05-02
  h += {char(0x20), char(0), char(name.size())};
  h += name;
  put_le(h, crc16_arc(original), 2);
  h[0] = char(h.size() - 2);
  uint32_t sum = 0;
  for (size_t i = 2; i < h.size(); i++) sum += uint8_t(h[i]);
  h[1] = char(sum);
  return h + stream;
}

// Several blocks of text, random bytes, zeros, repeats at the window's
// reach, one byte, all literals, a mixture.
const std::vector<std::pair<std::string, std::string>>& samples() {
  static const auto made = [] {
    std::string unit = random_bytes(8192, 5);
    return std::vector<std::pair<std::string, std::string>>{
        {"a.txt", wordy_text(150000, 1)}, {"b.bin", random_bytes(30000, 2)},
        {"c.zero", std::string(70000, '\0')}, {"d.rep", unit + unit + unit.substr(0, 5000)},
        {"e.one", "a"}, {"f.txt", "abcabcabcabcabcd"}, {"g.lit", no_repeat_text(20000)},
        {"h.mix", wordy_text(9000, 3) + random_bytes(9000, 4) + std::string(300, 'x') + wordy_text(20000, 5)},
    };
  }();
  return made;
}

// `args` with {a} standing for the archive and {t} for the target directory.
void check_tool(const char* tool, std::vector<std::string> args, const std::string& left_out = "") {
  if (access(tool, X_OK) != 0) GTEST_SKIP() << tool << " is not installed";
  TempDir dir;
  std::string archive = dir / "test.lzh", target = dir / "out", bytes;
  for (const auto& [name, data] : samples())
    if (name != left_out) bytes += level0_entry(name, data);
  write_file(archive, bytes + '\0');
  ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
  for (auto& arg : args) {
    if (auto at = arg.find("{a}"); at != std::string::npos) arg.replace(at, 3, archive);
    if (auto at = arg.find("{t}"); at != std::string::npos) arg.replace(at, 3, target);
  }
  ProcessOptions options;
  options.args = args;
  options.timeout_seconds = 120;
  ProcessResult r = run_process(tool, options);
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  for (const auto& [name, data] : samples()) {
    if (name == left_out) continue;
    ASSERT_TRUE(path_exists(target + "/" + name)) << name << "\n" << r.out << r.err;
    EXPECT_TRUE(read_file(target + "/" + name) == data) << name;
  }
}

TEST(EncoderInterop, SevenZipExtracts) { check_tool("/usr/bin/7zz", {"x", "-y", "-bd", "-o{t}", "{a}"}); }
TEST(EncoderInterop, LhasaExtracts) { check_tool("/usr/bin/lhasa", {"xfw={t}", "{a}"}); }
// jLHA, on the Java VM, is slow to start but has a codec of its own.
TEST(EncoderInterop, JlhaExtracts) { check_tool("/usr/bin/jlha", {"xfw={t}", "{a}"}); }

// libarchive refuses a block whose pre-tree comes in the single-symbol form
// (a 5-bit count of 0), which the format allows and the other tools read; the
// one-byte entry has such a block.
TEST(EncoderInterop, BsdtarExtracts) { check_tool("/usr/bin/bsdtar", {"-x", "-f", "{a}", "-C", "{t}"}, "e.one"); }

}  // namespace
