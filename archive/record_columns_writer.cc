#include <cstring>

#include "archive/format.h"
#include "archive/record_columns.h"

uint32_t records_to_columns(const uint8_t* records, uint32_t size, uint8_t* out) {
  constexpr uint32_t FIXED = RECORD_NAME - RECORD_CRC;
  uint32_t n = 0;
  for (uint32_t at = 0; at < size; n++) {
    if (size - at < RECORD_MIN_LENGTH) return 0;
    uint32_t l = get_u32(records + at);
    if (l < RECORD_MIN_LENGTH || l > size - at || !memchr(records + at + RECORD_NAME, 0, l - RECORD_NAME)) return 0;
    at += l;
  }
  put_u32(out, n);
  uint8_t* lengths = out + 4;
  uint8_t* bytes = lengths + 4 * n;
  uint8_t* shared = bytes + FIXED * n;
  uint8_t* w = shared + n;
  const uint8_t* r = records;
  const uint8_t* previous_name = nullptr;
  size_t previous_length = 0;
  uint32_t previous_end = 0;
  for (uint32_t i = 0; i < n; i++) {
    uint32_t l = get_u32(r);
    put_u32(lengths + 4 * i, l);
    uint8_t fixed[RECORD_NAME];
    memcpy(fixed, r, RECORD_NAME);
    uint32_t offset = get_u32(r + RECORD_STREAM_OFFSET);
    put_u32(fixed + RECORD_STREAM_OFFSET, offset - previous_end);
    previous_end = offset + get_u32(r + RECORD_STORED_SIZE);
    for (uint32_t b = 0; b < FIXED; b++) bytes[b * n + i] = fixed[RECORD_CRC + b];
    const uint8_t* name = r + RECORD_NAME;
    size_t length = strlen(reinterpret_cast<const char*>(name));
    size_t keep = 0;
    while (keep < 255 && keep < length && keep < previous_length && name[keep] == previous_name[keep]) keep++;
    shared[i] = uint8_t(keep);
    memcpy(w, name + keep, length - keep + 1);
    w += length - keep + 1;
    previous_name = name;
    previous_length = length;
    r += l;
  }
  r = records;
  for (uint32_t i = 0; i < n; i++) {
    uint32_t l = get_u32(r);
    size_t name_end = RECORD_NAME + strlen(reinterpret_cast<const char*>(r + RECORD_NAME)) + 1;
    memcpy(w, r + name_end, l - name_end);
    w += l - name_end;
    r += l;
  }
  return uint32_t(w - out);
}
