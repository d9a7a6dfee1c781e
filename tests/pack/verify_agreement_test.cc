// verify OK means the installer installs: names and trees that the real
// zolt-setup fails on (or installs otherwise than they read) are refused,
// and every installer of the fuzz corpus that verify passes installs
// cleanly into an empty directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "archive/format.h"
#include "archive/vendor_texts.h"
#include "archive/vendor_texts_writer.h"
#include "fuzz/fuzz_attachment.h"
#include "tests/pack/pack_support.h"
#include "tests/support/files.h"
#include "tests/support/installer_builder.h"

namespace {

// Runs the installer with the answers of a whole dialogue; true when it completed.
bool installs(const std::string& path, const std::string& target, std::string* err) {
  ProcessOptions o;
  o.input = "n\na\nn\n" + target + "\nn\nn\n";
  *err = run_process(path, o).err;
  return err->find("\nInstallation complete.\n") != std::string::npos;
}

TestEntry file(const std::string& name, uint32_t type = ENTRY_STORED) {
  return {name, type, type == ENTRY_DELETE ? "" : "data of " + name, ""};
}
TestEntry deletion(const std::string& name) { return file(name, ENTRY_DELETE); }

TEST(VerifyAgreement, NamesAndTreesAsTheInstallerTakesThem) {
  const std::string long_part(256, 'n');
  struct Case {
    std::vector<TestEntry> entries;
    std::string refusal;  // empty: verify passes and the installer installs each file
  };
  for (const Case& c : std::vector<Case>{
           {{file("doc/")}, "(doc/): the installer cannot install it: the name names a directory"},
           {{file("sub/.")}, "the name names a directory"},
           {{file(long_part + "/a")}, "the name has a component longer than 255 bytes"},
           {{file("x"), file("x\\y")}, "the name holds a backslash"},
           {{file("x"), file("x/y")}, "entry 2 of 2 (x/y): the installer cannot install it: the name needs 'x' as a "
                                      "directory, where entry 1 installs a file"},
           {{file("d/f"), file("./d")}, "the name is a directory that entry 1 needs"},
           {{file("d/f"), deletion("d"), file("d")}, "is a directory that entry 1 needs"},
           // What installs as it reads.
           {{file("a//b"), file("./c"), file("a/./d"), file("a/b")}, ""},
           {{file("one/same"), file("two/same"), file("same")}, ""},
           {{file("d/f"), deletion("d/f"), deletion("d/"), file("d")}, ""},
           {{file("x"), deletion("x"), file("x/y")}, ""},
       }) {
    SCOPED_TRACE(c.entries.back().name.substr(0, 40));
    TempDir temp;
    write_installer(temp / "i.run", c.entries);
    ProcessResult v = run_pack({"verify", "-q", temp / "i.run"});
    std::string err;
    bool installed = installs(temp / "i.run", temp / "target", &err);
    EXPECT_EQ(v.exit_status, c.refusal.empty() ? 0 : 1) << v.err;
    EXPECT_NE(v.err.find(c.refusal), std::string::npos) << v.err;
    if (!c.refusal.empty()) {
      // The installer fails on it, or makes what the name does not show.
      bool extra_directory = std::filesystem::is_directory(temp / "target/x") && path_exists(temp / "target/x\\y");
      EXPECT_TRUE(!installed || extra_directory) << err;
      continue;
    }
    ASSERT_TRUE(installed) << err;
    std::map<std::string, std::string> last;  // what each path holds at the end
    for (const TestEntry& e : c.entries) last[std::filesystem::path(temp / "target/" + e.name).lexically_normal()] = e.data;
    for (const auto& [path, data] : last) EXPECT_EQ(data.empty() ? "" : read_file(path), data) << path;
  }
}

// A name that fits only a short installation directory fails where users
// install: verify assumes the directory offered, or one of 64 bytes.
TEST(VerifyAgreement, PathsLongerThanTheSystemTakesBelowARealisticDirectory) {
  std::string image = read_file(setup_binary());
  std::optional<std::string> texts[VENDOR_TEXT_COUNT];
  texts[VENDOR_DIRECTORY] = "/" + std::string(99, 'v');
  std::string block = build_vendor_texts(texts), filler(HEADER_ALIGN - (image.size() + block.size()) % HEADER_ALIGN, 0);
  for (const auto& [stub, length, refusal] : std::vector<std::tuple<std::string, size_t, std::string>>{
           {image, 4030, ""},
           {image, 4031, "installed into a directory of 64 bytes (it offers none), its path takes 4097 bytes"},
           {image + filler + block, 3994, ""},
           {image + filler + block, 3995, "installed into its default directory /vvv"}}) {
    std::string name;
    while (name.size() + 201 < length) name += std::string(200, 'd') + "/";
    TempDir temp;
    write_file(temp / "i.run", build_installer(stub, TestHeader(), {file(name + std::string(length - name.size(), 'f'))}));
    ProcessResult v = run_pack({"verify", "-q", temp / "i.run"});
    EXPECT_EQ(v.exit_status, refusal.empty() ? 0 : 1) << length;
    EXPECT_NE(v.err.find(refusal), std::string::npos) << v.err.substr(v.err.size() - 200);
  }
}

// The attachment that `file` carries, behind the real zolt-setup instead of
// the fuzz targets' small stub.
std::string on_real_stub(const std::string& file, const std::string& image) {
  size_t at = HEADER_ALIGN;
  while (at + HEADER_SIZE <= file.size() && file.compare(at, 7, "ZOLT(R)") != 0) at += HEADER_ALIGN;
  if (at + HEADER_SIZE > file.size()) return "";
  return image + std::string(header_offset_for(image.size()) - image.size(), '\0') + file.substr(at);
}

TEST(VerifyAgreement, WhatVerifyPassesInTheFuzzCorpusInstallsIntoAnEmptyDirectory) {
  // The stub that installs every method zolt-pack verifies.
  const std::string image = read_file(zstd_setup_binary().empty() ? setup_binary() : zstd_setup_binary());
  int passed = 0;
  for (const auto& input : std::filesystem::directory_iterator(ZOLT_SOURCE_DIR "/fuzz/corpus/attachment")) {
    SCOPED_TRACE(input.path().string());
    const std::string in = read_file(input.path());
    const std::string file = on_real_stub(fuzz_installer_file(reinterpret_cast<const uint8_t*>(in.data()), in.size()), image);
    TempDir temp;
    write_file(temp / "i.run", file, 0755);
    if (file.empty() || run_pack({"verify", "-q", temp / "i.run"}).exit_status != 0) continue;
    passed++;
    std::string err;
    EXPECT_TRUE(installs(temp / "i.run", temp / "target", &err)) << err;
  }
  EXPECT_GE(passed, 3);
}

}  // namespace
