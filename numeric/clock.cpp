#include "numeric/clock.hpp"

#include <sys/resource.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

namespace numeric {
namespace {

// The instant of SOURCE_DATE_EPOCH when it holds a whole number of seconds.
bool fixed_epoch(std::int64_t& t) {
  const char* s = std::getenv("SOURCE_DATE_EPOCH");
  if (s == nullptr || *s == '\0') return false;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(s, &end, 10);
  if (errno != 0 || *end != '\0' || end == s) return false;
  t = v;
  return true;
}

}  // namespace

std::int64_t time() {
  std::int64_t t = 0;
  if (fixed_epoch(t)) return t;
  return static_cast<std::int64_t>(std::time(nullptr));
}

DateTime local_date_time(std::int64_t t) {
  std::time_t tt = static_cast<std::time_t>(t);
  std::tm tm{};
  localtime_r(&tt, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

DateTime date_and_time() {
  return local_date_time(time());
}

float etime(std::array<float, 2>& tarray) {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& tv) {
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1.0e6;
  };
  tarray[0] = static_cast<float>(seconds(usage.ru_utime));
  tarray[1] = static_cast<float>(seconds(usage.ru_stime));
  return tarray[0] + tarray[1];
}

float second() {
  std::array<float, 2> scratch{};
  return etime(scratch);
}

}  // namespace numeric
