#include "pack/installer_reader.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "archive/attachment_reader.h"
#include "archive/crc16.h"
#include "pack/failure.h"

InstallerReader::InstallerReader(const std::string& path) : path_(path) {
  file_ = fopen(path.c_str(), "rb");
  if (!file_) throw Failure(system_failure(path, "cannot open", errno));
  crc_table_ = crc16_table();
  if (!crc_table_) {
    fclose(file_);
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
    throw Failure(path + ": " + why + ": " + vendor_texts_message(texts));
  }
}

InstallerReader::~InstallerReader() {
  if (attachment_file == file_) attachment_file = nullptr;
  fclose(file_);
  free(crc_table_);
  release_vendor_texts(&texts_);
}

void InstallerReader::rewind() {
  if (fseek(file_, entries_offset_, SEEK_SET) != 0) throw Failure(system_failure(path_, "cannot read", errno));
  next_index_ = 0;
}

bool InstallerReader::next(Entry* entry, uint32_t* index, const EntryProgress* progress) {
  if (next_index_ >= entry_count()) return false;
  *index = next_index_;
  long offset = ftell(file_);
  attachment_file = file_;
  entry->name = nullptr;
  int fault = read_entry(crc_table_, entry, progress);
  if (fault != ENTRY_FAULT_NONE) {
    std::string where = "entry " + std::to_string(next_index_ + 1) + " of " + std::to_string(entry_count());
    // The name is only known once the record has passed its checks.
    if (entry->name)
      where += " (" + std::string(entry->name) + ")";
    else
      where += ", record at offset " + std::to_string(offset);
    throw Failure(path_ + ": " + where + ": " + entry_fault_message(fault));
  }
  next_index_++;
  return true;
}

const char* vendor_text_name(int which) {
  static const char* const names[VENDOR_TEXT_COUNT] = {"title", "thanks", "default directory", "licence", "notes"};
  return which >= 0 && which < VENDOR_TEXT_COUNT ? names[which] : "texts";
}

std::string mode_text(uint16_t mode) {
  char text[11];
  switch (mode & 0170000) {
    case 0100000:
      text[0] = '-';
      break;
    case 0040000:
      text[0] = 'd';
      break;
    case 0120000:
      text[0] = 'l';
      break;
    case 0020000:
      text[0] = 'c';
      break;
    case 0060000:
      text[0] = 'b';
      break;
    case 0010000:
      text[0] = 'p';
      break;
    case 0140000:
      text[0] = 's';
      break;
    default:
      text[0] = mode & 0170000 ? '?' : '-';
  }
  const char* letters = "rwxrwxrwx";
  for (int i = 0; i < 9; i++) text[1 + i] = mode & (0400 >> i) ? letters[i] : '-';
  if (mode & 04000) text[3] = text[3] == 'x' ? 's' : 'S';
  if (mode & 02000) text[6] = text[6] == 'x' ? 's' : 'S';
  if (mode & 01000) text[9] = text[9] == 'x' ? 't' : 'T';
  text[10] = 0;
  return text;
}

std::string utc_time_text(int64_t seconds) {
  time_t t = time_t(seconds);
  struct tm parts;
  char text[64];
  if (!gmtime_r(&t, &parts) || strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts) == 0)
    return std::to_string(seconds);
  return text;
}
