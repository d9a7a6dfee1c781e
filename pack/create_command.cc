// zolt-pack create: a directory tree becomes an installer. The stub (the bare
// installer) is copied with the vendor's texts behind it, then the attachment
// is written behind them with the project's one writer: deletion entries
// first, then every file in byte order of its path, each compressed where
// that makes it smaller, then the links in the same order (a hard link
// thus always behind the file it names), then the
// directories that need entries of their own, deepest first, so that a
// mode that keeps writers out comes after what lies inside. Nothing
// appears under the output's name unless the whole installer was written.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <set>

#include "archive/attachment_reader.h"
#include "archive/attachment_writer.h"
#include "archive/crc16.h"
#include "archive/format.h"
#include "engine/read/entry_zstd.h"
#ifdef ZOLT_HAVE_ZSTD
#include "pack/record_blocks.h"
#endif
#include "pack/command_line.h"
#include "pack/commands.h"
#include "pack/compression_queue.h"
#include "pack/create_options.h"
#include "pack/exclude_patterns.h"
#include "pack/failure.h"
#include "pack/installer_reader.h"
#include "pack/messages.h"
#include "pack/output_file.h"
#include "pack/progress_display.h"
#include "pack/sha256.h"
#include "pack/signing.h"
#include "pack/source_tree.h"
#include "pack/text_escape.h"
#include "pack/vendor_text_input.h"

namespace {

// A bare installer made by this project: a 64-bit little-endian ELF program
// for x86-64 or AArch64 of a sane size whose image holds the installer's two
// endings, the texts it closes every run with, whole as string constants
// are kept. And it carries no attachment yet: the installer takes the first
// header block it finds. (The marker copy that the locator searches with
// would be more telling, but compilers may scatter a constant array that
// is only copied.)
constexpr size_t STUB_SIZE_LIMIT = size_t(64) << 20;
constexpr uint16_t ELF_MACHINE_X86_64 = 62, ELF_MACHINE_AARCH64 = 183;
// Written backwards, so that zolt-pack itself does not hold them.
constexpr const char* STUB_TEXTS_REVERSED[] = {"\n.detanimret noitallatsnI\n\n", "\n\n.etelpmoc noitallatsnI\n\n"};

std::string stub_problem(const std::vector<uint8_t>& image) {
  const uint8_t* p = image.data();
  if (image.size() < 64 || memcmp(p, "\x7f" "ELF", 4) != 0) return "not an ELF program";
  uint16_t machine = uint16_t(p[18] | p[19] << 8);
  if (p[4] != 2 || p[5] != 1 || (machine != ELF_MACHINE_X86_64 && machine != ELF_MACHINE_AARCH64))
    return "not a program for x86-64 or AArch64";
  for (const char* reversed : STUB_TEXTS_REVERSED) {
    std::string text(reversed);
    std::reverse(text.begin(), text.end());
    if (!memmem(image.data(), image.size(), text.data(), text.size())) return "not a zolt-setup program";
  }
  return "";
}

std::vector<uint8_t> read_stub(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) throw Failure(system_failure(path, "cannot open the installer stub", errno) + " (name one with --stub)");
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_size) > STUB_SIZE_LIMIT) {
    fclose(f);
    throw Failure(path + ": not a bare zolt-setup installer (" +
                  (S_ISREG(st.st_mode) ? "larger than 64 MiB" : "not a regular file") + "); name one with --stub");
  }
  // A stub that carries an attachment already would install that one.
  AttachmentHeader ignored;
  int located = find_attachment(f, &ignored);
  if (located == LOCATE_OK || located == LOCATE_CORRUPTED) {
    fclose(f);
    throw Failure(path + ": the stub is an installer already (it carries an attachment); use the bare zolt-setup");
  }
  std::vector<uint8_t> image(size_t(st.st_size));
  rewind(f);
  size_t n = fread(image.data(), 1, image.size(), f);
  bool failed = ferror(f);
  int error_number = errno;
  fclose(f);
  if (failed) throw Failure(system_failure(path, "cannot read the installer stub", error_number));
  image.resize(n);
  std::string problem = stub_problem(image);
  if (!problem.empty()) throw Failure(path + ": not a bare zolt-setup installer (" + problem + "); name one with --stub");
  return image;
}

