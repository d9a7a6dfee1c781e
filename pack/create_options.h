// The command line of "zolt-pack create", with every default settled and
// every value checked, so that the packing itself never meets a bad option.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct CreateOptions {
  bool help = false;
  std::string directory;
  std::string output;  // -o, else PRODUCT-VERSION-PLATFORM.run
  std::string product, version, platform;
  std::string arch;  // --arch, or empty
  std::string stub;  // --stub, else the stub for `arch` that came with this program
  int64_t build_time = 0;
  bool has_source_date_epoch = false;
  int64_t source_date_epoch = 0;
  bool has_space = false;
  uint64_t space = 0;
  bool store = false;
  // --method: Zstandard in solid runs (the default where zolt-pack has it),
  // or -lh5- file by file; --level for the former.
  bool zstd = false;
  bool method_given = false;  // else a --stub without Zstandard makes it lh5
  // Neither method nor stub nor level given: the -lh5- stub that create
  // also packs behind, keeping the smaller installer; else empty.
  std::string lh5_stub;
  int level = 19;
  std::vector<std::string> deletions;  // in command-line order, without repeats
  bool remove_obsolete = false;  // the installer carries the whole product
  unsigned jobs = 1;
  bool quiet = false;
  bool verbose = false;  // -v: name what --exclude left out
  bool dereference = false;
  bool hard_links = true;  // names of one file below the directory packed as hard links
  bool allow_outside_links = false;
  std::vector<std::string> excludes;  // normalised, in command-line order
  std::vector<std::string> configs;   // --config, normalised as excludes
  std::optional<std::string> post_install;  // the program the installer runs at the end
  std::optional<std::string> sign_key;      // the secret key that signs the installer
  // The vendor's texts: --title, --thanks, --default-dir as given, --licence
  // and --notes as file names. Checked and read by vendor_texts_block.
  std::optional<std::string> title, thanks, default_dir, licence_file, notes_file;
  // --stub-texts: another product may ship the sample product's licence,
  // notes and directory only when the vendor says so.
  bool stub_texts = false;
};

// The product whose texts the stub carries: an installer for it needs none.
extern const char* const STUB_PRODUCT;

// `source_date_epoch` is the environment's value or null; `now` the time to
// use without either. Throws UsageError.
CreateOptions parse_create_options(const std::vector<std::string>& args, const char* source_date_epoch, int64_t now);
// The same with the process's environment and clock.
CreateOptions parse_create_options(const std::vector<std::string>& args);

// "QUMBA", "7.1", "Linux x86_64" -> "qumba-7.1-linux-x86_64.run": lower case,
// blanks and slashes as '-'.
std::string default_installer_name(const std::string& product, const std::string& version, const std::string& platform);

// The machine's system and architecture, as uname gives them: "Linux x86_64".
std::string machine_platform();

// The stub for "x86_64" or "aarch64" that came with the running program:
// zolt-setup, or with `zstd` zolt-setup-zstd, which decodes both methods.
std::string stub_for_arch(const std::string& arch, bool zstd = false);

// The levels --level takes, and whether this zolt-pack packs Zstandard.
constexpr int ZSTD_LEVEL_MIN = 1, ZSTD_LEVEL_MAX = 22;
bool zstd_available();

// "Linux x86_64" or "Linux aarch64" from the machine of the stub's ELF
// header; the machine_platform() of this host for any other file.
std::string stub_platform(const std::string& stub);

// Throws UsageError when an installer for another product than the stub's
// own would ship the sample product's licence, notes or directory without
// --stub-texts.
void check_own_texts(const CreateOptions& o);

// Why a deletion name cannot go into an installer, or empty when it can.
std::string deletion_name_problem(const std::string& name);
