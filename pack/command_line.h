// Options of a subcommand, parsed with getopt_long: long options as
// "--opt=value" or "--opt value", short ones as "-o value" or "-ovalue",
// options and operands in any order, "--" ends the options.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct OptionDecl {
  const char* long_name;  // null for a short-only option
  char short_name;        // 0 for a long-only option
  bool takes_value;
  int id;  // what the caller switches on; ids start at 1
};

struct ParsedOption {
  int id;
  std::string value;
  std::string spelling;  // as the user wrote its name, for messages: "--space", "-j"
};

struct ParsedCommandLine {
  std::vector<ParsedOption> options;  // in command-line order
  std::vector<std::string> operands;
};

// `args` are the words behind the subcommand's name. `command` names the
// subcommand in messages. Throws UsageError for an unknown option, a missing
// value or a value given to an option that takes none.
ParsedCommandLine parse_command_line(const std::string& command, const std::vector<std::string>& args,
                                     const std::vector<OptionDecl>& decls);

// Strict numbers: decimal digits only, no sign, no blanks, no trailing text,
// at most `max`. Throws UsageError naming `option` otherwise.
uint64_t parse_count(const std::string& command, const std::string& option, const std::string& text, uint64_t max);
