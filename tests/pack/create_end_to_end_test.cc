// From a tree to an installer and back, with the real programs: create,
// verify, list, extract, and installing with zolt-setup itself.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "archive/format.h"
#include "tests/pack/pack_support.h"
#include "tests/support/files.h"
#include "tests/support/installer_builder.h"

namespace {

const std::vector<std::string> PRODUCT = {"--product", "QUMBA", "--version", "7.1", "--platform", "Linux x86_64"};

uint64_t total_bytes(const std::string& dir) {
  uint64_t total = 0;
  for (const auto& [name, state] : snapshot_tree(dir)) total += state.bytes.size();
  return total;
}

std::vector<std::string> create_args(const std::string& out, const std::string& dir,
                                     std::vector<std::string> extra = {}) {
  // The listings below show how -lh5- packs each file; Zstandard has tests of its own.
  std::vector<std::string> args = {"create", "-q", "-o", out, "--method=lh5"};
  args.insert(args.end(), PRODUCT.begin(), PRODUCT.end());
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back(dir);
  return args;
}

class CreateEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    make_sample_tree(tree);
    ProcessResult r = run_pack(create_args(installer, tree));
    ASSERT_EQ(r.exit_status, 0) << r.err;
    ASSERT_EQ(r.err, "");
  }
  TempDir temp;
  std::string tree = temp / "tree";
  std::string installer = temp / "qumba.run";
};

TEST_F(CreateEndToEnd, VerifiesListsAndExtractsToTheSameTree) {
  ProcessResult v = run_pack({"verify", installer});
  EXPECT_EQ(v.exit_status, 0) << v.err;
  EXPECT_EQ(v.out,
            installer + ": OK, 8 entries (8 files, 0 deletions), " + std::to_string(total_bytes(tree)) + " bytes\n");

  ProcessResult l = run_pack({"list", installer});
  ASSERT_EQ(l.exit_status, 0) << l.err;
  EXPECT_NE(l.out.find("Product:   QUMBA\nVersion:   7.1\nPlatform:  Linux x86_64\n"), std::string::npos) << l.out;
  // Entries in byte order of their names, with mode, sizes, method, time.
  size_t zeta = l.out.find(" Zeta.TXT\n"), config = l.out.find(" bin/qumba-config\n"),
         extra = l.out.find(" doc-extra\n"), big = l.out.find(" doc/big.txt\n");
  ASSERT_NE(zeta, std::string::npos) << l.out;
  EXPECT_LT(zeta, config);
  EXPECT_LT(extra, big);
  EXPECT_NE(l.out.find("-rwxr-xr-x         19         19 stored 2023-05-02 21:13:20 bin/qumba-config\n"),
            std::string::npos)
      << l.out;
  EXPECT_NE(l.out.find("-rw-------          0          0 stored 2020-09-13 12:26:40 doc/empty.txt\n"),
            std::string::npos)
      << l.out;
  EXPECT_NE(l.out.find(" lh5    2023-05-02 21:21:47 include/qumba.h\n"), std::string::npos) << l.out;
  // Random bytes do not compress: stored whole.
  EXPECT_NE(l.out.find("      70000      70000 stored"), std::string::npos) << l.out;

  ProcessResult x = run_pack({"extract", "-q", installer, "-C", temp / "out"});
  ASSERT_EQ(x.exit_status, 0) << x.err;
  EXPECT_EQ(snapshot_tree(temp / "out"), snapshot_tree(tree));
}

TEST_F(CreateEndToEnd, WritesAnExecutableInstallerAndItsChecksum) {
  struct stat st;
  ASSERT_EQ(stat(installer.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  // The stub comes first, byte for byte.
  std::string image = read_file(setup_binary());
  EXPECT_EQ(read_file(installer).substr(0, image.size()), image);
  ProcessOptions check;
  check.args = {"-c", "qumba.run.sha256"};
  check.cwd = temp.path();
  ProcessResult r = run_process("/usr/bin/sha256sum", check);
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "qumba.run: OK\n");
  // No temporary files are left beside it.
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(temp.path())) entries += e.path().filename() != "tree";
  EXPECT_EQ(entries, 2);
}

