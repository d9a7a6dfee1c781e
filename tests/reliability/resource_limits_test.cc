// Disks that fill up, directories that cannot be made, declared sizes near
// 4 GiB and memory that runs out at any point: each run ends with its
// message and status 0, the entries before the failing one in place and
// those after it not begun.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "engine/read/entry_reader.h"
#include "archive/format.h"
#include "codec/codec_context.h"
#include "codec/decoder.h"
#include "tests/reliability/defined_endings.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/files.h"

namespace {

class ResourceLimits : public ::testing::Test {
 protected:
  void SetUp() override { make_sample_tree(target); }

  // The tree as the first `k` entries left it, apart from entry k's own file
  // and what its sweep removed: the two that a failure in writing entry k
  // may have changed.
  void expect_stopped_at(size_t k) {
    Snapshot expected = sample_tree_after(k), now = snapshot(target);
    if (k < entries.size()) {
      const std::string& name = entries[k].name;
      const std::string base = entry_base_name(name.c_str());
      auto touched = [&](const std::string& path) {
        return entry_base_name(path.c_str()) == base || name.compare(0, path.size() + 1, path + "/") == 0;
      };
      for (Snapshot* s : {&expected, &now})
        for (auto it = s->begin(); it != s->end();) it = touched(it->first) ? s->erase(it) : std::next(it);
    }
    EXPECT_TRUE(now == expected) << "stopped at entry " << k << ":\n" << snapshot_diff(expected, now);
  }

