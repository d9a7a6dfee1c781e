#include "pack/installer_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "engine/read/attachment_check.h"
#include "engine/read/earlier_files.h"
#include "engine/read/entry_zstd.h"
#include "archive/attachment_reader.h"
#include "engine/read/record_block.h"
#include "archive/crc16.h"
#include "archive/entry_paths.h"
#include "pack/failure.h"
#include "pack/text_escape.h"

InstallerReader::InstallerReader(const std::string& path) : path_(path) {
  file_ = fopen(path.c_str(), "rb");
  if (!file_) throw Failure(system_failure(path, "cannot open", errno));
  entry_stream_init(&stream_, file_);
  // Held for the reader's life: a solid run is decoded across its entries.
  if (entry_zstd_open(&stream_) != FAILURE_NONE) {
    fclose(file_);
    throw Failure("not enough memory");
  }
  setvbuf(file_, buffer_, _IOFBF, sizeof buffer_);
  crc_table_ = crc16_table();
  if (!crc_table_) {
    fclose(file_);
    entry_zstd_close(&stream_);
    throw Failure("not enough memory");
  }
  int located = find_attachment(file_, &header_);
  const char* problem = nullptr;
  if (located != LOCATE_OK)
    problem = locate_message(located);
  else if (header_volume(header_) != VOLUME_WHOLE)
    problem = "Can't find attachments (err=2).";
  if (problem) {
    fclose(file_);
    free(crc_table_);
    entry_zstd_close(&stream_);
    std::string why = located == LOCATE_NOT_FOUND   ? "no attachment (not an installer, or cut short)"
                      : located == LOCATE_CORRUPTED ? "header block damaged"
                                                    : "attachment not held whole in this file";
    if (located == LOCATE_NO_MEMORY) why = "not enough memory";
    throw Failure(path + ": " + why + ": " + problem);
  }
  entries_offset_ = ftell(file_);
  int texts = read_vendor_texts(file_, entries_offset_ - long(HEADER_SIZE), &texts_);
  if (texts != VENDOR_TEXTS_OK) {
    std::string why = texts == VENDOR_TEXTS_NO_MEMORY ? "not enough memory" : "vendor texts damaged";
    if (texts_.problem)
      why += std::string(" (") + (texts_.bad_line ? "line " + std::to_string(texts_.bad_line) + " of " : "") +
             vendor_text_name(texts_.bad_text) + ": " + texts_.problem + ")";
    fclose(file_);
    free(crc_table_);
    entry_zstd_close(&stream_);
    throw Failure(path + ": " + why + ": " + vendor_texts_message(texts));
  }
  struct stat st;
  file_size_ = fstat(fileno(file_), &st) == 0 ? uint64_t(st.st_size) : 0;
}

InstallerReader::~InstallerReader() {
  earlier_files_release(&earlier_);
  entry_stream_release(&stream_);
  fclose(file_);
  free(crc_table_);
  entry_zstd_close(&stream_);
  release_vendor_texts(&texts_);
}

bool image_decodes_zstd(const std::vector<uint8_t>& image) {
  const std::string tag = ENTRY_ZSTD_TAG;
  return std::search(image.begin(), image.end(), tag.begin(), tag.end()) != image.end();
}

bool InstallerReader::stub_decodes_zstd() const {
  // Everything in front of the header block: the stub and the vendor's texts.
  long front = entries_offset_ - long(HEADER_SIZE);
  std::vector<uint8_t> image(front > 0 ? size_t(front) : 0);
  if (!image.empty() && pread(fileno(file_), image.data(), image.size(), 0) != ssize_t(image.size()))
    throw Failure(system_failure(path_, "cannot read", errno));
  return image_decodes_zstd(image);
}

void InstallerReader::rewind() {
  if (entry_seek(&stream_, crc_table_, EntryPosition{entries_offset_, -1, 0}) != FAILURE_NONE)
    throw Failure(system_failure(path_, "cannot read", errno));
  next_index_ = 0;
  tree_.clear();
  earlier_files_release(&earlier_);
  entry_zstd_run_end(&stream_);  // a run left part-way is no fault of the file
}

