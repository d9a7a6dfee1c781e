// zolt-pack: builds, lists, verifies and extracts zolt-setup installers.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "pack/commands.h"
#include "pack/failure.h"
#include "pack/messages.h"
#include "pack/text_escape.h"

#ifndef ZOLT_VERSION
#define ZOLT_VERSION "unknown"
#endif

namespace {

const char* const USAGE =
    "Usage: zolt-pack COMMAND [OPTION]... [ARGUMENT]...\n"
    "Build, list, verify and extract zolt-setup installers.\n"
    "\n"
    "Commands:\n"
    "  create   pack a directory tree into an installer\n"
    "  list     show an installer's header and entries\n"
    "  verify   check an installer as the installer itself would\n"
    "  extract  install an installer's files into a directory, without dialogue\n"
    "  encode   compress data into a raw -lh5- stream\n"
    "  decode   decode a raw -lh5- stream\n"
    "  keygen   make a key pair for signing installers (minisign's formats)\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "\n"
    "'zolt-pack COMMAND --help' describes each command.\n"
    "Exit status: 0 success, 1 bad data or a failed operation, 2 usage error.\n";

struct Command {
  const char* name;
  int (*run)(const Arguments&);
  const char* const* usage;
};

const Command COMMANDS[] = {
    {"create", create_command, &CREATE_USAGE}, {"list", list_command, &LIST_USAGE},
    {"verify", verify_command, &VERIFY_USAGE}, {"extract", extract_command, &EXTRACT_USAGE},
    {"encode", encode_command, &ENCODE_USAGE}, {"decode", decode_command, &DECODE_USAGE},
    {"keygen", keygen_command, &KEYGEN_USAGE},
};

const Command* find_command(const std::string& name) {
  for (const Command& c : COMMANDS)
    if (name == c.name) return &c;
  return nullptr;
}

int usage_error(const UsageError& e) {
  fflush(stdout);
  std::string where = e.command.empty() ? "" : e.command + ": ";
  fprintf(stderr, "%s: %s%s\n", PROGRAM_NAME, where.c_str(), terminal_safe_text(e.what()).c_str());
  fprintf(stderr, "Try '%s%s%s --help' for more information.\n", PROGRAM_NAME, e.command.empty() ? "" : " ",
          e.command.c_str());
  return EXIT_USAGE;
}

}  // namespace

int main(int argc, char** argv) {
  // Beyond a file-size limit a write fails with EFBIG, which is reported and
  // lets the temporaries go; the signal would end the run without either.
  signal(SIGXFSZ, SIG_IGN);
  try {
    if (argc < 2) throw UsageError("", "no command given");
    std::string first = argv[1];
    if (first == "--help" || first == "-h") {
      fputs(USAGE, stdout);
      return 0;
    }
    if (first == "--version" || first == "-V") {
      printf("zolt-pack %s\n", ZOLT_VERSION);
      return 0;
    }
    Arguments args(argv + 2, argv + argc);
    if (first == "help") {
      const Command* c = args.empty() ? nullptr : find_command(args[0]);
      if (!args.empty() && !c) throw UsageError("", "unknown command '" + args[0] + "'");
      fputs(c ? *c->usage : USAGE, stdout);
      return 0;
    }
    const Command* command = find_command(first);
    if (!command) {
      if (!first.empty() && first[0] == '-') throw UsageError("", "unknown option '" + first + "'");
      throw UsageError("", "unknown command '" + first + "'");
    }
    int status = command->run(args);
    if (fflush(stdout) != 0 || ferror(stdout)) {
      print_error(system_failure("standard output", "cannot write", errno));
      return EXIT_DATA;
    }
    return status;
  } catch (const UsageError& e) {
    return usage_error(e);
  } catch (const Failure& e) {
    fflush(stdout);
    print_error(e.what());
    return EXIT_DATA;
  } catch (const std::bad_alloc&) {
    fflush(stdout);
    print_error("not enough memory");
    return EXIT_DATA;
  }
}
