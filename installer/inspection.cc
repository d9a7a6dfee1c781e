#include "installer/inspection.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive/attachment_reader.h"
#include "archive/crc16.h"
#include "archive/format.h"
#include "engine/read/attachment_check.h"
#include "engine/read/entry_reader.h"
#include "engine/filesystem/free_space.h"
#include "engine/install/install_preflight.h"
#include "engine/install/install_run.h"
#include "engine/present/listing.h"
#include "engine/present/text_escape.h"
#include "engine/present/utc_time.h"
#include "installer/answers.h"
#include "installer/directory_selection.h"
#include "installer/installer_state.h"
#include "installer/signature_check.h"
#include "installer/termination.h"

namespace {

// A header text, escaped: a vendor's product name reaches a terminal too.
const char* header_field(uint32_t offset, char* out) {
  char text[HEADER_TEXT_SIZE];
  header_text(attachment_header, offset, text);
  escape_text(text, strlen(text), out);
  return out;
}

struct Fields {
  char name[escaped_size(HEADER_TEXT_SIZE)], version[escaped_size(HEADER_TEXT_SIZE)],
      platform[escaped_size(HEADER_TEXT_SIZE)];
};

void read_fields(Fields* f) {
  header_field(HEADER_PRODUCT_NAME, f->name);
  header_field(HEADER_PRODUCT_VERSION, f->version);
  header_field(HEADER_PLATFORM, f->platform);
}

int list_checked(void*, const Entry& e) {
  list_entry(stdout, e);
  return FAILURE_NONE;
}

// What the check pass learns of each entry for the verdicts an
// installation reaches before its first change.
struct Verdicts {
  FreeSpace space;
  InstallPreflight preflight;
};

int count_space(void* context, const Entry& e) {
  Verdicts* v = static_cast<Verdicts*>(context);
  install_space_add(&v->space, e);
  install_preflight_add(&v->preflight, e);
  return FAILURE_NONE;
}

uint8_t* crc_table_or_end() {
  uint8_t* table = crc16_table();
  if (!table) error("Insufficient memory (err=3).");
  return table;
}

int finish_output() {
  if (fflush(stdout) == 0) return 0;
  error("Can't write to standard output.");
}

}  // namespace

int show_version() {
  Fields f;
  read_fields(&f);
  const UtcTime when = utc_time(header_build_time(attachment_header));
  printf("%s %s %s (build %.2d%.2d%.2d.%.2d%.2d%.2d)\n", f.name, f.version, f.platform, when.year % 100, when.month,
         when.day, when.hour, when.minute, when.second);
  print_signer_line(stdout);
  return finish_output();
}

int list_entries() {
  list_header(stdout, attachment_header, vendor_texts);
  uint8_t* crc_table = crc_table_or_end();
  const CheckedEntry list{list_checked, nullptr};
  uint32_t bad;
  EntryStream stream;
  entry_stream_init(&stream, attachment_file);
  int fault = check_attachment(&stream, crc_table, header_entry_count(attachment_header), &list, &bad);
  entry_stream_release(&stream);
  free(crc_table);
  if (fault != FAILURE_NONE) {
    fflush(stdout);
    error(failure_message(fault));
  }
  return finish_output();
}

int check_installation() {
  uint8_t* crc_table = crc_table_or_end();
  if (select_install_dir() != ANSWER_NEXT) error(nullptr);
  static Verdicts verdicts;
  free_space_open(&verdicts.space, install_dir);
  install_preflight_init(&verdicts.preflight, install_dir);
  const CheckedEntry measure{count_space, &verdicts};
  uint32_t count = header_entry_count(attachment_header), bad;
  EntryStream stream;
  entry_stream_init(&stream, attachment_file);
  int fault = check_attachment(&stream, crc_table, count, &measure, &bad);
  char space_message[160];
  int fits = install_space_fits(&verdicts.space, attachment_header, space_message, sizeof space_message);
  free_space_close(&verdicts.space);
  if (fault != FAILURE_NONE) error(failure_message(fault));
  if (!fits) error(space_message);
  // What the installation would fail with on its first directory or file.
  if (verdicts.preflight.refused) error_failure(verdicts.preflight.failure);
  // The stored data passed its CRCs; now what only decoding shows.
  EntryStreamer streamer{};
  fault = entry_streamer_open(&streamer, &stream);
  for (uint32_t i = 0; fault == FAILURE_NONE && i < count; i++) {
    Entry e{};
    fault = read_entry_record(&stream, crc_table, &e);
    if (fault == FAILURE_NONE && e.type != ENTRY_DELETE)
      fault = stream_entry_data(&stream, crc_table, &streamer, &e, nullptr, nullptr);
  }
  if (fault == FAILURE_NONE) fault = entry_stream_end(&stream);
  entry_streamer_close(&streamer);
  entry_stream_release(&stream);
  free(crc_table);
  if (fault != FAILURE_NONE) error(failure_message(fault));
  if (!quiet) {
    Fields f;
    read_fields(&f);
    printf("%s %s: every check passed; it would install into %s\n", f.name, f.version, shown_install_dir());
    print_signer_line(stdout);
  }
  return finish_output();
}
