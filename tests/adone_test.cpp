#include "mvn/adone.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using mvn::adone;

// Integrand that counts its evaluations and remembers where they were made.
struct Counted {
  double (*f)(double);
  std::vector<double>* at;
  double operator()(double t) const {
    at->push_back(t);
    return f(t);
  }
};

TEST(AdoneTest, RuleTablesIntegratePolynomialsExactly) {
  // Kronrod exact to degree 35, Gauss to degree 21, on [-1, 1], to the
  // rounding of the tabulated 16-digit weights.
  for (int degree : {0, 2, 20, 34}) {
    double k = mvn::wgk[0] * (degree == 0 ? 1 : 0);
    for (int j = 1; j <= 11; ++j)
      k += 2 * mvn::wgk[j] * std::pow(mvn::xgk[j], degree);
    EXPECT_NEAR(k, 2.0 / (degree + 1), 1e-14) << degree;
  }
  for (int degree : {0, 2, 20}) {
    double g = mvn::wg[0] * (degree == 0 ? 1 : 0);
    for (int m = 1; m <= 5; ++m)
      g += 2 * mvn::wg[m] * std::pow(mvn::xgk[2 * m], degree);
    EXPECT_NEAR(g, 2.0 / (degree + 1), 1e-14) << degree;
  }
}

TEST(AdoneTest, SmoothIntegrandStopsAfterFirstBisection) {
  std::vector<double> at;
  const double v = adone(Counted{[](double t) { return std::pow(t, 20); }, &at}, -1, 1, 1e-7);
  EXPECT_NEAR(v, 2.0 / 21, 2e-15);
  EXPECT_EQ(at.size(), 69u);
  at.clear();
  EXPECT_NEAR(adone(Counted{[](double) { return 1.0; }, &at}, -7.5, 0, 1e-7), 7.5, 1e-14);
  EXPECT_EQ(at.size(), 69u);
}

TEST(AdoneTest, EmptyAndReversedIntervals) {
  std::vector<double> at;
  EXPECT_EQ(adone(Counted{[](double t) { return std::exp(t); }, &at}, 0.3, 0.3, 1e-7), 0.0);
  EXPECT_EQ(at.size(), 69u);
  // The oriented integral.
  const double fwd = adone([](double t) { return std::exp(-t * t / 2); }, -7.5, -2, 1e-10);
  const double back = adone([](double t) { return std::exp(-t * t / 2); }, -2, -7.5, 1e-10);
  EXPECT_EQ(back, -fwd);
  EXPECT_NEAR(fwd, 2.506628274631 * 0.022750131948179, 1e-9);
}

TEST(AdoneTest, StopsAtOneHundredSubintervals) {
  std::vector<double> at;
  // Absolute tolerance: a huge integral cannot meet 1e-7.
  const double v = adone(Counted{[](double t) { return std::pow(t, 21); }, &at}, -7.5, 0, 1e-7);
  EXPECT_EQ(at.size(), 4577u);
  EXPECT_NEAR(v, -std::pow(7.5, 22) / 22, 1e-6 * std::pow(7.5, 22) / 22);
  at.clear();
  adone(Counted{[](double t) { return std::sin(t); }, &at}, 0, 1, -1);
  EXPECT_EQ(at.size(), 4577u);
}

TEST(AdoneTest, EqualErrorsBisectTheLowerIndex) {
  // sqrt|t| on [-1, 1]: both halves of the first bisection carry bit-identical
  // error estimates; the lower one, [-1, 0], is split next, first at its left
  // half whose centre is -0.75.
  std::vector<double> at;
  adone(Counted{[](double t) { return std::sqrt(std::fabs(t)); }, &at}, -1, 1, -1);
  ASSERT_GT(at.size(), 69u);
  EXPECT_EQ(at[69], -0.75);
  EXPECT_EQ(at[92], -0.25);
}

}  // namespace
