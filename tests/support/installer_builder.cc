#include "tests/support/installer_builder.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "archive/attachment_writer.h"
#include "archive/crc16.h"
#include "tests/support/files.h"

std::string setup_binary() { return ZOLT_SETUP_BINARY; }
std::string zstd_setup_binary() { return ZOLT_SETUP_ZSTD_BINARY; }
std::string default_setup_binary() { return zstd_setup_binary().empty() ? setup_binary() : zstd_setup_binary(); }

std::string setup_system_text(int error_number) {
  // musl's wording where it differs from glibc's, for the errors that
  // installing can meet.
  static const std::pair<int, const char*> musl[] = {
      {ENAMETOOLONG, "Filename too long"}, {ELOOP, "Symbolic link loop"}, {ENOMEM, "Out of memory"},
      {EIO, "I/O error"}, {EMFILE, "No file descriptors available"}, {EDQUOT, "Quota exceeded"}};
  if (strcmp(ZOLT_SETUP_LIBC, "musl") == 0)
    for (const auto& [number, text] : musl)
      if (number == error_number) return text;
  return strerror(error_number);
}

uint16_t test_crc16(const std::string& bytes) {
  uint8_t* table = crc16_table();
  uint16_t crc = crc16(table, reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()));
  free(table);
  return crc;
}

size_t header_offset_for(size_t image_size) {
  return image_size && image_size % HEADER_ALIGN == 0 ? image_size
                                                       : (image_size / HEADER_ALIGN + 1) * HEADER_ALIGN;
}

std::string build_installer(const std::string& image, const TestHeader& header,
                            const std::vector<TestEntry>& entries) {
  FILE* f = tmpfile();
  if (!f) throw std::runtime_error("tmpfile failed");
  AttachmentWriter w;
  if (writer_begin(&w, f, reinterpret_cast<const uint8_t*>(image.data()), image.size()) != WRITE_OK)
    throw std::runtime_error("writer_begin failed");
  for (const TestEntry& e : entries) {
    const std::string& stored = e.type == ENTRY_STORED && e.stored.empty() ? e.data : e.stored;
    EntryFields fields{};
    fields.name = e.name.c_str();
    fields.entry_type = e.type;
    fields.file_size = uint32_t(e.data.size());
    fields.stored_size = e.type == ENTRY_DELETE ? 0 : uint32_t(stored.size());
    fields.file_crc = e.type == ENTRY_DELETE ? 0 : test_crc16(e.data);
    fields.mod_time = e.mod_time;
    fields.mode = e.mode;
    fields.flags = e.flags;
    if (writer_add_entry(&w, fields, reinterpret_cast<const uint8_t*>(stored.data())) != WRITE_OK)
      throw std::runtime_error("writer_add_entry failed for " + e.name);
  }
  HeaderFields h{header.product_name.c_str(), header.product_version.c_str(), header.platform.c_str(),
                 header.build_time, header.space_required, header.flags};
  if (writer_finish(&w, h) != WRITE_OK) throw std::runtime_error("writer_finish failed");
  rewind(f);
  std::string bytes;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
  fclose(f);
  return bytes;
}

void write_installer(const std::string& path, const std::vector<TestEntry>& entries,
                     const TestHeader& header) {
  write_file(path, build_installer(read_file(setup_binary()), header, entries), 0755);
}
