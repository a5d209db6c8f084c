// Clock and date services. When SOURCE_DATE_EPOCH holds a whole number of
// seconds, the calendar clock reads that instant instead of the system clock,
// which makes a whole run reproducible; local time follows TZ.
#pragma once

#include <array>
#include <cstdint>

namespace numeric {

struct DateTime {
  int year;
  int month;   // 1 .. 12
  int day;     // 1 .. 31
  int hour;    // 0 .. 23
  int minute;  // 0 .. 59
  int second;  // 0 .. 59 (60 on a leap second)
};

// Whole seconds since 1970-01-01 00:00:00 UTC.
std::int64_t time();
// The local date and time of the calendar clock's instant.
DateTime date_and_time();
// The local date and time of a given instant.
DateTime local_date_time(std::int64_t t);
// Processor time of the process: tarray = {user, system} seconds; returns the sum.
float etime(std::array<float, 2>& tarray);
// User plus system processor time of the process, in seconds.
float second();

}  // namespace numeric
