#include "installer/command_line.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/present/text_escape.h"

namespace {

enum OptionId {
  OPTION_HELP,
  OPTION_VERSION,
  OPTION_LIST,
  OPTION_CHECK,
  OPTION_UNINSTALL,
  OPTION_VERIFY,
  OPTION_REPAIR,
  OPTION_TARGET,
  OPTION_ACCEPT,
  OPTION_UNATTENDED,
  OPTION_QUIET,
  OPTION_FAIL_ON_CANCEL,
  OPTION_NO_POST_INSTALL,
  OPTION_AUTONEXT,
  OPTION_VERIFY_SIGNATURE,
  OPTION_ACCEPT_NEW_SIGNER,
};

struct OptionName {
  const char* name;
  OptionId id;
};

// The aliases are the peers' words for the same thing: makeself's --accept
// and --target, CPack's --prefix and --skip-license.
const OptionName options_known[] = {
    {"-h", OPTION_HELP},
    {"--help", OPTION_HELP},
    {"--version", OPTION_VERSION},
    {"--list", OPTION_LIST},
    {"--check", OPTION_CHECK},
    {"--uninstall", OPTION_UNINSTALL},
    {"--verify", OPTION_VERIFY},
    {"--repair", OPTION_REPAIR},
    {"--target", OPTION_TARGET},
    {"--prefix", OPTION_TARGET},
    {"--directory", OPTION_TARGET},
    {"--accept-licence", OPTION_ACCEPT},
    {"--accept-license", OPTION_ACCEPT},
    {"--accept", OPTION_ACCEPT},
    {"--skip-license", OPTION_ACCEPT},
    {"--unattended", OPTION_UNATTENDED},
    {"--quiet", OPTION_QUIET},
    {"--fail-on-cancel", OPTION_FAIL_ON_CANCEL},
    {"--no-post-install", OPTION_NO_POST_INSTALL},
    {"-autonext", OPTION_AUTONEXT},
    {"--verify-signature", OPTION_VERIFY_SIGNATURE},
    {"--accept-new-signer", OPTION_ACCEPT_NEW_SIGNER},
};

// The option named by `argument`, with `value` pointing behind its '=' for
// the "--target=DIR" forms; -1 when there is none.
int find_option(const char* argument, const char** value) {
  *value = nullptr;
  const char* equals = strchr(argument, '=');
  size_t length = equals ? size_t(equals - argument) : strlen(argument);
  for (const OptionName& o : options_known)
    if (strlen(o.name) == length && strncmp(o.name, argument, length) == 0) {
      if (equals && o.id != OPTION_TARGET && o.id != OPTION_VERIFY_SIGNATURE) return -1;
      if (equals) *value = equals + 1;
      return o.id;
    }
  return -1;
}

// Whether the command line asks for any option besides "-autonext". Only
// then is an unknown argument beginning with '-' refused: a bare installer
// has always ignored every other argument, while a misspelt option beside
// real ones must not turn an unattended install into one into the default
// directory.
bool gives_options(int argc, char** argv) {
  for (int i = 1; i < argc; i++) {
    const char* value;
    int id = argv[i] ? find_option(argv[i], &value) : -1;
    if (id >= 0 && id != OPTION_AUTONEXT) return true;
  }
  return false;
}

// An option's value: behind its '=', else the next argument, which it then
// consumes. Null when there is none or it is empty.
const char* option_value(int argc, char** argv, int* i, const char* value) {
  if (!value && *i + 1 < argc) value = argv[++*i];
  return value && *value ? value : nullptr;
}

}  // namespace

int parse_installer_options(int argc, char** argv, InstallerOptions* options, const char** problem,
                            const char** argument) {
  *options = InstallerOptions{MODE_INSTALL, nullptr, 0, 0, 0, 0, 0, nullptr, 0};
  *problem = *argument = nullptr;
  int mode = MODE_INSTALL;
  bool help = false;
  const bool strict = gives_options(argc, argv);
  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (!arg || arg[0] != '-') continue;
    const char* value;
    int id = find_option(arg, &value);
    int wanted = MODE_INSTALL;
    switch (id) {
      case OPTION_HELP: help = true; break;
      case OPTION_VERSION: wanted = MODE_VERSION; break;
      case OPTION_LIST: wanted = MODE_LIST; break;
      case OPTION_CHECK: wanted = MODE_CHECK; break;
      case OPTION_UNINSTALL: wanted = MODE_UNINSTALL; break;
      case OPTION_VERIFY: wanted = MODE_VERIFY; break;
      case OPTION_REPAIR: wanted = MODE_REPAIR; break;
      case OPTION_TARGET:
        if (!(options->target = option_value(argc, argv, &i, value)))
          return *problem = "a directory must follow", *argument = arg, -1;
        break;
      case OPTION_ACCEPT: options->accept_licence = 1; break;
      case OPTION_UNATTENDED: options->unattended = 1; break;
      case OPTION_QUIET: options->quiet = options->unattended = 1; break;
      case OPTION_FAIL_ON_CANCEL: options->fail_on_cancel = 1; break;
      case OPTION_NO_POST_INSTALL: options->no_post_install = 1; break;
      case OPTION_AUTONEXT: break;
      case OPTION_VERIFY_SIGNATURE:
        if (!(options->verify_key = option_value(argc, argv, &i, value)))
          return *problem = "a public key or its file must follow", *argument = arg, -1;
        break;
      case OPTION_ACCEPT_NEW_SIGNER: options->accept_new_signer = 1; break;
      default:
        if (!strict) continue;
        return *problem = "unknown option", *argument = arg, -1;
    }
    if (wanted != MODE_INSTALL) {
      if (mode != MODE_INSTALL && mode != wanted)
        return *problem = "only one of --list, --check, --version, --uninstall, --verify, --repair at a time", -1;
      mode = wanted;
    }
  }
  options->mode = help ? MODE_HELP : mode;
  if (options->target && options->accept_licence) options->unattended = 1;
  if (options->mode == MODE_UNINSTALL && !options->target)
    return *problem = "--uninstall needs --target DIR", -1;
  // The vendor's default directory may hold another installation than the
  // one meant: these name theirs.
  if (options->mode == MODE_VERIFY && !options->target) return *problem = "--verify needs --target DIR", -1;
  if (options->mode == MODE_REPAIR && !options->target) return *problem = "--repair needs --target DIR", -1;
  return 0;
}

