// Record blocks travel as columns: any run of whole records comes back byte
// for byte, and column bytes that do not describe whole records are refused
// with the fault the reader reports, never read past.
#include "archive/record_columns.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/format.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A record as a writer lays it out: fixed part, name, NUL and seven zeros;
// `seed` varies every fixed field.
Bytes record(const std::string& name, uint32_t seed, uint32_t padding = RECORD_NAME_PADDING) {
  Bytes r(RECORD_NAME + name.size() + padding);
  put_u32(r.data(), uint32_t(r.size()));
  for (uint32_t i = RECORD_CRC; i < RECORD_NAME; i++) r[i] = uint8_t(seed * 31 + i * 7);
  memcpy(r.data() + RECORD_NAME, name.data(), name.size());
  return r;
}

Bytes joined(const std::vector<Bytes>& records) {
  Bytes all;
  for (const Bytes& r : records) all.insert(all.end(), r.begin(), r.end());
  return all;
}

Bytes columns_of(const Bytes& records) {
  Bytes c(record_columns_bound(uint32_t(records.size())));
  c.resize(records_to_columns(records.data(), uint32_t(records.size()), c.data()));
  return c;
}

// The result of reading `c` back, the records in `*out`.
int records_of(const Bytes& c, Bytes* out) {
  uint8_t* records;
  uint32_t length;
  int result = columns_to_records(c.data(), uint32_t(c.size()), RECORD_BLOCK_MAX, &records, &length);
  if (result == COLUMNS_OK) out->assign(records, records + length);
  free(records);
  return result;
}

TEST(RecordColumns, RecordsComeBackByteForByte) {
  const std::string longest(RECORD_MAX_NAME, 'n');
  std::vector<std::vector<Bytes>> cases = {
      {record("a", 1)},
      {record("include/x/a.h", 1), record("include/x/b.h", 2), record("include/y.h", 3), record("z", 4)},
      // A name the next one extends, one that repeats, a longer tail; names
      // sharing more than a count holds.
      {record("dir", 5), record("dir/file", 6), record("dir/file", 7), record("odd", 8, 20)},
      {record(longest, 9), record(longest, 10), record(std::string(300, 'n') + "x", 11)},
  };
  cases.push_back({record("tail", 12)});
  cases.back()[0].back() = 0x5A;  // what lies behind the NUL is kept as it is
  for (const auto& c : cases) {
    Bytes records = joined(c), back;
    ASSERT_EQ(records_of(columns_of(records), &back), COLUMNS_OK);
    EXPECT_EQ(back, records);
  }
}

TEST(RecordColumns, MalformedColumnsAreRefused) {
  const Bytes good = columns_of(joined({record("dir/a", 1), record("dir/b", 2)}));
  const uint32_t n = 2, shared_at = 4 + 4 * n + (RECORD_NAME - RECORD_CRC) * n;
  auto with = [&](size_t at, uint8_t value) {
    Bytes c = good;
    c[at] = value;
    return c;
  };
  auto count = [&](uint32_t value) {
    Bytes c = good;
    put_u32(c.data(), value);
    return c;
  };
  Bytes longer = good;
  longer.push_back(0);
  struct Case {
    const char* what;
    Bytes columns;
    int result;
  };
  const std::vector<Case> cases = {
      {"empty", {}, COLUMNS_SHORT},
      {"no records", count(0), COLUMNS_BAD_LENGTH},
      {"more records than a block holds", count(RECORD_BLOCK_MAX / RECORD_MIN_LENGTH + 1), COLUMNS_BAD_LENGTH},
      {"more records than the columns hold", count(3), COLUMNS_SHORT},
      {"a record too short", with(4, RECORD_MIN_LENGTH - 1), COLUMNS_BAD_LENGTH},
      {"a record longer than its name's column", with(4, good[4] + 200), COLUMNS_SHORT},
      {"the first name sharing bytes", with(shared_at, 1), COLUMNS_BAD_NAME},
      {"a name sharing more than the one before", with(shared_at + 1, 6), COLUMNS_BAD_NAME},
      {"the last byte cut", Bytes(good.begin(), good.end() - 1), COLUMNS_SHORT},
      {"a byte left over", longer, COLUMNS_SHORT},
  };
  for (const Case& c : cases) {
    Bytes back;
    EXPECT_EQ(records_of(c.columns, &back), c.result) << c.what;
  }
  // A name whose NUL lies beyond its record's end.
  Bytes tight = columns_of(record("abcdef", 1));
  put_u32(tight.data() + 4, RECORD_MIN_LENGTH);
  Bytes back;
  EXPECT_EQ(records_of(tight, &back), COLUMNS_BAD_NAME);
}

}  // namespace
