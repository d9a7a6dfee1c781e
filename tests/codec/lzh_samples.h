// Compressed streams from an independent encoder, and the generated data to
// feed it: jlha stores -lh5- members of .lzh archives as exactly the streams
// the decoder reads. The archives are made at test time, the members' raw
// data taken out with a small header parser.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

constexpr const char* JLHA = "/usr/bin/jlha";

struct Member {
  std::string name;
  std::string method;
  std::string data;     // the stored bytes
  uint32_t original;    // size before compression
};

// The members of an LHA archive of header levels 0, 1 and 2; parsing stops
// at the first header that does not fit.
std::vector<Member> parse_lzh(const std::string& archive);

// Archives the files with jlha at the given header level, method -lh5-, and
// returns its members; `error` tells why when there are none.
std::vector<Member> jlha_members(int level, const std::vector<std::pair<std::string, std::string>>& files,
                                 std::string* error);

// Generated data, deterministic for a seed. jlha starts a block every few ten
// thousand symbols, so every file but the small ones crosses blocks and window
// wraps. Words give position codes longer than the 8-bit table, the skewed
// noise literal codes longer than the 12-bit table (up to 14 bits); runs give
// long matches and distances near the window's reach.
std::string words(std::mt19937& rng, size_t size);
std::string records(std::mt19937& rng, size_t size);
std::string runs(std::mt19937& rng, size_t size);
std::string noise(std::mt19937& rng, size_t size);
