// Installation time against the number of entries, into an empty directory
// and over an existing copy of the same tree. The stale-copy sweep must keep
// this linear: the tree is walked once per installation, not once per entry.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/attachment_reader.h"
#include "installer/install_files.h"
#include "installer/installer_state.h"
#include "tests/support/files.h"
#include "tests/support/installer_builder.h"

namespace {

// A product of `count` small stored files, 50 to a directory.
const std::string& installer_of(int count) {
  static std::map<int, std::string> made;
  static TempDir dir;
  auto it = made.find(count);
  if (it != made.end()) return it->second;
  std::vector<TestEntry> entries;
  for (int i = 0; i < count; i++) {
    TestEntry e;
    e.name = "d" + std::to_string(i / 50) + "/file" + std::to_string(i) + ".h";
    e.data = "/* " + e.name + " */\n";
    e.mod_time = 1683062507;
    entries.push_back(e);
  }
  std::string path = dir / ("setup" + std::to_string(count));
  write_file(path, build_installer(std::string(4096, 'i'), TestHeader(), entries), 0755);
  return made.emplace(count, path).first->second;
}

void install_into(const std::string& installer, const std::string& target) {
  attachment_file = fopen(installer.c_str(), "rb");
  if (!attachment_file || find_attachment(attachment_file, &attachment_header) != LOCATE_OK) abort();
  snprintf(install_dir, sizeof install_dir, "%s", target.c_str());
  install_files();
  fclose(attachment_file);
  attachment_file = nullptr;
}

void quiet_stderr() {
  static bool done = false;
  if (!done && !freopen("/dev/null", "w", stderr)) abort();
  done = true;
}

void BM_InstallFresh(benchmark::State& state) {
  quiet_stderr();
  const std::string& installer = installer_of(int(state.range(0)));
  TempDir work;
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove_all(work / "t");
    state.ResumeTiming();
    install_into(installer, work / "t");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_InstallOverExisting(benchmark::State& state) {
  quiet_stderr();
  const std::string& installer = installer_of(int(state.range(0)));
  TempDir work;
  install_into(installer, work / "t");
  for (auto _ : state) install_into(installer, work / "t");
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_InstallFresh)->Arg(1000)->Arg(2000)->Arg(4000)->Arg(8000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InstallOverExisting)->Arg(1000)->Arg(2000)->Arg(4000)->Arg(8000)->Unit(benchmark::kMillisecond);

}  // namespace
