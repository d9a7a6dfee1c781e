#include "archive/entry_reader.h"

#include <cstdlib>
#include <cstring>

#include "archive/attachment_reader.h"
#include "archive/crc16.h"
#include "archive/install_record.h"
#include "codec/codec_context.h"
#include "codec/decoder.h"

const char* entry_fault_message(int fault) {
  switch (fault) {
    case ENTRY_FAULT_RECORD_LENGTH: return "Corrupted file(s) (err=1).";
    case ENTRY_FAULT_RECORD_SHORT: return "Corrupted file(s) (err=2).";
    case ENTRY_FAULT_STORED_SHORT: return "Corrupted file(s) (err=3).";
    case ENTRY_FAULT_STORED_CRC: return "Corrupted file(s) (err=4).";
    case ENTRY_FAULT_FILE_CRC: return "Corrupted file(s) (err=5).";
    case ENTRY_FAULT_RECORD_CRC: return "Corrupted file(s) (err=6).";
    case ENTRY_FAULT_NAME_UNTERMINATED: return "Corrupted file(s) (err=7).";
    case ENTRY_FAULT_NAME_ESCAPES: return "Corrupted file(s) (err=8).";
    case ENTRY_FAULT_DECODE: return "Decompression error (err=1).";
    case ENTRY_FAULT_NO_MEMORY: return "Memory allocation error (err=3).";
    default: return nullptr;
  }
}

const char* entry_base_name(const char* name) {
  size_t n = strlen(name);
  for (size_t i = n > 0 ? n - 1 : 0; i-- > 0;)
    if (name[i] == '/' || name[i] == '\\') return name + i + 1;
  return name;
}

namespace {

// A name may not lead outside the installation directory: no leading '/', no
// ".." component. Nor may it reach the directory of installation records and
// the lock, which belong to the installer, not to any product. Backslashes
// are ordinary characters in Linux names.
bool name_stays_inside(const char* name) {
  if (name[0] == '/') return false;
  bool first = true;  // no component but "" and "." seen yet
  for (const char* p = name; *p;) {
    const char* end = strchr(p, '/');
    size_t length = end ? size_t(end - p) : strlen(p);
    if (length == 2 && p[0] == '.' && p[1] == '.') return false;
    if (first && length == strlen(INSTALL_RECORD_DIRECTORY) && memcmp(p, INSTALL_RECORD_DIRECTORY, length) == 0)
      return false;
    if (length > 1 || (length == 1 && p[0] != '.')) first = false;
    if (!end) break;
    p = end + 1;
  }
  return true;
}

}  // namespace

int read_entry_record(const uint8_t* crc_table, Entry* e) {
  uint8_t* r = e->record;
  if (read_attachment(r, 4) < 4) return ENTRY_FAULT_RECORD_LENGTH;
  e->record_length = get_u32(r + RECORD_LENGTH);
  if (e->record_length < RECORD_MIN_LENGTH || e->record_length > RECORD_MAX_LENGTH)
    return ENTRY_FAULT_RECORD_LENGTH;
  if (read_attachment(r + 4, e->record_length - 4) < e->record_length - 4) return ENTRY_FAULT_RECORD_SHORT;
  uint16_t saved = get_u16(r + RECORD_CRC);
  put_u16(r + RECORD_CRC, 0);
  uint16_t computed = crc16(crc_table, r, e->record_length);
  put_u16(r + RECORD_CRC, saved);
  if (computed != saved) return ENTRY_FAULT_RECORD_CRC;
  if (!memchr(r + RECORD_NAME, 0, e->record_length - RECORD_NAME)) return ENTRY_FAULT_NAME_UNTERMINATED;
  e->name = reinterpret_cast<const char*>(r + RECORD_NAME);
  if (!name_stays_inside(e->name)) return ENTRY_FAULT_NAME_ESCAPES;
  e->type = get_u32(r + RECORD_ENTRY_TYPE);
  e->file_size = get_u32(r + RECORD_FILE_SIZE);
  e->stored_size = get_u32(r + RECORD_STORED_SIZE);
  e->mod_time = get_i32(r + RECORD_MOD_TIME);
  e->mode = get_u16(r + RECORD_MODE);
  return ENTRY_FAULT_NONE;
}

namespace {

// Decodes the stored stream into e->data in slices of at most one window:
// every call but the last must produce exactly CODEC_WINDOW bytes.
int decode_entry(Entry* e, const EntryProgress* progress) {
  CodecContext* codec = nullptr;
  if (codec_create(&codec) < 0) return ENTRY_FAULT_DECODE;
  ByteRange in{}, out{};
  in.cur = in.start = e->stored;
  in.end = e->stored + e->stored_size;
  in.size = int32_t(e->stored_size);
  uint8_t* position = e->data;
  uint8_t* end = e->data + e->file_size;
  for (;;) {
    uint32_t chunk = uint32_t(end - position) < CODEC_WINDOW ? uint32_t(end - position) : CODEC_WINDOW;
    out.cur = out.start = position;
    out.end = position + chunk;
    out.size = int32_t(chunk);
    int32_t result = codec_decode(codec, &in, &out);
    position += chunk;
    if (position == end) {
      codec_release(&codec);
      return result < 0 ? ENTRY_FAULT_DECODE : ENTRY_FAULT_NONE;
    }
    if (progress) progress->slice_done(progress->context, *e, uint32_t(position - e->data));
    if (result < 0) {
      codec_release(&codec);
      return ENTRY_FAULT_DECODE;
    }
  }
}

}  // namespace

int read_entry(const uint8_t* crc_table, Entry* e, const EntryProgress* progress) {
  e->stored = e->data = nullptr;
  int fault = read_entry_record(crc_table, e);
  return fault != ENTRY_FAULT_NONE ? fault : read_entry_data(crc_table, e, progress);
}

int read_entry_data(const uint8_t* crc_table, Entry* e, const EntryProgress* progress) {
  e->stored = e->data = nullptr;
  if (e->type == ENTRY_DELETE) return ENTRY_FAULT_NONE;
  // A stored file is copied out of its stored data: it cannot be longer.
  bool stored = e->type == ENTRY_STORED;
  if (stored && e->file_size > e->stored_size) return ENTRY_FAULT_STORED_SHORT;
  // Both buffers are requested before either is examined; a stored file is
  // its stored data, so it needs no second buffer.
  e->stored = static_cast<uint8_t*>(malloc(e->stored_size ? e->stored_size : 1));
  e->data = stored ? e->stored : static_cast<uint8_t*>(malloc(e->file_size ? e->file_size : 1));
  int fault = ENTRY_FAULT_NONE;
  if (!e->stored || !e->data) fault = ENTRY_FAULT_NO_MEMORY;
  else if (read_attachment(e->stored, e->stored_size) < e->stored_size) fault = ENTRY_FAULT_STORED_SHORT;
  else if (crc16(crc_table, e->stored, e->stored_size) != get_u16(e->record + RECORD_STORED_CRC))
    fault = ENTRY_FAULT_STORED_CRC;
  else if (!stored) fault = decode_entry(e, progress);
  if (fault == ENTRY_FAULT_NONE && crc16(crc_table, e->data, e->file_size) != get_u16(e->record + RECORD_FILE_CRC))
    fault = ENTRY_FAULT_FILE_CRC;
  if (fault != ENTRY_FAULT_NONE) release_entry(e);
  return fault;
}

void release_entry(Entry* e) {
  if (e->data != e->stored) free(e->data);
  free(e->stored);
  e->stored = e->data = nullptr;
}
