#include "tests/pack/pack_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <filesystem>
#include <stdexcept>

#include "tests/support/files.h"

std::string zolt_pack_binary() { return ZOLT_PACK_BINARY; }

ProcessResult run_pack(const std::vector<std::string>& args, const std::vector<std::string>& env,
                       const std::string& cwd) {
  if (args.empty() || args[0] != "create") return run_pack_exactly(args, env, cwd);
  std::vector<std::string> with_texts = args;
  with_texts.insert(with_texts.begin() + 1, "--stub-texts");
  return run_pack_exactly(with_texts, env, cwd);
}

ProcessResult run_pack_exactly(const std::vector<std::string>& args, const std::vector<std::string>& env,
                               const std::string& cwd) {
  ProcessOptions options;
  options.args = {"-u", "SOURCE_DATE_EPOCH"};
  options.args.insert(options.args.end(), env.begin(), env.end());
  options.args.push_back(zolt_pack_binary());
  options.args.insert(options.args.end(), args.begin(), args.end());
  options.cwd = cwd;
  options.timeout_seconds = 240;
  return run_process("/usr/bin/env", options);
}

ProcessResult run_pack_without_override(const std::vector<std::string>& args, bool* available) {
  *available = true;
  if (geteuid() != 0) return run_pack(args);
  if (!path_exists("/usr/bin/setpriv")) {
    *available = false;
    return {};
  }
  ProcessOptions options;
  options.args = {"--bounding-set=-dac_override,-dac_read_search",
                  "--",
                  "/usr/bin/env",
                  "-u",
                  "SOURCE_DATE_EPOCH",
                  zolt_pack_binary()};
  options.args.insert(options.args.end(), args.begin(), args.end());
  ProcessResult r = run_process("/usr/bin/setpriv", options);
  // Some containers forbid changing the bounding set.
  if (r.exit_status != 0 && r.err.find("setpriv") != std::string::npos) *available = false;
  return r;
}

std::map<std::string, FileState> snapshot_tree(const std::string& dir) {
  std::map<std::string, FileState> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    bool link = e.is_symlink(), empty_directory = !link && e.is_directory() && std::filesystem::is_empty(e.path());
    if (!link && !empty_directory && !e.is_regular_file()) continue;
    struct stat st;
    if (lstat(e.path().c_str(), &st) != 0) throw std::runtime_error("stat " + e.path().string());
    std::string name = std::filesystem::relative(e.path(), dir).string();
    if (name.rfind(".zolt-setup", 0) == 0) continue;  // the installers' own record and lock
    std::string bytes = link ? "-> " + std::filesystem::read_symlink(e.path()).string() : empty_directory ? "" : read_file(e.path());
    files[name] = FileState{bytes, st.st_mode, empty_directory ? 0 : int64_t(st.st_mtime)};
  }
  return files;
}

void put_file(const std::string& path, const std::string& bytes, mode_t mode, int64_t mod_time) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  write_file(path, bytes, mode);
  chmod(path.c_str(), mode);
  utimbuf times{time_t(mod_time), time_t(mod_time)};
  if (utime(path.c_str(), &times) != 0) throw std::runtime_error("utime " + path);
}

std::string random_bytes(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = char(x >> 24);
  }
  return bytes;
}

void make_sample_tree(const std::string& dir) {
  std::string text;
  for (int i = 0; i < 2000; i++)
    text += "#define QUMBA_VALUE_" + std::to_string(i) + " " + std::to_string(i * 7) + "\n";
  put_file(dir + "/include/qumba.h", text, 0644, 1683062507);
  put_file(dir + "/include/qumba/pixel.h", text.substr(0, 5000), 0644, 1683062400);
  put_file(dir + "/lib/libqumba.bin", random_bytes(70000, 7), 0644, 1683000000);
  put_file(dir + "/bin/qumba-config", "#!/bin/sh\necho 7.1\n", 0755, 1683062000);
  put_file(dir + "/doc/empty.txt", "", 0600, 1600000000);
  put_file(dir + "/doc/big.txt", std::string(300000, 'z') + text, 0644, 1683062507);
  // '-' (0x2D) sorts before '/' (0x2F) and 'Z' before 'a'.
  put_file(dir + "/doc-extra", "x", 0644, 1683062507);
  put_file(dir + "/Zeta.TXT", "upper case first\r\n", 0644, 1683062507);
}

void expect_unpacks_as(const std::string& installer, const std::string& tree, const std::string& scratch) {
  ASSERT_EQ(run_pack({"extract", "-q", installer, "-C", scratch + "/out"}).exit_status, 0);
  EXPECT_EQ(snapshot_tree(scratch + "/out"), snapshot_tree(tree));
  ProcessOptions o;
  o.args = {"--quiet", "--target", scratch + "/installed", "--accept-licence"};
  EXPECT_EQ(run_process(installer, o).exit_status, 0);
  EXPECT_EQ(snapshot_tree(scratch + "/installed"), snapshot_tree(tree));
}
