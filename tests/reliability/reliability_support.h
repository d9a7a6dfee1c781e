// Shared by the robustness tests: a sample product with every kind of entry
// and the tree it is installed over, the installation run in a child on an
// installer held in memory, reading an installer in process, and snapshots of
// directory trees.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/support/installer_builder.h"
#include "tests/support/process.h"

// Every object below `dir`, not following links, each described by its type,
// mode and, for files, size, modification time and bytes; for links the
// target. Directory times are left out: creating a file changes them. The
// installers' record directory .zolt-setup at the top is left out too.
using Snapshot = std::map<std::string, std::string>;
Snapshot snapshot(const std::string& dir, const std::string& skip = "");

// The sample product: stored, compressed (one of them over several 8192-byte
// slices), empty and deletion entries, all with times and modes.
std::vector<TestEntry> sample_entries();
// The tree the sample is installed over: a file each entry replaces or
// deletes, a stale copy elsewhere of the first entry's name, an unrelated file.
void make_sample_tree(const std::string& dir);
// The installer's bytes on a small stub image instead of the real program, so
// that the locator finds the header at 1024 at once.
std::string stub_installer(const std::vector<TestEntry>& entries, const TestHeader& header = TestHeader());

// Where each entry lies in an installer: its record, its stored data, its end.
struct EntrySpan {
  size_t record, data, end;
  uint32_t type;
};
std::vector<EntrySpan> entry_spans(const std::string& installer);

// Sets a u32 field of the record at `span` (or of the header block starting
// at `header`) and makes its CRC match again.
void set_record_field(std::string* installer, const EntrySpan& span, uint32_t field, uint32_t value);
void set_header_field(std::string* installer, size_t header, uint32_t field, uint32_t value);

// Start-up's checks of the attachment and the installation into `dir`, run in
// a child on `installer` (bytes) as zolt-setup runs them after the dialogue.
// `before`, when given, runs in the child just before install_files. The
// child must end with no signal and with status 1 when it printed
// "Installation terminated.", else 0; this is checked here.
ProcessResult install_in_child(const std::string& installer, const std::string& dir,
                               const ProcessOptions& options = {}, const std::function<void()>& before = nullptr);

// The sample tree after the first `k` sample entries were installed over it.
const Snapshot& sample_tree_after(size_t k);

// Locating and reading every entry with the installer's own reader, in
// process (nothing is written): the locator's result, the number of entries
// that passed every check, and the first fault (FAILURE_NONE when all passed).
struct ReadOutcome {
  int locate;
  uint32_t good;
  int fault;
};
// `data`, when given, receives the bytes of each entry that passed.
ReadOutcome read_in_process(const std::string& installer, std::vector<std::string>* data = nullptr);


// Writes the installation record of `product` below `dir` as an earlier
// installation that put `paths` there would have left it: each with the
// identity of what lies there now.
void write_record(const std::string& dir, const std::vector<std::string>& paths, const std::string& product = "QUMBA");

// Removes `dir` and everything below it, however deep: works with descriptors,
// not paths, so that trees beyond PATH_MAX go too.
void remove_tree(const std::string& dir);

// The differences between two snapshots, one line each, for failure messages.
std::string snapshot_diff(const Snapshot& before, const Snapshot& after);

// A file system of its own mounted at `dir` (made if missing) while the
// object lives: "tmpfs", or "ext4" on a loop device over an image file, a
// new one of 64 MiB in memory (/dev/shm, so that flushing it costs no disk)
// or `image` as it is. Where the machine does not allow it (not root, no
// loop devices), ok() is false and why() says so.
class ScratchMount {
 public:
  ScratchMount(const std::string& dir, const std::string& type, const std::string& image = "");
  ~ScratchMount();
  ScratchMount(const ScratchMount&) = delete;
  ScratchMount& operator=(const ScratchMount&) = delete;
  bool ok() const { return why_.empty(); }
  const std::string& why() const { return why_; }
  const std::string& image() const { return image_; }

 private:
  std::string dir_, image_, why_;
  bool own_image_ = false;
};
