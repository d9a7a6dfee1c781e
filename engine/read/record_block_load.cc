// Loading a block is the Zstandard side's: it links with the decoder, and a
// program without it takes entry_zstd_absent.cc's, which refuses the block
// unread, so the block reader stays out of the -lh5- stub.
#include <cstdlib>

#include "archive/crc16.h"
#include "archive/record_columns.h"
#include "engine/read/entry_zstd.h"
#include "engine/read/record_block.h"

int record_block_load(EntryStream* s, const uint8_t* crc_table, const Entry& e, long offset) {
  record_block_release(s);
  // Checked before anything is read or allocated: the sizes bound both.
  if (e.file_size < RECORD_MIN_LENGTH || e.file_size > RECORD_BLOCK_COLUMNS_MAX || e.stored_size == 0 ||
      e.stored_size > RECORD_BLOCK_STORED_MAX)
    return ENTRY_FAULT_TREE_OBJECT;
  uint8_t* stored = static_cast<uint8_t*>(malloc(e.stored_size));
  uint8_t* columns = static_cast<uint8_t*>(malloc(e.file_size));
  uint8_t* records = nullptr;
  uint32_t produced = 0, length = 0;
  int fault = FAILURE_NONE;
  if (!stored || !columns)
    fault = FAILURE_NO_MEMORY;
  else if (entry_stream_read(s, stored, e.stored_size) < e.stored_size)
    fault = ENTRY_FAULT_STORED_SHORT;
  else if (crc16(crc_table, stored, e.stored_size) != get_u16(e.record + RECORD_STORED_CRC))
    fault = ENTRY_FAULT_STORED_CRC;
  else if ((fault = entry_zstd_decode_block(stored, e.stored_size, columns, e.file_size, &produced)) ==
               FAILURE_NONE &&
           produced != e.file_size)
    fault = ENTRY_FAULT_DECODE;
  else if (fault == FAILURE_NONE && crc16(crc_table, columns, e.file_size) != get_u16(e.record + RECORD_FILE_CRC))
    fault = ENTRY_FAULT_FILE_CRC;
  if (fault == FAILURE_NONE) {
    switch (columns_to_records(columns, e.file_size, RECORD_BLOCK_MAX, &records, &length)) {
      case COLUMNS_OK:
        break;
      case COLUMNS_BAD_LENGTH:
        fault = ENTRY_FAULT_RECORD_LENGTH;
        break;
      case COLUMNS_BAD_NAME:
        fault = ENTRY_FAULT_NAME_UNTERMINATED;
        break;
      case COLUMNS_NO_MEMORY:
        fault = FAILURE_NO_MEMORY;
        break;
      default:
        fault = ENTRY_FAULT_RECORD_SHORT;
    }
  }
  free(stored);
  free(columns);
  if (fault != FAILURE_NONE) return fault;
  s->block = {records, length, 0, offset};
  return FAILURE_NONE;
}
