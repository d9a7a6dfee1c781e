#include "archive/attachment_writer.h"

#include <cstdlib>
#include <cstring>

#include "archive/crc16.h"
#include "archive/record_columns.h"

namespace {

bool put_text(uint8_t* field, const char* text) {
  size_t n = text ? strlen(text) : 0;
  if (n >= HEADER_TEXT_SIZE) return false;
  memset(field, 0, HEADER_TEXT_SIZE);
  if (n) memcpy(field, text, n);
  return true;
}

}  // namespace

int build_header(AttachmentHeader* header, const HeaderFields& fields, const EntryTotals& totals) {
  uint8_t* h = header->bytes;
  memset(h, 0, HEADER_SIZE);
  make_marker(h + HEADER_MARKER);
  put_u32(h + HEADER_ENTRY_COUNT, totals.entry_count);
  put_u32(h + HEADER_TOTAL_FILE, totals.total_file_size);
  put_u32(h + HEADER_TOTAL_STORED, totals.total_stored_size);
  put_u32(h + HEADER_TOTAL_RECORD, totals.total_record_size);
  put_u32(h + HEADER_RESERVED_272, 0xFFFFFFFFu);
  put_u32(h + HEADER_VOLUME, uint32_t(VOLUME_WHOLE));
  put_u32(h + HEADER_ENTRY_COUNT_COPY, totals.entry_count);
  put_u32(h + HEADER_SPACE_REQUIRED, fields.space_required);
  if (!put_text(h + HEADER_PRODUCT_NAME, fields.product_name) ||
      !put_text(h + HEADER_PRODUCT_VERSION, fields.product_version) ||
      !put_text(h + HEADER_PLATFORM, fields.platform))
    return WRITE_BAD_TEXT;
  put_u32(h + HEADER_BUILD_TIME, uint32_t(fields.build_time));
  put_u32(h + HEADER_FLAGS, fields.flags);
  uint8_t* table = crc16_table();
  if (!table) return WRITE_NO_MEMORY;
  put_u16(h + HEADER_CRC, crc16(table, h, HEADER_SIZE));
  free(table);
  return WRITE_OK;
}

uint32_t build_record(uint8_t record[RECORD_MAX_LENGTH], const EntryFields& f) {
  size_t name_length = f.name ? strlen(f.name) : 0;
  if (name_length == 0 || name_length > RECORD_MAX_NAME) return 0;
  uint32_t length = uint32_t(RECORD_NAME + name_length + RECORD_NAME_PADDING);
  memset(record, 0, length);
  put_u32(record + RECORD_LENGTH, length);
  // CRC fields hold their value high byte first: put_u16 of the stored form.
  put_u16(record + RECORD_FILE_CRC, f.file_crc);
  put_u16(record + RECORD_STORED_CRC, f.stored_crc);
  put_u32(record + RECORD_FILE_SIZE, f.file_size);
  put_u32(record + RECORD_STORED_SIZE, f.stored_size);
  put_u32(record + RECORD_ENTRY_TYPE, f.entry_type);
  put_u32(record + RECORD_STREAM_OFFSET, f.stream_offset);
  put_u32(record + RECORD_MOD_TIME, uint32_t(f.mod_time));
  put_u16(record + RECORD_MODE, f.mode);
  put_u16(record + RECORD_FLAGS, f.flags);
  memcpy(record + RECORD_NAME, f.name, name_length);
  uint8_t* table = crc16_table();
  if (!table) return 0;
  put_u16(record + RECORD_CRC, crc16(table, record, length));
  free(table);
  return length;
}

int writer_begin(AttachmentWriter* w, FILE* out, const uint8_t* image, size_t image_size) {
  memset(w, 0, sizeof *w);
  w->out = out;
  w->crc_table = crc16_table();
  if (!w->crc_table) return WRITE_NO_MEMORY;
  size_t header_offset = (image_size / HEADER_ALIGN + 1) * HEADER_ALIGN;
  if (image_size % HEADER_ALIGN == 0 && image_size > 0) header_offset = image_size;
  if (image_size && fwrite(image, 1, image_size, out) != image_size) return WRITE_IO;
  static const uint8_t zeros[HEADER_SIZE] = {};
  size_t filler = header_offset - image_size;
  if (filler && fwrite(zeros, 1, filler, out) != filler) return WRITE_IO;
  if (fwrite(zeros, 1, HEADER_SIZE, out) != HEADER_SIZE) return WRITE_IO;
  w->header_offset = long(header_offset);
  return WRITE_OK;
}

