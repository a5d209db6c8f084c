// Numbers in their shortest decimal that reads back to the same value: a
// double by correct rounding, a single-precision value the way the deck and
// design readers take it (the decimal to double, then to single precision).
#pragma once

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace textio {

inline std::string shortest(double v) {
  char buf[32];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return ec == std::errc() ? std::string(buf, end) : std::string("nan");
}

inline std::string shortest(float v) {
  char buf[32];
  for (int digits = 1; digits <= 9; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*g", digits, static_cast<double>(v));
    if (static_cast<float>(std::strtod(buf, nullptr)) == v) break;
  }
  return buf;
}

// A single-precision value as the double of its shortest decimal: the number
// as it was written, for those who see it in double precision.
inline double shortest_double(float v) {
  return std::strtod(shortest(v).c_str(), nullptr);
}

}  // namespace textio
