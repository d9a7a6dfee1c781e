// SHA-256, for the checksum file written beside every installer. The
// attachment's own CRC-16 catches accidents; this catches tampering when the
// checksum travels by a separate, trusted way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class Sha256 {
 public:
  Sha256();
  void update(const void* data, size_t length);
  // The digest as 64 lower-case hex digits. The object is spent afterwards.
  std::string hex_digest();

 private:
  void compress(const uint8_t block[64]);
  uint32_t state_[8];
  uint8_t block_[64];
  size_t block_used_ = 0;
  uint64_t total_ = 0;  // bytes
};

// The digest of a whole file; throws Failure when it cannot be read.
std::string sha256_of_file(const std::string& path);

// The line sha256sum prints for `name`: a name with a backslash, newline or
// carriage return has them escaped and the line begins with a backslash, so
// that "sha256sum -c" reads it back.
std::string sha256_line(const std::string& hex_digest, const std::string& name);
