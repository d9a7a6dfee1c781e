#include "pack/create_options.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <set>

#include "archive/entry_paths.h"
#include "archive/format.h"
#include "pack/command_line.h"
#include "pack/commands.h"
#include "pack/exclude_patterns.h"
#include "pack/failure.h"
#include "pack/messages.h"

const char* const CREATE_USAGE =
    "Usage: zolt-pack create [OPTION]... --product NAME --version TEXT DIR\n"
    "Pack every regular file below DIR into an installer: the stub, then an\n"
    "attachment of entries in byte order of their paths, compressed (-lh5- file by\n"
    "file where that makes a file smaller), then the symbolic links as links\n"
    "and the directories that are empty or not of mode 0755 with their modes.\n"
    "Writes FILE and FILE.sha256.\n"
    "\n"
    "  -o, --output=FILE        the installer (default: PRODUCT-VERSION-PLATFORM.run,\n"
    "                           lower case, blanks and '/' as '-')\n"
    "      --product=NAME       product name, at most 63 bytes (required)\n"
    "      --version=TEXT       version text, at most 63 bytes (required)\n"
    "      --platform=TEXT      platform text (default: from the stub's machine,\n"
    "                           \"Linux x86_64\" or \"Linux aarch64\")\n"
    "      --arch=ARCH          the stub for x86_64 or aarch64 that came with\n"
    "                           zolt-pack (default: zolt-pack's own)\n"
    "      --stub=FILE          the bare installer to put in front, instead\n"
    "                           of one that came with zolt-pack\n"
    "      --build-time=SECONDS build time since 1970 UTC (default: SOURCE_DATE_EPOCH\n"
    "                           if set, else now)\n"
    "      --space=BYTES        disk space to announce (default: the file sizes, each\n"
    "                           rounded up to 4096)\n"
    "      --method=METHOD      zstd: Zstandard, the files compressed together in\n"
    "                           solid runs; lh5: -lh5-, file by file, with the\n"
    "                           smaller stub (default: both are packed and the\n"
    "                           smaller installer kept)\n"
    "      --level=N, -N        Zstandard level, 1 to 22 (default 19)\n"
    "      --store              store every file uncompressed\n"
    "      --delete=NAME        add an entry that removes NAME, a file that an\n"
    "                           earlier version installed (repeatable)\n"
    "      --remove-obsolete    the installer carries the whole product: an upgrade\n"
    "                           removes the files of the product's earlier versions\n"
    "                           that it no longer installs, unless they were changed\n"
    "                           (without it they stay installed, as an add-on or a\n"
    "                           patch needs)\n"
    "      --title=TEXT         the welcome page's title line (default: the stub's)\n"
    "      --thanks=TEXT        the welcome page's line under it; longer than 74\n"
    "                           characters, it is wrapped at blanks\n"
    "      --default-dir=DIR    the installation directory offered (and taken with\n"
    "                           -autonext): absolute, without blanks\n"
    "      --licence=FILE, --license=FILE\n"
    "                           the licence agreement, plain text; lines longer than\n"
    "                           74 characters are wrapped at blanks\n"
    "      --notes=FILE         the notes shown under \"Files installed!\"\n"
    "      --stub-texts         ship the stub's own licence, notes and default\n"
    "                           directory, those of the sample product QUMBA, where\n"
    "                           the options above give none (refused otherwise for\n"
    "                           any other product)\n"
    "      --exclude=PATTERN    leave out the paths below DIR that the shell\n"
    "                           pattern matches, or whose tail after a '/' it\n"
    "                           matches, with all they hold, as tar does (repeatable)\n"
    "      --config=PATTERN     mark the files that PATTERN matches, as --exclude\n"
    "                           matches, as configuration files: an upgrade keeps a\n"
    "                           user's changed copy and writes the new one beside it\n"
    "                           as NAME.zolt-new (repeatable)\n"
    "      --dereference        pack links to files as copies of their targets\n"
    "      --no-hard-links      pack every name of a file with several names below\n"
    "                           DIR as a copy (by default the later names, in byte\n"
    "                           order, are hard links to the first: stored once)\n"
    "      --allow-outside-links  pack links whose target is absolute or leads\n"
    "                           out of DIR (refused otherwise)\n"
    "      --sign=SECRET_KEY    sign the installer with this minisign secret key\n"
    "                           (zolt-pack keygen, or minisign -G): the signature\n"
    "                           travels inside it, and INSTALLER.minisig is\n"
    "                           written beside it for minisign -V\n"
    "      --post-install=FILE  a program or script that the installer runs once\n"
    "                           the installation is complete, from the installation\n"
    "                           directory, with that directory as its argument and\n"
    "                           in ZOLT_INSTALL_DIR; not installed itself\n"
    "  -j, --jobs=N             compress on N threads (default: online processors);\n"
    "                           the output is the same whatever N is\n"
    "  -q, --quiet              no progress line and no summary\n"
    "  -v, --verbose            name every path that --exclude left out\n"
    "  -h, --help               show this help and exit\n"
    "\n"
    "When SOURCE_DATE_EPOCH is set, file times later than it are recorded as it.\n"
    "Without --title or --thanks the installer shows the stub's own text there;\n"
    "so it does without --default-dir, --licence or --notes for QUMBA, or with\n"
    "--stub-texts. Tabs in FILEs become blanks (stops of 8).\n";

