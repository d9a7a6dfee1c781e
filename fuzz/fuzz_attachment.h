// The installer file that a fuzz input stands for, shared by the fuzz
// targets that read attachments and by the tests that replay their findings.
//
// Input: one byte of flags, then the attachment, that is the 1028-byte header
// block and the entry stream. The file is a stub image of FUZZ_STUB_SIZE
// bytes followed by the attachment, repaired as the flags ask: a fuzzer that
// had to hit the 252-byte marker and three CRCs by chance would rarely get
// past the first checks to the decoder and the file system. With
// FUZZ_WHOLE_FILE the rest of the input is the whole file, used as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum FuzzFlags : uint8_t {
  FUZZ_SET_MARKER = 0x01,       // the marker over the first 252 bytes of the header
  FUZZ_FIX_STORED_CRCS = 0x02,  // stored_crc of each entry whose stored data is all there
  FUZZ_FIX_FILE_CRCS = 0x04,    // file_crc of the data as the installer makes it
  FUZZ_FIX_RECORD_CRCS = 0x08,  // record_crc of each whole record, after the two above
  FUZZ_FIX_HEADER_CRC = 0x10,   // header_crc, last
  FUZZ_REPAIR_ALL = 0x1F,
  FUZZ_WHOLE_FILE = 0x80,
};

constexpr size_t FUZZ_STUB_SIZE = 1024;
// A compressed entry of a larger file_size keeps its file_crc: repairing it
// would mean decoding that much.
constexpr uint32_t FUZZ_DECODE_LIMIT = 1 << 20;

// The installer file for the input `data`; empty for an empty input.
std::string fuzz_installer_file(const uint8_t* data, size_t size);

// The fuzz targets let allocations above FUZZ_ALLOCATION_LIMIT fail (see
// install_fuzz.cc). A compressed entry with all its stored data present is
// decoded to its whole file_size, junk or not; up to that limit, under the
// sanitizers and coverage, that takes seconds. True when `file` holds such
// an entry of more than FUZZ_DECODE_BUDGET bytes: a target skips the input,
// whose only news would be time. A target whose reader decodes any declared
// size in bounded memory raises `allocation_limit` to UINT32_MAX.
constexpr uint32_t FUZZ_ALLOCATION_LIMIT = 64 << 20;
constexpr uint32_t FUZZ_DECODE_BUDGET = 4 << 20;
bool fuzz_decodes_too_much(const std::string& file, uint32_t allocation_limit = FUZZ_ALLOCATION_LIMIT);
