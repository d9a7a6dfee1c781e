// Writing the entries of a Zstandard installer with their records gathered
// into record blocks (ENTRY_RECORD_BLOCK): a product's records, mostly
// names that share their directories, take a fifth of the bytes they would
// in the open. Entries are held, their stored data copied, until their
// records fill a block or their data reaches RECORD_BLOCK_GATHER; then the
// block is written and the entries' data behind it, or, where the block
// would save nothing, their records and data in the open. The installer holds one
// block's records at a time, so its memory does not grow with the product.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/attachment_writer.h"

// Stored data held before a block is written however few its records.
constexpr uint64_t RECORD_BLOCK_GATHER = uint64_t(64) << 20;

class RecordBlocks {
 public:
  RecordBlocks(AttachmentWriter* writer, int level) : writer_(writer), level_(level) {}
  // An entry as writer_add_entry takes it: a WriteResult, with `*failed`
  // naming the entry that failed when it is one held earlier.
  int add(const EntryFields& fields, const uint8_t* stored, std::string* failed);
  // Writes what is held.
  int flush(std::string* failed);

 private:
  struct Held {
    EntryFields fields;
    std::string name;
    uint32_t record_length;
    size_t data;  // where its stored data starts in data_
  };
  AttachmentWriter* writer_;
  int level_;
  std::vector<Held> held_;
  std::vector<uint8_t> records_;
  std::vector<uint8_t> data_;
};
