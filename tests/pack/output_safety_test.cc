// No subcommand destroys a file it was not asked to create, nor the one it
// was when it fails: outputs are put in place whole or not at all, special
// files are written as they are and never removed, and an output that is an
// input is refused.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>

#include "engine/failure.h"
#include "archive/format.h"
#include "pack/sha256.h"
#include "tests/pack/pack_support.h"
#include "tests/support/files.h"
#include "tests/support/installer_builder.h"
#include "tests/support/pty_process.h"

namespace {

TEST(OutputSafety, FailingOrSelfOverwritingCommandsLeaveTheOutputAsItWas) {
  TempDir temp;
  write_file(temp / "same.txt", random_bytes(4000, 3) + std::string(9000, 'z'));
  write_file(temp / "old", "an earlier result");
  write_file(temp / "bad", std::string(64, '\xff'));  // a block head that is no code
  ASSERT_EQ(mkfifo((temp / "fifo").c_str(), 0600), 0);
  int reader = open((temp / "fifo").c_str(), O_RDONLY | O_NONBLOCK);  // so that writing does not wait
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"encode", "-o", temp / "same.txt", temp / "same.txt"}, "is the same file as the input"},
           {{"decode", "-o", temp / "old", "--size=99999", temp / "bad"}, "not a valid stream"},
           {{"decode", "-o", temp / "fifo", "--size=99999", temp / "bad"}, "not a valid stream"},
           {{"decode", "-o", temp / "old", "--size=9", temp / "missing"}, "cannot open"}}) {
    bool fifo = std::filesystem::is_fifo(args[2]);
    std::string before = fifo ? "" : read_file(args[2]);
    ProcessResult r = run_pack(args);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_TRUE(fifo ? std::filesystem::is_fifo(args[2]) : read_file(args[2]) == before) << args[2];
  }
  close(reader);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp.path()), {}), 4);  // no temporaries
}

