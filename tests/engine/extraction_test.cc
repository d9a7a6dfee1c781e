// The installation itself, run in a child with the attachment located as at
// start-up: what lands on disk, the stale-copy sweep, and every failure.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/failure.h"
#include "archive/attachment_reader.h"
#include "archive/format.h"
#include "installer/install_files.h"
#include "installer/installer_state.h"
#include "tests/codec/stream_builder.h"
#include "tests/support/files.h"
#include "tests/support/installer_builder.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/process.h"

namespace {

const std::string kHeading = "\n\n.... Installing files ....\n\n";
const std::string kEnding = "\n\nInstallation terminated.\n";
// The 10-byte stream that decodes to "AAAA".
const std::string kAAAA("\x00\x02\x20\x04\x30\x10\xB6\x55\x40\x10", 10);

// Runs the installation of `installer` into `dir` as the installer's page
// does, after start-up has located the attachment.
ProcessResult install(const std::string& installer, const std::string& dir, ProcessOptions options = {}) {
  ProcessResult r = run_in_child(
      [&] {
        attachment_file = fopen(installer.c_str(), "rb");
        if (!attachment_file || find_attachment(attachment_file, &attachment_header) != LOCATE_OK) _exit(3);
        snprintf(install_dir, sizeof install_dir, "%s", dir.c_str());
        install_files();
      },
      options);
  EXPECT_EQ(r.exit_status, r.err.find("Installation terminated.") == std::string::npos ? 0 : 1);
  EXPECT_EQ(r.term_signal, 0);
  return r;
}

TestEntry stored(const std::string& name, const std::string& data, int32_t mod_time = 0, uint16_t mode = 0100644) {
  TestEntry e;
  e.name = name;
  e.data = data;
  e.mod_time = mod_time;
  e.mode = mode;
  return e;
}

TestEntry deletion(const std::string& name) {
  TestEntry e;
  e.name = name;
  e.type = ENTRY_DELETE;
  return e;
}

struct stat stat_of(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st;
}

// The error text at the end of the run's output, without the progress lines.
std::string tail_message(const std::string& err) {
  size_t end = err.rfind(kEnding);
  if (end == std::string::npos) return "(no ending) " + err;
  // The message line ends at `end`; before it stand the heading and the
  // progress line's backspaces.
  std::string text = err.substr(0, end);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  size_t start = text.find_last_of("\n\b");
  return start == std::string::npos ? text : text.substr(start + 1);
}

class Extraction : public ::testing::Test {
 protected:
  TempDir tmp;
  std::string installer = tmp / "setup";
  std::string target = tmp / "target";
};

TEST_F(Extraction, WritesBytesTimesAndModes) {
  TestEntry packed;
  packed.name = "lib/aaaa.bin";
  packed.type = ENTRY_COMPRESSED;
  packed.data = "AAAA";
  packed.stored = kAAAA;
  packed.mod_time = 1000000000;
  packed.mode = 0100600;
  TestEntry empty_packed = packed;
  empty_packed.name = "lib/empty.bin";
  empty_packed.data = "";
  empty_packed.stored = std::string(7, '\0');  // a block of no items
  // A block head before every byte: one window takes more stored data than
  // is read ahead, which is then held whole and decoded again.
  TestEntry dense = packed;
  dense.name = "lib/dense.bin";
  dense.data.clear();
  BitWriter w;
  for (int i = 0; i < 20000; i++) {
    dense.data += char(i * 7);
    put_block(w, {lit(uint8_t(i * 7))});
  }
  dense.stored = w.bytes();
  const std::string big(300000, 'b');  // stored data read in several slices
  write_installer(installer, {stored("include/qumba.h", "#pragma once\n", 1683062507, 0100755),
                              stored("doc/empty.txt", "", 1500000000, 0100444), packed, empty_packed,
                              stored("untimed.txt", "x"), dense, stored("big.txt", big)});
  umask(022);
  ProcessResult r = install(installer, target);
  EXPECT_EQ(r.err.substr(0, kHeading.size()), kHeading);
  EXPECT_EQ(r.err.find("terminated"), std::string::npos) << r.err;

  // Times first: reading a file may move its access time.
  EXPECT_EQ(stat_of(target + "/include/qumba.h").st_mtime, 1683062507);
  EXPECT_EQ(stat_of(target + "/include/qumba.h").st_atime, 1683062507);
  EXPECT_EQ(read_file(target + "/include/qumba.h"), "#pragma once\n");
  EXPECT_EQ(stat_of(target + "/include/qumba.h").st_mode & 07777, 0755u);
  EXPECT_EQ(read_file(target + "/doc/empty.txt"), "");
  EXPECT_EQ(stat_of(target + "/doc/empty.txt").st_mode & 07777, 0444u);
  EXPECT_EQ(read_file(target + "/lib/aaaa.bin"), "AAAA");
  EXPECT_EQ(stat_of(target + "/lib/aaaa.bin").st_mode & 07777, 0600u);
  EXPECT_EQ(read_file(target + "/lib/empty.bin"), "");
  EXPECT_TRUE(read_file(target + "/lib/dense.bin") == dense.data);
  EXPECT_TRUE(read_file(target + "/big.txt") == big);
  // mod_time 0: the times and mode of creation.
  EXPECT_GT(stat_of(target + "/untimed.txt").st_mtime, 1600000000);
  EXPECT_EQ(stat_of(target + "/untimed.txt").st_mode & 07777, 0644u);
  EXPECT_EQ(stat_of(target + "/include").st_mode & 07777, 0755u);
}

TEST_F(Extraction, TrailingSlashOnTheDirectoryChangesNothing) {
  write_installer(installer, {stored("a/b.txt", "b")});
  install(installer, target + "/");
  EXPECT_EQ(read_file(target + "/a/b.txt"), "b");
}

TEST_F(Extraction, DeletionEntries) {
  mkdir(target.c_str(), 0755);
  mkdir((target + "/old").c_str(), 0755);
  mkdir((target + "/emptydir").c_str(), 0755);
  write_file(target + "/old/gone.txt", "old");
  write_file(target + "/elsewhere.txt", "keep");
  write_record(target, {"old/gone.txt", "emptydir"});
  // Named by a deletion entry, but no installation put it there.
  write_file(target + "/old/users.txt", "the user's");
  write_installer(installer, {deletion("old/gone.txt"), deletion("emptydir"), deletion("never/was.txt"),
                              deletion("old/users.txt"), stored("new.txt", "n")});
  ProcessResult r = install(installer, target);
  EXPECT_FALSE(path_exists(target + "/old/gone.txt"));
  EXPECT_FALSE(path_exists(target + "/emptydir"));
  EXPECT_TRUE(path_exists(target + "/old"));
  EXPECT_EQ(read_file(target + "/elsewhere.txt"), "keep");
  EXPECT_EQ(read_file(target + "/old/users.txt"), "the user's");
  EXPECT_EQ(read_file(target + "/new.txt"), "n");
  EXPECT_EQ(r.err.find("terminated"), std::string::npos);
}

TEST_F(Extraction, StaleCopiesAreSweptInsideTheTreeOnly) {
  TempDir outside;
  write_file(outside / "a.txt", "outside");
  mkdir(target.c_str(), 0755);
  for (const char* d : {"/x", "/x/y", "/full", "/full/a.txt", "/empty", "/empty/a.txt", "/a.txt.d"})
    mkdir((target + d).c_str(), 0755);
  write_file(target + "/x/a.txt", "stale1");
  write_file(target + "/x/y/a.txt", "stale2");
  write_file(target + "/full/a.txt/inner", "inside a directory of the name");
  write_file(target + "/a.txt.d/a.txt.keep", "other name");
  // Links: one named like the entry (removed as a link), one to a directory
  // outside and one to / (never walked), one looping.
  symlink((outside / "a.txt").c_str(), (target + "/x/y/link").c_str());
  symlink((outside / "a.txt").c_str(), (target + "/empty/link-a").c_str());
  symlink(outside.path().c_str(), (target + "/out").c_str());
  symlink("/", (target + "/root").c_str());
  symlink("..", (target + "/x/loop").c_str());
  symlink((outside / "a.txt").c_str(), (target + "/x/y/a.txt.lnk").c_str());
  mkdir((target + "/l").c_str(), 0755);
  symlink((outside / "a.txt").c_str(), (target + "/l/a.txt").c_str());
  // Only what an earlier installation recorded is swept: not the user's own.
  mkdir((target + "/user").c_str(), 0755);
  write_file(target + "/user/a.txt", "the user's");
  write_record(target, {"x/a.txt", "x/y/a.txt", "empty/a.txt", "l/a.txt", "out/a.txt", "x/loop/a.txt"});

  write_installer(installer, {stored("doc/a.txt", "new")});
  ProcessResult r = install(installer, target);
  EXPECT_EQ(r.err.find("terminated"), std::string::npos) << r.err;
  EXPECT_EQ(read_file(target + "/doc/a.txt"), "new");
  EXPECT_FALSE(path_exists(target + "/x/a.txt"));
  EXPECT_FALSE(path_exists(target + "/x/y/a.txt"));
  EXPECT_FALSE(path_exists(target + "/empty/a.txt")) << "an empty directory of the name goes";
  EXPECT_FALSE(path_exists(target + "/l/a.txt")) << "a link of the name goes, as a link";
  EXPECT_EQ(read_file(outside / "a.txt"), "outside") << "the link's target stays";
  EXPECT_EQ(read_file(target + "/full/a.txt/inner"), "inside a directory of the name");
  EXPECT_TRUE(path_exists(target + "/a.txt.d/a.txt.keep"));
  EXPECT_TRUE(path_exists(target + "/x/y/a.txt.lnk"));
  EXPECT_TRUE(path_exists(target + "/root"));
  EXPECT_EQ(read_file(target + "/user/a.txt"), "the user's");
}

TEST_F(Extraction, NeverRemovesWhatThisRunInstalled) {
  mkdir(target.c_str(), 0755);
  write_file(target + "/stale.h", "old");
  mkdir((target + "/old").c_str(), 0755);
  write_file(target + "/old/common.h", "stale");
  write_record(target, {"old/common.h"});
  // Two entries of one base name, and a directory the run makes that is named
  // like a later file entry.
  write_installer(installer, {stored("include/common.h", "one"), stored("src/common.h", "two"),
                              stored("./include/x/y.h", "y"), stored("y.h/z", "z"), stored("x", "file x")});
  ProcessResult r = install(installer, target);
  EXPECT_EQ(r.err.find("terminated"), std::string::npos) << r.err;
  EXPECT_EQ(read_file(target + "/include/common.h"), "one");
  EXPECT_EQ(read_file(target + "/src/common.h"), "two");
  EXPECT_FALSE(path_exists(target + "/old/common.h"));
  EXPECT_EQ(read_file(target + "/include/x/y.h"), "y");
  EXPECT_EQ(read_file(target + "/y.h/z"), "z");
  EXPECT_EQ(read_file(target + "/x"), "file x");
  EXPECT_TRUE(path_exists(target + "/include/x")) << "a directory the run made is not swept";
  EXPECT_EQ(read_file(target + "/stale.h"), "old");
}

// Files waiting for their names leave their directories empty on disk: the
// sweep of an earlier version's empty directory must wait for them, however
// many directory names the waiting files carry; and files that come from a
// dozen directories in turn land where they belong.
TEST_F(Extraction, WaitingFilesKeepTheirDirectories) {
  for (int depth : {1, 40}) {
    SCOPED_TRACE(depth);
    remove_tree(target);
    std::filesystem::create_directories(target + "/lib");
    write_record(target, {"lib"});
    std::vector<TestEntry> entries;
    std::vector<std::string> names;
    for (int i = 0; i < 30; i++) {
      std::string path = "deep";
      for (int k = 0; k < depth; k++) path += "/d" + std::to_string(i) + "_" + std::to_string(k);
      names.push_back(path + "/f");
    }
    for (int j = 0; j < 36; j++) names.push_back("k" + std::to_string(j % 12) + "/n" + std::to_string(j));
    names.push_back("lib/x.h");
    names.push_back("other/lib");
    for (const std::string& name : names) entries.push_back(stored(name, "data of " + name));
    write_installer(installer, entries);
    ProcessResult r = install(installer, target);
    EXPECT_EQ(r.err.find("terminated"), std::string::npos) << r.err;
    for (const std::string& name : names) EXPECT_EQ(read_file(target + "/" + name), "data of " + name) << name;
  }
}

TEST_F(Extraction, FileSystemFailures) {
  mkdir(target.c_str(), 0755);
  write_file(target + "/plain", "a regular file");
  write_installer(installer, {stored("plain/inner.txt", "x")});
  EXPECT_EQ(tail_message(install(installer, target).err),
            std::string(failure_message(FAILURE_IN_THE_WAY)) + " " + target + "/plain");

  write_installer(installer, {stored("made/", "")});
  EXPECT_EQ(tail_message(install(installer, target).err),
            "Can't create file - " + std::string(strerror(EISDIR)) + " (err=5).");
  EXPECT_TRUE(path_exists(target + "/made"));

  // A write that fails leaves the old file as it was and nothing beside it.
  write_file(target + "/big.bin", "the old big.bin");
  write_installer(installer, {stored("big.bin", std::string(100000, 'b'))});
  ProcessOptions limited;
  limited.limits = {{RLIMIT_FSIZE, 4096}};
  // The signal a file-size limit raises is ignored by the installer itself.
  EXPECT_EQ(tail_message(install(installer, target, limited).err),
            "Error saving data - " + std::string(strerror(EFBIG)) + " (err=1).");
  EXPECT_EQ(read_file(target + "/big.bin"), "the old big.bin");
  std::vector<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator(target)) names.push_back(item.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".zolt-setup", "big.bin", "made", "plain"}));
}