TEST_F(CreateEndToEnd, InstallsWithTheInstallerFromPipedAnswers) {
  std::string target = temp / "installed";
  ProcessOptions o;
  o.input = "n\na\nn\n" + target + "\nn\nn\n";
  ProcessResult r = run_process(installer, o);
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_NE(r.err.find("\n\nInstallation complete.\n\n"), std::string::npos) << r.err;
  ASSERT_TRUE(std::filesystem::is_directory(target)) << r.err;
  EXPECT_EQ(snapshot_tree(target), snapshot_tree(tree));
}

TEST_F(CreateEndToEnd, ExtractOverAnEarlierInstallationFollowsTheInstallersRules) {
  std::string out = temp / "out";
  put_file(out + "/old/qumba.h", "stale copy", 0644, 1000000000);
  put_file(out + "/unrelated.txt", "kept", 0644, 1000000000);
  put_file(out + "/mine/qumba.h", "the user's own", 0644, 1000000000);
  // An earlier installation of the product recorded old/qumba.h.
  put_file(out + "/.zolt-setup/QUMBA.list", std::string("zolt-setup installation record 1\nold/qumba.h\0", 45), 0644,
           1000000000);
  ProcessResult x = run_pack({"extract", installer, "--directory=" + out});
  ASSERT_EQ(x.exit_status, 0) << x.err;
  EXPECT_EQ(x.out, installer + ": installed 8 files (" + std::to_string(total_bytes(tree)) +
                       " bytes), 0 deletions, into " + out + "\n");
  // A record of paths alone cannot tell the product's copy from one the user
  // saved there: it stays, and is not said to have changed.
  EXPECT_EQ(read_file(out + "/old/qumba.h"), "stale copy");
  EXPECT_EQ(x.err.find("changed"), std::string::npos) << x.err;
  EXPECT_EQ(read_file(out + "/mine/qumba.h"), "the user's own");
  EXPECT_EQ(read_file(out + "/unrelated.txt"), "kept");
  EXPECT_EQ(read_file(out + "/include/qumba.h"), read_file(tree + "/include/qumba.h"));
}

TEST(CreateOutput, IsTheSameForTheSameTreeWhateverTheThreads) {
  TempDir temp;
  make_sample_tree(temp / "tree");
  for (int i = 0; i < 40; i++)
    put_file(temp / ("tree/many/f" + std::to_string(i)),
             random_bytes(size_t(i) * 997, uint32_t(i)) + std::string(size_t(i) * 300, 'q'), 0644, 1683062507 + i);
  std::vector<std::string> env = {"SOURCE_DATE_EPOCH=1700000000"};
  std::string bytes;
  for (std::string method : {"lh5", "zstd"}) {
    if (method == "zstd" && zstd_setup_binary().empty()) continue;
    SCOPED_TRACE(method);
    ProcessResult a = run_pack(create_args(temp / "a.run", temp / "tree", {"-j", "1", "--method=" + method}), env);
    ProcessResult b = run_pack(create_args(temp / "b.run", temp / "tree", {"-j2", "--method=" + method}), env);
    ProcessResult c = run_pack(create_args(temp / "c.run", temp / "tree", {"--jobs=7", "--method=" + method}), env);
    ASSERT_EQ(a.exit_status, 0) << a.err;
    ASSERT_EQ(b.exit_status, 0) << b.err;
    ASSERT_EQ(c.exit_status, 0) << c.err;
    EXPECT_TRUE(read_file(temp / "a.run") == read_file(temp / "b.run"));
    EXPECT_TRUE(read_file(temp / "a.run") == read_file(temp / "c.run"));
    if (method == "lh5") bytes = read_file(temp / "a.run");
  }
  // The build time is SOURCE_DATE_EPOCH.
  size_t header = header_offset_for(read_file(setup_binary()).size());
  ASSERT_EQ(bytes.compare(header, 7, "ZOLT(R)"), 0);
  EXPECT_EQ(get_i32(reinterpret_cast<const uint8_t*>(bytes.data()) + header + HEADER_BUILD_TIME), 1700000000);
  // File times later than it are recorded as it, so touching a file after
  // the release changes nothing.
  put_file(temp / "tree/doc-extra", "x", 0644, 1800000000);
  ASSERT_EQ(run_pack(create_args(temp / "d.run", temp / "tree"), env).exit_status, 0);
  put_file(temp / "tree/doc-extra", "x", 0644, 1900000000);
  ASSERT_EQ(run_pack(create_args(temp / "e.run", temp / "tree"), env).exit_status, 0);
  EXPECT_FALSE(bytes == read_file(temp / "d.run"));
  EXPECT_TRUE(read_file(temp / "d.run") == read_file(temp / "e.run"));
  EXPECT_NE(run_pack({"list", temp / "d.run"}).out.find(" 2023-11-14 22:13:20 doc-extra\n"), std::string::npos);
}

