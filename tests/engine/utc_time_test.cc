// The installer's own UTC calendar agrees with the C library's over the
// whole 32-bit range: leap days, century years, times before 1970.
#include "engine/present/utc_time.h"

#include <gtest/gtest.h>
#include <time.h>

#include <cstdint>

namespace {

TEST(UtcTime, AgreesWithGmtime) {
  const int64_t edges[] = {INT32_MIN, INT32_MIN + 1, -86401, -86400, -1, 0, 1, 86399, 951782399, 951782400,
                           951868800, 946684799, 1709164800, 1683062507, INT32_MAX - 1, INT32_MAX};
  auto check = [](int64_t s) {
    if (s < INT32_MIN || s > INT32_MAX) return;
    time_t t = time_t(s);
    struct tm want;
    ASSERT_NE(gmtime_r(&t, &want), nullptr);
    UtcTime got = utc_time(int32_t(s));
    EXPECT_EQ(got.year, want.tm_year + 1900) << s;
    EXPECT_EQ(got.month, want.tm_mon + 1) << s;
    EXPECT_EQ(got.day, want.tm_mday) << s;
    EXPECT_EQ(got.hour * 3600 + got.minute * 60 + got.second, want.tm_hour * 3600 + want.tm_min * 60 + want.tm_sec)
        << s;
  };
  for (int64_t s : edges) check(s);
  // Every day of the range, at a time that moves through the clock.
  for (int64_t s = INT32_MIN; s <= INT32_MAX; s += 86400 + 3607) check(s);
}

}  // namespace
