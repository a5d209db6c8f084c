#include "numeric/ssort.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

using numeric::ssort;

TEST(SsortTest, SmallCases) {
  std::vector<float> x = {3, 1, 2};
  ASSERT_TRUE(ssort(x.data(), x.data(), 3, 1));
  EXPECT_EQ(x, (std::vector<float>{1, 2, 3}));
  x = {3, 1, 2};
  ASSERT_TRUE(ssort(x.data(), x.data(), 3, -1));
  EXPECT_EQ(x, (std::vector<float>{3, 2, 1}));
  std::vector<float> one = {5};
  ASSERT_TRUE(ssort(one.data(), nullptr, 1, 1));
  EXPECT_EQ(one[0], 5.0f);
}

TEST(SsortTest, AllFourControlModesOnRandomData) {
  std::mt19937 gen(7);
  std::uniform_real_distribution<float> dist(-5, 5);
  for (int n : {2, 3, 10, 100, 150, 1000, 100000}) {
    std::vector<float> base(static_cast<std::size_t>(n));
    for (float& v : base)
      v = std::round(dist(gen) * 4) / 4;  // many ties
    std::vector<float> up = base;
    std::sort(up.begin(), up.end());
    std::vector<float> down(up.rbegin(), up.rend());
    for (int kflag : {1, 2, -1, -2}) {
      std::vector<float> x = base;
      std::vector<float> y(base.size());
      for (std::size_t i = 0; i < y.size(); ++i)
        y[i] = base[i] * 10 + 0.5f;  // tied to x
      ASSERT_TRUE(ssort(x.data(), y.data(), n, kflag));
      EXPECT_EQ(x, kflag > 0 ? up : down) << "n=" << n << " kflag=" << kflag;
      if (std::abs(kflag) == 2) {
        for (std::size_t i = 0; i < y.size(); ++i)
          ASSERT_EQ(y[i], x[i] * 10 + 0.5f);
      } else {
        for (std::size_t i = 0; i < y.size(); ++i)
          ASSERT_EQ(y[i], base[i] * 10 + 0.5f);
      }
    }
  }
}

TEST(SsortTest, SortedReversedAndConstantInputs) {
  const int n = 100000;
  std::vector<float> asc(n), desc(n), same(n, 1.5f);
  for (int i = 0; i < n; ++i) {
    asc[static_cast<std::size_t>(i)] = static_cast<float>(i);
    desc[static_cast<std::size_t>(i)] = static_cast<float>(n - i);
  }
  std::vector<float> a = asc;
  ASSERT_TRUE(ssort(a.data(), a.data(), n, 1));
  EXPECT_EQ(a, asc);
  ASSERT_TRUE(ssort(desc.data(), desc.data(), n, 1));
  EXPECT_TRUE(std::is_sorted(desc.begin(), desc.end()));
  ASSERT_TRUE(ssort(same.data(), same.data(), n, 1));
  EXPECT_EQ(same, std::vector<float>(n, 1.5f));
}

TEST(SsortTest, NegativeZeroSurvivesDecreasingSort) {
  std::vector<float> x = {1.0f, -0.0f, -1.0f};
  ASSERT_TRUE(ssort(x.data(), x.data(), 3, -1));
  EXPECT_EQ(x[1], 0.0f);
  EXPECT_TRUE(std::signbit(x[1]));
}

TEST(SsortTest, InvalidArgumentsLeaveArraysUnchanged) {
  std::vector<float> x = {3, 1, 2};
  EXPECT_FALSE(ssort(x.data(), x.data(), 0, 1));
  EXPECT_FALSE(ssort(x.data(), x.data(), 3, 3));
  EXPECT_FALSE(ssort(x.data(), x.data(), 3, 0));
  EXPECT_EQ(x, (std::vector<float>{3, 1, 2}));
}

}  // namespace