void print_installer_help(const char* program) {
  printf("Usage: %s [OPTION]...\n", program);
  fputs(
      "Install the product this installer carries. Without options it asks its\n"
      "questions on the terminal, page by page.\n"
      "\n"
      "  --target DIR         install into DIR (also --prefix, --directory, and\n"
      "                       --target=DIR); a relative DIR is taken from the\n"
      "                       working directory; the directory page's checks apply\n"
      "  --accept-licence     accept the licence agreement without showing it (also\n"
      "                       --accept-license, --accept, --skip-license)\n"
      "  --unattended         ask nothing: the directory's warnings become notes;\n"
      "                       implied by --target with --accept-licence; needs\n"
      "                       --accept-licence\n"
      "  --quiet              no pages and no progress line, only errors and one\n"
      "                       final line; implies --unattended\n"
      "  --list               list the entries; install nothing\n"
      "  --check              make every check an installation makes before its\n"
      "                       first change; write nothing\n"
      "  --version            show the product, version, platform and build\n"
      "  --uninstall          with --target DIR: remove what this product installed\n"
      "                       there and nobody changed since\n"
      "  --verify             with --target DIR: compare what this product installed\n"
      "                       there with its record, one line per path that differs\n"
      "                       (S size, M mode or type, 5 bytes, L link target,\n"
      "                       T time, . the same, ? unknown; or 'missing'); write\n"
      "                       nothing; status 0 when all match, 1 otherwise\n"
      "  --repair             with --target DIR: put back what --verify finds missing\n"
      "                       or changed from this installer, replacing a changed\n"
      "                       file with the installer's (yours kept as NAME.zolt-old)\n"
      "                       but no configuration file; name each path restored\n"
      "  --fail-on-cancel     end with status 3 when the user cancels on a page\n"
      "  --no-post-install    do not run the vendor's post-install step\n"
      "  --verify-signature KEY  check the installer's signature with KEY (the\n"
      "                       public key as minisign prints it, or its file)\n"
      "                       before anything else; end with status 1 if it is\n"
      "                       missing, damaged or not KEY's\n"
      "  --accept-new-signer  upgrade an installation that another key signed\n"
      "                       (or that this unsigned installer would replace)\n"
      "  -autonext            prompts with a default answer take it at once\n"
      "  -h, --help           show this help and exit\n"
      "\n"
      "Exit status: 0 installed, or cancelled on a page; 1 failed (also when the\n"
      "input ended before the dialogue did, or the post-install step failed);\n"
      "2 usage error, nothing done;\n"
      "3 cancelled on a page, with --fail-on-cancel.\n"
      "\n"
      "One line for a Dockerfile or a CI script:\n",
      stdout);
  printf("  ./%s --target /opt/product --accept-licence --quiet\n", program);
  fputs(
      "makeself archives take the same words (--target DIR --accept --quiet), and\n"
      "CPack's scripts take --prefix=DIR --skip-license.\n",
      stdout);
}

void print_usage_error(const char* program, const char* problem, const char* argument) {
  // An argument may hold anything: shown escaped, it cannot drive the terminal.
  size_t length = argument ? strlen(argument) : 0;
  char* shown = argument ? static_cast<char*>(malloc(escaped_size(length))) : nullptr;
  if (shown) escape_text(argument, length, shown);
  if (argument)
    fprintf(stderr, "%s: %s '%s'\n", program, problem, shown ? shown : "?");
  else
    fprintf(stderr, "%s: %s\n", program, problem);
  free(shown);
  fprintf(stderr,
          "Usage: %s [--target DIR --accept-licence] [--quiet] [--list|--check|--version|--uninstall|--verify|--repair] "
          "[--verify-signature KEY] [-autonext]; --help tells more\n",
          program);
}
