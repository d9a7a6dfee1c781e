// Links and directories from the vendor's tree to the user's, with the real
// zolt-pack and zolt-setup: a library's link chain, an empty directory with
// its mode, --exclude, upgrades between files and links, and links that
// lead out of the installation directory, which are never followed; users'
// edits of files and of configuration files (--config) kept across an
// upgrade and an uninstall.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <string>

#include "engine/failure.h"
#include "tests/pack/pack_support.h"
#include "tests/support/files.h"

namespace {

namespace fs = std::filesystem;

class TreeObjects : public ::testing::Test {
 protected:
  // Packs `tree` into `installer` and installs it into `target` with the
  // installer's dialogue; returns the installer's standard error.
  std::string pack_and_install(const std::string& tree, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"create", "-o", installer, "--product", "QUMBA", "--version", "7.1"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(tree);
    ProcessResult c = run_pack(args);
    EXPECT_EQ(c.exit_status, 0) << c.err;
    pack_err = c.err;
    ProcessOptions o;
    o.input = "n\na\nn\n" + target + "\nn\n" + (fs::exists(target) ? "n\n" : "") + "n\n";
    ProcessResult r = run_process(installer, o);
    return r.err;
  }
  std::string link_of(const std::string& name) { return fs::read_symlink(target + "/" + name).string(); }

