// Builds installer files for tests with the archive writer: an image (by
// default the real zolt-setup), filler and an attachment of chosen entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/format.h"

struct TestEntry {
  std::string name;
  uint32_t type = ENTRY_STORED;
  std::string data;     // the installed bytes; file_size and file_crc follow from it
  std::string stored;   // for ENTRY_COMPRESSED: the stream; for ENTRY_STORED, empty means `data`
  int32_t mod_time = 0;
  uint16_t mode = 0100644;
  uint16_t flags = 0;  // RECORD_FLAG_* bits
};

struct TestHeader {
  std::string product_name = "QUMBA";
  std::string product_version = "7.1";
  std::string platform = "Linux x86_64";
  int32_t build_time = 1683062507;
  uint32_t space_required = 14194286;
  uint32_t flags = 0;
};

// The path of the bare installer built with the tests.
std::string setup_binary();
// The stub that also decodes Zstandard (empty in a build without libzstd),
// and the one zolt-pack create takes with --level alone: that one where it
// is built.
std::string zstd_setup_binary();
std::string default_setup_binary();

// The text that it prints for an error number: its own C library's, which
// may be musl while the tests have glibc.
std::string setup_system_text(int error_number);

// The installer's bytes: `image`, zero filler to a multiple of 1024, the attachment.
std::string build_installer(const std::string& image, const TestHeader& header,
                            const std::vector<TestEntry>& entries);

// Writes an installer built on the real zolt-setup to `path`, mode 0755.
void write_installer(const std::string& path, const std::vector<TestEntry>& entries,
                     const TestHeader& header = TestHeader());

uint16_t test_crc16(const std::string& bytes);

// Where the header and the first record start inside a built installer.
size_t header_offset_for(size_t image_size);
