// Running the real zolt-pack and comparing directory trees.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/support/process.h"

std::string zolt_pack_binary();

// Runs zolt-pack with `args`; `env` entries ("NAME=value") are added to the
// environment (through env(1)), and SOURCE_DATE_EPOCH is removed unless one
// of them sets it.
// Tests pack trees for made-up products, so `create` gets --stub-texts: the
// stub's own texts where a test gives none. run_pack_exactly passes `args`
// as they are.
ProcessResult run_pack(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                       const std::string& cwd = "");
ProcessResult run_pack_exactly(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                               const std::string& cwd = "");

// The same without the right to read what file modes forbid, even for root
// (through setpriv, which drops the capabilities that override them).
// `available` is false when that cannot be arranged.
ProcessResult run_pack_without_override(const std::vector<std::string>& args, bool* available);

struct FileState {
  std::string bytes;
  mode_t mode;
  int64_t mod_time;
  bool operator==(const FileState&) const = default;
};

// Every regular file, symbolic link ("-> target") and empty directory below
// `dir` by its relative name.
std::map<std::string, FileState> snapshot_tree(const std::string& dir);

// `zolt-pack extract` and the installer itself (unattended) each give
// `tree` back, into new directories below `scratch`.
void expect_unpacks_as(const std::string& installer, const std::string& tree, const std::string& scratch);

// Writes a file and sets its mode and modification time.
void put_file(const std::string& path, const std::string& bytes, mode_t mode, int64_t mod_time);

// A small product: text that compresses, random bytes that do not, an empty
// file, an executable, nested directories, names that sort in byte order.
void make_sample_tree(const std::string& dir);

// Bytes of a simple pseudo-random sequence, the same for the same seed.
std::string random_bytes(size_t size, uint32_t seed);