// `sh INSTALLER` reads the program as a script: the first line ends inside
// the ELF identification's padding, which the kernel ignores, and the second
// one ends the shell (with the status of the first line's unknown command)
// before it meets a byte that could name a file to create. The build writes
// the same bytes into the stubs it links; a stub from elsewhere gets them
// here, unless its padding is not the zeros that the ELF format asks for.
constexpr size_t ELF_PADDING = 9;
constexpr char SHELL_STOP[] = "\nexit\n\n";
static_assert(sizeof SHELL_STOP - 1 == 16 - ELF_PADDING);

void stop_shells(std::vector<uint8_t>* image) {
  uint8_t* padding = image->data() + ELF_PADDING;
  if (std::all_of(padding, padding + sizeof SHELL_STOP - 1, [](uint8_t b) { return b == 0; }))
    memcpy(padding, SHELL_STOP, sizeof SHELL_STOP - 1);
}

// The time an entry records: clamped to SOURCE_DATE_EPOCH when that is set,
// then to what the 32-bit field holds. A time of 0 would tell the installer
// to leave the file's time and mode alone, so the first second of 1970 is
// recorded as the second one. `adjusted` counts the times the field could
// not hold as they were.
int32_t entry_time(int64_t mod_time, const CreateOptions& o, uint32_t* adjusted) {
  if (o.has_source_date_epoch && mod_time > o.source_date_epoch) mod_time = o.source_date_epoch;
  int64_t t = mod_time;
  if (t > INT32_MAX) t = INT32_MAX;
  if (t < INT32_MIN) t = INT32_MIN;
  if (t == 0) t = 1;
  if (t != mod_time) (*adjusted)++;
  return int32_t(t);
}

const char* write_problem(int result) {
  switch (result) {
    case WRITE_BAD_TEXT:
      return "a header text is longer than 63 bytes";
    case WRITE_BAD_NAME:
      return "a name is empty or longer than an entry record holds";
    case WRITE_TOO_LARGE:
      return "the installer would exceed the 4 GiB that its 32-bit fields can describe";
    case WRITE_NO_MEMORY:
      return "not enough memory";
    default:
      return nullptr;
  }
}

// A --config pattern that marks nothing is most likely misspelt: the file
// it meant would lose its users' edits at the next upgrade.
void note_unmatched_configs(const std::vector<std::string>& patterns, const SourceTree& tree) {
  for (const std::string& pattern : patterns) {
    const std::vector<std::string> one = {pattern};
    bool used = std::any_of(tree.files.begin(), tree.files.end(),
                            [&](const SourceFile& f) { return excluding_pattern(one, f.name) != nullptr; });
    if (!used) print_note("--config '" + pattern + "' matches no file; it marks nothing");
  }
}

void check_write(int result, const std::string& context) {
  if (result == WRITE_OK) return;
  if (result == WRITE_IO) throw Failure(system_failure(context, "cannot write", errno));
  throw Failure(context + ": " + write_problem(result));
}

