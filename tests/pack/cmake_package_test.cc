// What `cmake --install` delivers, used as a vendor would: the sample vendor
// project finds the package, builds an installer with zolt_add_installer and
// packs its install tree with CPack's External generator.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/pack/pack_support.h"
#include "tests/support/installer_builder.h"
#include "tests/support/files.h"

namespace {

ProcessResult run(const std::string& program, std::vector<std::string> args, const std::string& cwd = "") {
  ProcessOptions o;
  o.args = std::move(args);
  o.cwd = cwd;
  o.timeout_seconds = 240;
  return run_process(program, o);
}

class CMakePackage : public ::testing::Test {
 protected:
  void SetUp() override {
    ProcessResult r = run(CMAKE_COMMAND, {"--install", ZOLT_BUILD_DIR, "--prefix", prefix});
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  }
  TempDir temp;
  std::string prefix = temp / "prefix";
  std::string build = temp / "vendor-build";
};

TEST_F(CMakePackage, InstallsZoltPackTheStubsTheManPageAndThePackage) {
  for (const char* file :
       {"bin/zolt-pack", "lib/zolt-setup/" ZOLT_NATIVE_ARCH "/zolt-setup", "share/man/man1/zolt-pack.1",
        "lib/cmake/ZoltSetup/ZoltSetupConfig.cmake", "lib/cmake/ZoltSetup/ZoltSetupConfigVersion.cmake",
        "lib/cmake/ZoltSetup/ZoltSetupCPack.cmake"})
    EXPECT_TRUE(path_exists(prefix + "/" + file)) << file;
  // zolt-pack, installed or in the build tree, finds the stub of each
  // architecture built, its own by default; the platform text follows the stub.
  put_file(temp / "tree/a.txt", "a", 0644, 1683062507);
  for (const std::string& pack : {prefix + "/bin/zolt-pack", std::string(ZOLT_PACK_BINARY)})
    for (std::string arch : {"", "x86_64", "aarch64"}) {
      std::string stub = prefix + "/lib/zolt-setup/" + (arch.empty() ? ZOLT_NATIVE_ARCH : arch) +
                         "/zolt-setup";  // create's smaller installer of one byte
      if (!path_exists(stub)) continue;
      std::vector<std::string> args{"create", "-q", "--stub-texts", "-o", temp / "a.run", "--product", "Q", "--version", "1"};
      if (!arch.empty()) args.push_back("--arch=" + arch);
      args.push_back(temp / "tree");
      ProcessResult r = run(pack, args);
      ASSERT_EQ(r.exit_status, 0) << pack << " " << arch << r.err;
      EXPECT_EQ(read_file(temp / "a.run").substr(0, 4096), read_file(stub).substr(0, 4096)) << pack << " " << arch;
      std::string platform = "Platform:  Linux " + (arch.empty() ? std::string(ZOLT_NATIVE_ARCH) : arch) + "\n";
      EXPECT_NE(run_pack({"list", temp / "a.run"}).out.find(platform), std::string::npos) << pack << " " << arch;
    }
}

TEST_F(CMakePackage, VendorProjectBuildsAndPacksInstallers) {
  ProcessResult r = run(
      CMAKE_COMMAND, {"-S", ZOLT_SOURCE_DIR "/examples/vendor-project", "-B", build, "-DCMAKE_PREFIX_PATH=" + prefix});
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  r = run(CMAKE_COMMAND, {"--build", build});
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;

  // zolt_add_installer: the tree in kit/, with a deletion entry first.
  ProcessResult v = run_pack({"verify", build + "/vendor-kit.run"});
  EXPECT_EQ(v.exit_status, 0) << v.err;
  EXPECT_NE(v.out.find("OK, 4 entries (3 files, 1 deletion)"), std::string::npos) << v.out;
  ProcessResult l = run_pack({"list", build + "/vendor-kit.run"});
  EXPECT_NE(l.out.find("Product:   Vendor Kit\nVersion:   2.3.1\n"), std::string::npos) << l.out;
  EXPECT_NE(l.out.find(" delete ------------------- include/vendor_old.h\n"), std::string::npos) << l.out;
  const std::string config = " README.TXT (configuration file: a changed copy is kept)\n";
  EXPECT_NE(l.out.find(config), std::string::npos) << l.out;
  // Both ways carry the project's own texts.
  const std::string texts = "Title:     VendorKit Software Installation\nThanks:    Thanks for choosing VendorKit. (1 line)\n"
                            "Directory: /usr/local/vendorkit\nLicence:   VENDORKIT SAMPLE LICENCE AGREEMENT (9 lines)\n"
                            "Notes:     See README.TXT for what VendorKit installed, and bin/vendor-tool --help (2 lines)\n";
  const std::string whole = "\nUpgrade:   removes the unchanged files of earlier versions it does not install\n";
  EXPECT_NE(l.out.find(whole), std::string::npos) << l.out;
  EXPECT_NE(l.out.find(texts), std::string::npos) << l.out;
  EXPECT_NE(l.out.find("-rwxr-xr-x "), std::string::npos) << l.out;
  EXPECT_TRUE(path_exists(build + "/vendor-kit.run.sha256"));

  // CPack: the install tree, named after the package.
  r = run(CPACK_COMMAND, {"--config", "CPackConfig.cmake"}, build);
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  std::string packed = build + "/VendorKit-2.3.1-Linux.run";
  v = run_pack({"verify", packed});
  EXPECT_EQ(v.exit_status, 0) << v.err << r.out;
  EXPECT_TRUE(path_exists(packed + ".sha256"));
  l = run_pack({"list", packed});
  EXPECT_NE(l.out.find(texts), std::string::npos) << l.out;
  EXPECT_NE(l.out.find(config), std::string::npos) << l.out;
  EXPECT_NE(l.out.find(whole), std::string::npos) << l.out;
  ProcessResult x = run_pack({"extract", "-q", packed, "-C", temp / "installed"});
  ASSERT_EQ(x.exit_status, 0) << x.err;
  EXPECT_EQ(read_file(temp / "installed/include/vendor.h"),
            read_file(ZOLT_SOURCE_DIR "/examples/vendor-project/kit/include/vendor.h"));
  EXPECT_EQ(read_file(temp / "installed/README.TXT"),
            read_file(ZOLT_SOURCE_DIR "/examples/vendor-project/kit/README.TXT"));
  EXPECT_TRUE(path_exists(temp / "installed/bin/vendor-tool"));
}

// Every option of create through both ways, on a tree as a virtual
// environment has it: an absolute link, a link to a file beside it, byte code
// to leave out; and a tree packed without any text of its own.
TEST_F(CMakePackage, OptionsReachCreateThroughBothWays) {
  const std::string venv = temp / "venv", stage = venv + "/stage";
  put_file(stage + "/lib/a.py", "print(1)\n", 0644, 1683062507);
  put_file(stage + "/lib/a.pyc", "code", 0644, 1683062507);
  put_file(venv + "/post.sh", "#!/bin/sh\n", 0755, 1683062507);
  std::filesystem::create_directories(stage + "/bin");
  std::filesystem::create_symlink("/usr/bin/python3", stage + "/bin/python3");
  std::filesystem::create_symlink("a.py", stage + "/lib/b.py");
  const std::string add = "zolt_add_installer(DIRECTORY stage PRODUCT Venv VERSION 1 STUB_TEXTS ";
  write_file(venv + "/CMakeLists.txt",
             "cmake_minimum_required(VERSION 3.20)\nproject(Venv VERSION 1 LANGUAGES NONE)\n"
             "find_package(ZoltSetup REQUIRED)\n" +
                 add + "TARGET links OUTPUT links.run EXCLUDE *.pyc ALLOW_OUTSIDE_LINKS POST_INSTALL post.sh)\n" +
                 add + "TARGET copies OUTPUT copies.run EXCLUDE *.pyc bin DEREFERENCE)\n"
                 "zolt_add_installer(DIRECTORY stage PRODUCT Venv VERSION 1 TARGET sample EXCLUDE_FROM_ALL "
                 "ALLOW_OUTSIDE_LINKS)\n"
                 "install(DIRECTORY stage/ DESTINATION . USE_SOURCE_PERMISSIONS)\n"
                 "set(CPACK_GENERATOR External)\nset(CPACK_EXTERNAL_ENABLE_STAGING ON)\n"
                 "set(CPACK_EXTERNAL_PACKAGE_SCRIPT \"${ZoltSetup_CPACK_SCRIPT}\")\n"
                 "set(CPACK_ZOLT_EXCLUDE *.pyc)\nset(CPACK_ZOLT_ALLOW_OUTSIDE_LINKS ON)\n"
                 "set(CPACK_ZOLT_POST_INSTALL ${CMAKE_CURRENT_SOURCE_DIR}/post.sh)\ninclude(CPack)\n");
  ProcessResult r = run(CMAKE_COMMAND, {"-S", venv, "-B", build, "-DCMAKE_PREFIX_PATH=" + prefix});
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  ASSERT_EQ((r = run(CMAKE_COMMAND, {"--build", build})).exit_status, 0) << r.out << r.err;
  // Without texts of its own, the sample's are refused unless asked for.
  r = run(CMAKE_COMMAND, {"--build", build, "--target", "sample"});
  EXPECT_NE(r.exit_status, 0);
  EXPECT_NE((r.out + r.err).find("give --licence FILE, --default-dir DIR and --notes FILE, or --stub-texts"),
            std::string::npos) << r.out << r.err;
  ASSERT_EQ((r = run(CPACK_COMMAND, {"--config", "CPackConfig.cmake"}, build)).exit_status, 0) << r.out << r.err;
  ASSERT_EQ((r = run(CPACK_COMMAND, {"--config", "CPackConfig.cmake", "-D", "CPACK_PACKAGE_FILE_NAME=cpack-copies",
                                     "-D", "CPACK_ZOLT_EXCLUDE=*.pyc;bin", "-D", "CPACK_ZOLT_DEREFERENCE=ON", "-D",
                                     "CPACK_ZOLT_ALLOW_OUTSIDE_LINKS=OFF", "-D", "CPACK_ZOLT_POST_INSTALL="},
                 build)).exit_status, 0) << r.out << r.err;
  for (const char* links : {"links.run", "Venv-1-Linux.run"}) {
    std::string listed = run_pack({"list", build + "/" + links}).out;
    EXPECT_NE(listed.find(" bin/python3 -> /usr/bin/python3\n"), std::string::npos) << links << listed;
    EXPECT_NE(listed.find(" lib/b.py -> a.py\n"), std::string::npos) << links << listed;
    EXPECT_NE(listed.find(" post.sh (post-install step"), std::string::npos) << links << listed;
    EXPECT_EQ(listed.find("a.pyc"), std::string::npos) << links << listed;
  }
  for (const char* copies : {"copies.run", "cpack-copies.run"}) {
    std::string listed = run_pack({"list", build + "/" + copies}).out;
    EXPECT_NE(listed.find(" lib/b.py\n"), std::string::npos) << copies << listed;
    for (const char* absent : {"a.pyc", "bin/", "post.sh"}) EXPECT_EQ(listed.find(absent), std::string::npos) << copies << listed;
  }
}

TEST_F(CMakePackage, VendorProjectSignsBothWays) {
  ProcessResult k = run_pack({"keygen", "-W", "-p", temp / "v.pub", "-s", temp / "v.key"});
  if (k.exit_status != 0) GTEST_SKIP() << "zolt-pack built without libsodium (libsodium-dev)";
  ProcessResult r = run(CMAKE_COMMAND, {"-S", ZOLT_SOURCE_DIR "/examples/vendor-project", "-B", build,
                                        "-DCMAKE_PREFIX_PATH=" + prefix, "-DVENDOR_SIGN_KEY=" + temp / "v.key"});
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  r = run(CMAKE_COMMAND, {"--build", build});
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  r = run(CPACK_COMMAND, {"--config", "CPackConfig.cmake"}, build);
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  for (const std::string& installer : {build + "/vendor-kit.run", build + "/VendorKit-2.3.1-Linux.run"}) {
    ProcessResult v = run_pack({"verify", "-q", "--key", temp / "v.pub", installer});
    EXPECT_EQ(v.exit_status, 0) << installer << v.err;
    EXPECT_TRUE(path_exists(installer + ".minisig")) << installer;
  }
}

// An installer begins with the stub it was made from, and says so.
void expect_made_from(const std::string& installer, const std::string& stub, const std::string& arch) {
  EXPECT_EQ(read_file(installer).substr(0, 4096), read_file(stub).substr(0, 4096)) << installer;
  EXPECT_NE(run_pack({"list", installer}).out.find("Platform:  Linux " + arch + "\n"), std::string::npos) << installer;
}

TEST_F(CMakePackage, InstallsTheNoticesAndPacksForTheTargetsArchitecture) {
  for (const char* notice : {"LICENSE", "THIRD-PARTY.md"})
    EXPECT_TRUE(path_exists(prefix + "/share/doc/zolt-setup/" + notice)) << notice;
  // The stubs of create's smaller installer of the kit, -lh5-; the bare
  // -lh5- one named with STUB packs -lh5-.
  const std::string name = "/zolt-setup";
  const std::string native = prefix + "/lib/zolt-setup/" ZOLT_NATIVE_ARCH + name,
                    aarch64 = prefix + "/lib/zolt-setup/aarch64" + name,
                    aarch64_lh5 = prefix + "/lib/zolt-setup/aarch64/zolt-setup", two = temp / "two";
  if (!path_exists(aarch64)) GTEST_SKIP() << "built without an aarch64 stub (g++-aarch64-linux-gnu)";
  // Installers from both stubs, named by default; and a cross build for
  // aarch64 without a STUB, through both ways.
  const std::string add = "zolt_add_installer(DIRECTORY " ZOLT_SOURCE_DIR "/examples/vendor-project/kit PRODUCT Two VERSION 1 STUB_TEXTS ";
  put_file(two + "/CMakeLists.txt", "cmake_minimum_required(VERSION 3.20)\nproject(Two LANGUAGES NONE)\n"
           "find_package(ZoltSetup REQUIRED)\n" + add + "TARGET own)\n" + add + "TARGET arm STUB " + aarch64_lh5 + ")\n", 0644, 1);
  write_file(temp / "aarch64.cmake", "set(CMAKE_SYSTEM_NAME Linux)\nset(CMAKE_SYSTEM_PROCESSOR aarch64)\n");
  for (const auto& [source, binary] : {std::pair{two, two}, {std::string(ZOLT_SOURCE_DIR "/examples/vendor-project"), build}}) {
    ProcessResult r = run(CMAKE_COMMAND, {"-S", source, "-B", binary, "-DCMAKE_PREFIX_PATH=" + prefix,
                                          "-DCMAKE_TOOLCHAIN_FILE=" + (binary == build ? temp / "aarch64.cmake" : "")});
    ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
    ASSERT_EQ((r = run(CMAKE_COMMAND, {"--build", binary})).exit_status, 0) << r.out << r.err;
  }
  ProcessResult r = run(CPACK_COMMAND, {"--config", "CPackConfig.cmake"}, build);
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  expect_made_from(two + "/two-1-linux-" ZOLT_NATIVE_ARCH ".run", native, ZOLT_NATIVE_ARCH);
  expect_made_from(two + "/two-1-linux-aarch64.run", aarch64_lh5, "aarch64");
  for (const std::string& installer : {build + "/vendor-kit.run", build + "/VendorKit-2.3.1-Linux.run"})
    expect_made_from(installer, aarch64, "aarch64");
}

}  // namespace