namespace {

// Adds an entry of `record_length` to the totals, or WRITE_TOO_LARGE with
// nothing changed.
int count_entry(AttachmentWriter* w, const EntryFields& f, uint32_t record_length) {
  uint64_t file_total = w->file_total + (entry_installs_file(f.entry_type) ? f.file_size : 0);
  uint64_t stored_total = w->stored_total + f.stored_size;
  uint64_t record_total = uint64_t(w->totals.total_record_size) + record_length;
  if (file_total > UINT32_MAX || stored_total > UINT32_MAX || record_total > UINT32_MAX ||
      w->totals.entry_count == UINT32_MAX)
    return WRITE_TOO_LARGE;
  w->file_total = file_total;
  w->stored_total = stored_total;
  w->totals.entry_count++;
  w->totals.total_file_size = uint32_t(file_total);
  w->totals.total_stored_size = uint32_t(stored_total);
  w->totals.total_record_size = uint32_t(record_total);
  return WRITE_OK;
}

int write_bytes(AttachmentWriter* w, const uint8_t* bytes, uint32_t size) {
  if (size && fwrite(bytes, 1, size, w->out) != size) return WRITE_IO;
  w->stream_offset += size;
  return WRITE_OK;
}

}  // namespace

int writer_add_entry(AttachmentWriter* w, EntryFields f, const uint8_t* stored_data) {
  if (f.entry_type == ENTRY_DELETE) f.stored_size = 0;
  if (w->stream_offset > UINT32_MAX) return WRITE_TOO_LARGE;
  f.stored_crc = crc16(w->crc_table, stored_data, f.stored_size);
  f.stream_offset = uint32_t(w->stream_offset);
  uint8_t record[RECORD_MAX_LENGTH];
  uint32_t length = build_record(record, f);
  if (length == 0) return WRITE_BAD_NAME;
  int result = count_entry(w, f, length);
  if (result == WRITE_OK) result = write_bytes(w, record, length);
  return result == WRITE_OK ? write_bytes(w, stored_data, f.stored_size) : result;
}

uint32_t writer_block_record(AttachmentWriter* w, EntryFields f, const uint8_t* stored_data, uint32_t data_offset,
                             uint8_t record[RECORD_MAX_LENGTH]) {
  if (f.entry_type == ENTRY_DELETE) f.stored_size = 0;
  f.stored_crc = crc16(w->crc_table, stored_data, f.stored_size);
  f.stream_offset = data_offset;
  return build_record(record, f);
}

int writer_add_record_block(AttachmentWriter* w, const uint8_t* columns, uint32_t columns_size,
                            const uint8_t* stored, uint32_t stored_size) {
  if (w->stream_offset > UINT32_MAX) return WRITE_TOO_LARGE;
  if (columns_size > RECORD_BLOCK_COLUMNS_MAX || stored_size > RECORD_BLOCK_STORED_MAX) return WRITE_TOO_LARGE;
  EntryFields f{};
  f.name = RECORD_BLOCK_NAME;
  f.entry_type = ENTRY_RECORD_BLOCK;
  f.file_size = columns_size;
  f.stored_size = stored_size;
  f.file_crc = crc16(w->crc_table, columns, columns_size);
  f.stored_crc = crc16(w->crc_table, stored, stored_size);
  f.stream_offset = uint32_t(w->stream_offset);
  uint8_t record[RECORD_MAX_LENGTH];
  uint32_t length = build_record(record, f);
  int result = length ? write_bytes(w, record, length) : WRITE_BAD_NAME;
  return result == WRITE_OK ? write_bytes(w, stored, stored_size) : result;
}

int writer_add_block_data(AttachmentWriter* w, const EntryFields& f, uint32_t record_length,
                          const uint8_t* stored_data) {
  uint32_t stored_size = f.entry_type == ENTRY_DELETE ? 0 : f.stored_size;
  int result = count_entry(w, f, record_length);
  return result == WRITE_OK ? write_bytes(w, stored_data, stored_size) : result;
}

int writer_finish(AttachmentWriter* w, const HeaderFields& fields) {
  AttachmentHeader header;
  int result = build_header(&header, fields, w->totals);
  writer_abandon(w);
  if (result != WRITE_OK) return result;
  if (fflush(w->out) != 0 || fseek(w->out, w->header_offset, SEEK_SET) != 0) return WRITE_IO;
  if (fwrite(header.bytes, 1, HEADER_SIZE, w->out) != HEADER_SIZE) return WRITE_IO;
  if (fseek(w->out, 0, SEEK_END) != 0 || fflush(w->out) != 0) return WRITE_IO;
  return WRITE_OK;
}

void writer_abandon(AttachmentWriter* w) {
  free(w->crc_table);
  w->crc_table = nullptr;
}
