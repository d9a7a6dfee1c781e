// Benchmark inputs, made once per program run: the kinds of data an
// installer carries, at a size that takes each codec routine through many
// windows and blocks.
#pragma once

#include <string>

constexpr size_t CORPUS_SIZE = size_t(8) << 20;

// C headers under /usr/include, concatenated in path order.
const std::string& corpus_text();
// Shared libraries under /usr/lib/x86_64-linux-gnu, concatenated in path order.
const std::string& corpus_binary();
// Pseudo-random bytes with a fixed seed: nothing to find.
const std::string& corpus_random();