const char* const STUB_PRODUCT = "QUMBA";

namespace {

enum {
  OPT_HELP = 1,
  OPT_OUTPUT,
  OPT_PRODUCT,
  OPT_VERSION,
  OPT_PLATFORM,
  OPT_STUB,
  OPT_ARCH,
  OPT_BUILD_TIME,
  OPT_SPACE,
  OPT_STORE,
  OPT_DELETE,
  OPT_REMOVE_OBSOLETE,
  OPT_CONFIG,
  OPT_JOBS,
  OPT_QUIET,
  OPT_TITLE,
  OPT_THANKS,
  OPT_DEFAULT_DIR,
  OPT_LICENCE,
  OPT_NOTES,
  OPT_METHOD,
  OPT_LEVEL,
  OPT_EXCLUDE,
  OPT_DEREFERENCE,
  OPT_NO_HARD_LINKS,
  OPT_OUTSIDE_LINKS,
  OPT_VERBOSE,
  OPT_POST_INSTALL,
  OPT_STUB_TEXTS,
  OPT_SIGN,
};

constexpr unsigned MAX_JOBS = 1024;

void check_text(const std::string& option, const std::string& value) {
  if (value.size() >= HEADER_TEXT_SIZE)
    throw UsageError("create", "option '" + option + "': '" + value + "' is " + std::to_string(value.size()) +
                                   " bytes long; an installer holds at most " + std::to_string(HEADER_TEXT_SIZE - 1));
}

unsigned online_processors() {
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n < 1 ? 1 : n > long(MAX_JOBS) ? MAX_JOBS : unsigned(n);
}

}  // namespace