  TempDir temp;
  std::string installer = temp / "q.run", target = temp / "installed", pack_err;
};

TEST_F(TreeObjects, ALibraryChainAnEmptyDirectoryAndExclusionsInstallAsPacked) {
  const std::string v1 = temp / "v1";
  put_file(v1 + "/lib/libfoo.so.1.2", "the library", 0755, 1683062507);
  fs::create_symlink("libfoo.so.1.2", v1 + "/lib/libfoo.so.1");
  fs::create_symlink("libfoo.so.1", v1 + "/lib/libfoo.so");
  fs::create_directories(v1 + "/var/log");
  chmod((v1 + "/var/log").c_str(), 0750);
  put_file(v1 + "/build/cache", "left out", 0644, 1683062507);
  put_file(v1 + "/lib/foo.o", "left out", 0644, 1683062507);
  std::string err = pack_and_install(v1, {"-v", "--exclude", "*.o", "--exclude", "./build/"});
  EXPECT_NE(pack_err.find(v1 + "/build: left out by --exclude 'build'\n"), std::string::npos) << pack_err;
  EXPECT_NE(pack_err.find(v1 + "/lib/foo.o: left out by --exclude '*.o'\n"), std::string::npos) << pack_err;
  EXPECT_NE(err.find("Installation complete."), std::string::npos) << err;
  // One file, two links and the directory with its mode 0750.
  fs::remove_all(v1 + "/build");
  fs::remove(v1 + "/lib/foo.o");
  EXPECT_EQ(snapshot_tree(target), snapshot_tree(v1));
  EXPECT_EQ(snapshot_tree(target).at("var/log").mode, S_IFDIR | 0750u);
}

TEST_F(TreeObjects, UpgradesSwapLinksAndFilesAndNeverFollowALink) {
  const std::string v1 = temp / "v1", v2 = temp / "v2", outside = temp / "outside";
  put_file(outside + "/victim", "outside", 0644, 1683062507);
  put_file(v1 + "/lib/libfoo.so.1.2", "one", 0644, 1683062507);
  fs::create_symlink("libfoo.so.1.2", v1 + "/lib/libfoo.so");
  fs::create_symlink(outside + "/victim", v1 + "/lib/out");
  EXPECT_NE(pack_and_install(v1, {"--allow-outside-links"}).find("Installation complete."), std::string::npos);
  EXPECT_EQ(snapshot_tree(target), snapshot_tree(v1));

  put_file(v2 + "/lib/libfoo.so", "two", 0644, 1683062507);
  fs::create_symlink("libfoo.so", v2 + "/lib/libfoo.so.1.2");
  put_file(v2 + "/lib/out", "replaces the link, not its target", 0644, 1683062507);
  EXPECT_NE(pack_and_install(v2).find("Installation complete."), std::string::npos);
  EXPECT_EQ(snapshot_tree(target), snapshot_tree(v2));
  EXPECT_EQ(read_file(outside + "/victim"), "outside");

  // A link that someone put on the way out of the directory stops the
  // installation there; nothing is written through it.
  fs::create_directory_symlink(outside, target + "/share");
  put_file(v2 + "/share/doc.txt", "doc", 0644, 1683062507);
  EXPECT_NE(pack_and_install(v2).find(failure_message(FAILURE_IN_THE_WAY)), std::string::npos);
  EXPECT_FALSE(fs::exists(outside + "/doc.txt"));
}

// Every path below `dir` but the record's, relative to it.
std::set<std::string> paths_below(const std::string& dir) {
  std::set<std::string> paths;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (std::string p = fs::relative(e.path(), dir).string(); p.rfind(".zolt-setup", 0) != 0) paths.insert(p);
  return paths;
}

TEST_F(TreeObjects, UsersEditsSurviveAnUpgradeAndAnUninstall) {
  auto run_installer = [&](std::vector<std::string> args) {
    ProcessOptions o;
    o.args = std::move(args);
    return run_process(installer, o);
  };
  const std::string v1 = temp / "v1", v2 = temp / "v2";
  for (const auto& [tree, version] : {std::pair{v1, "1"}, {v2, "2"}})
    for (const char* name : {"etc/acme.conf", "etc/site.conf", "bin/tool"})
      put_file(tree + "/" + name, std::string(name) + " " + version + "\n", 0644, 1683062507);
  const std::vector<std::string> marks = {"--config", "*.conf", "--config", "etc/missing"};
  EXPECT_NE(pack_and_install(v1, marks).find("Installation complete."), std::string::npos);
  EXPECT_NE(pack_err.find("--config 'etc/missing' matches no file"), std::string::npos) << pack_err;
  // Both listings mark the configuration files, and only those.
  const std::string mark = " (configuration file: a changed copy is kept)\n";
  for (const std::string& listing : {run_pack({"list", installer}).out, run_installer({"--list"}).out}) {
    EXPECT_NE(listing.find(" etc/acme.conf" + mark), std::string::npos) << listing;
    EXPECT_NE(listing.find(" etc/site.conf" + mark), std::string::npos) << listing;
    EXPECT_NE(listing.find(" bin/tool\n"), std::string::npos) << listing;
  }

  write_file(target + "/etc/acme.conf", "the user's settings\n");
  write_file(target + "/bin/tool", "the user's patch\n");
  std::string err = pack_and_install(v2, marks);
  EXPECT_NE(err.find("Left as it is, changed since it was installed; the new version is beside it: " + target +
                     "/etc/acme.conf.zolt-new\n"),
            std::string::npos) << err;
  EXPECT_NE(err.find("Replaced, changed since it was installed; your copy is kept as: " + target + "/bin/tool.zolt-old\n"),
            std::string::npos) << err;
  EXPECT_EQ(read_file(target + "/etc/acme.conf"), "the user's settings\n");
  EXPECT_EQ(read_file(target + "/etc/acme.conf.zolt-new"), "etc/acme.conf 2\n");
  EXPECT_EQ(read_file(target + "/etc/site.conf"), "etc/site.conf 2\n");
  EXPECT_EQ(read_file(target + "/bin/tool"), "bin/tool 2\n");
  EXPECT_EQ(read_file(target + "/bin/tool.zolt-old"), "the user's patch\n");

  // The copies are the user's: uninstalling leaves them, and the changed
  // configuration file, which it names.
  ProcessResult u = run_installer({"--uninstall", "--target", target, "--unattended"});
  EXPECT_EQ(u.exit_status, 0) << u.err;
  EXPECT_NE(u.err.find("Kept, a configuration file changed since it was installed: etc/acme.conf\n"), std::string::npos)
      << u.err;
  EXPECT_EQ(paths_below(target),
            (std::set<std::string>{"bin", "bin/tool.zolt-old", "etc", "etc/acme.conf", "etc/acme.conf.zolt-new"}));
}

}  // namespace
