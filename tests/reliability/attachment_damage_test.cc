// Damaged attachments: every single-byte change of the header block and of the
// first records, random changes of the stored data, and every truncation. Each
// is read in process with the installer's own reader to learn which entry
// fails and how, and a sample of each kind (every byte position, every record
// boundary) is installed in a child over a prepared tree: status 1, a message
// from the defined set, no signal, the tree untouched when the damage shows
// before decoding (the whole attachment is checked first), else exactly as
// the entries before the damaged one left it, and nothing outside the tree
// changed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>
#include <string>
#include <vector>

#include "archive/attachment_reader.h"
#include "archive/crc16.h"
#include "engine/read/entry_reader.h"
#include "archive/format.h"
#include "tests/reliability/defined_endings.h"
#include "tests/reliability/reliability_support.h"
#include "tests/support/files.h"

namespace {

class DamagedAttachment : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    entries_ = new std::vector<TestEntry>(sample_entries());
    good_ = new std::string(stub_installer(*entries_));
    spans_ = new std::vector<EntrySpan>(entry_spans(*good_));
    header_ = spans_->front().record - HEADER_SIZE;
  }
  static void TearDownTestSuite() {
    delete entries_;
    delete good_;
    delete spans_;
  }

  void SetUp() override {
    for (const TestEntry& e : *entries_) {
      std::string path = outside + "/" + entry_base_name(e.name.c_str());
      if (!path_exists(path)) write_file(path, "outside the installation directory");
    }
    around = snapshot(parent.path(), "target");
  }

  // The entry that holds byte `offset`, or the count when it lies behind them all.
  size_t entry_at(size_t offset) const {
    for (size_t k = 0; k < spans_->size(); k++)
      if (offset < (*spans_)[k].end) return k;
    return spans_->size();
  }

  // Installs `bytes` over a fresh sample tree. The run must end with
  // `message`, leaving the tree as the first `done` entries made it.
  void expect_install(const std::string& bytes, const std::string& message, size_t done, const std::string& what) {
    remove_tree(target);
    make_sample_tree(target);
    ProcessResult r = install_in_child(bytes, target);
    EXPECT_EQ(final_message(r.err), message) << what << "\n" << r.err.substr(r.err.size() > 300 ? r.err.size() - 300 : 0);
    Snapshot now = snapshot(target);
    bool decoded = message.empty() || message == "Decompression error (err=1)." || message == "Corrupted file(s) (err=5).";
    const Snapshot& expected = sample_tree_after(decoded ? done : 0);
    // The directories of an entry are made before its data are decoded.
    if (decoded && done < entries_->size()) {
      const std::string& name = (*entries_)[done].name;
      for (auto it = now.begin(); it != now.end();)
        it = !expected.count(it->first) && name.compare(0, it->first.size() + 1, it->first + "/") == 0 ? now.erase(it)
                                                                                                         : std::next(it);
    }
    EXPECT_TRUE(now == expected) << what << ": " << snapshot_diff(expected, now);
    EXPECT_TRUE(snapshot(parent.path(), "target") == around) << what;
  }

  static std::string message_of(const ReadOutcome& o) {
    if (o.locate != LOCATE_OK) return locate_message(o.locate);
    return o.fault == FAILURE_NONE ? "" : failure_message(o.fault);
  }

  static std::vector<TestEntry>* entries_;
  static std::string* good_;
  static std::vector<EntrySpan>* spans_;
  static size_t header_;

  TempDir parent;
  std::string target = parent / "target";
  std::string outside = parent.path();  // the entries' names beside the tree
  Snapshot around;
};

std::vector<TestEntry>* DamagedAttachment::entries_;
std::string* DamagedAttachment::good_;
std::vector<EntrySpan>* DamagedAttachment::spans_;
size_t DamagedAttachment::header_;

TEST_F(DamagedAttachment, SampleInstallsWhole) {
  ASSERT_EQ(spans_->size(), 6u);
  ASSERT_EQ(spans_->back().end, good_->size());
  ReadOutcome o = read_in_process(*good_);
  EXPECT_EQ(o.good, 6u);
  expect_install(*good_, "", 6, "undamaged");
}

// The positions of the header block and of the first three records
// (stored, compressed, deletion).
std::vector<size_t> header_and_first_records(size_t header, const std::vector<EntrySpan>& spans) {
  std::vector<size_t> positions;
  for (size_t p = header; p < header + HEADER_SIZE; p++) positions.push_back(p);
  for (size_t k = 0; k < 3; k++)
    for (size_t p = spans[k].record; p < spans[k].data; p++) positions.push_back(p);
  return positions;
}

