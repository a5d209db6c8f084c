#include "numeric/random.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using numeric::Rand15;
using numeric::Rand22;

TEST(RandomTest, TwentyTwoBitGeneratorStates) {
  Rand22 g;
  EXPECT_EQ(g.rand(-1.0f), 0.0f);  // current value, no advance
  EXPECT_EQ(g.state(), 0);
  const int expected[] = {1731, 2831506, 677277, 3811028, 4069607, 2760518};
  for (int s : expected) {
    const float v = g.rand(0.0f);
    EXPECT_EQ(g.state(), s);
    EXPECT_EQ(v, static_cast<float>(s) / 4194304.0f);
  }
  Rand22 h;
  EXPECT_EQ(h.rand(0.0f), 0.0004127025604248047f);
  EXPECT_EQ(h.rand(0.0f), 0.6750836372375488f);
  // The recurrence in one line: x' = (3146757 x + 1731) mod 2^22.
  Rand22 k;
  long long x = 0;
  for (int i = 0; i < 10000; ++i) {
    k.rand(0.0f);
    x = (3146757LL * x + 1731) % 4194304;
    ASSERT_EQ(k.state(), x);
  }
}

TEST(RandomTest, Seeding) {
  Rand22 g;
  const float v = g.rand(0.5f);  // seed from the fraction
  EXPECT_EQ(g.state(), 2097152);
  EXPECT_EQ(v, 0.5f);
  g.rand(2.25f);
  EXPECT_EQ(g.state(), 1048576);
}

TEST(RandomTest, GaussFromTwelveUniforms) {
  Rand22 g;
  EXPECT_EQ(numeric::rgauss(g, 0.0f, 1.0f), -0.36852169036865234f);
  EXPECT_NEAR(numeric::rgauss(g, 0.0f, 1.0f), 0.669530, 1e-6);
  // Mean and spread scale the deviate; it stays within 6 sd.
  Rand22 a;
  Rand22 b;
  for (int i = 0; i < 1000; ++i) {
    const float z = numeric::rgauss(a, 0.0f, 1.0f);
    const float y = numeric::rgauss(b, 50.0f, 10.0f);
    ASSERT_EQ(y, 50.0f + 10.0f * z);
    ASSERT_LE(std::fabs(z), 6.0f);
  }
}

TEST(RandomTest, UniformGenerator) {
  Rand15 r;
  // From state 1: 1 * 214013 + 2531011 = 2745024, >> 16 = 41.
  EXPECT_EQ(numeric::rand01(r, 0), static_cast<float>(41 / 32767.0));
  // A flag of 1 restarts with seed 0, not 1.
  Rand15 a;
  Rand15 b;
  b.seed(0);
  EXPECT_EQ(numeric::rand01(a, 1), numeric::rand01(b, 0));
  // Any other flag restarts with that seed.
  Rand15 c;
  Rand15 d;
  d.seed(145);
  const float first = numeric::rand01(c, 145);
  EXPECT_EQ(first, numeric::rand01(d, 0));
  EXPECT_EQ(numeric::rand01(c, 145), first);
  // Values cover [0, 1] in steps of 1/32767, both ends included.
  Rand15 e;
  bool zero = false;
  bool one = false;
  for (int i = 0; i < 2000000 && !(zero && one); ++i) {
    const float u = numeric::rand01(e, 0);
    ASSERT_GE(u, 0.0f);
    ASSERT_LE(u, 1.0f);
    zero = zero || u == 0.0f;
    one = one || u == 1.0f;
  }
  EXPECT_TRUE(zero);
  EXPECT_TRUE(one);
}

}  // namespace
