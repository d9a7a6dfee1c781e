// Packing files with Zstandard in solid runs: the files of a run go into one
// frame, one after another, so that each is compressed against the ones
// before it (headers that share their boilerplate, a library's many small
// sources). The frame is one unbroken stream: ending a block behind every
// file cost 2.6% on /usr/include. Each Zstandard block goes to the entry of
// the file in which its decoded bytes begin, so an entry's stored data is
// whole blocks, and the installer, decoding entry after entry, finishes a
// file with no data of a later entry: what a file's last block decodes to
// beyond the file stays in the decoder for the files behind it (an entry
// whose file lies wholly inside such a block stores nothing). Runs are cut
// by input size alone and each is compressed by one thread with a context
// of its own, so the installer is the same for any number of threads; the
// runs are what the threads share out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pack/source_tree.h"

struct PackedFile;

// A run: `count` files from `first`.
struct ZstdRun {
  size_t first;
  size_t count;
};

// Input a run gathers before the next file starts a new one. Each cut costs
// the next 16 MiB their history: on /usr/include (164 MB) runs of 24 MiB
// gave 1.6% more bytes than runs of 64 MiB, which still leave two
// processors each a share (32.5 s against 26.8 s with -j 2).
constexpr uint64_t ZSTD_RUN_BYTES = uint64_t(64) << 20;

// The runs of `files`, in order. A file larger than ZSTD_CONTINUED_LARGEST
// always begins a run.
std::vector<ZstdRun> plan_zstd_runs(const std::vector<SourceFile>& files);

// Reads and compresses the files of `run`: one result per file, in order.
// An empty file is stored; the first file of the run with data begins the
// frame (ENTRY_ZSTD_FRAME), the others continue it. A file that cannot be
// read gives its failure and ends the run there.
std::vector<PackedFile> pack_zstd_run(const std::vector<SourceFile>& files, const ZstdRun& run, int level,
                                      const uint8_t* crc_table);
