// The deterministic exponential against mpmath (tools/exp_reference.py, 40
// digits rounded to double) over the whole range the kernels use, and its
// limits.
#include "mvn/vexp.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "mvn/batch.hpp"

namespace {

struct ExpCase {
  double x, y;
};
#include "data/exp_reference.inc"

// Distance in units in the last place of the reference (subnormal spacing
// below the normal range).
double ulps(double got, double want) {
  const double ulp = std::nextafter(want, std::numeric_limits<double>::infinity()) - want;
  return std::fabs(got - want) / ulp;
}

TEST(VexpTest, WithinOneUlpOfTheReference) {
  double worst = 0;
  for (const ExpCase& c : kExpCases) {
    const double e = ulps(mvn::exp1(c.x), c.y);
    worst = std::max(worst, e);
    EXPECT_LE(e, 1.0) << "exp(" << c.x << ")";
  }
  std::printf("exp1: worst %.3f ulp over %zu cases\n", worst, std::size(kExpCases));
}

TEST(VexpTest, VectorKernelsGiveTheScalarBits) {
  constexpr std::size_t n = std::size(kExpCases);
  std::vector<double> x(n), y(n);
  for (std::size_t i = 0; i < n; ++i)
    x[i] = kExpCases[i].x;
  for (mvn::Simd simd : {mvn::Simd::sse2, mvn::Simd::avx2, mvn::Simd::avx512}) {
    if (!mvn::simd_supported(simd)) continue;
    // Whole arrays and short calls that end in a partial vector.
    for (const int len : {static_cast<int>(n), 23, 5, 1}) {
      for (std::size_t at = 0; at + static_cast<std::size_t>(len) <= n;
           at += static_cast<std::size_t>(len)) {
        mvn::batch::kernels(simd).exp(x.data() + at, y.data() + at, len);
      }
      for (std::size_t i = 0; i < n / static_cast<std::size_t>(len) * static_cast<std::size_t>(len);
           ++i) {
        const double want = mvn::exp1(x[i]);
        ASSERT_EQ(std::memcmp(&y[i], &want, sizeof want), 0)
            << "exp(" << x[i] << ") in calls of " << len;
      }
    }
  }
}

TEST(VexpTest, LimitsOfTheRange) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(mvn::exp1(0.0), 1.0);
  EXPECT_EQ(mvn::exp1(-746.0), 0.0);
  EXPECT_EQ(mvn::exp1(-inf), 0.0);
  EXPECT_EQ(mvn::exp1(-1e300), 0.0);
  EXPECT_EQ(mvn::exp1(709.8), inf);
  EXPECT_EQ(mvn::exp1(inf), inf);
  EXPECT_TRUE(std::isnan(mvn::exp1(std::numeric_limits<double>::quiet_NaN())));
  EXPECT_EQ(mvn::exp1(-745.1332191019411), 5e-324);                // the least subnormal
  EXPECT_EQ(mvn::exp1(709.782712893384), 1.7976931348622732e308);  // near the largest double
}

}  // namespace