// Damages one entry of a three-entry attachment and checks the message and
// that the files of that entry that were on disk before are still there.
class Corruption : public Extraction {
 protected:
  void SetUp() override {
    mkdir(target.c_str(), 0755);
    mkdir((target + "/old").c_str(), 0755);
    write_file(target + "/b.txt", "previous b");
    write_file(target + "/old/b.txt", "stale b");
    entries = {stored("a.txt", "first"), stored("b.txt", "second"), stored("c.txt", "third")};
    good = build_installer(read_file(setup_binary()), TestHeader(), entries);
    second = header_offset_for(read_file(setup_binary()).size()) + HEADER_SIZE + (38 + 5 + 8) + 5;
  }

  std::string run(const std::string& bytes) {
    write_file(installer, bytes, 0755);
    ProcessResult r = install(installer, target);
    std::string message = tail_message(r.err);
    // Damage that only decoding shows comes after the entries before it;
    // the rest is found before anything is written.
    if (message == "Corrupted file(s) (err=5).")
      EXPECT_EQ(read_file(target + "/a.txt"), "first") << "entries before the damage stay";
    else
      EXPECT_FALSE(path_exists(target + "/a.txt")) << message;
    remove((target + "/a.txt").c_str());
    EXPECT_EQ(read_file(target + "/b.txt"), "previous b") << "checked before touching";
    EXPECT_EQ(read_file(target + "/old/b.txt"), "stale b") << "stale copies stay too";
    EXPECT_FALSE(path_exists(target + "/c.txt"));
    return message;
  }