// Every value of every byte of the header block and of the first three
// records. The CRC-16 catches every change of one byte; only a changed
// record_length makes the check run over other bytes.
TEST_F(DamagedAttachment, EveryValueOfEveryHeaderAndRecordByte) {
  size_t tried = 0, undetected_lengths = 0;
  std::string bytes = *good_;
  for (size_t p : header_and_first_records(header_, *spans_)) {
    const bool marker = p < header_ + MARKER_SIZE;
    const bool in_header = p < header_ + HEADER_SIZE;
    const size_t k = entry_at(p);
    const bool length_field = !in_header && p < (*spans_)[k].record + 4;
    const char original = bytes[p];
    for (int v = 0; v < 256; v++) {
      if (char(v) == original) continue;
      bytes[p] = char(v);
      ReadOutcome o = read_in_process(bytes);
      tried++;
      SCOPED_TRACE("offset " + std::to_string(p) + " value " + std::to_string(v));
      if (in_header) {
        ASSERT_EQ(o.locate, marker ? LOCATE_NOT_FOUND : LOCATE_CORRUPTED);
      } else if (!length_field) {
        ASSERT_EQ(o.good, k);
        ASSERT_EQ(o.fault, ENTRY_FAULT_RECORD_CRC);
      } else {
        // A new length covers other bytes; its CRC check can pass by chance
        // (one in 65536), after which the stream is misread from there on.
        ASSERT_EQ(o.locate, LOCATE_OK);
        ASSERT_GE(o.good, k);
        if (o.good > k || o.fault == FAILURE_NONE) {
          undetected_lengths++;
        } else {
          ASSERT_TRUE(o.fault == ENTRY_FAULT_RECORD_LENGTH || o.fault == ENTRY_FAULT_RECORD_SHORT ||
                      o.fault == ENTRY_FAULT_RECORD_CRC)
              << o.fault;
        }
      }
    }
    bytes[p] = original;
  }
  RecordProperty("changes", int(tried));
  EXPECT_EQ(tried, 307785u);
  EXPECT_EQ(undetected_lengths, 0u);
}

// One change at each of those positions, installed in a child.
TEST_F(DamagedAttachment, EachHeaderAndRecordByteChangedInstalls) {
  std::string bytes = *good_;
  for (size_t p : header_and_first_records(header_, *spans_)) {
    bytes[p] = char(bytes[p] ^ 0x5A);
    ReadOutcome o = read_in_process(bytes);
    expect_install(bytes, message_of(o), o.locate == LOCATE_OK ? o.good : 0, "offset " + std::to_string(p));
    bytes[p] = (*good_)[p];
    if (HasFailure()) break;
  }
}

// A change of one random byte anywhere in the stored data, `count` times.
std::vector<std::pair<size_t, char>> random_data_changes(const std::vector<EntrySpan>& spans, int count) {
  std::mt19937 random(20230502);
  std::vector<size_t> data_bytes;
  for (const EntrySpan& s : spans)
    for (size_t p = s.data; p < s.end; p++) data_bytes.push_back(p);
  std::vector<std::pair<size_t, char>> changes;
  for (int i = 0; i < count; i++) {
    size_t p = data_bytes[random() % data_bytes.size()];
    changes.push_back({p, char(1 + random() % 255)});
  }
  return changes;
}

// Changes of up to eight bytes of one compressed entry with its stored CRC
// and record CRC repaired, so that the decoder runs on them.
std::vector<std::string> repaired_stream_changes(const std::string& good, const std::vector<EntrySpan>& spans,
                                                 int count) {
  std::mt19937 random(1683062507);
  std::vector<const EntrySpan*> compressed;
  for (const EntrySpan& s : spans)
    if (s.type == ENTRY_COMPRESSED) compressed.push_back(&s);
  uint8_t* table = crc16_table();
  std::vector<std::string> changed;
  for (int i = 0; i < count; i++) {
    std::string bytes = good;
    const EntrySpan& s = *compressed[random() % compressed.size()];
    for (int n = 1 + int(random() % 8); n > 0; n--) {
      size_t q = s.data + random() % (s.end - s.data);
      bytes[q] = char(bytes[q] ^ (1 + random() % 255));
    }
    auto* b = reinterpret_cast<uint8_t*>(bytes.data());
    put_u16(b + s.record + RECORD_STORED_CRC, crc16(table, b + s.data, uint32_t(s.end - s.data)));
    put_u16(b + s.record + RECORD_CRC, 0);
    put_u16(b + s.record + RECORD_CRC, crc16(table, b + s.record, uint32_t(s.data - s.record)));
    changed.push_back(bytes);
  }
  free(table);
  return changed;
}

