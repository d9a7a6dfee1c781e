// zolt-pack list and verify on arbitrary installer files (inputs as described
// in fuzz_attachment.h, the whole-file form included), through the functions
// behind the two subcommands. Each must succeed or throw Failure (or
// bad_alloc), which zolt-pack reports with a message and status 1; nothing
// else may escape, and the two must reach the same verdict, since both check
// every entry as the installer does. What verify passes must extract into an
// empty directory. Any violation traps.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

#include "fuzz/fuzz_attachment.h"
#include "pack/commands.h"
#include "pack/failure.h"

// As in install_fuzz.cc: above FUZZ_ALLOCATION_LIMIT allocations fail
// instead of ending the run. list and verify decode any declared size one
// window at a time, so every input that would decode much is skipped.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1:max_allocation_size_mb=64"; }

namespace {

std::string directory, path;
FILE* discard = nullptr;

void set_up() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/zolt-pack-fuzz-XXXXXX";
  if (!mkdtemp(pattern.data())) abort();
  directory = pattern;
  path = directory + "/installer";
  discard = fopen("/dev/null", "w");
  atexit([] { std::filesystem::remove_all(directory); });
}

[[noreturn]] void fail(const std::string& what) {
  fprintf(stderr, "pack_inspect_fuzz: %s\n", what.c_str());
  __builtin_trap();
}

// 0 when the command succeeded, 1 when it reported bad data (in `message`
// when given).
int run(int (*command)(const Arguments&), const Arguments& args, const char* name, std::string* message = nullptr) {
  FILE* console = stdout;
  stdout = discard;
  int status;
  try {
    status = command(args);
    if (status != 0) fail(std::string(name) + " returned " + std::to_string(status) + " without a Failure");
  } catch (const Failure& e) {
    if (std::string(e.what()).empty()) fail(std::string(name) + ": a Failure without a message");
    if (message) *message = e.what();
    status = 1;
  } catch (const std::bad_alloc&) {
    status = 1;
  } catch (const UsageError& e) {
    fail(std::string(name) + ": usage error: " + e.what());
  } catch (const std::exception& e) {
    fail(std::string(name) + ": unexpected exception: " + e.what());
  }
  stdout = console;
  return status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (directory.empty()) set_up();
  std::string file = fuzz_installer_file(data, size);
  if (fuzz_decodes_too_much(file, UINT32_MAX)) return 0;
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) abort();
  fwrite(file.data(), 1, file.size(), f);
  fclose(f);
  const int listed = run(list_command, {path}, "list");
  std::string refusal;
  const int verified = run(verify_command, {"-q", path}, "verify", &refusal);
  // verify alone refuses Zstandard data behind a stub that cannot decode it,
  // before whatever else list may find.
  const bool stub_cannot = refusal.find("(its stub does not decode Zstandard") != std::string::npos;
  if (!stub_cannot && listed != verified)
    fail("list " + std::string(listed ? "refused" : "accepted") + " what verify " +
         std::string(verified ? "refused" : "accepted"));
  if (verified == 0) {
    const std::string target = directory + "/target";
    const int extracted = run(extract_command, {"-q", "-C", target, path}, "extract");
    std::error_code ignored;
    std::filesystem::remove_all(target, ignored);
    if (extracted != 0) fail("extract failed on what verify accepted");
  }
  return 0;
}
