#include "pack/record_blocks.h"

#include <zstd.h>

#include "archive/record_columns.h"

int RecordBlocks::add(const EntryFields& fields, const uint8_t* stored, std::string* failed) {
  uint32_t stored_size = fields.entry_type == ENTRY_DELETE ? 0 : fields.stored_size;
  uint8_t record[RECORD_MAX_LENGTH];
  uint32_t length = writer_block_record(writer_, fields, stored, uint32_t(data_.size()), record);
  if (length == 0) {
    *failed = fields.name;
    return WRITE_BAD_NAME;
  }
  // Offsets from behind the block are 32-bit as any stream offset.
  if (records_.size() + length > RECORD_BLOCK_MAX || data_.size() + stored_size > UINT32_MAX) {
    int result = flush(failed);
    if (result != WRITE_OK) return result;
    length = writer_block_record(writer_, fields, stored, 0, record);
  }
  held_.push_back({fields, fields.name, length, data_.size()});
  records_.insert(records_.end(), record, record + length);
  data_.insert(data_.end(), stored, stored + stored_size);
  return data_.size() >= RECORD_BLOCK_GATHER ? flush(failed) : WRITE_OK;
}

int RecordBlocks::flush(std::string* failed) {
  if (held_.empty()) return WRITE_OK;
  std::vector<uint8_t> columns(record_columns_bound(uint32_t(records_.size())));
  columns.resize(records_to_columns(records_.data(), uint32_t(records_.size()), columns.data()));
  if (columns.empty()) return WRITE_BAD_NAME;
  std::vector<uint8_t> block(ZSTD_compressBound(columns.size()));
  size_t n = ZSTD_compress(block.data(), block.size(), columns.data(), columns.size(), level_);
  if (ZSTD_isError(n)) return WRITE_NO_MEMORY;
  // A block that saves nothing (a handful of records) is left out: the
  // records are written in the open.
  bool open = n + RECORD_NAME + sizeof RECORD_BLOCK_NAME - 1 + RECORD_NAME_PADDING >= records_.size();
  int result = open ? WRITE_OK
                    : writer_add_record_block(writer_, columns.data(), uint32_t(columns.size()), block.data(),
                                              uint32_t(n));
  for (size_t i = 0; i < held_.size() && result == WRITE_OK; i++) {
    Held& h = held_[i];
    h.fields.name = h.name.c_str();
    const uint8_t* stored = data_.data() + h.data;
    result = open ? writer_add_entry(writer_, h.fields, stored)
                  : writer_add_block_data(writer_, h.fields, h.record_length, stored);
    if (result != WRITE_OK) *failed = h.name;
  }
  held_.clear();
  records_.clear();
  data_.clear();
  return result;
}
