// A deterministic exponential function: range reduction by ln 2, a polynomial
// on the reduced range and scaling by exponent bits, in plain multiplies and
// adds. Compiled without fused multiply-add it gives the same bits on every
// x86-64 machine, in scalar code and in vector lanes of any width.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

namespace mvn {

namespace vexp_detail {
inline constexpr double kInvLn2 = 1.4426950408889634;  // 1 / ln 2
// 1.5 * 2^52: adding it rounds to an integer, which then stands in the low bits.
inline constexpr double kShift = 6755399441055744.0;
// ln 2 split so that n * kLn2Hi is exact for |n| < 2^20 (its low 32 bits are 0).
inline constexpr double kLn2Hi = 6.93147180369123816490e-01;
inline constexpr double kLn2Lo = 1.90821492927058770002e-10;
// Below this exp underflows to 0 and above it overflows: arguments are held
// within so that the scaling stays in range.
inline constexpr double kLow = -746.0;
inline constexpr double kHigh = 710.0;
// Taylor coefficients 1/k!, k = 0 to 13: on |r| <= ln2 / 2 the truncation
// error is below 4e-18 relative.
inline constexpr std::array<double, 14> kCoef = {
    1.0,
    1.0,
    0.5,
    0.16666666666666666,
    0.041666666666666664,
    0.008333333333333333,
    0.001388888888888889,
    0.0001984126984126984,
    2.48015873015873e-05,
    2.7557319223985893e-06,
    2.755731922398589e-07,
    2.505210838544172e-08,
    2.08767569878681e-09,
    1.6059043836821613e-10,
};
inline constexpr std::uint64_t kOneBits = 0x3ff0000000000000ULL;  // the bits of 1.0

// 2^n for the integer n held in the low bits of s = kShift + n, |n| <= 1022.
[[gnu::always_inline]] inline double scale(double s) {
  return std::bit_cast<double>((std::bit_cast<std::uint64_t>(s) << 52) + kOneBits);
}
}  // namespace vexp_detail

// exp(x) within 1 ulp for normal results; 0 below about -745.1, infinity above
// about 709.8, NaN for NaN.
[[gnu::always_inline]] inline double exp1(double x) {
  using namespace vexp_detail;
  x = x < kLow ? kLow : x;
  x = x > kHigh ? kHigh : x;
  const double kd = x * kInvLn2 + kShift;
  const double n = kd - kShift;
  const double r = (x - n * kLn2Hi) - n * kLn2Lo;
  // 1 + r + r^2 q(r), with q by Estrin's scheme (short chains of dependent
  // operations) and the two leading terms added last, smallest first.
  const double r2 = r * r;
  const double r4 = r2 * r2;
  const double r8 = r4 * r4;
  const auto& c = kCoef;
  const double q0 = c[2] + c[3] * r, q1 = c[4] + c[5] * r, q2 = c[6] + c[7] * r;
  const double q3 = c[8] + c[9] * r, q4 = c[10] + c[11] * r, q5 = c[12] + c[13] * r;
  const double e0 = q0 + q1 * r2, e1 = q2 + q3 * r2, e2 = q4 + q5 * r2;
  const double q = (e0 + e1 * r4) + e2 * r8;
  const double p = 1.0 + (r + r2 * q);
  // 2^n as 2^n1 * 2^n2 with both halves in the normal range, so that results
  // in the subnormal range round once, at the last multiply.
  const double s1 = n * 0.5 + kShift;
  const double n2 = n - (s1 - kShift);
  return p * scale(s1) * scale(n2 + kShift);
}

}  // namespace mvn