bool InstallerReader::next(Entry* entry, uint32_t* index, const EntryProgress* progress, Data data) {
  if (next_index_ >= entry_count()) {
    int fault = entry_stream_end(&stream_);
    if (fault != FAILURE_NONE)
      throw Failure(path_ + ": entry " + std::to_string(entry_count()) + " of " + std::to_string(entry_count()) +
                    ": " + failure_message(fault));
    return false;
  }
  *index = next_index_;
  EntryPosition at;
  if (entry_position(&stream_, &at) != 0) throw Failure(system_failure(path_, "cannot read", errno));
  entry->name = nullptr;
  entry->stored = entry->data = nullptr;
  std::string where = "entry " + std::to_string(next_index_ + 1) + " of " + std::to_string(entry_count());
  int fault = read_entry_record(&stream_, crc_table_, entry);
  if (fault == FAILURE_NONE) {
    // Where the installer would stop on the name, it stops before the data.
    std::string problem = tree_.add(*entry, next_index_);
    if (!problem.empty())
      throw Failure(path_ + ": " + where + " (" + escaped_text(entry->name) + "): the installer cannot install it: " +
                    "the name " + problem);
  }
  // A link's target is small and shown: it is kept whatever was asked.
  if (entry_is_link(entry->type) && fault == FAILURE_NONE && (data == CHECK_DATA || data == CHECK_STORED))
    data = KEEP_DATA;
  if (fault == FAILURE_NONE && entry->type != ENTRY_DELETE) {
    // Data declared beyond the end of the file is never read in, whatever
    // its size; the installer's read of it would come up short.
    uint64_t left = file_size_ - uint64_t(ftell(file_));
    if ((entry_data_is_stored(entry->type) && entry->file_size > entry->stored_size) || entry->stored_size > left)
      fault = ENTRY_FAULT_STORED_SHORT;
    else if (data == CHECK_DATA)
      fault = check_entry_data(&stream_, crc_table_, *entry, progress);
    else if (data == CHECK_STORED)
      fault = check_entry_stored_data(&stream_, crc_table_, *entry);
    else if (data == RECORD_ONLY)
      fault = FAILURE_NONE;
    else if ((fault = entry_seek(&stream_, crc_table_, at)) == FAILURE_NONE)
      fault = read_entry(&stream_, crc_table_, entry, progress);
    // A NUL would cut the target short where the installer makes the link.
    if (fault == FAILURE_NONE && entry->type == ENTRY_SYMLINK && memchr(entry->data, 0, entry->file_size)) {
      release_entry(entry);
      fault = ENTRY_FAULT_TREE_OBJECT;
    }
    // The installer refuses a link into its own records.
    if (fault == FAILURE_NONE && entry->type == ENTRY_SYMLINK &&
        link_target_escape(entry->name, reinterpret_cast<const char*>(entry->data), entry->file_size) ==
            LINK_RECORD_DIRECTORY) {
      release_entry(entry);
      fault = ENTRY_FAULT_NAME_ESCAPES;
    }
    // A hard link names a file of an entry before it, still there.
    if (fault == FAILURE_NONE && entry->type == ENTRY_HARD_LINK && entry->data &&
        (fault = earlier_files_check_link(&earlier_, *entry)) != FAILURE_NONE)
      release_entry(entry);
  }
  if (fault == FAILURE_NONE && (fault = earlier_files_note(&earlier_, *entry)) != FAILURE_NONE) release_entry(entry);
  if (fault != FAILURE_NONE) {
    // The name is only known once the record has passed its checks.
    if (entry->name)
      where += " (" + escaped_text(entry->name) + ")";
    else
      where += ", record at offset " + std::to_string(at.offset);
    throw Failure(path_ + ": " + where + ": " + failure_message(fault));
  }
  next_index_++;
  return true;
}

void InstallerReader::fail_entry(const Entry& entry, uint32_t index, int fault) const {
  throw Failure(path_ + ": entry " + std::to_string(index + 1) + " of " + std::to_string(entry_count()) + " (" +
                escaped_text(entry.name) + "): " + failure_message(fault));
}

const char* vendor_text_name(int which) {
  static const char* const names[VENDOR_TEXT_COUNT] = {"title", "thanks", "default directory", "licence", "notes"};
  return which >= 0 && which < VENDOR_TEXT_COUNT ? names[which] : "texts";
}
