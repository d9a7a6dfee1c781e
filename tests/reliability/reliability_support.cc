#include "tests/reliability/reliability_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "archive/attachment_reader.h"
#include "archive/crc16.h"
#include "engine/read/entry_reader.h"
#include "engine/ownership/owned_object.h"
#include "archive/format.h"
#include "installer/install_files.h"
#include "installer/installer_state.h"
#include "installer/startup.h"
#include "installer/termination.h"
#include "tests/support/files.h"

namespace {

std::string from_hex(const char* hex) {
  std::string bytes;
  for (const char* p = hex; p[0] && p[1]; p += 2) bytes += char(std::stoi(std::string(p, 2), nullptr, 16));
  return bytes;
}

// 24156 bytes of notes and the -lh5- stream of them, 499 bytes: three slices
// of output, the last of 7772 bytes.
std::string notes_text() {
  static const char* const kinds[] = {"fixed", "sorted", "hashed"};
  std::string text;
  for (int i = 0; i < 400; i++)
    text += "QUMBA note " + std::to_string(i % 37) + ": the library keeps its tables in " + kinds[i % 3] +
            " order.\n";
  return text;
}

const char* const kNotesStream =
    "014e5b71d66897fabb801fed30ddd00069ad768341b010e604480ceeea0b8726a358b098033deec577dc001c287d943e"
    "defebe9e76e7d31bad9bcad8f0badcb8eebf6dff96f9baefac2dc71c2d8edddcaefdfcb9dbe38fdddbedd2fdf75fe3e1"
    "fded476f6b0e97e3d7db9ededf0db870ebedd77ccb3accb42ccb4f7ccb52ccb5accb62f8319966710b348959ad3cd73b"
    "cd742cd74bcd753cd75acd76383bccb3598ef9accbcd69e6b9d66ba1e6ba5e6ba966bade6bb1d2f2b12a76275958a2b1"
    "5a762d4ec5e958c654c8fe6aafed0b3274c0a97dd2f3a5d54b8e96e1d2dc2a5b874b70e96e152dc3a5b874b70a96e1d2"
    "dc3a5b954b739756f74b72a96e5d2dcba5b954b72fabacbeaed2babbd3b12a76274ec51d8ad3b16a562f4ec632a645f3"
    "55ff685992a6074bee97952eba5c74b70c794e96e1d2dc2a5b874b70e96e152dc3a5b874b70a96e5d2dce5d5bd52dcba"
    "5b974b72a96e5d2dcbeaeb2babb4beaef4ec4a9589d65628ec56958b53b17a763028bc5178a2f145e28bc5178a2f145e"
    "28bc5178a2f145e28bc5178a2f145e28bc5178a2f145e28bc5178a2f145e28bc5178a2f145e28bc5178a2f145e28bc51"
    "78a2f145e28bc5178a2f145e28bc5178a2f145e28bc5178a2f145e28bc5178a2f145e28bc5178a2f145e28bc5178a2f1"
    "45e28bc5178a2f145e28bc5178a2f145fff9a8";

TestEntry entry(const std::string& name, uint32_t type, const std::string& data, const std::string& stored,
                uint16_t mode) {
  TestEntry e;
  e.name = name;
  e.type = type;
  e.data = data;
  e.stored = stored;
  e.mod_time = 1683062507;
  e.mode = mode;
  return e;
}

std::string describe(const std::filesystem::path& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return "unreadable";
  char mode[16];
  snprintf(mode, sizeof mode, "%o", unsigned(st.st_mode));
  std::string d = mode;
  if (S_ISREG(st.st_mode)) {
    d += " file " + std::to_string(st.st_size) + " bytes, mtime " + std::to_string(st.st_mtime);
    // The bytes themselves for small files; larger ones by size and time.
    if (st.st_size <= (1 << 20)) d += ": " + read_file(path);
  } else if (S_ISLNK(st.st_mode)) {
    std::error_code ignored;
    d += " link to " + std::filesystem::read_symlink(path, ignored).string();
  } else if (S_ISDIR(st.st_mode)) {
    d += " directory";
  }
  return d;
}

}  // namespace

std::vector<TestEntry> sample_entries() {
  const std::string aaaa("\x00\x02\x20\x04\x30\x10\xB6\x55\x40\x10", 10);
  TestEntry gone;
  gone.name = "old/gone.txt";
  gone.type = ENTRY_DELETE;
  return {
      entry("include/qumba.h", ENTRY_STORED, "#pragma once\nint qumba_open(const char* name);\n", "", 0100644),
      entry("lib/libqumba.a", ENTRY_COMPRESSED, "AAAA", aaaa, 0100755),
      gone,
      entry("doc/readme.txt", ENTRY_STORED, std::string(300, 'r'), "", 0100444),
      entry("doc/notes.txt", ENTRY_COMPRESSED, notes_text(), from_hex(kNotesStream), 0100644),
      entry("share/empty", ENTRY_STORED, "", "", 0100600),
  };
}

