// An installer file opened to read its attachment with the installer's own
// reader and checks: the header block and the vendor's texts are located and
// checked as at the installer's start-up, then entries are read and checked
// one by one with the installer's record checks, and their names against the
// tree the entries before them make (entry_tree.h), so that what passes
// installs into an empty directory. Faults become Failures that name the
// file, the entry and the installer's own message, or what the installer
// would meet.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "engine/read/earlier_files.h"
#include "engine/read/entry_reader.h"
#include "archive/format.h"
#include "archive/vendor_texts.h"
#include "pack/entry_tree.h"

// Whether the program image `image` (or its first part) carries
// ENTRY_ZSTD_TAG, which only a stub that decodes Zstandard holds.
bool image_decodes_zstd(const std::vector<uint8_t>& image);

class InstallerReader {
 public:
  // Opens `path` and checks its header block. Throws Failure.
  explicit InstallerReader(const std::string& path);
  ~InstallerReader();
  InstallerReader(const InstallerReader&) = delete;
  InstallerReader& operator=(const InstallerReader&) = delete;

  const std::string& path() const { return path_; }
  // The installer's descriptor, for reads that leave the stream alone (pread).
  int descriptor() const { return fileno(file_); }
  const AttachmentHeader& header() const { return header_; }
  // The vendor's texts, checked as the installer checks them.
  const VendorTexts& texts() const { return texts_; }
  uint32_t entry_count() const { return header_entry_count(header_); }
  const uint8_t* crc_table() const { return crc_table_; }
  // The entries, as the engine reads them; the reader's own thread owns it.
  EntryStream* stream() { return &stream_; }

  // Goes back to the first entry.
  void rewind();
  // How much of an entry's data next reads and checks.
  enum Data {
    KEEP_DATA,     // all of it, decoded and kept in entry->data
    CHECK_DATA,    // all of it, decoded one window at a time and dropped
    CHECK_STORED,  // the stored data against its CRC, in slices; not decoded
    RECORD_ONLY,   // nothing: the stream is left at the data, for stream_entry_data
  };

  // Reads and checks the next entry into `entry`, which the caller then
  // releases with release_entry. False once entry_count entries are read.
  // `index` learns the entry's number, from 0. Throws Failure on a fault;
  // nothing stays allocated then. Unless the data is kept, entry->data stays
  // null and memory is bounded whatever size an entry declares (CHECK_DATA:
  // the stored size, which the file bounds, plus one window).
  bool next(Entry* entry, uint32_t* index, const EntryProgress* progress = nullptr, Data data = KEEP_DATA);

  // Whether the stub in front of the attachment decodes Zstandard entries
  // and record blocks.
  bool stub_decodes_zstd() const;

  // The fault of the entry just read, as next would report it.
  [[noreturn]] void fail_entry(const Entry& entry, uint32_t index, int fault) const;

 private:
  std::string path_;
  FILE* file_ = nullptr;
  EntryStream stream_{};
  char buffer_[1 << 16];  // the stream's: records are read a few bytes at a time
  uint8_t* crc_table_ = nullptr;
  AttachmentHeader header_;
  VendorTexts texts_{};
  long entries_offset_ = 0;
  uint64_t file_size_ = 0;
  EntryTree tree_;
  EarlierFiles earlier_{};  // the files a hard link may name
  uint32_t next_index_ = 0;
};

// "licence" for VENDOR_LICENCE: the vendor's texts by their names.
const char* vendor_text_name(int which);