// Random changes of one byte in the stored data: the stored CRC catches
// each. Changes in compressed data behind a repaired stored CRC: the file CRC
// or the decoder catches each, unless the stream still decodes to the same
// bytes (as when only bits that the decoder never reads changed).
TEST_F(DamagedAttachment, RandomChangesOfTheStoredData) {
  std::string bytes = *good_;
  for (const auto& [p, x] : random_data_changes(*spans_, 3000)) {
    bytes[p] = char(bytes[p] ^ x);
    ReadOutcome o = read_in_process(bytes);
    ASSERT_EQ(o.good, entry_at(p)) << p;
    ASSERT_EQ(o.fault, ENTRY_FAULT_STORED_CRC) << p;
    bytes[p] = (*good_)[p];
  }
  size_t decoded_alike = 0;
  for (const std::string& changed : repaired_stream_changes(*good_, *spans_, 2000)) {
    std::vector<std::string> data;
    ReadOutcome o = read_in_process(changed, &data);
    if (o.fault == FAILURE_NONE) {
      // Every byte as it was: a CRC-16 collision would show here.
      for (size_t k = 0; k < entries_->size(); k++) ASSERT_EQ(data[k], (*entries_)[k].data) << k;
      decoded_alike++;
      continue;
    }
    ASSERT_LT(o.good, spans_->size());
    ASSERT_EQ((*spans_)[o.good].type, ENTRY_COMPRESSED);
    ASSERT_TRUE(o.fault == ENTRY_FAULT_FILE_CRC || o.fault == ENTRY_FAULT_DECODE) << o.fault;
  }
  RecordProperty("decoded_alike", int(decoded_alike));
}

TEST_F(DamagedAttachment, RandomChangesOfTheStoredDataInstall) {
  std::string bytes = *good_;
  for (const auto& [p, x] : random_data_changes(*spans_, 100)) {
    bytes[p] = char(bytes[p] ^ x);
    expect_install(bytes, "Corrupted file(s) (err=4).", entry_at(p), "offset " + std::to_string(p));
    bytes[p] = (*good_)[p];
  }
  for (const std::string& changed : repaired_stream_changes(*good_, *spans_, 100)) {
    ReadOutcome o = read_in_process(changed);
    expect_install(changed, message_of(o), o.good, "a repaired change");
  }
}

// The installer cut short at every byte: the entry in hand fails with the
// message for where the cut lies; all entries before it pass.
TEST_F(DamagedAttachment, CutShortAtEveryByte) {
  for (size_t cut = 0; cut < good_->size(); cut++) {
    ReadOutcome o = read_in_process(good_->substr(0, cut));
    SCOPED_TRACE("cut at " + std::to_string(cut));
    if (cut < header_ + HEADER_SIZE) {
      ASSERT_EQ(o.locate, LOCATE_NOT_FOUND);
      continue;
    }
    const size_t k = entry_at(cut);
    const EntrySpan& s = (*spans_)[k];
    ASSERT_EQ(o.good, k);
    ASSERT_EQ(o.fault, cut < s.record + 4 ? ENTRY_FAULT_RECORD_LENGTH
                       : cut < s.data     ? ENTRY_FAULT_RECORD_SHORT
                                          : ENTRY_FAULT_STORED_SHORT);
  }
}

// Installed in a child when cut at every record boundary, one byte either
// side of each, and at 300 random points.
TEST_F(DamagedAttachment, CutShortInstalls) {
  std::vector<size_t> cuts;
  for (const EntrySpan& s : *spans_)
    for (size_t b : {s.record, s.record + 4, s.data, s.end})
      for (size_t c : {b - 1, b, b + 1})
        if (c < good_->size()) cuts.push_back(c);
  std::mt19937 random(1683062507);
  for (int i = 0; i < 300; i++) cuts.push_back(header_ + random() % (good_->size() - header_));
  RecordProperty("cuts", int(cuts.size()));
  for (size_t cut : cuts) {
    const std::string bytes = good_->substr(0, cut);
    ReadOutcome o = read_in_process(bytes);
    expect_install(bytes, message_of(o), o.locate == LOCATE_OK ? o.good : 0, "cut at " + std::to_string(cut));
    if (HasFailure()) break;
  }
}

}  // namespace
