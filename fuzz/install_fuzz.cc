// The installation on arbitrary attachments behind a valid stub: each input
// (see fuzz_attachment.h) is located, checked and installed as zolt-setup
// does after its dialogue, into a fresh directory with a few files already in
// it. Built with ZOLT_FUZZ_HOOKS, so that the termination routines jump back
// here instead of exiting.
//
// After each input, besides memory safety and leaks:
// - a run that was ended wrote a message of the defined set and then
//   "Installation terminated.", and closed the attachment file;
// - the parent directory holds the installation directory (which a deletion
//   entry with an empty name may have removed, were it empty) and a canary
//   directory beside it, and the canary is exactly as it was, although links
//   in the installation directory lead into it;
// - no temporary file is left behind.
// Any violation traps, with the run's output on standard error.
//
// ZOLT_FUZZ_SHOW_OUTPUT=1 in the environment passes the installer's output
// through, for looking at one input.
#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archive/attachment_reader.h"
#include "fuzz/fuzz_attachment.h"
#include "installer/install_files.h"
#include "installer/installer_state.h"
#include "installer/progress_line.h"
#include "installer/startup.h"
#include "installer/termination.h"
#include "tests/reliability/defined_endings.h"

// The installer decodes any declared size in bounded memory, straight into
// its file, so a compressed entry that declares up to 4 GiB is really decoded
// and written: seconds of junk under the sanitizers, and no news but time.
// Inputs that would decode more than FUZZ_DECODE_BUDGET are skipped.
// Allocations above FUZZ_ALLOCATION_LIMIT fail rather than end the run, so a
// path that still allocates by a declared size shows as a failed allocation.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1:max_allocation_size_mb=64"; }

namespace {

std::string parent, target, canary;
std::string canary_state;
FILE* discard = nullptr;
bool show_output = false;

[[noreturn]] void fail(const char* what, const std::string& output) {
  fprintf(stderr, "install_fuzz: %s\n--- output of the run ---\n%s\n---\n", what, output.c_str());
  __builtin_trap();
}

void put(const std::string& path, const char* text) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) abort();
  fputs(text, f);
  fclose(f);
  const utimbuf times{1600000000, 1600000000};
  utime(path.c_str(), &times);
}

int remove_one(const char* path, const struct stat*, int, FTW*) {
  remove(path);
  return 0;
}

void remove_below(const std::string& dir) { nftw(dir.c_str(), remove_one, 16, FTW_DEPTH | FTW_PHYS); }

// Names, types, sizes, times and bytes of the canary tree.
std::string describe(const std::string& dir) {
  std::string d;
  DIR* listing = opendir(dir.c_str());
  if (!listing) return "(gone)";
  while (dirent* e = readdir(listing)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string path = dir + "/" + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    d += name + " " + std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " " +
         std::to_string(st.st_mtime) + "\n";
    if (S_ISDIR(st.st_mode)) {
      d += describe(path);
    } else if (S_ISREG(st.st_mode)) {
      FILE* f = fopen(path.c_str(), "rb");
      char buffer[256];
      size_t n = f ? fread(buffer, 1, sizeof buffer, f) : 0;
      if (f) fclose(f);
      d.append(buffer, n);
    }
  }
  closedir(listing);
  return d;
}

// The tree that each input is installed over: a stale copy, a file the seeds
// replace, one they delete, and directory links that lead into the canary
// (relative, absolute, from below) for names that go through them.
void make_target() {
  mkdir(target.c_str(), 0755);
  mkdir((target + "/old").c_str(), 0755);
  mkdir((target + "/doc").c_str(), 0755);
  put(target + "/old/a.txt", "stale");
  put(target + "/doc/gone.txt", "to be deleted");
  put(target + "/b.txt", "previous b");
  if (symlink("../canary", (target + "/lib").c_str()) != 0 ||
      symlink(canary.c_str(), (target + "/abs").c_str()) != 0 ||
      symlink("../../canary/doc", (target + "/doc/up").c_str()) != 0)
    abort();
}

bool temporary_left = false;

int look_for_temporary(const char* path, const struct stat*, int, FTW*) {
  const char* slash = strrchr(path, '/');
  if (strncmp(slash ? slash + 1 : path, ".zolt-setup-", 12) == 0) temporary_left = true;
  return 0;
}

void set_up() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/zolt-install-fuzz-XXXXXX";
  if (!mkdtemp(pattern.data())) abort();
  parent = pattern;
  target = parent + "/target";
  canary = parent + "/canary";
  // Named like what the seeds install, so that anything written or swept
  // outside the target would most likely land here.
  mkdir(canary.c_str(), 0755);
  mkdir((canary + "/doc").c_str(), 0755);
  for (const char* name : {"/a.txt", "/b.txt", "/AAAA", "/gone.txt", "/doc/a.txt", "/doc/gone.txt", "/target"})
    put(canary + name, "canary");
  canary_state = describe(canary);
  discard = fopen("/dev/null", "w");
  show_output = getenv("ZOLT_FUZZ_SHOW_OUTPUT") != nullptr;
  atexit([] {
    remove_below(parent);
    rmdir(parent.c_str());
  });
}

// Start-up's checks and the installation, as zolt-setup runs them. True when
// a termination routine ended the run.
bool run_installation(std::string* file) {
  std::jmp_buf jump;
  termination_jump = &jump;
  if (setjmp(jump) != 0) {
    termination_jump = nullptr;
    return true;
  }
  attachment_file = fmemopen(file->data(), file->size(), "rb");
  if (!attachment_file) abort();
  locate_attachment(attachment_file, &attachment_header);
  if (header_volume(attachment_header) != VOLUME_WHOLE) error("Can't find attachments (err=2).");
  snprintf(install_dir, sizeof install_dir, "%s", target.c_str());
  install_files();
  termination_jump = nullptr;
  fclose(attachment_file);
  attachment_file = nullptr;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (parent.empty()) set_up();
  std::string file = fuzz_installer_file(data, size);
  if (file.empty() || fuzz_decodes_too_much(file, UINT32_MAX)) return 0;
  make_target();

  char* captured = nullptr;
  size_t captured_size = 0;
  FILE* console = stderr;
  FILE* capture = open_memstream(&captured, &captured_size);
  if (!capture) abort();
  stderr = capture;
  const bool ended = run_installation(&file);
  release_installation();
  stderr = discard;
  progress_line(nullptr, 0, 0);  // frees the line's copy of the last name
  stderr = console;
  fclose(capture);
  const std::string output(captured, captured_size);
  free(captured);
  if (show_output) fputs(output.c_str(), stderr);

  if (ended && final_message(output).empty()) fail("ended without a message of the defined set", output);
  if (ended && attachment_file) fail("attachment file left open", output);
  if (DIR* listing = opendir(parent.c_str())) {
    while (dirent* e = readdir(listing)) {
      std::string name = e->d_name;
      if (name != "." && name != ".." && name != "target" && name != "canary")
        fail(("made outside the installation directory: " + name).c_str(), output);
    }
    closedir(listing);
  }
  if (describe(canary) != canary_state) fail("the canary beside the installation directory changed", output);
  temporary_left = false;
  nftw(target.c_str(), look_for_temporary, 16, FTW_PHYS);
  if (temporary_left) fail("a temporary file was left in the installation directory", output);
  remove_below(target);
  return 0;
}
