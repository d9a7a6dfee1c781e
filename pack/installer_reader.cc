#include "pack/installer_reader.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include "engine/read/attachment_check.h"
#include "engine/read/entry_zstd.h"
#include "engine/read/record_block.h"
#include "archive/attachment_reader.h"
#include "archive/crc16.h"
#include "codec/codec_context.h"
#include "codec/decoder.h"
#include "pack/failure.h"
#include "pack/text_escape.h"

namespace {

// The checks of read_entry on the data behind a record already read, with
// the decoded data taken one window at a time and only its CRC kept.
int check_entry_data(const uint8_t* crc_table, Entry* e, const EntryProgress* progress) {
  std::unique_ptr<uint8_t[]> stored(new (std::nothrow) uint8_t[e->stored_size ? e->stored_size : 1]);
  if (!stored) return ENTRY_FAULT_NO_MEMORY;
  if (read_attachment(stored.get(), e->stored_size) < e->stored_size) return ENTRY_FAULT_STORED_SHORT;
  if (crc16(crc_table, stored.get(), e->stored_size) != get_u16(e->record + RECORD_STORED_CRC))
    return ENTRY_FAULT_STORED_CRC;
  uint16_t crc = 0;
  if (entry_data_is_stored(e->type)) {
    crc = crc16(crc_table, stored.get(), e->file_size);
  } else if (entry_is_zstd(e->type)) {
    struct Whole {
      const uint8_t* data;
      uint32_t size;
    } whole{stored.get(), e->stored_size};
    auto next = [](void* context, const uint8_t** data, uint32_t* size) {
      Whole* w = static_cast<Whole*>(context);
      *data = w->data;
      *size = w->size;
      w->size = 0;
      return int(ENTRY_FAULT_NONE);
    };
    int fault = entry_zstd_decode(crc_table, *e, ZstdSource{next, &whole}, nullptr, progress, &crc);
    if (fault != ENTRY_FAULT_NONE) return fault;
  } else {
    CodecContext* codec = nullptr;
    if (codec_create(&codec) < 0) return ENTRY_FAULT_DECODE;
    uint8_t window[CODEC_WINDOW];
    ByteRange in{}, out{};
    in.cur = in.start = stored.get();
    in.end = stored.get() + e->stored_size;
    in.size = int32_t(e->stored_size);
    uint32_t done = 0;
    int32_t result;
    do {
      uint32_t chunk = e->file_size - done < CODEC_WINDOW ? e->file_size - done : CODEC_WINDOW;
      out.cur = out.start = window;
      out.end = window + chunk;
      out.size = int32_t(chunk);
      result = codec_decode(codec, &in, &out);
      crc = crc16_continue(crc_table, crc, window, chunk);
      done += chunk;
      if (done < e->file_size && progress) progress->slice_done(progress->context, *e, done);
    } while (result >= 0 && done < e->file_size);
    codec_release(&codec);
    if (result < 0) return ENTRY_FAULT_DECODE;
  }
  return crc == get_u16(e->record + RECORD_FILE_CRC) ? ENTRY_FAULT_NONE : ENTRY_FAULT_FILE_CRC;
}

}  // namespace

InstallerReader::InstallerReader(const std::string& path) : path_(path) {
  file_ = fopen(path.c_str(), "rb");
  if (!file_) throw Failure(system_failure(path, "cannot open", errno));
  // Held for the reader's life: a solid run is decoded across its entries.
  if (entry_zstd_open() != ENTRY_FAULT_NONE) {
    fclose(file_);
    throw Failure("not enough memory");
  }
  setvbuf(file_, buffer_, _IOFBF, sizeof buffer_);
  crc_table_ = crc16_table();
  if (!crc_table_) {
    fclose(file_);
    entry_zstd_close();
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
    entry_zstd_close();
    std::string why = located == LOCATE_NOT_FOUND   ? "no attachment (not an installer, or cut short)"
                      : located == LOCATE_CORRUPTED ? "header block damaged"
                                                    : "attachment not held whole in this file";
    if (located == LOCATE_NO_MEMORY) why = "not enough memory";
    throw Failure(path + ": " + why + ": " + problem);
  }
  entries_offset_ = ftell(file_);
  record_block_release();  // one held for another installer's entries
  int texts = read_vendor_texts(file_, entries_offset_ - long(HEADER_SIZE), &texts_);
  if (texts != VENDOR_TEXTS_OK) {
    std::string why = texts == VENDOR_TEXTS_NO_MEMORY ? "not enough memory" : "vendor texts damaged";
    if (texts_.problem)
      why += std::string(" (") + (texts_.bad_line ? "line " + std::to_string(texts_.bad_line) + " of " : "") +
             vendor_text_name(texts_.bad_text) + ": " + texts_.problem + ")";
    fclose(file_);
    free(crc_table_);
    entry_zstd_close();
    throw Failure(path + ": " + why + ": " + vendor_texts_message(texts));
  }
  struct stat st;
  file_size_ = fstat(fileno(file_), &st) == 0 ? uint64_t(st.st_size) : 0;
}