void make_sample_tree(const std::string& dir) {
  for (const char* d : {"", "/old", "/doc", "/stale"}) mkdir((dir + d).c_str(), 0755);
  // Fixed times, so that snapshots of trees made at different moments compare.
  const utimbuf times{1600000000, 1600000000};
  for (const auto& [name, text] : std::vector<std::pair<std::string, std::string>>{
           {"/old/gone.txt", "to be deleted"},
           {"/doc/readme.txt", "the previous readme"},
           {"/stale/qumba.h", "a stale copy of the header"},
           {"/keep.txt", "not the installer's"}}) {
    write_file(dir + name, text);
    utime((dir + name).c_str(), &times);
  }
  // An earlier installation put all but keep.txt there.
  write_record(dir, {"old/gone.txt", "doc/readme.txt", "stale/qumba.h"});
}

std::string stub_installer(const std::vector<TestEntry>& entries, const TestHeader& header) {
  return build_installer("#!stub image\n", header, entries);
}

std::vector<EntrySpan> entry_spans(const std::string& installer) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(installer.data());
  size_t header = installer.find("ZOLT(R)....SOFTWARE");
  while (header != std::string::npos && header % HEADER_ALIGN != 0)
    header = installer.find("ZOLT(R)....SOFTWARE", header + 1);
  std::vector<EntrySpan> spans;
  if (header == std::string::npos) return spans;
  size_t at = header + HEADER_SIZE;
  for (uint32_t i = 0; i < header_entry_count(*reinterpret_cast<const AttachmentHeader*>(bytes + header)); i++) {
    EntrySpan s;
    s.record = at;
    s.type = get_u32(bytes + at + RECORD_ENTRY_TYPE);
    s.data = at + get_u32(bytes + at + RECORD_LENGTH);
    s.end = s.data + (s.type == ENTRY_DELETE ? 0 : get_u32(bytes + at + RECORD_STORED_SIZE));
    spans.push_back(s);
    at = s.end;
  }
  return spans;
}

void set_record_field(std::string* installer, const EntrySpan& span, uint32_t field, uint32_t value) {
  auto* r = reinterpret_cast<uint8_t*>(installer->data()) + span.record;
  put_u32(r + field, value);
  put_u16(r + RECORD_CRC, 0);
  put_u16(r + RECORD_CRC, test_crc16(installer->substr(span.record, span.data - span.record)));
}

void set_header_field(std::string* installer, size_t header, uint32_t field, uint32_t value) {
  auto* h = reinterpret_cast<uint8_t*>(installer->data()) + header;
  put_u32(h + field, value);
  put_u16(h + HEADER_CRC, 0);
  put_u16(h + HEADER_CRC, test_crc16(installer->substr(header, HEADER_SIZE)));
}

ProcessResult install_in_child(const std::string& installer, const std::string& dir, const ProcessOptions& options,
                               const std::function<void()>& before) {
  ProcessResult r = run_in_child(
      [&] {
        attachment_file = fmemopen(const_cast<char*>(installer.data()), installer.size(), "rb");
        if (!attachment_file) _exit(3);
        locate_attachment(attachment_file, &attachment_header);
        if (header_volume(attachment_header) != VOLUME_WHOLE) error("Can't find attachments (err=2).");
        snprintf(install_dir, sizeof install_dir, "%s", dir.c_str());
        if (before) before();
        install_files();
      },
      options);
  EXPECT_EQ(r.exit_status, r.err.find("Installation terminated") == std::string::npos ? 0 : 1) << r.err;
  EXPECT_EQ(r.term_signal, 0);
  EXPECT_FALSE(r.timed_out);
  return r;
}

const Snapshot& sample_tree_after(size_t k) {
  static std::map<size_t, Snapshot> made;
  auto found = made.find(k);
  if (found != made.end()) return found->second;
  TempDir scratch;
  const std::string dir = scratch / "target";
  make_sample_tree(dir);
  std::vector<TestEntry> entries = sample_entries();
  // A run that stops after k entries: the last entry, a directory that is
  // there already, fails once the others are installed, before the end of
  // an upgrade removes what the record lists and the run did not install.
  bool stopped = k < entries.size();
  entries.resize(k);
  if (stopped) entries.push_back(entry("doc/", ENTRY_STORED, "", "", 0100644));
  ProcessResult r = install_in_child(stub_installer(entries), dir);
  EXPECT_EQ(r.err.find("Can't create file") != std::string::npos, stopped) << r.err;
  return made[k] = snapshot(dir);
}

ReadOutcome read_in_process(const std::string& installer, std::vector<std::string>* data) {
  ReadOutcome outcome{LOCATE_OK, 0, FAILURE_NONE};
  FILE* f = fmemopen(const_cast<char*>(installer.data()), installer.size(), "rb");
  if (!f) throw std::runtime_error("fmemopen failed");
  AttachmentHeader header;
  outcome.locate = find_attachment(f, &header);
  if (outcome.locate == LOCATE_OK) {
    uint8_t* table = crc16_table();
    EntryStream stream;
    entry_stream_init(&stream, f);
    for (uint32_t i = 0; i < header_entry_count(header); i++) {
      Entry e;
      outcome.fault = read_entry(&stream, table, &e, nullptr);
      if (outcome.fault != FAILURE_NONE) break;
      if (data) data->push_back(e.data ? std::string(reinterpret_cast<const char*>(e.data), e.file_size) : "");
      release_entry(&e);
      outcome.good++;
    }
    entry_stream_release(&stream);
    free(table);
  }
  fclose(f);
  return outcome;
}