std::string parent_directory(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// An output inside the tree would replace one of the files being packed,
// or, not there yet, turn up in the next installer made from the tree: both
// are refused. Files of the tree are matched by what they are (a link inside
// the tree may lead to the output), names not yet taken by where they lie.
void refuse_outputs_in_tree(const SourceTree& tree, const std::string& directory,
                            const std::vector<std::string>& outputs) {
  std::set<std::pair<uint64_t, uint64_t>> packed;
  for (const SourceFile& f : tree.files) packed.insert({f.device, f.inode});
  char tree_path[PATH_MAX], place[PATH_MAX];
  bool tree_known = realpath(directory.c_str(), tree_path) != nullptr;
  std::string inside = tree_known ? std::string(tree_path) + (strcmp(tree_path, "/") ? "/" : "") : "";
  for (const std::string& output : outputs) {
    struct stat st;
    bool is_packed = stat(output.c_str(), &st) == 0 && packed.count({uint64_t(st.st_dev), uint64_t(st.st_ino)});
    if (!is_packed && tree_known && realpath(parent_directory(output).c_str(), place)) {
      std::string where = std::string(place) + "/";
      is_packed = where.compare(0, inside.size(), inside) == 0;
    }
    if (is_packed)
      throw Failure(output + ": lies in the directory being packed (" + directory +
                    "); write the installer elsewhere (nothing written)");
  }
}

// Two runs writing the same installer at once must not leave the checksum
// of one beside the installer of the other: both are put in place under a
// lock on the directory that holds the name.
class DirectoryLock {
 public:
  explicit DirectoryLock(const std::string& path) {
    fd_ = open(parent_directory(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ >= 0)
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
  }
  ~DirectoryLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

 private:
  int fd_;
};

// The block goes last in front of the attachment, so that it ends where the
// header block begins: zero filler first, so that stub, filler and block fill
// a multiple of 1024.
void append_vendor_texts(std::vector<uint8_t>* image, const std::string& texts) {
  if (texts.empty()) return;
  // The installer takes the first marker it finds at a multiple of 1024.
  uint8_t marker[MARKER_SIZE];
  make_marker(marker);
  if (std::search(texts.begin(), texts.end(), marker, marker + MARKER_SIZE) != texts.end())
    throw Failure("the texts hold the attachment's marker, which would hide the attachment from the installer");
  image->resize(image->size() + (HEADER_ALIGN - (image->size() + texts.size()) % HEADER_ALIGN) % HEADER_ALIGN);
  image->insert(image->end(), texts.begin(), texts.end());
}

// The stub's welcome lines are those of its maker, ZOLT: another product that
// leaves them out should know what its users will read. (Its licence, notes
// and directory are refused unless asked for, and then need no note.)
void note_stub_texts(const CreateOptions& o) {
  if (o.product == STUB_PRODUCT || o.stub_texts) return;
  std::vector<std::string> missing;
  if (!o.title) missing.push_back("--title (\"ZOLT(R) Software Installation\")");
  if (!o.thanks) missing.push_back("--thanks (\"Thanks for purchasing ZOLT(R) imaging products.\")");
  if (missing.empty()) return;
  print_note("the installer shows the stub's own welcome texts, those of ZOLT, where " + o.product +
             " gives none: " + spoken_list(missing));
}

// The vendor's post-install program, read whole: it travels as the last
// entry, stored as it is, under its base name.
struct PostInstallFile {
  std::string name, bytes;
  int64_t mod_time = 0;
  uint16_t mode = 0;
};

std::string base_name(const std::string& path);

PostInstallFile read_post_install(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) throw Failure(system_failure(path, "cannot open the post-install step", errno));
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_size) >= (uint64_t(1) << 32)) {
    fclose(f);
    throw Failure(path + ": the post-install step must be a regular file of less than 4 GiB");
  }
  PostInstallFile p;
  p.bytes.resize(size_t(st.st_size));
  size_t n = fread(p.bytes.data(), 1, p.bytes.size(), f);
  bool failed = ferror(f) || n != p.bytes.size();
  int error_number = errno;
  fclose(f);
  if (failed) throw Failure(system_failure(path, "cannot read the post-install step", error_number));
  p.name = base_name(path);
  if (p.name.empty() || p.name.size() > RECORD_MAX_NAME) p.name = "post-install";
  p.mod_time = int64_t(st.st_mtime);
  p.mode = uint16_t(st.st_mode);
  return p;
}

std::string base_name(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ratio_text(uint64_t out, uint64_t in) {
  char text[32];
  snprintf(text, sizeof text, "%.1f%%", in ? 100.0 * double(out) / double(in) : 100.0);
  return text;
}

// Puts what `from` holds in place of what `to` holds.
void copy_stream(FILE* from, FILE* to, const std::string& label) {
  if (fflush(to) != 0 || fseek(to, 0, SEEK_SET) != 0 || ftruncate(fileno(to), 0) != 0 || fseek(from, 0, SEEK_SET) != 0)
    throw Failure(system_failure(label, "cannot write", errno));
  std::vector<char> buffer(size_t(1) << 16);
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), from)) > 0)
    if (fwrite(buffer.data(), 1, n, to) != n) throw Failure(system_failure(label, "cannot write", errno));
  if (ferror(from) || fflush(to) != 0) throw Failure(system_failure(label, "cannot write", errno));
}

}  // namespace

