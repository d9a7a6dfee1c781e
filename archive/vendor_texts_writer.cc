#include "archive/vendor_texts_writer.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "archive/crc16.h"
#include "archive/format.h"
#include "archive/vendor_texts.h"

static_assert(VENDOR_TEXT_COUNT == 5);

std::string build_vendor_texts(const std::optional<std::string> (&texts)[5]) {
  std::string block;
  uint8_t present = 0;
  for (int which = 0; which < VENDOR_TEXT_COUNT; which++)
    if (texts[which]) {
      block += *texts[which];
      block += '\0';
      present = uint8_t(present | 1u << which);
    }
  if (!present) return "";
  uint8_t trailer[VENDOR_TRAILER_SIZE] = {};
  memcpy(trailer, VENDOR_TEXTS_MAGIC, VENDOR_TRAILER_BODY_SIZE);
  put_u32(trailer + VENDOR_TRAILER_BODY_SIZE, uint32_t(block.size()));
  trailer[VENDOR_TRAILER_PRESENT] = present;
  trailer[VENDOR_TRAILER_FORMAT] = VENDOR_TEXTS_FORMAT;
  block.append(reinterpret_cast<const char*>(trailer), VENDOR_TRAILER_SIZE);
  uint8_t* table = crc16_table();
  if (!table) throw std::bad_alloc();
  uint16_t crc = crc16(table, reinterpret_cast<const uint8_t*>(block.data()), uint32_t(block.size()));
  free(table);
  put_u16(reinterpret_cast<uint8_t*>(block.data()) + block.size() - 2, crc);
  return block;
}
