#include "engine/present/utc_time.h"

UtcTime utc_time(int32_t seconds) {
  int64_t s = seconds;
  int64_t days = s >= 0 ? s / 86400 : -((-s + 86399) / 86400);
  int64_t in_day = s - days * 86400;
  UtcTime t;
  t.hour = int(in_day / 3600);
  t.minute = int(in_day / 60 % 60);
  t.second = int(in_day % 60);
  // Days since 1970-01-01 to a date in the proleptic Gregorian calendar,
  // counted in 400-year eras that begin on 1 March, so that the leap day
  // falls at an era-year's end.
  int64_t z = days + 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t day_of_era = z - era * 146097;
  int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  int64_t month_from_march = (5 * day_of_year + 2) / 153;
  t.day = int(day_of_year - (153 * month_from_march + 2) / 5 + 1);
  t.month = int(month_from_march < 10 ? month_from_march + 3 : month_from_march - 9);
  t.year = int(year_of_era + era * 400 + (t.month <= 2));
  return t;
}