int create_command(const Arguments& args) {
  CreateOptions o = parse_create_options(args);
  if (o.help) {
    fputs(CREATE_USAGE, stdout);
    return 0;
  }
  check_own_texts(o);
  struct stat existing;
  if (stat(o.output.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode))
    throw Failure(o.output + ": is a directory; name the installer file with -o");
  // The passphrase is asked for before the work, not after minutes of it.
  std::optional<SecretKey> sign_key;
  if (o.sign_key) sign_key = read_secret_key(*o.sign_key);
  std::string texts = vendor_texts_block(o);
  note_stub_texts(o);
  std::vector<uint8_t> stub = read_stub(o.stub);
  // A stub named with --stub that cannot decode Zstandard gets -lh5-
  // entries, unless Zstandard was asked for.
  if (o.zstd && !o.store && !image_decodes_zstd(stub)) {
    if (o.method_given)
      throw Failure(o.stub + ": this stub does not decode Zstandard entries; use its zolt-setup-zstd or --method lh5");
    o.zstd = false;
    o.lh5_stub.clear();
  }
  stop_shells(&stub);
  append_vendor_texts(&stub, texts);
  std::vector<uint8_t> lh5_stub;
  if (!o.lh5_stub.empty()) {
    lh5_stub = read_stub(o.lh5_stub);
    append_vendor_texts(&lh5_stub, texts);
  }

  ScanOptions scan;
  scan.dereference = o.dereference;
  scan.allow_outside_links = o.allow_outside_links;
  scan.hard_links = o.hard_links;
  scan.excludes = o.excludes;
  SourceTree tree = scan_source_tree(o.directory, scan);
  PostInstallFile post_install;
  if (o.post_install) post_install = read_post_install(*o.post_install);
  if (o.verbose)
    for (const std::string& left_out : tree.excluded) print_note(left_out);
  for (const std::string& note : tree.notes) print_note(note);
  note_unmatched_configs(o.configs, tree);
  if (!tree.refusals.empty()) {
    for (const std::string& r : tree.refusals) print_error(r);
    throw Failure(o.directory + ": " + std::to_string(tree.refusals.size()) +
                  (tree.refusals.size() == 1 ? " path cannot" : " paths cannot") + " be packed; nothing written");
  }
  std::string checksum_path = o.output + ".sha256";
  std::string signature_path = o.output + ".minisig";
  std::vector<std::string> outputs = {o.output, checksum_path};
  if (sign_key) outputs.push_back(signature_path);
  refuse_outputs_in_tree(tree, o.directory, outputs);

  uint64_t deletion_records = 0;
  for (const std::string& d : o.deletions) deletion_records += RECORD_NAME + d.size() + RECORD_NAME_PADDING;
  if (tree.total_size > UINT32_MAX)
    throw Failure(o.directory + ": the files hold " + std::to_string(tree.total_size) +
                  " bytes; an installer holds at most 4294967295; nothing written");
  const uint64_t objects = tree.links.size() + tree.directories.size();
  if (tree.total_record_size + deletion_records > UINT32_MAX ||
      tree.files.size() + objects + o.deletions.size() + 1 > UINT32_MAX)
    throw Failure(o.directory + ": too many entries for one installer; nothing written");

  uint64_t space = 0;
  for (const SourceFile& f : tree.files) space += (f.size + 4095) / 4096 * 4096;
  uint32_t space_required = o.has_space ? uint32_t(o.space) : uint32_t(space > UINT32_MAX ? UINT32_MAX : space);

  // Both places are checked before anything is written, and both files are
  // complete before either is put in place.
  std::vector<std::string> inputs = {o.stub};
  if (!o.lh5_stub.empty()) inputs.push_back(o.lh5_stub);
  for (const auto& file : {o.licence_file, o.notes_file, o.sign_key})
    if (file) inputs.push_back(*file);
  OutputFile output(o.output, inputs, OutputFile::REGULAR_ONLY);
  OutputFile checksum(checksum_path, inputs, OutputFile::REGULAR_ONLY);
  std::optional<OutputFile> signature;
  if (sign_key) signature.emplace(signature_path, inputs, OutputFile::REGULAR_ONLY);

  uint32_t adjusted_times = 0;
  uint64_t stored_total = 0;
  // One installer of `image` and `zstd` into `out`; false, with the output
  // left unfinished, once it has grown beyond `give_up` bytes.
  auto write_installer = [&](FILE* out, const std::vector<uint8_t>& image, bool zstd, uint64_t give_up) {
    AttachmentWriter writer;
    adjusted_times = 0;
    stored_total = 0;
    try {
      check_write(writer_begin(&writer, out, image.data(), image.size()), o.output);
#ifdef ZOLT_HAVE_ZSTD
      // A Zstandard installer's stub decodes record blocks; a -lh5- one's need not.
      std::optional<RecordBlocks> blocks;
      if (zstd && !o.store) blocks.emplace(&writer, o.level);
#endif
      // A WriteResult; `*failed` names an entry held earlier that failed.
      auto add_entry = [&](const EntryFields& fields, const uint8_t* stored, std::string* failed) {
        *failed = fields.name;
#ifdef ZOLT_HAVE_ZSTD
        if (blocks) return blocks->add(fields, stored, failed);
#endif
        return writer_add_entry(&writer, fields, stored);
      };
      std::string failed;
      for (const std::string& d : o.deletions) {
        EntryFields fields{};
        fields.name = d.c_str();
        fields.entry_type = ENTRY_DELETE;
        int result = add_entry(fields, nullptr, &failed);
        check_write(result, o.output + ": " + (failed == d ? "deletion entry " : "") + failed);
      }

      ProgressDisplay display(!o.quiet);
      QueueLimits limits;
      limits.threads = o.jobs;
      limits.window_files = 16 * size_t(o.jobs);
      CompressionQueue queue(tree.files, PackMethod{o.store, zstd, o.level}, limits);
      std::string count = std::to_string(tree.files.size() + objects);
      uint64_t done = 0;
      for (size_t i = 0; i < tree.files.size(); i++) {
        const SourceFile& f = tree.files[i];
        const PackedFile* packed;
        try {
          packed = &queue.next();
        } catch (...) {
          display.clear();
          throw;
        }
        EntryFields fields{};
        fields.name = f.name.c_str();
        fields.entry_type = packed->entry_type;
        fields.file_size = uint32_t(f.size);
        fields.stored_size = packed->stored_size;
        fields.file_crc = packed->file_crc;
        fields.mod_time = entry_time(f.mod_time, o, &adjusted_times);
        fields.mode = f.mode;
        if (excluding_pattern(o.configs, f.name)) fields.flags = RECORD_FLAG_CONFIG;
        int result = add_entry(fields, packed->stored.get(), &failed);
        if (result != WRITE_OK) display.clear();
        check_write(result, o.output + ": " + failed);
        stored_total += packed->stored_size;
        if (uint64_t(ftell(out)) > give_up) {
          display.clear();
          writer_abandon(&writer);
          return false;
        }
        done += f.size;
        display.update("[" + std::to_string(i + 1) + "/" + count + "] " + short_size(done) + " " +
                       std::to_string(tree.total_size ? done * 100 / tree.total_size : 100) + "% " +
                       escaped_text(f.name));
      }
      // Links and directories: size 0 in the progress, as in the installer's.
      std::vector<const SourceObject*> later;
      for (const SourceObject& l : tree.links) later.push_back(&l);
      for (auto d = tree.directories.rbegin(); d != tree.directories.rend(); ++d) later.push_back(&*d);
      for (size_t i = 0; i < later.size(); i++) {
        const SourceObject& f = *later[i];
        const uint8_t* target = reinterpret_cast<const uint8_t*>(f.target.data());
        EntryFields fields{};
        fields.name = f.name.c_str();
        fields.entry_type = f.kind == SOURCE_LINK        ? ENTRY_SYMLINK
                            : f.kind == SOURCE_HARD_LINK ? ENTRY_HARD_LINK
                                                         : ENTRY_DIRECTORY;
        fields.file_size = fields.stored_size = uint32_t(f.target.size());
        fields.file_crc = crc16(writer.crc_table, target, fields.file_size);
        fields.mod_time = entry_time(f.mod_time, o, &adjusted_times);
        fields.mode = f.mode;
        int result = add_entry(fields, target, &failed);
        if (result != WRITE_OK) display.clear();
        check_write(result, o.output + ": " + failed);
        stored_total += fields.stored_size;
        display.update("[" + std::to_string(tree.files.size() + i + 1) + "/" + count + "] " + short_size(done) + " " +
                       std::to_string(tree.total_size ? done * 100 / tree.total_size : 100) + "% " +
                       escaped_text(f.name));
      }
      if (o.post_install) {
        const uint8_t* program = reinterpret_cast<const uint8_t*>(post_install.bytes.data());
        EntryFields fields{};
        fields.name = post_install.name.c_str();
        fields.entry_type = ENTRY_POST_INSTALL;
        fields.file_size = fields.stored_size = uint32_t(post_install.bytes.size());
        fields.file_crc = crc16(writer.crc_table, program, fields.file_size);
        fields.mod_time = entry_time(post_install.mod_time, o, &adjusted_times);
        fields.mode = post_install.mode;
        int result = add_entry(fields, program, &failed);
        check_write(result, o.output + ": " + (failed == post_install.name ? "the post-install step" : failed));
        stored_total += fields.stored_size;
      }
      display.clear();
#ifdef ZOLT_HAVE_ZSTD
      if (blocks) check_write(blocks->flush(&failed), o.output + ": " + failed);
#endif
      HeaderFields header{o.product.c_str(),     o.version.c_str(), o.platform.c_str(),
                          int32_t(o.build_time), space_required,    o.remove_obsolete ? HEADER_FLAG_WHOLE_PRODUCT : 0u};
      check_write(writer_finish(&writer, header), o.output);
    } catch (...) {
      writer_abandon(&writer);
      throw;
    }
    return true;
  };
  write_installer(output.stream(), stub, o.zstd, UINT64_MAX);
  if (!o.lh5_stub.empty()) {
    // The -lh5- stub is the smaller one: below a few hundred kilobytes of
    // compressed files its installer can be the smaller, so it is built too
    // and kept when it is, given up once it outgrows the first.
    uint64_t first = uint64_t(ftell(output.stream()));
    std::unique_ptr<FILE, int (*)(FILE*)> candidate(tmpfile(), fclose);
    if (!candidate) throw Failure(system_failure("a temporary file", "cannot create", errno));
    uint32_t first_adjusted = adjusted_times;
    uint64_t first_stored = stored_total;
    if (write_installer(candidate.get(), lh5_stub, false, first - 1) && uint64_t(ftell(candidate.get())) < first)
      copy_stream(candidate.get(), output.stream(), o.output);
    else
      adjusted_times = first_adjusted, stored_total = first_stored;
  }
  if (adjusted_times)
    print_note(std::to_string(adjusted_times) + (adjusted_times == 1 ? " file time" : " file times") +
               " recorded as the nearest the installer can restore (it holds 1901..2038 and takes 0 for 'no time')");
  output.close(0755, true);
  if (sign_key) {
    // The embedded signature covers the installer; the .minisig file covers
    // the installer with it, for minisign, which knows nothing of blocks.
    append_signature_block(*sign_key, output.written_path(), base_name(o.output));
    std::string text = sign_file(*sign_key, output.written_path(), base_name(o.output));
    if (fwrite(text.data(), 1, text.size(), signature->stream()) != text.size())
      throw Failure(system_failure(signature->label(), "cannot write", errno));
    signature->close(default_file_mode());
  }

  std::string line = sha256_line(sha256_of_file(output.written_path()), base_name(o.output));
  if (fwrite(line.data(), 1, line.size(), checksum.stream()) != line.size())
    throw Failure(system_failure(checksum.label(), "cannot write", errno));
  checksum.close(default_file_mode());
  DirectoryLock lock(o.output);
  output.check_place();
  checksum.check_place();
  if (signature) signature->check_place();
  output.commit();
  checksum.commit();
  if (signature) signature->commit();

  if (!o.quiet) {
    struct stat st;
    uint64_t installer_size = stat(o.output.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
    std::string entries = counted(tree.files.size(), "file");
    size_t hard_links = size_t(std::count_if(tree.links.begin(), tree.links.end(),
                                             [](const SourceObject& l) { return l.kind == SOURCE_HARD_LINK; }));
    if (tree.links.size() > hard_links) entries += ", " + counted(tree.links.size() - hard_links, "link");
    if (hard_links) entries += ", " + counted(hard_links, "hard link");
    if (!tree.directories.empty()) entries += ", " + counted(tree.directories.size(), "directory", "directories");
    if (!o.deletions.empty()) entries += " and " + counted(o.deletions.size(), "deletion");
    if (o.post_install) entries += ", a post-install step";
    printf("%s: %s, %" PRIu64 " bytes in, %" PRIu64 " bytes out (%s), installer of %" PRIu64 " bytes\n",
           terminal_safe_text(o.output).c_str(), entries.c_str(), tree.total_size, stored_total,
           ratio_text(stored_total, tree.total_size).c_str(), installer_size);
  }
  return 0;
}