// Without a method, level or stub, create keeps whichever installer is
// smaller: -lh5- with its smaller stub for a small product, Zstandard where
// solid compression outweighs the stubs' difference.
TEST(CreateOutput, KeepsTheSmallerInstallerWithoutAMethod) {
  if (zstd_setup_binary().empty()) GTEST_SKIP() << "built without libzstd";
  TempDir temp;
  make_sample_tree(temp / "small");
  std::string row;
  for (int i = 0; i < 40; i++)
    row += "#define QUMBA_FILTER_" + std::to_string(i) + " (QUMBA_BASE + " + std::to_string(i) + ")\n";
  for (int i = 0; i < 400; i++)
    put_file(temp / ("large/f" + std::to_string(i) + ".h"), row + std::to_string(i), 0644, 1683062507);
  auto create = [&](const std::string& out, const std::string& dir, std::vector<std::string> extra) {
    std::vector<std::string> args = {"create", "-q", "-o", out};
    args.insert(args.end(), PRODUCT.begin(), PRODUCT.end());
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(dir);
    ProcessResult r = run_pack(args);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(run_pack({"verify", "-q", out}).exit_status, 0);
    return read_file(out);
  };
  const std::string lh5_stub = read_file(setup_binary()), zstd_stub = read_file(zstd_setup_binary());
  auto stub_of = [&](const std::string& installer) {
    return installer.compare(0, zstd_stub.size(), zstd_stub) == 0 ? "zstd"
           : installer.compare(0, lh5_stub.size(), lh5_stub) == 0 ? "lh5"
                                                                  : "?";
  };
  struct Case {
    const char* dir;
    std::vector<std::string> extra;
    const char* stub;
  };
  // Without a method, which stub wins depends on the stubs' sizes (those of
  // a sanitizer build are megabytes): the smaller installer, checked below.
  for (const Case& c : std::vector<Case>{{"small", {"-5"}, "zstd"},
                                         {"small", {"--method=zstd"}, "zstd"},
                                         {"large", {"--method=lh5"}, "lh5"}}) {
    SCOPED_TRACE(std::string(c.dir) + " " + (c.extra.empty() ? "" : c.extra[0]));
    EXPECT_STREQ(stub_of(create(temp / "x.run", temp / c.dir, c.extra)), c.stub);
  }
  for (const char* dir : {"small", "large"})
    EXPECT_LE(create(temp / "a.run", temp / dir, {}).size(),
              std::min(create(temp / "z.run", temp / dir, {"--method=zstd"}).size(),
                       create(temp / "l.run", temp / dir, {"--method=lh5"}).size()))
        << dir;
}