void write_record(const std::string& dir, const std::vector<std::string>& paths, const std::string& product) {
  std::string list = "zolt-setup installation record 2\n";
  for (const std::string& p : paths) {
    struct stat st {};
    bool there = lstat((dir + "/" + p).c_str(), &st) == 0;
    std::string bytes = there && S_ISREG(st.st_mode) ? read_file(dir + "/" + p) : "";
    char text[IDENTITY_TEXT_MAX];
    identity_format(there ? identity_of(st, test_crc16(bytes)) : InstalledIdentity{}, text);
    list += std::string(text) + '\t' + p + '\0';
  }
  std::filesystem::create_directories(dir + "/.zolt-setup");
  write_file(dir + "/.zolt-setup/" + product + ".list", list);
}

Snapshot snapshot(const std::string& dir, const std::string& skip) {
  Snapshot s;
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::recursive_directory_iterator it(dir, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::string relative = it->path().lexically_relative(dir).string();
    // The installers' own record and lock are not part of the tree they install.
    if (relative == ".zolt-setup") {
      it.disable_recursion_pending();
      continue;
    }
    if (!skip.empty() && (relative == skip || relative.compare(0, skip.size() + 1, skip + "/") == 0)) {
      if (it->is_directory() && !it->is_symlink()) it.disable_recursion_pending();
      continue;
    }
    s[relative] = describe(it->path());
  }
  if (ec) s["(walk failed)"] = ec.message();
  return s;
}

std::string snapshot_diff(const Snapshot& before, const Snapshot& after) {
  std::string diff;
  for (const auto& [path, what] : before) {
    auto found = after.find(path);
    if (found == after.end())
      diff += "gone: " + path + "\n";
    else if (found->second != what)
      diff += "changed: " + path + "\n";
  }
  for (const auto& [path, what] : after)
    if (!before.count(path)) diff += "new: " + path + "\n";
  return diff;
}

void remove_tree(const std::string& dir) {
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  if (fd < 0) {
    unlink(dir.c_str());
    return;
  }
  fchmod(fd, 0700);
  std::vector<std::string> below;  // the names from `dir` down to fd's directory
  for (;;) {
    std::vector<std::string> files, directories;
    if (DIR* d = fdopendir(dup(fd))) {
      while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        struct stat st;
        bool is_dir = fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        (is_dir ? directories : files).push_back(name);
      }
      closedir(d);
    }
    for (const std::string& f : files) unlinkat(fd, f.c_str(), 0);
    if (!directories.empty()) {
      int child = openat(fd, directories[0].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
      if (child < 0) break;  // left as it is rather than tried for ever
      fchmod(child, 0700);
      close(fd);
      fd = child;
      below.push_back(directories[0]);
      continue;
    }
    if (below.empty()) break;
    int parent = openat(fd, "..", O_RDONLY | O_DIRECTORY);
    close(fd);
    if (parent < 0) return;
    fd = parent;
    unlinkat(fd, below.back().c_str(), AT_REMOVEDIR);
    below.pop_back();
  }
  close(fd);
  rmdir(dir.c_str());
}

ScratchMount::ScratchMount(const std::string& dir, const std::string& type, const std::string& image)
    : dir_(dir), image_(image) {
  std::filesystem::create_directories(dir);
  std::string command = "mount -t tmpfs tmpfs '" + dir + "'";
  if (type == "ext4" && image_.empty()) {
    char name[] = "/dev/shm/zolt-disk-XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0) close(fd), image_ = name, own_image_ = true;
    command = "truncate -s 64M '" + image_ + "' && mkfs.ext4 -q -F '" + image_ + "' && ";
  } else if (type == "ext4") {
    command = "";
  }
  if (type == "ext4") command += "mount -o loop '" + image_ + "' '" + dir + "'";
  if (geteuid() != 0) why_ = "needs root to mount " + type;
  else if (type == "ext4" && access("/dev/loop-control", R_OK | W_OK) != 0) why_ = "no loop devices";
  else if (type == "ext4" && image_.empty()) why_ = "no room for a disk image";
  else if (system((command + " >/dev/null 2>&1").c_str()) != 0) why_ = "cannot mount " + type + ": " + command;
}

ScratchMount::~ScratchMount() {
  if (ok() && system(("umount '" + dir_ + "' >/dev/null 2>&1 || umount -l '" + dir_ + "'").c_str()) != 0) {
    ADD_FAILURE() << "cannot unmount " << dir_;
  }
  if (own_image_) unlink(image_.c_str());
}
