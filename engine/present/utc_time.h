// The calendar date and clock time in UTC of a 32-bit time, as the header
// and records hold them. Its own arithmetic rather than gmtime: the C
// library's time zone code would grow the installer by several kilobytes
// for a conversion that never needs a zone.
#pragma once

#include <cstdint>

struct UtcTime {
  int year;   // 1901..2038
  int month;  // 1..12
  int day;    // 1..31
  int hour, minute, second;
};

UtcTime utc_time(int32_t seconds);