TEST(CreateOutput, RecordsTimesTheInstallerCanRestore) {
  TempDir temp;
  put_file(temp / "tree/epoch", "at 0", 0755, 0);
  put_file(temp / "tree/late", "later than the build", 0644, 1900000000);
  ProcessResult r = run_pack(create_args(temp / "t.run", temp / "tree", {"--build-time", "1600000000"}),
                             {"SOURCE_DATE_EPOCH=1700000000"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.err.find("note: 1 file time recorded as the nearest the installer can restore"), std::string::npos)
      << r.err;
  ProcessResult l = run_pack({"list", temp / "t.run"});
  EXPECT_NE(l.out.find("Built:     2020-09-13 12:26:40 UTC\n"), std::string::npos) << l.out;
  // A time of 0 would leave the mode unset: it is recorded as 1.
  EXPECT_NE(l.out.find("-rwxr-xr-x          4          4 stored 1970-01-01 00:00:01 epoch\n"), std::string::npos)
      << l.out;
  EXPECT_NE(l.out.find("2023-11-14 22:13:20 late\n"), std::string::npos) << l.out;
  ASSERT_EQ(run_pack({"extract", temp / "t.run", "-C", temp / "out"}).exit_status, 0);
  struct stat st;
  ASSERT_EQ(stat((temp / "out/epoch").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  EXPECT_EQ(st.st_mtime, 1);
}

TEST(CreateOutput, StoresDeletesAndNamesByDefault) {
  TempDir temp;
  make_sample_tree(temp / "tree");
  ProcessResult r = run_pack(
      {"create", "--product=Qumba Lib", "--version", "7.1/beta", "--platform=Linux x86_64", "--store", "--delete",
       "old/gone.h", "--delete=old/", "--space", "123456789", "--build-time=1683062507", temp / "tree"},
      {}, temp.path());
  ASSERT_EQ(r.exit_status, 0) << r.err;
  std::string name = temp / "qumba-lib-7.1-beta-linux-x86_64.run";
  EXPECT_NE(r.out.find("qumba-lib-7.1-beta-linux-x86_64.run: 8 files and 2 deletions, "), std::string::npos) << r.out;
  ASSERT_TRUE(path_exists(name));
  ASSERT_TRUE(path_exists(name + ".sha256"));
  ProcessResult l = run_pack({"list", name});
  ASSERT_EQ(l.exit_status, 0) << l.err;
  EXPECT_NE(l.out.find("Space:     123456789 bytes (117.7 MiB)\n"), std::string::npos) << l.out;
  EXPECT_EQ(l.out.find(" lh5 "), std::string::npos) << l.out;
  // Deletions first, in the order given.
  size_t first = l.out.find(" delete ");
  EXPECT_NE(l.out.find("delete ------------------- old/gone.h\n"), std::string::npos) << l.out;
  EXPECT_LT(l.out.find("old/gone.h"), l.out.find("old/\n"));
  EXPECT_LT(first, l.out.find(" stored "));

  // Where no installation of the product is recorded, a deletion is the
  // vendor's word; where one is, a file it does not list is not the
  // product's and stays, and the run says so.
  std::string out = temp / "out";
  put_file(out + "/old/gone.h", "from 7.0", 0644, 1000000000);
  ASSERT_EQ(run_pack({"extract", name, "-C", out}).exit_status, 0);
  EXPECT_FALSE(path_exists(out + "/old/gone.h"));
  put_file(out + "/old/gone.h", "the user's", 0644, 1000000000);
  ProcessResult x = run_pack({"extract", name, "-C", out});
  ASSERT_EQ(x.exit_status, 0) << x.err;
  EXPECT_TRUE(path_exists(out + "/old/gone.h"));
  EXPECT_NE(x.err.find(out + "/old/gone.h: left as it is, not installed by this product\n"), std::string::npos) << x.err;
}

TEST(CreateOutput, DefaultSpaceRoundsEachFileUpTo4096) {
  TempDir temp;
  put_file(temp / "tree/a", "1", 0644, 1683062507);
  put_file(temp / "tree/b", std::string(4097, 'b'), 0644, 1683062507);
  put_file(temp / "tree/c", "", 0644, 1683062507);
  ASSERT_EQ(run_pack(create_args(temp / "s.run", temp / "tree")).exit_status, 0);
  ProcessResult l = run_pack({"list", temp / "s.run"});
  EXPECT_NE(l.out.find("Space:     12288 bytes"), std::string::npos) << l.out;
}

TEST(CreateOutput, CopiesLinksWithDereferenceKeepsEmptyDirectoriesAndRefusesAnOutputInTheTree) {
  TempDir temp;
  put_file(temp / "tree/real.txt", "target", 0640, 1683062507);
  std::filesystem::create_symlink("real.txt", temp / "tree/link.txt");
  std::filesystem::create_directories(temp / "tree/empty/inner");
  // An output inside the tree would be packed by the next run: refused.
  ProcessResult r = run_pack(create_args(temp / "tree/self.run", temp / "tree"));
  EXPECT_NE(r.err.find("self.run: lies in the directory being packed"), std::string::npos) << r.err;
  std::string out = temp / "self.run";
  r = run_pack(create_args(out, temp / "tree", {"--dereference"}));
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.err.find("zolt-pack: note: " + temp / "tree/link.txt" + ": symbolic link packed as a copy of its target"),
            std::string::npos)
      << r.err;
  ProcessResult l = run_pack({"list", out});
  EXPECT_NE(l.out.find("Entries:   3\n"), std::string::npos) << l.out;
  EXPECT_EQ(l.out.find(" dir    ") + 8 + 19, l.out.find(" empty/inner/\n")) << l.out;  // method, time, name
  EXPECT_NE(l.out.find("-rw-r-----          6          6 stored 2023-05-02 21:21:47 link.txt\n"), std::string::npos)
      << l.out;
}

// `sh INSTALLER`, makeself's habit, stops at once and creates nothing: the
// stubs as built, installers made from them, and one made from a stub whose
// identification padding is still zeros.
TEST(CreateOutput, ShellsGivenTheInstallerStopAtOnce) {
  TempDir temp;
  put_file(temp / "tree/a.txt", "a", 0644, 1683062507);
  std::string zeroed = read_file(setup_binary());
  zeroed.replace(9, 7, 7, '\0');
  write_file(temp / "zeroed", zeroed, 0755);
  std::vector<std::string> programs;
  for (const std::string& stub : {setup_binary(), zstd_setup_binary(), temp / "zeroed"}) {
    if (stub.empty()) continue;
    std::string installer = temp / ("i" + std::to_string(programs.size()));
    ASSERT_EQ(run_pack({"create", "-q", "--product=Q", "--version=1", "--stub", stub, "-o", installer, temp / "tree"})
                  .exit_status, 0);
    programs.insert(programs.end(), {stub, installer});
  }
  programs.erase(programs.end() - 2);  // the zeroed stub itself runs as any ELF file with a shell
  for (const std::string& program : programs)
    for (const char* shell : {"/bin/sh", "/bin/dash", "/bin/bash"}) {
      if (!path_exists(shell)) continue;
      const std::string empty = temp / "empty";
      std::filesystem::create_directory(empty);
      ProcessOptions o;
      o.args = {program};
      o.cwd = empty;
      o.timeout_seconds = 20;
      ProcessResult r = run_process(shell, o);
      EXPECT_NE(r.exit_status, 0) << shell << " " << program;
      EXPECT_LE(std::count(r.err.begin(), r.err.end(), '\n'), 1) << shell << " " << program << r.err;
      EXPECT_TRUE(std::filesystem::is_empty(empty)) << shell << " " << program;
      std::filesystem::remove_all(empty);
    }
  EXPECT_EQ(run_pack({"verify", "-q", programs.back()}).exit_status, 0);
}

TEST(CreateOutput, ShowsAProgressLineOnlyOnATerminalAndASummary) {
  TempDir temp;
  make_sample_tree(temp / "tree");
  std::vector<std::string> args = {"create", "-o", temp / "p.run"};
  args.insert(args.end(), PRODUCT.begin(), PRODUCT.end());
  args.push_back(temp / "tree");
  ProcessResult r = run_pack(args, {"TERM=xterm"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err, "");  // a pipe is no terminal
  EXPECT_NE(r.out.find(temp / "p.run" + ": 8 files, " + std::to_string(total_bytes(temp / "tree")) + " bytes in, "),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(" bytes out ("), std::string::npos) << r.out;
}

}  // namespace

namespace {

// The sample product of the quick start packs and installs whole.
TEST(SampleProduct, PacksAndInstalls) {
  TempDir temp;
  std::string examples = ZOLT_SOURCE_DIR "/examples/qumba";
  ProcessResult r =
      run_pack({"create", "-q", "--product", "QUMBA", "--version", "7.1", "-o", temp / "q.run", examples});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  ProcessResult x = run_pack({"extract", "-q", temp / "q.run", "-C", temp / "out"});
  ASSERT_EQ(x.exit_status, 0) << x.err;
  EXPECT_EQ(snapshot_tree(temp / "out"), snapshot_tree(examples));
  for (const char* document : {"QUMBADST.TXT", "QUMBARLS.TXT", "QUMBA.HTM"})
    EXPECT_TRUE(path_exists(temp / "out" + "/" + document)) << document;
}

}  // namespace

namespace {

// Zstandard: solid runs that list, verify, extract and install as the tree
// was, with the stub that decodes them; -lh5- keeps its own stub.
TEST(CreateZstd, SolidRunsUnpackWithEveryToolAndTheInstaller) {
  if (zstd_setup_binary().empty()) GTEST_SKIP() << "built without libzstd";
  TempDir temp;
  std::string tree = temp / "tree", installer = temp / "z.run";
  make_sample_tree(tree);
  // Over ZSTD_CONTINUED_LARGEST: it begins a frame of its own, which the
  // files behind it go on with.
  std::string large;
  for (int i = 0; large.size() < (3u << 19); i++) large += "row " + std::to_string(i * 31 % 1009) + " of the table\n";
  put_file(tree + "/lib/large.txt", large, 0644, 1683062507);
  ProcessResult r = run_pack(create_args(installer, tree, {"--method=zstd", "-5", "--delete", "old.h"}));
  ASSERT_EQ(r.exit_status, 0) << r.err;
  std::string image = read_file(zstd_setup_binary());
  EXPECT_TRUE(read_file(installer).compare(0, image.size(), image) == 0);

  ProcessResult l = run_pack({"list", installer});
  ASSERT_EQ(l.exit_status, 0) << l.err;
  for (const char* line : {" zstd   2023-05-02 21:21:47 Zeta.TXT\n", " zstd+  2023-05-02 21:13:20 bin/qumba-config\n",
                           " stored 2020-09-13 12:26:40 doc/empty.txt\n", " zstd   2023-05-02 21:21:47 lib/large.txt\n",
                           " zstd+  2023-05-02 04:00:00 lib/libqumba.bin\n"})
    EXPECT_NE(l.out.find(line), std::string::npos) << line << l.out;
  EXPECT_EQ(run_pack({"verify", "-q", installer}).exit_status, 0);
  ASSERT_EQ(run_pack({"extract", "-q", installer, "-C", temp / "out"}).exit_status, 0);
  EXPECT_EQ(snapshot_tree(temp / "out"), snapshot_tree(tree));

  ProcessOptions o;
  o.input = "n\na\nn\n" + temp / "installed" + "\nn\nn\n";
  r = run_process(installer, o);
  EXPECT_NE(r.err.find("\n\nInstallation complete.\n\n"), std::string::npos) << r.err;
  EXPECT_EQ(snapshot_tree(temp / "installed"), snapshot_tree(tree));

  ASSERT_EQ(run_pack(create_args(temp / "l.run", tree)).exit_status, 0);
  image = read_file(setup_binary());
  EXPECT_TRUE(read_file(temp / "l.run").compare(0, image.size(), image) == 0);
  // A bare -lh5- stub named with --stub gets -lh5- entries, unless
  // Zstandard is asked for.
  r = run_pack({"create", "-q", "-o", temp / "s.run", "--product=Q", "--version=1", "--stub", setup_binary(), tree});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(run_pack({"list", temp / "s.run"}).out.find(" lh5    2023-05-02 21:21:47 include/qumba.h\n"),
            std::string::npos);
  r = run_pack(create_args(temp / "t.run", tree, {"--method=zstd", "--stub", setup_binary()}));
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find("this stub does not decode Zstandard entries"), std::string::npos) << r.err;
}

// Incompressible files in one unbroken frame: stored blocks that run from
// one file into the next, files that lie wholly inside a block begun
// earlier, a large file streamed in slices whose last block runs on into
// the small files behind it, and a last block that holds several files.
TEST(CreateZstd, BlocksThatRunAcrossFilesInstallEveryFileWhole) {
  if (zstd_setup_binary().empty()) GTEST_SKIP() << "built without libzstd";
  TempDir temp;
  const std::string tree = temp / "tree", installer = temp / "z.run";
  put_file(tree + "/a/large.bin", random_bytes((3u << 20) + 4321, 1), 0644, 1683062507);
  for (int i = 0; i < 40; i++) {
    put_file(tree + "/b/r" + std::to_string(i), random_bytes(size_t(i) * 997 % 5000 + 1, uint32_t(i)), 0644, 1683062507);
    put_file(tree + "/b/t" + std::to_string(i), "line " + std::to_string(i) + "\n", 0644, 1683062507);
  }
  ASSERT_EQ(run_pack({"create", "-q", "-3", "--product=Q", "--version=1", "-o", installer, tree}).exit_status, 0);
  EXPECT_NE(run_pack({"list", installer}).out.find("          0 zstd+ "), std::string::npos);  // one inside a block
  EXPECT_EQ(run_pack({"verify", "-q", installer}).exit_status, 0);
  expect_unpacks_as(installer, tree, temp.path());
}

// The installer's --list and zolt-pack list are one listing: the same bytes
// for an installer that holds every kind of entry and every vendor text.
TEST(ListingEndToEnd, InstallerAndPackListTheSame) {
  TempDir temp;
  make_sample_tree(temp / "tree");
  std::filesystem::create_directory_symlink("lib", temp / "tree/lib-link");
  std::filesystem::create_directory(temp / "tree/empty");
  put_file(temp / "post.sh", "#!/bin/sh\n", 0755, 1683062507);
  put_file(temp / "licence.txt", "ACME LICENCE\n\nTerms.\n", 0644, 1683062507);
  put_file(temp / "notes.txt", "See ACME.TXT.\nAnd more.\n", 0644, 1683062507);
  for (const char* method : {"lh5", "zstd"}) {
    SCOPED_TRACE(method);
    if (method == std::string("zstd") && zstd_setup_binary().empty()) continue;
    std::string installer = temp / (std::string(method) + ".run");
    ProcessResult c = run_pack(create_args(
        installer, temp / "tree",
        {"--method", method, "--title", "ACME Setup", "--thanks", "Thanks for choosing ACME.", "--licence",
         temp / "licence.txt", "--default-dir", "/opt/acme", "--notes", temp / "notes.txt", "--delete", "old/gone.txt",
         "--post-install", temp / "post.sh"}));
    ASSERT_EQ(c.exit_status, 0) << c.err;
    ProcessResult packed = run_pack({"list", installer});
    ASSERT_EQ(packed.exit_status, 0) << packed.err;
    for (const char* shown : {"lib-link -> lib\n", " empty/\n", " delete ", "Title:     ACME Setup\n",
                              "Thanks:    Thanks for choosing ACME. (1 line)\n", "Directory: /opt/acme\n", "Licence:   ACME LICENCE (3 lines)\n",
                              "Notes:     See ACME.TXT. (2 lines)\n", " post.sh (post-install step"})
      EXPECT_NE(packed.out.find(shown), std::string::npos) << shown << "\n" << packed.out;
    ProcessOptions o;
    o.args = {"--list"};
    ProcessResult own = run_process(installer, o);
    EXPECT_EQ(own.exit_status, 0) << own.err;
    EXPECT_EQ(own.out, packed.out);
  }
}

}  // namespace