TEST(OutputSafety, CreateReplacesNeitherFileUnlessItCanWriteBoth) {
  TempDir temp;
  put_file(temp / "tree/a.txt", "a", 0644, 1683062507);
  write_file(temp / "q.run", "the installer of yesterday");
  std::filesystem::create_directory(temp / "q.run.sha256");
  ProcessResult r = run_pack({"create", "-q", "--product", "Q", "--version", "1", "-o", temp / "q.run", temp / "tree"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find("q.run.sha256: is a directory"), std::string::npos) << r.err;
  EXPECT_EQ(read_file(temp / "q.run"), "the installer of yesterday");
  // A name that sha256sum must escape still gives a line it reads back.
  const std::string odd = "odd\nname\\.run";
  r = run_pack({"create", "-q", "--product", "Q", "--version", "1", "-o", temp / odd, temp / "tree"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  ProcessOptions check;
  check.args = {"-C", temp.path(), "sha256sum", "-c", odd + ".sha256"};
  EXPECT_EQ(run_process("/usr/bin/env", check).exit_status, 0);
}

TEST(OutputSafety, CreateRefusesInputsAndSpecialFilesAndBothStopAtFileSizeLimits) {
  TempDir temp;
  put_file(temp / "tree/doc/a.txt", random_bytes(300000, 5), 0644, 1683062507);
  write_file(temp / "L.txt", "LICENCE\n");
  ASSERT_EQ(mkfifo((temp / "fifo").c_str(), 0600), 0);  // with no reader: must not hang
  ASSERT_EQ(run_pack({"encode", "-o", temp / "a.lh5", temp / "tree/doc/a.txt"}).exit_status, 0);
  std::filesystem::create_directories(temp / "out");
  auto create = [&](const std::string& out) -> std::vector<std::string> {
    return {"create", "-q", "--stub-texts", "--product", "Q", "--version", "1", "--licence", temp / "L.txt", "-o", out, temp / "tree"};
  };
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {create(temp / "L.txt"), "is the same file as the input"},
           {create(temp / "tree/doc/a.txt"), "lies in the directory being packed"},
           {create(temp / "tree/new.run"), "lies in the directory being packed"},
           {create(temp / "fifo"), "not a regular file"},
           {create(temp / "out/big.run"), "File too large"},
           {{"decode", "--size", "300000", "-o", temp / "out/big", temp / "a.lh5"}, "File too large"}}) {
    ProcessOptions o;
    o.args = args;
    o.limits = {{RLIMIT_FSIZE, rlim_t(100000)}};
    ProcessResult r = run_process(zolt_pack_binary(), o);
    EXPECT_EQ(r.exit_status, 1) << args[args.size() - 2] << " signal " << r.term_signal;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  }
  EXPECT_EQ(read_file(temp / "L.txt"), "LICENCE\n");
  EXPECT_EQ(read_file(temp / "tree/doc/a.txt").size(), 300000u);
  EXPECT_TRUE(std::filesystem::is_empty(temp / "out"));  // no temporaries
}

TEST(OutputSafety, ConcurrentCreatesLeaveAMatchingChecksum) {
  TempDir temp;
  put_file(temp / "tree/a.txt", random_bytes(20000, 8), 0644, 1683062507);
  for (int pair = 0; pair < 40; pair++) {
    auto create = [&](int k) { run_pack({"create", "-q", "--product", "Q", "--version", "1", "--build-time",
                                         std::to_string(1000 + 2 * pair + k), "-o", temp / "out.run", temp / "tree"}); };
    std::thread other(create, 1);
    create(0);
    other.join();
    ASSERT_EQ(read_file(temp / "out.run.sha256"), sha256_line(sha256_of_file(temp / "out.run"), "out.run")) << pair;
  }
}

TEST(ListOutput, ShowsControlCharactersInNamesAndTextsEscaped) {
  TempDir temp;
  TestEntry forged;
  forged.name = "a\n-rw-r--r-- 0 0 stored 2023-05-02 21:21:47 forged\x1b[2J";
  write_installer(temp / "i.run", {forged}, TestHeader{"Q\rProduct:   Other", "7.1", "Linux x86_64", 1683062507, 0});
  ProcessResult r = run_pack({"list", temp / "i.run"});
  EXPECT_NE(r.out.find("Product:   Q\\rProduct:   Other\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" a\\n-rw-r--r-- 0 0 stored 2023-05-02 21:21:47 forged\\033[2J\n"), std::string::npos) << r.out;
}

TEST(ListOutput, ExtractAndVerifyShowNamesEscapedToo) {
  TempDir temp;
  const std::string name = "t\x1b]0;T\x07\x1b[2J.txt", shown = "t\\033]0;T\\a\\033[2J.txt";
  write_installer(temp / "clash.run", {{name, ENTRY_STORED, "x", ""}, {name + "/x", ENTRY_STORED, "x", ""}});
  ProcessResult v = run_pack({"verify", temp / "clash.run"});
  EXPECT_NE(v.err.find("needs '" + shown + "' as a directory"), std::string::npos) << v.err;
  // extract on a terminal: its progress line, and its message when a
  // directory stands where the file goes.
  write_installer(temp / "one.run", {{name, ENTRY_STORED, "x", ""}});
  std::filesystem::create_directories(temp / ("out/" + name));
  setenv("TERM", "xterm", 1);
  PtyOptions o;
  o.args = {"extract", temp / "one.run", "-C", temp / "out"};
  PtyResult r = PtyProcess(zolt_pack_binary(), o).finish();
  EXPECT_NE(r.terminal.find("[1/1] " + shown), std::string::npos) << r.terminal;
  EXPECT_NE(r.terminal.find(std::string(failure_message(FAILURE_IN_THE_WAY)) + " " + temp.path() + "/out/" + shown),
            std::string::npos)
      << r.terminal;
  EXPECT_EQ((r.terminal + v.err).find("\x1b]"), std::string::npos);
}

TEST(VerifyMemory, BoundedWhateverSizeAnEntryDeclares) {
  // A compressed entry of one stored byte that declares 160 MiB.
  const std::string image = read_file(setup_binary());
  std::string bytes = build_installer(image, TestHeader(), {{"big", ENTRY_COMPRESSED, "", std::string(1, '\0')}});
  auto* record = reinterpret_cast<uint8_t*>(&bytes[header_offset_for(image.size()) + HEADER_SIZE]);
  put_u32(record + RECORD_FILE_SIZE, uint32_t(160) << 20);
  put_u16(record + RECORD_CRC, 0);
  put_u16(record + RECORD_CRC, test_crc16(std::string(reinterpret_cast<char*>(record), get_u32(record))));
  TempDir temp;
  write_file(temp / "big.run", bytes);
  ProcessOptions o;
  o.args = {"verify", "-q", temp / "big.run"};
#ifndef ZOLT_SANITIZED_BUILD
  o.limits = {{RLIMIT_AS, rlim_t(96) << 20}};
#endif
  // Zero bits decode to zeros, whose CRC is that of no data: the entry is sound.
  ProcessResult r = run_process(zolt_pack_binary(), o);
  EXPECT_EQ(r.exit_status, 0) << r.err;
}

}  // namespace
