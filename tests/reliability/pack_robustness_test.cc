// zolt-pack list and verify on what is not a sound installer: the fuzz
// corpus and findings (see fuzz/pack_inspect_fuzz.cc), damaged and cut-short
// installers, and files without an end. Each run ends with status 0, or with
// status 1 and one message naming the file; both commands agree.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "fuzz/fuzz_attachment.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/files.h"

namespace {

ProcessResult pack(const std::vector<std::string>& args) {
  ProcessOptions o;
  o.args = args;
  o.timeout_seconds = 20;
  ProcessResult r = run_process(ZOLT_PACK_BINARY, o);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.term_signal, 0);
  return r;
}

// list and verify on `path`: both succeed or both fail (but for verify's
// refusal of the stub) with one line "zolt-pack: PATH: ..." on standard error.
void expect_sound_verdict(const std::string& path, const std::string& what) {
  SCOPED_TRACE(what);
  ProcessResult listed = pack({"list", path});
  ProcessResult verified = pack({"verify", "-q", path});
  // verify alone refuses Zstandard data behind a stub that cannot decode it.
  bool stub_cannot = verified.err.find("(its stub does not decode Zstandard") != std::string::npos;
  EXPECT_EQ(listed.exit_status, stub_cannot ? 0 : verified.exit_status);
  for (const ProcessResult* r : {&listed, &verified}) {
    EXPECT_TRUE(r->exit_status == 0 || r->exit_status == 1) << r->exit_status;
    if (r->exit_status == 1) {
      EXPECT_EQ(r->err.compare(0, 11 + path.size() + 2, "zolt-pack: " + path + ": "), 0) << r->err;
      EXPECT_EQ(r->err.find('\n'), r->err.size() - 1) << r->err;
    } else {
      EXPECT_EQ(r->err, "");
    }
  }
}

TEST(PackRobustness, FuzzCorpusAndFindings) {
  TempDir tmp;
  size_t count = 0;
  for (const char* dir : {ZOLT_FUZZ_CORPUS, ZOLT_FUZZ_FINDINGS}) {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
      const std::string input = read_file(e.path().string());
      write_file(tmp / "installer", fuzz_installer_file(reinterpret_cast<const uint8_t*>(input.data()), input.size()));
      expect_sound_verdict(tmp / "installer", e.path().string());
      count++;
    }
  }
  EXPECT_GE(count, 6u);
}

// Random single-byte changes and cuts of the sample installer.
TEST(PackRobustness, DamagedAndCutShort) {
  TempDir tmp;
  const std::string good = stub_installer(sample_entries());
  const std::string path = tmp / "installer";
  std::mt19937 random(7);
  for (int i = 0; i < 40; i++) {
    std::string bytes = good;
    size_t p = 1024 + random() % (good.size() - 1024);
    bytes[p] = char(bytes[p] ^ (1 + random() % 255));
    write_file(path, bytes);
    expect_sound_verdict(path, "changed at " + std::to_string(p));
    write_file(path, good.substr(0, p));
    expect_sound_verdict(path, "cut at " + std::to_string(p));
  }
}

// A device without an end, and a directory, hold no attachment; the search
// for one must end.
TEST(PackRobustness, FilesWithoutAnEnd) {
  for (const char* path : {"/dev/zero", "/dev/null", "/"}) {
    expect_sound_verdict(path, path);
    EXPECT_EQ(pack({"verify", path}).exit_status, 1) << path;
  }
}

}  // namespace
