// bench_lzh_wrap STREAM ORIGINAL OUT [NAME]: wraps one raw -lh5- stream (as
// `zolt-pack encode` writes it) in a minimal .lzh archive, so that other LHA
// tools can decode the very same bytes: one level-0 header with the method
// "-lh5-", the compressed and original sizes, a fixed MS-DOS time and the
// CRC-16/ARC of ORIGINAL, then the stream, then the end-of-archive byte.
//
// Level-0 header, little-endian throughout:
//   0      size of the header from offset 2 on
//   1      sum of the header bytes from offset 2 on, modulo 256
//   2..6   method, "-lh5-"
//   7..10  compressed size      11..14 original size
//   15..18 MS-DOS time and date 19     attribute (0x20)
//   20     level (0)            21     name length, then the name
//   then   CRC-16 of the original data
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool read_all(const char* path, std::string* out) {
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  std::vector<char> buffer(1 << 16);
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), f)) > 0) out->append(buffer.data(), n);
  bool ok = !ferror(f);
  fclose(f);
  return ok;
}

// CRC-16/ARC: polynomial 0x8005 reflected, initial value 0, no final xor.
uint16_t crc16_arc(const std::string& data) {
  uint16_t table[256];
  for (unsigned i = 0; i < 256; i++) {
    uint16_t c = uint16_t(i);
    for (int k = 0; k < 8; k++) c = (c & 1) ? uint16_t((c >> 1) ^ 0xA001) : uint16_t(c >> 1);
    table[i] = c;
  }
  uint16_t crc = 0;
  for (unsigned char b : data) crc = uint16_t((crc >> 8) ^ table[(crc ^ b) & 0xFF]);
  return crc;
}

void put16(std::string* s, uint32_t v) {
  s->push_back(char(v & 0xFF));
  s->push_back(char((v >> 8) & 0xFF));
}

void put32(std::string* s, uint32_t v) {
  put16(s, v & 0xFFFF);
  put16(s, v >> 16);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    fprintf(stderr, "usage: %s STREAM ORIGINAL OUT [NAME]\n", argv[0]);
    return 2;
  }
  std::string stream, original;
  if (!read_all(argv[1], &stream) || !read_all(argv[2], &original)) {
    fprintf(stderr, "%s: cannot read %s or %s\n", argv[0], argv[1], argv[2]);
    return 1;
  }
  std::string name = argc == 5 ? argv[4] : "data.bin";
  if (stream.size() > UINT32_MAX || original.size() > UINT32_MAX || name.empty() || name.size() > 200) {
    fprintf(stderr, "%s: sizes or name out of range for a level-0 header\n", argv[0]);
    return 1;
  }

  std::string header;  // from offset 2 on
  header += "-lh5-";
  put32(&header, uint32_t(stream.size()));
  put32(&header, uint32_t(original.size()));
  put16(&header, 0);                                    // 00:00:00
  put16(&header, ((2024 - 1980) << 9) | (1 << 5) | 1);  // 2024-01-01
  header.push_back(char(0x20));
  header.push_back(char(0));
  header.push_back(char(name.size()));
  header += name;
  put16(&header, crc16_arc(original));

  unsigned sum = 0;
  for (unsigned char b : header) sum += b;
  std::string archive;
  archive.push_back(char(header.size()));
  archive.push_back(char(sum & 0xFF));
  archive += header;
  archive += stream;
  archive.push_back(char(0));

  FILE* f = fopen(argv[3], "wb");
  if (!f || fwrite(archive.data(), 1, archive.size(), f) != archive.size() || fclose(f) != 0) {
    fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[3]);
    return 1;
  }
  return 0;
}
