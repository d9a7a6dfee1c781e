// Diagnostics on standard error, each line prefixed with the program's name,
// and the wording of counts and sizes in messages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr const char* PROGRAM_NAME = "zolt-pack";

// "1 file", "2 files": a count and its noun, in the plural unless the count
// is 1; the plural is the noun and "s" unless given.
std::string counted(uint64_t count, const std::string& noun, const std::string& plural = "");

// "a", "a and b", "a, b and c".
std::string spoken_list(const std::vector<std::string>& items);

// "12.3 MiB", "512 B": a size for people, in binary units.
std::string short_size(uint64_t bytes);

// "zolt-pack: TEXT", control characters escaped (terminal_safe_text).
void print_error(const std::string& text);
// "zolt-pack: note: TEXT": something the user should know that does not stop the run.
void print_note(const std::string& text);
