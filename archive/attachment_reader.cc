#include "archive/attachment_reader.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "archive/crc16.h"

FILE* attachment_file = nullptr;

int find_attachment(FILE* file, AttachmentHeader* header) {
  // The search ends where the file ends. A character device such as
  // /dev/zero has no end and a pipe cannot seek, so neither can hold an
  // attachment. (A memory stream has no descriptor; it ends like a file.)
  struct stat st;
  int fd = fileno(file);
  if (fd >= 0 && fstat(fd, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) return LOCATE_NOT_FOUND;
  uint8_t marker[MARKER_SIZE];
  make_marker(marker);
  // long, so that the search stops at the end of any file instead of wrapping.
  for (long offset = HEADER_ALIGN;; offset += HEADER_ALIGN) {
    fseek(file, offset, SEEK_SET);
    if (fread(header->bytes, 1, HEADER_SIZE, file) < HEADER_SIZE) return LOCATE_NOT_FOUND;
    if (memcmp(header->bytes, marker, MARKER_SIZE) == 0) break;
  }
  uint8_t* table = crc16_table();
  if (!table) return LOCATE_NO_MEMORY;
  uint16_t saved = get_u16(header->bytes + HEADER_CRC);
  put_u16(header->bytes + HEADER_CRC, 0);
  uint16_t computed = crc16(table, header->bytes, HEADER_SIZE);
  free(table);
  if (computed != saved) return LOCATE_CORRUPTED;
  put_u16(header->bytes + HEADER_CRC, computed);
  return LOCATE_OK;
}

const char* locate_message(int result) {
  switch (result) {
    case LOCATE_NO_MEMORY: return "Insufficient memory (2).";
    case LOCATE_CORRUPTED: return "Attachments corrupted (3).";
    default: return "Can't find attachments (3).";
  }
}

uint32_t read_attachment(void* buffer, uint32_t length) {
  return uint32_t(fread(buffer, 1, length, attachment_file));
}