  // Rewrites record_crc so that a deeper check is reached.
  void fix_record_crc(std::string& bytes) {
    uint32_t length = get_u32(reinterpret_cast<const uint8_t*>(bytes.data()) + second);
    std::string record = bytes.substr(second, length);
    record[RECORD_CRC] = record[RECORD_CRC + 1] = 0;
    put_u16(reinterpret_cast<uint8_t*>(bytes.data()) + second + RECORD_CRC, test_crc16(record));
  }

  std::vector<TestEntry> entries;
  std::string good;
  size_t second = 0;  // offset of the second record
};

TEST_F(Corruption, EachCheckHasItsMessage) {
  std::string b = good;
  put_u32(reinterpret_cast<uint8_t*>(b.data()) + second, 40);
  EXPECT_EQ(run(b), "Corrupted file(s) (err=1).");
  put_u32(reinterpret_cast<uint8_t*>(b.data()) + second, 4137);
  EXPECT_EQ(run(b), "Corrupted file(s) (err=1).");
  EXPECT_EQ(run(good.substr(0, second + 2)), "Corrupted file(s) (err=1).");
  EXPECT_EQ(run(good.substr(0, second + 20)), "Corrupted file(s) (err=2).");
  b = good;
  b[second + RECORD_NAME + 7] = 'x';  // padding behind the name
  EXPECT_EQ(run(b), "Corrupted file(s) (err=6).");
  EXPECT_EQ(run(good.substr(0, second + 51 + 3)), "Corrupted file(s) (err=3).");
  b = good;
  b[second + 51] ^= 1;  // stored data
  EXPECT_EQ(run(b), "Corrupted file(s) (err=4).");
  b = good;
  b[second + RECORD_FILE_CRC] ^= 1;
  fix_record_crc(b);
  EXPECT_EQ(run(b), "Corrupted file(s) (err=5).");
}