InstallerReader::~InstallerReader() {
  if (attachment_file == file_) {
    attachment_file = nullptr;
    record_block_release();
  }
  fclose(file_);
  free(crc_table_);
  entry_zstd_close();
  release_vendor_texts(&texts_);
}

void InstallerReader::rewind() {
  attachment_file = file_;
  if (entry_seek(crc_table_, EntryPosition{entries_offset_, -1, 0}) != ENTRY_FAULT_NONE)
    throw Failure(system_failure(path_, "cannot read", errno));
  next_index_ = 0;
  tree_.clear();
}

bool InstallerReader::next(Entry* entry, uint32_t* index, const EntryProgress* progress, Data data) {
  if (next_index_ >= entry_count()) return false;
  *index = next_index_;
  attachment_file = file_;
  EntryPosition at;
  if (entry_position(&at) != 0) throw Failure(system_failure(path_, "cannot read", errno));
  entry->name = nullptr;
  entry->stored = entry->data = nullptr;
  std::string where = "entry " + std::to_string(next_index_ + 1) + " of " + std::to_string(entry_count());
  int fault = read_entry_record(crc_table_, entry);
  if (fault == ENTRY_FAULT_NONE) {
    // Where the installer would stop on the name, it stops before the data.
    std::string problem = tree_.add(*entry, next_index_);
    if (!problem.empty())
      throw Failure(path_ + ": " + where + " (" + escaped_text(entry->name) + "): the installer cannot install it: " +
                    "the name " + problem);
  }
  // A link's target is small and shown: it is kept whatever was asked.
  if (entry->type == ENTRY_SYMLINK && fault == ENTRY_FAULT_NONE && (data == CHECK_DATA || data == CHECK_STORED))
    data = KEEP_DATA;
  if (fault == ENTRY_FAULT_NONE && entry->type != ENTRY_DELETE) {
    // Data declared beyond the end of the file is never read in, whatever
    // its size; the installer's read of it would come up short.
    uint64_t left = file_size_ - uint64_t(ftell(file_));
    if ((entry_data_is_stored(entry->type) && entry->file_size > entry->stored_size) || entry->stored_size > left)
      fault = ENTRY_FAULT_STORED_SHORT;
    else if (data == CHECK_DATA)
      fault = check_entry_data(crc_table_, entry, progress);
    else if (data == CHECK_STORED)
      fault = check_entry_stored_data(crc_table_, *entry);
    else if (data == RECORD_ONLY)
      fault = ENTRY_FAULT_NONE;
    else if ((fault = entry_seek(crc_table_, at)) == ENTRY_FAULT_NONE)
      fault = read_entry(crc_table_, entry, progress);
    // A NUL would cut the target short where the installer makes the link.
    if (fault == ENTRY_FAULT_NONE && entry->type == ENTRY_SYMLINK && memchr(entry->data, 0, entry->file_size)) {
      release_entry(entry);
      fault = ENTRY_FAULT_TREE_OBJECT;
    }
  }
  if (fault != ENTRY_FAULT_NONE) {
    // The name is only known once the record has passed its checks.
    if (entry->name)
      where += " (" + escaped_text(entry->name) + ")";
    else
      where += ", record at offset " + std::to_string(at.offset);
    throw Failure(path_ + ": " + where + ": " + entry_fault_message(fault));
  }
  next_index_++;
  return true;
}

void InstallerReader::fail_entry(const Entry& entry, uint32_t index, int fault) const {
  throw Failure(path_ + ": entry " + std::to_string(index + 1) + " of " + std::to_string(entry_count()) + " (" +
                escaped_text(entry.name) + "): " + entry_fault_message(fault));
}

const char* vendor_text_name(int which) {
  static const char* const names[VENDOR_TEXT_COUNT] = {"title", "thanks", "default directory", "licence", "notes"};
  return which >= 0 && which < VENDOR_TEXT_COUNT ? names[which] : "texts";
}
