// The two random sources of the sampling: a 22-bit linear congruential
// generator behind approximately normal deviates, and a 15-bit integer
// generator behind uniform numbers in [0, 1]. Each is an object owned by its
// user, so independent streams never share state.
#pragma once

#include <cstdint>

namespace numeric {

// x' = (3146757 x + 1731) mod 2^22, with every product kept in 32-bit integers
// by splitting the state and the multiplier into 11-bit halves.
class Rand22 {
 public:
  // r = 0: advance, then return the new value; r < 0: the current value;
  // r > 0: seed from the fraction of r, return that value. Values are x / 2^22.
  float rand(float r);
  std::int32_t state() const { return ix1_ * 2048 + ix0_; }

 private:
  static constexpr std::int32_t ia1 = 1536;  // high 11 bits of the multiplier
  static constexpr std::int32_t ia0 = 1029;  // low 11 bits of the multiplier
  static constexpr std::int32_t ia1ma0 = ia1 - ia0;
  static constexpr std::int32_t ic = 1731;  // increment
  std::int32_t ix1_ = 0;
  std::int32_t ix0_ = 0;
};

// Approximately normal deviate with mean xmean and standard deviation sd: the
// sum of twelve uniform values minus 6, in single precision.
float rgauss(Rand22& source, float xmean, float sd);

// Integer generator 0 .. 32767: state' = state * 214013 + 2531011 (mod 2^32),
// returning bits 16 to 30 of the new state. Initial state 1.
class Rand15 {
 public:
  void seed(std::uint32_t s) { state_ = s; }
  int next() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<int>((state_ >> 16) & 32767u);
  }

 private:
  std::uint32_t state_ = 1;
};

// Uniform number in [0, 1] in steps of 1/32767. flag 0: the next number;
// flag 1: restart with seed 0 first; any other flag: restart with that seed.
float rand01(Rand15& source, int flag);

}  // namespace numeric
