// Cutting a Zstandard frame that holds several files, one after another,
// into their entries' stored data: each block goes to the file in which its
// decoded bytes begin (zstd_runs.h says why).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Where the stored data of each of the files of `sizes` (none empty) ends
// in the frame `stream` that they were compressed into, in order: false
// when the frame cannot be read as one that decodes to them.
bool split_zstd_frame(const uint8_t* stream, size_t size, const std::vector<uint64_t>& sizes,
                      std::vector<size_t>* ends);
