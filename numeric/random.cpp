#include "numeric/random.hpp"

#include <cmath>

namespace numeric {

float Rand22::rand(float r) {
  if (r > 0.0f) {
    double f = std::fmod(static_cast<double>(r), 1.0);
    auto x = static_cast<std::int32_t>(f * 4194304.0 + 0.5);
    ix0_ = x % 2048;
    ix1_ = (x - ix0_) / 2048;
  } else if (r == 0.0f) {
    std::int32_t iy0 = ia0 * ix0_;
    std::int32_t iy1 = ia1 * ix1_ + ia1ma0 * (ix0_ - ix1_) + iy0;
    iy0 += ic;
    ix0_ = iy0 % 2048;
    iy1 += (iy0 - ix0_) / 2048;
    ix1_ = iy1 % 2048;
  }
  return static_cast<float>(ix1_ * 2048 + ix0_) / 4194304.0f;
}

float rgauss(Rand22& source, float xmean, float sd) {
  float s = -6.0f;
  for (int i = 0; i < 12; ++i)
    s += source.rand(0.0f);
  return xmean + sd * s;
}

float rand01(Rand15& source, int flag) {
  if (flag != 0) source.seed(flag == 1 ? 0u : static_cast<std::uint32_t>(flag));
  return static_cast<float>(source.next() / 32767.0);
}

}  // namespace numeric