TEST_F(Corruption, NamesAndSizesThatCannotBeTrusted) {
  auto with_name = [&](const std::string& name) {
    std::vector<TestEntry> e = entries;
    e[1].name = name;
    return build_installer(read_file(setup_binary()), TestHeader(), e);
  };
  for (const char* escaping : {"/etc/b.txt", "../b.txt", "sub/../../b.txt", "..", ".zolt-setup/lock", "./.zolt-setup/P.list"})
    EXPECT_EQ(run(with_name(escaping)), "Corrupted file(s) (err=8).") << escaping;

  // A name filling the record without its NUL.
  std::string b = good;
  for (int i = 0; i < 8; i++) b[second + RECORD_NAME + 5 + i] = 'z';
  fix_record_crc(b);
  EXPECT_EQ(run(b), "Corrupted file(s) (err=7).");

  // A stored file longer than its stored data.
  b = good;
  put_u32(reinterpret_cast<uint8_t*>(b.data()) + second + RECORD_FILE_SIZE, 100);
  fix_record_crc(b);
  EXPECT_EQ(run(b), "Corrupted file(s) (err=3).");

  // A stream that does not decode to its CRC.
  std::vector<TestEntry> e = entries;
  e[1].type = ENTRY_COMPRESSED;
  e[1].data = "AAAB";
  e[1].stored = kAAAA;
  EXPECT_EQ(run(build_installer(read_file(setup_binary()), TestHeader(), e)), "Corrupted file(s) (err=5).");
}

TEST_F(Extraction, ProgressPercentagesOfSixtyEntries) {
  std::vector<TestEntry> entries;
  for (int i = 0; i < 60; i++) entries.push_back(stored("f" + std::to_string(i), "0123456789"));
  write_installer(installer, entries);
  std::string err = install(installer, target).err;
  std::vector<int> shown;
  for (size_t at = 0; (at = err.find("%  f", at)) != std::string::npos; at++)
    shown.push_back(std::stoi(err.substr(at - 8, 3)));
  ASSERT_EQ(shown.size(), 60u);
  EXPECT_EQ(shown[0], 0);
  EXPECT_EQ(shown[1], 1);
  EXPECT_EQ(shown[2], 3);
  EXPECT_EQ(shown[3], 5);
  EXPECT_EQ(shown[4], 6);
  EXPECT_EQ(shown[59], 98);
  EXPECT_NE(err.find(" 98% 100%  f59 "), std::string::npos) << "bytes reach 100 at the last entry";
}

}  // namespace
