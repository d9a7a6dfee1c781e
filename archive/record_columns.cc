#include "archive/record_columns.h"

#include <cstdlib>
#include <cstring>

namespace {

// Bytes of the fixed part held byte by byte: RECORD_CRC up to RECORD_NAME.
constexpr uint32_t FIXED = RECORD_NAME - RECORD_CRC;

}  // namespace

int columns_to_records(const uint8_t* c, uint32_t size, uint32_t limit, uint8_t** records, uint32_t* length) {
  *records = nullptr;
  *length = 0;
  if (size < 4) return COLUMNS_SHORT;
  const uint32_t n = get_u32(c);
  // The count bounds everything below: each record is at least 41 bytes.
  if (n == 0 || n > limit / RECORD_MIN_LENGTH) return COLUMNS_BAD_LENGTH;
  const uint64_t fixed_end = 4 + uint64_t(n) * (4 + FIXED + 1);
  if (fixed_end > size) return COLUMNS_SHORT;
  const uint8_t* lengths = c + 4;
  const uint8_t* bytes = lengths + 4 * uint64_t(n);
  const uint8_t* shared = bytes + uint64_t(n) * FIXED;
  uint64_t total = 0;
  for (uint32_t i = 0; i < n; i++) {
    uint32_t l = get_u32(lengths + 4 * i);
    if (l < RECORD_MIN_LENGTH || l > RECORD_MAX_LENGTH) return COLUMNS_BAD_LENGTH;
    total += l;
  }
  if (total > limit) return COLUMNS_BAD_LENGTH;
  uint8_t* out = static_cast<uint8_t*>(malloc(total));
  if (!out) return COLUMNS_NO_MEMORY;

  // First the names, then the tails behind them: the tails' column starts
  // where the names' ends, which only the names' NULs tell.
  const uint8_t* names = c + fixed_end;
  const uint8_t* end = c + size;
  int result = COLUMNS_OK;
  uint8_t* r = out;
  const uint8_t* previous_name = nullptr;
  uint32_t previous_name_length = 0;
  uint32_t previous_end = 0;
  for (uint32_t i = 0; i < n && result == COLUMNS_OK; i++) {
    uint32_t l = get_u32(lengths + 4 * i);
    put_u32(r, l);
    for (uint32_t b = 0; b < FIXED; b++) r[RECORD_CRC + b] = bytes[uint64_t(b) * n + i];
    uint32_t offset = get_u32(r + RECORD_STREAM_OFFSET) + previous_end;
    put_u32(r + RECORD_STREAM_OFFSET, offset);
    previous_end = offset + get_u32(r + RECORD_STORED_SIZE);

    uint32_t room = l - RECORD_NAME, keep = shared[i];
    if (keep > previous_name_length || keep >= room) {
      result = COLUMNS_BAD_NAME;
      break;
    }
    if (keep) memcpy(r + RECORD_NAME, previous_name, keep);
    uint32_t rest_room = room - keep;
    size_t left = size_t(end - names);
    size_t look = rest_room < left ? rest_room : left;
    const uint8_t* nul = static_cast<const uint8_t*>(memchr(names, 0, look));
    if (!nul) {
      result = look < rest_room ? COLUMNS_SHORT : COLUMNS_BAD_NAME;
      break;
    }
    uint32_t rest = uint32_t(nul - names) + 1;
    memcpy(r + RECORD_NAME + keep, names, rest);
    names += rest;
    previous_name = r + RECORD_NAME;
    previous_name_length = keep + rest - 1;
    r += l;
  }

  const uint8_t* tails = names;
  r = out;
  for (uint32_t i = 0; i < n && result == COLUMNS_OK; i++) {
    uint32_t l = get_u32(r);
    uint32_t name_end = RECORD_NAME + uint32_t(strlen(reinterpret_cast<const char*>(r + RECORD_NAME))) + 1;
    uint32_t tail = l - name_end;
    if (size_t(end - tails) < tail) {
      result = COLUMNS_SHORT;
      break;
    }
    memcpy(r + name_end, tails, tail);
    tails += tail;
    r += l;
  }
  if (result == COLUMNS_OK && tails != end) result = COLUMNS_SHORT;
  if (result != COLUMNS_OK) {
    free(out);
    return result;
  }
  *records = out;
  *length = uint32_t(total);
  return COLUMNS_OK;
}