  TempDir parent;
  std::string target = parent / "target";
  std::vector<TestEntry> entries = sample_entries();
  std::string installer = stub_installer(entries);
};

// A file size limit at and around the size of every file: the first file
// that does not fit fails to be saved, holding at most the limit.
TEST_F(ResourceLimits, DiskFillsUpAtEverySize) {
  std::set<rlim_t> limits = {0, 1, 4096, 8192, 8193};
  for (const TestEntry& e : entries)
    for (rlim_t size : {rlim_t(e.data.size()), rlim_t(e.data.size()) + 1, rlim_t(e.data.size()) - 1})
      if (size <= e.data.size() + 1) limits.insert(size);
  for (rlim_t limit : limits) {
    SCOPED_TRACE("limit " + std::to_string(limit));
    remove_tree(target);
    make_sample_tree(target);
    ProcessOptions o;
    o.limits = {{RLIMIT_FSIZE, limit}};
    o.ignore_sigxfsz = true;
    ProcessResult r = install_in_child(installer, target, o);
    size_t k = 0;
    while (k < entries.size() && (entries[k].type == ENTRY_DELETE || entries[k].data.size() <= limit)) k++;
    // A limit below the record's size stops the run before any change.
    if (final_message(r.err) == "Can't save the installation record - " + std::string(strerror(EFBIG)) + " (err=1).") {
      EXPECT_LT(limit, 1024u);
      expect_stopped_at(0);
      continue;
    }
    if (k == entries.size()) {
      EXPECT_EQ(r.err.find(kTerminatedEnding), std::string::npos) << r.err;
      expect_stopped_at(k);
      continue;
    }
    EXPECT_EQ(final_message(r.err), "Error saving data - " + std::string(strerror(EFBIG)) + " (err=1).");
    // The failed file costs nothing: no part of it is left, its old copy is
    // where it was; its directories may be new, its recorded stale copies gone.
    Snapshot expected = sample_tree_after(k), now = snapshot(target);
    const std::string& name = entries[k].name;
    for (auto it = expected.begin(); it != expected.end();)
      it = it->first != name && entry_base_name(it->first.c_str()) == std::string(entry_base_name(name.c_str()))
               ? expected.erase(it)
               : std::next(it);
    for (auto it = now.begin(); it != now.end();)
      it = !expected.count(it->first) && name.compare(0, it->first.size() + 1, it->first + "/") == 0 ? now.erase(it)
                                                                                                       : std::next(it);
    EXPECT_TRUE(now == expected) << "stopped at entry " << k << ":\n" << snapshot_diff(expected, now);
  }
}

TEST_F(ResourceLimits, DirectoriesThatCannotBeMade) {
  // A file where the second entry needs its directory.
  write_file(target + "/lib", "a file named like a directory");
  ProcessResult r = install_in_child(installer, target);
  EXPECT_EQ(final_message(r.err), in_the_way(target + "/lib"));
  EXPECT_FALSE(path_exists(target + "/include/qumba.h")) << "refused before the first change";
  EXPECT_EQ(read_file(target + "/lib"), "a file named like a directory");

  // An installation directory below a file.
  r = install_in_child(installer, target + "/lib/qumba");
  EXPECT_EQ(final_message(r.err), "Can't create directory - " + std::string(strerror(EEXIST)) + " (err=4).");

  if (geteuid() == 0) return;  // root makes directories anywhere
  remove_tree(target);
  make_sample_tree(target);
  chmod(target.c_str(), 0555);
  r = install_in_child(installer, target);
  chmod(target.c_str(), 0755);
  EXPECT_EQ(final_message(r.err), "Can't create directory - " + std::string(strerror(EACCES)) + " (err=4).");
  expect_stopped_at(0);
}

// Sizes that the records declare near 4 GiB: the data turns out to be
// missing, or (unlimited) its allocation may fail.
TEST_F(ResourceLimits, DeclaredSizesNearFourGiB) {
  const std::vector<EntrySpan> spans = entry_spans(installer);
  const std::string memory = "Memory allocation error (err=3).";
  const std::string cut = "Corrupted file(s) (err=3).";
  struct Case {
    const char* what;
    size_t entry;
    uint32_t file_size, stored_size;
  } cases[] = {
      {"a stored file of 4 GiB - 1, its data missing", 3, 0xFFFFFFFF, 0xFFFFFFFF},
      {"a compressed stream of 4 GiB - 16, cut short", 1, 4, 0xFFFFFFF0},
      {"a stored file longer than its stored data", 3, 0xFFFFFFFF, 300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = installer;
    set_record_field(&bytes, spans[c.entry], RECORD_FILE_SIZE, c.file_size);
    set_record_field(&bytes, spans[c.entry], RECORD_STORED_SIZE, c.stored_size);
    if (c.stored_size != get_u32(reinterpret_cast<const uint8_t*>(installer.data()) + spans[c.entry].record +
                                 RECORD_STORED_SIZE))
      bytes.resize(spans[c.entry].end);  // nothing behind this entry's data
    const bool stored_too_short = c.file_size > c.stored_size && entries[c.entry].type == ENTRY_STORED;
#ifndef ZOLT_SANITIZED_BUILD
    // Missing data is found by the check before anything is installed.
    const bool data_missing = stored_too_short || bytes.size() < installer.size();
    const size_t stopped_at = data_missing ? 0 : c.entry;
    // With 512 MiB of address space the buffers cannot be had.
    remove_tree(target);
    make_sample_tree(target);
    ProcessOptions limited;
    limited.limits = {{RLIMIT_AS, rlim_t(512) << 20}};
    ProcessResult r = install_in_child(bytes, target, limited);
    EXPECT_EQ(final_message(r.err), data_missing ? cut : memory);
    expect_stopped_at(stopped_at);
#endif
    // Unlimited, the allocation may succeed; the data is not there.
    remove_tree(target);
    make_sample_tree(target);
    ProcessResult u = install_in_child(bytes, target);
    const std::string m = final_message(u.err);
    EXPECT_TRUE(m == cut || (!stored_too_short && m == memory)) << m;
    expect_stopped_at(m == cut ? 0 : c.entry);
  }

  // Header totals near 4 GiB and of 1 only change the percentages shown.
  const size_t header = spans[0].record - HEADER_SIZE;
  for (uint32_t total : {0xFFFFFFFFu, 1u, 0u}) {
    std::string bytes = installer;
    set_header_field(&bytes, header, HEADER_TOTAL_FILE, total);
    remove_tree(target);
    make_sample_tree(target);
    ProcessResult r = install_in_child(bytes, target);
    EXPECT_EQ(r.err.find(kTerminatedEnding), std::string::npos) << r.err;
    expect_stopped_at(entries.size());
  }
}

#ifndef ZOLT_SANITIZED_BUILD
// Memory that runs out at every step: the real zolt-setup, whose memory use
// from its start is the same every time, run with its address space limited
// in steps of 8 KiB from below what it needs to start up to what the whole
// installation needs. It installs into a tree of 3000 files, and its first
// entry is a large stored one, so that the data buffers and the codec each
// meet the limit in turn; every run that got as
// far as its first page ends with a message of the defined set.
TEST_F(ResourceLimits, MemoryRunsOutAtEveryStep) {
  const std::string setup = parent / "setup";
  TestEntry large;
  large.name = "lib/large.bin";
  large.data = std::string(256 << 10, 'L');
  entries.insert(entries.begin(), large);
  write_installer(setup, entries);
  const std::string tree = parent / "tree";
  mkdir(tree.c_str(), 0755);
  mkdir((tree + "/many").c_str(), 0755);
  for (int i = 0; i < 3000; i++) write_file(tree + "/many/file-number-" + std::to_string(i), "");
  std::set<std::string> seen;
  bool started = false;
  for (rlim_t limit = rlim_t(512) << 10; limit <= rlim_t(8) << 20; limit += 8 << 10) {
    ProcessOptions o;
    o.input = "n\na\nn\n" + tree + "\nn\nn\nn\n";
    o.limits = {{RLIMIT_AS, limit}};
    ProcessResult r = run_process(setup, o);
    for (const char* made : {"/include", "/lib", "/doc", "/share"}) remove_tree(tree + made);
    // Below some limit the program cannot be loaded or its C library not
    // set up; that fails before main, before the welcome page.
    if (!started && r.err.find("ZOLT(R) Software Installation") == std::string::npos) continue;
    started = true;
    SCOPED_TRACE("address space of " + std::to_string(limit) + " bytes");
    ASSERT_EQ(r.term_signal, 0) << r.err;
    ASSERT_EQ(r.exit_status, r.err.find("Installation complete.") == std::string::npos ? 1 : 0) << r.err;
    if (r.err.find("Installation complete.") != std::string::npos) {
      seen.insert("complete");
      break;
    }
    const std::string m = final_message(r.err);
    ASSERT_NE(m, "") << r.err;
    seen.insert(m);
  }
  std::string all;
  for (const std::string& m : seen) all += m + "\n";
  RecordProperty("endings", all);
  EXPECT_TRUE(seen.count("complete")) << all;
  // The tree is no longer walked: its 3000 files cost no memory.
  EXPECT_GE(seen.size(), 2u) << all;
}

// A file far larger than the memory the installer may have goes straight
// into its file as it is decoded: 64 MiB within an address space of 16 MiB.
TEST_F(ResourceLimits, LargeFileInSmallMemory) {
  TestEntry large = entries[1];  // its 10-byte stream decodes for ever
  large.name = "lib/large.bin";
  large.data.assign(64 << 20, 0);
  CodecContext* codec = nullptr;
  ASSERT_EQ(codec_create(&codec), 0);
  ByteRange in{reinterpret_cast<uint8_t*>(large.stored.data()), nullptr, 0, nullptr, 0}, out{};
  in.end = in.cur + large.stored.size();
  for (size_t at = 0; at < large.data.size(); at += CODEC_WINDOW) {
    out.cur = reinterpret_cast<uint8_t*>(large.data.data()) + at;
    out.end = out.cur + CODEC_WINDOW;
    ASSERT_GE(codec_decode(codec, &in, &out), 0);
  }
  codec_release(&codec);
  const std::string setup = parent / "setup", tree = parent / "tree";
  write_installer(setup, {large});
  ProcessOptions o;
  o.input = "n\na\nn\n" + tree + "\nn\nn\nn\n";
  o.limits = {{RLIMIT_AS, rlim_t(16) << 20}};
  ProcessResult r = run_process(setup, o);
  EXPECT_NE(r.err.find("Installation complete."), std::string::npos) << r.err;
  EXPECT_TRUE(read_file(tree + "/lib/large.bin") == large.data);
}
#endif

// Every file waiting for its name holds descriptors: a low limit makes the
// batches smaller, not the run fail.
TEST(DescriptorLimit, SixteenDescriptorsInstallEveryFile) {
  TempDir temp;
  std::vector<TestEntry> many;
  for (int i = 0; i < 60; i++)
    many.push_back({"d" + std::to_string(i % 3) + "/f" + std::to_string(i), ENTRY_STORED, std::string(100 + i, 'x'), ""});
  write_installer(temp / "many.run", many);
  ProcessOptions o;
  o.args = {"--quiet", "--target", temp / "out", "--accept-licence"};
  o.limits = {{RLIMIT_NOFILE, 16}};
  ProcessResult r = run_process(temp / "many.run", o);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  for (const TestEntry& e : many) EXPECT_EQ(read_file(temp / ("out/" + e.name)), e.data) << e.name;
}

}  // namespace
