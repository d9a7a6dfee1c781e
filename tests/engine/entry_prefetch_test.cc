// Reading ahead on a second thread must hand the consumer exactly what
// reading one entry after another gives: the same records in order, the same
// bytes, the same slices for the display, the same fault at the same entry.
// Both are run over one attachment and their logs compared.
#include "engine/read/entry_prefetch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/attachment_reader.h"
#include "archive/crc16.h"
#include "codec/decoder.h"
#include "engine/read/entry_zstd.h"
#include "tests/reliability/reliability_support.h"

namespace {

const std::string kRun("\x00\x02\x20\x04\x30\x10\xB6\x55\x40\x10", 10);  // decodes to As and Bs without end

// The first `size` bytes kRun decodes to.
std::string run_bytes(uint32_t size) {
  std::string out(size, 0), in = kRun;
  CodecContext* c = nullptr;
  EXPECT_EQ(codec_create(&c), 0);
  ByteRange input{reinterpret_cast<uint8_t*>(in.data()), reinterpret_cast<uint8_t*>(in.data()) + in.size(), 0,
                  nullptr, 0};
  for (uint32_t done = 0; done < size; done += CODEC_WINDOW) {
    uint8_t* at = reinterpret_cast<uint8_t*>(out.data()) + done;
    ByteRange output{at, at + std::min(CODEC_WINDOW, size - done), 0, at, 0};
    codec_decode(c, &input, &output);
  }
  codec_release(&c);
  return out;
}

struct Log {
  std::string text;
  static void slice(void* log, const Entry& e, uint32_t decoded) {
    static_cast<Log*>(log)->text += std::string(" ") + e.name + "@" + std::to_string(decoded);
  }
  static int write(void* log, const uint8_t* data, uint32_t size) {
    static_cast<Log*>(log)->text.append(reinterpret_cast<const char*>(data), size);
    return 0;
  }
  void entry(const Entry& e, int fault) { text += "\n[" + std::string(e.name) + " " + std::to_string(fault) + "]"; }
};

// Reads every entry of `installer`, ahead on a thread or one after another.
std::string read_all(const std::string& installer, bool ahead) {
  FILE* f = fmemopen(const_cast<char*>(installer.data()), installer.size(), "rb");
  AttachmentHeader header;
  EXPECT_EQ(find_attachment(f, &header), LOCATE_OK);
  EntryStream stream;
  entry_stream_init(&stream, f);
  uint8_t* table = crc16_table();
  Log log;
  const EntryProgress progress{Log::slice, &log};
  EntryStreamer streamer;
  EXPECT_EQ(entry_streamer_open(&streamer, &stream), FAILURE_NONE);
  EntryPrefetch* prefetch = new EntryPrefetch{};
  if (ahead) {
    EXPECT_EQ(entry_prefetch_start(prefetch, &stream, table, header_entry_count(header)), FAILURE_NONE);
  }
  for (uint32_t i = 0; i < header_entry_count(header); i++) {
    Entry own;
    PrefetchedEntry* next = ahead ? entry_prefetch_next(prefetch) : nullptr;
    Entry& e = ahead ? next->entry : own;
    int fault = ahead ? next->record_fault : read_entry_record(&stream, table, &e);
    if (fault == FAILURE_NONE && ahead && next->held) {
      entry_prefetch_replay(*next, &progress);
      fault = next->data_fault;
      if (fault == FAILURE_NONE) Log::write(&log, e.data, e.file_size);
    } else if (fault == FAILURE_NONE) {
      // What a fault leaves passed on differs between the two: not compared.
      Log part;
      const EntrySink part_sink{Log::write, &part};
      fault = stream_entry_data(&stream, table, &streamer, &e, &part_sink, &progress);
      if (fault == FAILURE_NONE) log.text += part.text;
    }
    log.entry(e, fault);
    if (ahead) entry_prefetch_done(prefetch);
    if (fault != FAILURE_NONE) break;
  }
  entry_prefetch_stop(prefetch);
  delete prefetch;
  entry_streamer_close(&streamer);
  free(table);
  entry_stream_release(&stream);
  fclose(f);
  return log.text;
}

TEST(EntryPrefetch, GivesWhatReadingInTurnGives) {
  // Small entries enough to fill the ring twice over, files too large to be
  // held (stored and compressed) among them, and a damaged one at the end.
  std::vector<TestEntry> entries = sample_entries();
  for (int i = 0; i < 20; i++) entries.push_back({"small/" + std::to_string(i), ENTRY_STORED, std::string(i, 's'), ""});
  entries.push_back({"large/stored", ENTRY_STORED, std::string(PREFETCH_LARGEST + 1, 'L'), ""});
  entries.push_back({"large/compressed", ENTRY_COMPRESSED, run_bytes(PREFETCH_LARGEST + 3 * CODEC_WINDOW), kRun});
  entries.push_back({"medium/compressed", ENTRY_COMPRESSED, run_bytes(5 * CODEC_WINDOW + 1), kRun});
  for (const TestEntry& e : sample_entries()) entries.push_back(e);
  TestEntry damaged{"x/damaged", ENTRY_COMPRESSED, run_bytes(4 * CODEC_WINDOW), kRun};
  damaged.data[3 * CODEC_WINDOW] ^= 1;
  const std::string whole = stub_installer(entries);
  entries.push_back(damaged);
  entries.push_back(entries.front());
  const std::string broken = stub_installer(entries);
  for (const std::string* installer : {&whole, &broken}) {
    std::string in_turn = read_all(*installer, false);
    EXPECT_NE(in_turn.find("[large/compressed 0]"), std::string::npos);
    EXPECT_NE(in_turn.find(" large/compressed@1048576"), std::string::npos);
    for (int run = 0; run < 20; run++) ASSERT_EQ(read_all(*installer, true), in_turn) << "run " << run;
  }
  EXPECT_NE(read_all(broken, false).find("x/damaged@24576\n[x/damaged 5]"), std::string::npos);
}

// A continued Zstandard entry goes on from the frame its predecessor left
// open, so it can be decoded once only: where no slot can grow to hold it, it
// fails for want of memory instead of being left in the stream.
TEST(EntryPrefetch, ContinuedZstandardEntryIsNeverLeftInTheStream) {
  if (!ENTRY_ZSTD_SUPPORTED) GTEST_SKIP() << "built without Zstandard";
  std::string data(200, 0);
  for (size_t i = 0; i < data.size(); i++) data[i] = char('a' + i % 26);
  // One frame of one raw block: 200 bytes, declared, in a single segment.
  const std::string frame = std::string("\x28\xB5\x2F\xFD\x20\xC8\x41\x06\x00", 9) + data;
  const std::string installer = stub_installer({{"first", ENTRY_ZSTD_FRAME, data.substr(0, 50), frame},
                                                {"second", ENTRY_ZSTD_CONTINUED, data.substr(50), ""}});
  ASSERT_NE(read_all(installer, false).find("[second 0]"), std::string::npos);

  FILE* f = fmemopen(const_cast<char*>(installer.data()), installer.size(), "rb");
  AttachmentHeader header;
  ASSERT_EQ(find_attachment(f, &header), LOCATE_OK);
  EntryStream stream;
  entry_stream_init(&stream, f);
  uint8_t* table = crc16_table();
  entry_prefetch_realloc = [](void*, size_t) -> void* { return nullptr; };
  EntryPrefetch* prefetch = new EntryPrefetch{};
  ASSERT_EQ(entry_prefetch_start(prefetch, &stream, table, 2), FAILURE_NONE);
  PrefetchedEntry* first = entry_prefetch_next(prefetch);
  EXPECT_FALSE(first->held);
  EntryStreamer streamer;
  EXPECT_EQ(entry_streamer_open(&streamer, &stream), FAILURE_NONE);
  EXPECT_EQ(stream_entry_data(&stream, table, &streamer, &first->entry, nullptr, nullptr), FAILURE_NONE);
  entry_prefetch_done(prefetch);
  PrefetchedEntry* second = entry_prefetch_next(prefetch);
  EXPECT_TRUE(second->held);
  EXPECT_EQ(second->data_fault, FAILURE_NO_MEMORY);
  entry_prefetch_done(prefetch);
  entry_prefetch_stop(prefetch);
  entry_prefetch_realloc = realloc;
  delete prefetch;
  entry_streamer_close(&streamer);
  entry_stream_release(&stream);
  free(table);
  fclose(f);
}

}  // namespace
