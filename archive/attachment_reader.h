// Finding the attachment inside an installer file and reading its entry
// stream strictly forward.
#pragma once

#include <cstdint>
#include <cstdio>

#include "archive/format.h"

// The stream on the installer's own file. Only find_attachment positions it;
// afterwards it always stands at the next unread byte of the entry stream.
extern FILE* attachment_file;

enum LocateResult {
  LOCATE_OK = 0,
  LOCATE_NOT_FOUND = 1,  // no 1028-byte block starting with the marker at a multiple of 1024
  LOCATE_NO_MEMORY = 2,  // no memory for the CRC table
  LOCATE_CORRUPTED = 3,  // the first block found fails its header_crc
};

// Searches `file` at 1024, 2048, ... for the header block and checks its CRC.
// On LOCATE_OK `header` equals the block in the file byte for byte and the
// file stands just behind it. The search stops at the first marker found: a
// bad CRC there is final even if a good block follows. A stream on anything
// but a regular file or a block device (a pipe, /dev/zero) is LOCATE_NOT_FOUND.
int find_attachment(FILE* file, AttachmentHeader* header);

// The installer's message for a LocateResult other than LOCATE_OK.
const char* locate_message(int result);

// Reads up to `length` bytes of attachment_file; fewer only at the end of the
// file or on a read error.
uint32_t read_attachment(void* buffer, uint32_t length);
