#include "pack/command_line.h"

#include <getopt.h>

#include <cerrno>
#include <cstdlib>

#include "pack/failure.h"

ParsedCommandLine parse_command_line(const std::string& command, const std::vector<std::string>& args,
                                     const std::vector<OptionDecl>& decls) {
  // getopt_long permutes the vector it is given: hand it copies.
  std::vector<std::string> words;
  words.reserve(args.size() + 1);
  words.push_back(command);
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  std::string short_options = ":";  // ':' first: a missing value is reported as ':'
  std::vector<option> long_options;
  std::vector<size_t> long_decl;  // index in `decls` of each long option
  for (const OptionDecl& s : decls) {
    if (s.short_name) {
      short_options += s.short_name;
      if (s.takes_value) short_options += ':';
    }
    if (s.long_name) {
      // Long options return 256 + their index, clear of every short option's character.
      long_options.push_back(
          {s.long_name, s.takes_value ? required_argument : no_argument, nullptr, int(256 + long_decl.size())});
      long_decl.push_back(size_t(&s - decls.data()));
    }
  }
  long_options.push_back({nullptr, 0, nullptr, 0});

  ParsedCommandLine parsed;
  int argc = int(argv.size() - 1);
  opterr = 0;
  optind = 0;  // GNU getopt: start afresh, even after an earlier parse
  for (;;) {
    int long_index = -1;
    int c = getopt_long(argc, argv.data(), short_options.c_str(), long_options.data(), &long_index);
    if (c == -1) break;
    // The word that was being parsed, for messages.
    std::string word = optind - 1 < argc ? argv[optind - 1] : "";
    if (c == '?' || c == ':') {
      if (optopt >= 256) {
        std::string name = std::string("--") + decls[long_decl[size_t(optopt - 256)]].long_name;
        if (c == ':') throw UsageError(command, "option '" + name + "' needs a value");
        throw UsageError(command, "option '" + name + "' takes no value");
      }
      if (optopt > 0) {
        std::string name = std::string("-") + char(optopt);
        if (c == ':') throw UsageError(command, "option '" + name + "' needs a value");
        throw UsageError(command, "unknown option '" + name + "'");
      }
      throw UsageError(command, "unknown option '" + word.substr(0, word.find('=')) + "'");
    }
    const OptionDecl* decl = nullptr;
    if (long_index >= 0) {
      decl = &decls[long_decl[size_t(long_index)]];
    } else {
      for (const OptionDecl& s : decls)
        if (s.short_name && s.short_name == c) decl = &s;
    }
    if (!decl) throw UsageError(command, "unknown option '" + word + "'");
    ParsedOption o;
    o.id = decl->id;
    o.spelling = long_index >= 0 ? std::string("--") + decl->long_name : std::string("-") + decl->short_name;
    if (decl->takes_value && optarg) o.value = optarg;
    parsed.options.push_back(o);
  }
  for (int i = optind; i < argc; i++) parsed.operands.push_back(argv[size_t(i)]);
  return parsed;
}

uint64_t parse_count(const std::string& command, const std::string& option, const std::string& text, uint64_t max) {
  bool digits = !text.empty() && text.size() <= 20;
  for (char c : text) digits = digits && c >= '0' && c <= '9';
  if (digits) {
    errno = 0;
    unsigned long long value = strtoull(text.c_str(), nullptr, 10);
    if (errno == 0 && value <= max) return value;
    throw UsageError(command, "option '" + option + "': " + text + " is more than " + std::to_string(max));
  }
  throw UsageError(command, "option '" + option + "' wants a whole number, not '" + text + "'");
}
