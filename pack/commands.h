// The subcommands of zolt-pack. Each takes the words behind its name, prints
// its --help text to stdout when asked, throws UsageError or Failure, and
// returns the exit status otherwise.
#pragma once

#include <string>
#include <vector>

using Arguments = std::vector<std::string>;

int create_command(const Arguments& args);
int list_command(const Arguments& args);
int verify_command(const Arguments& args);
int extract_command(const Arguments& args);
int encode_command(const Arguments& args);
int decode_command(const Arguments& args);
int keygen_command(const Arguments& args);

// The --help text of each subcommand.
extern const char* const CREATE_USAGE;
extern const char* const LIST_USAGE;
extern const char* const VERIFY_USAGE;
extern const char* const EXTRACT_USAGE;
extern const char* const ENCODE_USAGE;
extern const char* const DECODE_USAGE;
extern const char* const KEYGEN_USAGE;