std::string default_installer_name(const std::string& product, const std::string& version,
                                   const std::string& platform) {
  std::string name = product + "-" + version + "-" + platform;
  for (char& c : name) {
    if (c == ' ' || c == '\t' || c == '/') c = '-';
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return name + ".run";
}

std::string machine_platform() {
  utsname u;
  if (uname(&u) != 0) return "Linux";
  return std::string(u.sysname) + " " + u.machine;
}

#if defined(__x86_64__)
const char* const NATIVE_ARCH = "x86_64";
#elif defined(__aarch64__)
const char* const NATIVE_ARCH = "aarch64";
#else
const char* const NATIVE_ARCH = "";
#endif

// Installed, the stubs are PREFIX/lib/zolt-setup/ARCH/zolt-setup beside
// PREFIX/bin/zolt-pack; the build tree has the same layout, except that the
// stub for zolt-pack's own architecture is the zolt-setup beside it.
bool zstd_available() {
#ifdef ZOLT_HAVE_ZSTD
  return true;
#else
  return false;
#endif
}

std::string stub_for_arch(const std::string& arch, bool zstd) {
  const std::string name = zstd ? "zolt-setup-zstd" : "zolt-setup";
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir = ".";
  if (n > 0) {
    std::string path(self, size_t(n));
    size_t slash = path.rfind('/');
    if (slash != std::string::npos) dir = path.substr(0, slash);
  }
  std::string installed = dir + "/../lib/zolt-setup/" + arch + "/" + name;
  if (arch != NATIVE_ARCH || access(installed.c_str(), F_OK) == 0) return installed;
  return dir + "/" + name;
}

std::string stub_platform(const std::string& stub) {
  // e_ident, e_type, then e_machine: little-endian on both targets.
  unsigned char elf[20];
  FILE* f = fopen(stub.c_str(), "rb");
  size_t n = f ? fread(elf, 1, sizeof elf, f) : 0;
  if (f) fclose(f);
  if (n == sizeof elf && elf[0] == 0x7f && elf[1] == 'E' && elf[2] == 'L' && elf[3] == 'F' && elf[5] == 1) {
    unsigned machine = elf[18] | unsigned(elf[19]) << 8;
    if (machine == 62) return "Linux x86_64";    // EM_X86_64
    if (machine == 183) return "Linux aarch64";  // EM_AARCH64
  }
  return machine_platform();
}

std::string deletion_name_problem(const std::string& name) {
  if (name.empty()) return "empty name";
  if (name.size() > RECORD_MAX_NAME)
    return "longer than the " + std::to_string(RECORD_MAX_NAME) + " bytes an entry record holds";
  // Every installer refuses a record whose name escapes: the whole installer
  // would be refused, not merely this deletion.
  switch (name_escape(name.c_str())) {
    case NAME_ABSOLUTE: return "absolute; names are relative to the installation directory";
    case NAME_PARENT: return "has a '..' component; names stay inside the installation directory";
    case NAME_RECORD_DIRECTORY: return entry_name_problem_text(ENTRY_NAME_RESERVED);
    default: return "";
  }
}

// A vendor who forgets one text option must not ship another product's
// licence, notes or directory; the sample product itself needs none.
void check_own_texts(const CreateOptions& o) {
  if (o.stub_texts || o.product == STUB_PRODUCT) return;
  std::vector<std::string> missing;
  if (!o.licence_file) missing.push_back("--licence FILE");
  if (!o.default_dir) missing.push_back("--default-dir DIR");
  if (!o.notes_file) missing.push_back("--notes FILE");
  if (missing.empty()) return;
  throw UsageError("create", "the installer would show " + o.product + "'s users the licence, notes and directory of " +
                                 STUB_PRODUCT + ", the stub's sample product: give " + spoken_list(missing) +
                                 ", or --stub-texts to ship the stub's own");
}

CreateOptions parse_create_options(const std::vector<std::string>& args, const char* source_date_epoch, int64_t now) {
  // "-19" is "--level=19", as zstd and xz spell it.
  std::vector<std::string> words;
  bool options_end = false;
  for (const std::string& a : args) {
    options_end = options_end || a == "--";
    bool level = !options_end && a.size() > 1 && a[0] == '-' && a.find_first_not_of("0123456789", 1) == std::string::npos;
    words.push_back(level ? "--level=" + a.substr(1) : a);
  }
  ParsedCommandLine cl = parse_command_line("create", words,
                                            {{"help", 'h', false, OPT_HELP},
                                             {"output", 'o', true, OPT_OUTPUT},
                                             {"product", 0, true, OPT_PRODUCT},
                                             {"version", 0, true, OPT_VERSION},
                                             {"platform", 0, true, OPT_PLATFORM},
                                             {"stub", 0, true, OPT_STUB},
                                             {"arch", 0, true, OPT_ARCH},
                                             {"build-time", 0, true, OPT_BUILD_TIME},
                                             {"space", 0, true, OPT_SPACE},
                                             {"store", 0, false, OPT_STORE},
                                             {"delete", 0, true, OPT_DELETE},
                                             {"remove-obsolete", 0, false, OPT_REMOVE_OBSOLETE},
                                             {"jobs", 'j', true, OPT_JOBS},
                                             {"quiet", 'q', false, OPT_QUIET},
                                             {"title", 0, true, OPT_TITLE},
                                             {"thanks", 0, true, OPT_THANKS},
                                             {"default-dir", 0, true, OPT_DEFAULT_DIR},
                                             {"licence", 0, true, OPT_LICENCE},
                                             {"license", 0, true, OPT_LICENCE},
                                             {"notes", 0, true, OPT_NOTES},
                                             {"method", 0, true, OPT_METHOD},
                                             {"level", 0, true, OPT_LEVEL},
                                             {"exclude", 0, true, OPT_EXCLUDE},
                                             {"config", 0, true, OPT_CONFIG},
                                             {"dereference", 0, false, OPT_DEREFERENCE},
                                             {"no-hard-links", 0, false, OPT_NO_HARD_LINKS},
                                             {"allow-outside-links", 0, false, OPT_OUTSIDE_LINKS},
                                             {"verbose", 'v', false, OPT_VERBOSE},
                                             {"post-install", 0, true, OPT_POST_INSTALL},
                                             {"stub-texts", 0, false, OPT_STUB_TEXTS},
                                             {"sign", 0, true, OPT_SIGN}});
  CreateOptions o;
  o.zstd = zstd_available();
  bool has_level = false;
  bool has_product = false, has_version = false, has_platform = false, has_build_time = false, has_jobs = false;
  std::set<std::string> seen_deletions;
  for (const ParsedOption& p : cl.options) {
    switch (p.id) {
      case OPT_HELP:
        o.help = true;
        break;
      case OPT_OUTPUT:
        o.output = p.value;
        break;
      case OPT_PRODUCT:
        o.product = p.value;
        has_product = true;
        break;
      case OPT_VERSION:
        o.version = p.value;
        has_version = true;
        break;
      case OPT_PLATFORM:
        o.platform = p.value;
        has_platform = true;
        break;
      case OPT_STUB:
        o.stub = p.value;
        break;
      case OPT_ARCH:
        if (p.value != "x86_64" && p.value != "aarch64")
          throw UsageError("create", "option '--arch': '" + p.value + "': stubs are made for x86_64 and aarch64");
        o.arch = p.value;
        break;
      case OPT_BUILD_TIME:
        o.build_time = int64_t(parse_count("create", p.spelling, p.value, INT32_MAX));
        has_build_time = true;
        break;
      case OPT_SPACE:
        o.space = parse_count("create", p.spelling, p.value, UINT32_MAX);
        o.has_space = true;
        break;
      case OPT_STORE:
        o.store = true;
        break;
      case OPT_DELETE: {
        std::string problem = deletion_name_problem(p.value);
        if (!problem.empty()) throw UsageError("create", "option '--delete': '" + p.value + "': " + problem);
        if (seen_deletions.insert(p.value).second) o.deletions.push_back(p.value);
        break;
      }
      case OPT_REMOVE_OBSOLETE:
        o.remove_obsolete = true;
        break;
      case OPT_JOBS:
        o.jobs = unsigned(parse_count("create", p.spelling, p.value, MAX_JOBS));
        if (o.jobs == 0) throw UsageError("create", "option '" + p.spelling + "' wants at least 1 thread");
        has_jobs = true;
        break;
      case OPT_QUIET:
        o.quiet = true;
        break;
      case OPT_TITLE:
        o.title = p.value;
        break;
      case OPT_THANKS:
        o.thanks = p.value;
        break;
      case OPT_DEFAULT_DIR:
        o.default_dir = p.value;
        break;
      case OPT_LICENCE:
        o.licence_file = p.value;
        break;
      case OPT_NOTES:
        o.notes_file = p.value;
        break;
      case OPT_METHOD:
        if (p.value != "zstd" && p.value != "lh5")
          throw UsageError("create", "option '--method': '" + p.value + "': the methods are zstd and lh5");
        if (p.value == "zstd" && !zstd_available())
          throw UsageError("create", "option '--method': this zolt-pack was built without libzstd; only lh5");
        o.zstd = p.value == "zstd";
        o.method_given = true;
        break;
      case OPT_LEVEL:
        o.level = int(parse_count("create", p.spelling, p.value, ZSTD_LEVEL_MAX));
        if (o.level < ZSTD_LEVEL_MIN) throw UsageError("create", "option '" + p.spelling + "': levels are 1 to 22");
        has_level = true;
        break;
      case OPT_EXCLUDE:
        if (p.value.empty()) throw UsageError("create", "option '--exclude' wants a pattern");
        o.excludes.push_back(normalized_pattern(p.value));
        break;
      case OPT_CONFIG:
        if (p.value.empty()) throw UsageError("create", "option '--config' wants a pattern");
        o.configs.push_back(normalized_pattern(p.value));
        break;
      case OPT_DEREFERENCE:
        o.dereference = true;
        break;
      case OPT_NO_HARD_LINKS:
        o.hard_links = false;
        break;
      case OPT_OUTSIDE_LINKS:
        o.allow_outside_links = true;
        break;
      case OPT_VERBOSE:
        o.verbose = true;
        break;
      case OPT_SIGN:
        o.sign_key = p.value;
        break;
      case OPT_POST_INSTALL:
        o.post_install = p.value;
        break;
      case OPT_STUB_TEXTS:
        o.stub_texts = true;
        break;
    }
  }
  if (o.help) return o;
  if (cl.operands.empty()) throw UsageError("create", "no directory to pack");
  if (cl.operands.size() > 1)
    throw UsageError("create", "one directory at a time, not " + std::to_string(cl.operands.size()));
  o.directory = cl.operands[0];
  if (!has_product || o.product.empty())
    throw UsageError("create", "the product name is required: give --product NAME");
  if (!has_version || o.version.empty()) throw UsageError("create", "the version is required: give --version TEXT");
  if (!o.arch.empty() && !o.stub.empty()) throw UsageError("create", "give --arch or --stub, not both");
  if (has_level && !o.zstd) throw UsageError("create", "--level sets the Zstandard level; lh5 has none");
  if (o.stub.empty()) {
    o.stub = stub_for_arch(o.arch.empty() ? NATIVE_ARCH : o.arch, o.zstd && !o.store);
    if (o.zstd && !o.store && !o.method_given && !has_level)
      o.lh5_stub = stub_for_arch(o.arch.empty() ? NATIVE_ARCH : o.arch, false);
  }
  if (!has_platform) o.platform = stub_platform(o.stub);
  check_text("--product", o.product);
  check_text("--version", o.version);
  check_text("--platform", o.platform);
  // Set but empty counts as not set, as CI systems often leave it.
  if (source_date_epoch && *source_date_epoch) {
    try {
      o.source_date_epoch = int64_t(parse_count("create", "SOURCE_DATE_EPOCH", source_date_epoch, INT32_MAX));
    } catch (const UsageError&) {
      throw UsageError("create", std::string("SOURCE_DATE_EPOCH is '") + source_date_epoch +
                                     "', not a number of seconds from 1970 to 2038");
    }
    o.has_source_date_epoch = true;
  }
  o.build_time = has_build_time ? o.build_time : o.has_source_date_epoch ? o.source_date_epoch : now;
  if (o.build_time > INT32_MAX)
    throw UsageError("create", "the clock is past 2038, which the header's build time cannot hold: give --build-time");
  if (o.output.empty()) o.output = default_installer_name(o.product, o.version, o.platform);
  if (!has_jobs) o.jobs = online_processors();
  return o;
}

CreateOptions parse_create_options(const std::vector<std::string>& args) {
  return parse_create_options(args, getenv("SOURCE_DATE_EPOCH"), int64_t(time(nullptr)));
}
