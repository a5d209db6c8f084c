#include "numeric/dfzero.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using numeric::dfzero;

struct Result {
  double b;
  double c;
  int iflag;
  int calls;
};

template <class F>
Result solve(F f, double b, double c, double r, double re = 1e-6, double ae = 1e-7) {
  int calls = 0;
  int iflag = 0;
  auto counted = [&](double& x) {
    ++calls;
    return f(x);
  };
  dfzero(counted, b, c, r, re, ae, iflag);
  return {b, c, iflag, calls};
}

TEST(DfzeroTest, MachineConstants) {
  EXPECT_EQ(numeric::d1mach(1), 2.2250738585072014e-308);
  EXPECT_EQ(numeric::d1mach(2), 1.7976931348623157e+308);
  EXPECT_EQ(numeric::d1mach(3), 1.1102230246251565e-16);
  EXPECT_EQ(numeric::d1mach(4), 2.220446049250313e-16);
  EXPECT_EQ(numeric::d1mach(5), 0.3010299956639812);
}

TEST(DfzeroTest, SecantStepLandsExactlyOnZero) {
  // From b = -8, c = 8 and the guess 0 the first secant step is exactly 1.
  Result r = solve([](double x) { return x - 1; }, -8, 8, 0);
  EXPECT_EQ(r.iflag, numeric::kExactZero);
  EXPECT_EQ(r.b, 1.0);
}

TEST(DfzeroTest, ConvergesOnSmoothFunction) {
  Result r = solve([](double x) { return std::exp(x) - 2; }, -8, 8, 0);
  EXPECT_EQ(r.iflag, numeric::kConverged);
  EXPECT_NEAR(r.b, std::log(2.0), 1e-6 * std::log(2.0) + 1e-7);
  EXPECT_LT(r.calls, 40);
  // The final bracket holds the root.
  EXPECT_LE(std::min(r.b, r.c), std::log(2.0) + 1e-7);
  EXPECT_GE(std::max(r.b, r.c), std::log(2.0) - 1e-7);
}

TEST(DfzeroTest, ExactZeroAtTheGuess) {
  Result r = solve([](double x) { return std::tanh(x - 0.5); }, -8, 8, 0.5);
  EXPECT_EQ(r.iflag, numeric::kExactZero);
  EXPECT_EQ(r.b, 0.5);
  // A narrow enough bracket wins over an exact zero.
  Result narrow = solve([](double x) { return x - 0.5; }, 0.5 - 1e-9, 0.5 + 1e-9, 0.5);
  EXPECT_EQ(narrow.iflag, numeric::kConverged);
}

TEST(DfzeroTest, NoSignChange) {
  Result r = solve([](double x) { return x * x + 1; }, -8, 8, 0.3);
  EXPECT_EQ(r.iflag, numeric::kNoChange);
  EXPECT_NEAR(r.b, 0.0, 1e-3);
  // Constant negative: the cutoff equation of an unreachable retention rate.
  EXPECT_EQ(solve([](double) { return -0.5; }, -8, 8, 0).iflag, numeric::kNoChange);
}

TEST(DfzeroTest, JumpAcrossZero) {
  // A jump whose magnitude at the final point exceeds both starting magnitudes.
  auto pole = [](double x) { return x < 0.3 ? -1.0 / (0.3 - x) : 1.0 / (x - 0.3 + 1e-300); };
  EXPECT_EQ(solve(pole, -8, 8, 0).iflag, numeric::kGrown);
  // A plain step from -1 to 1: the magnitude never grows.
  auto step = [](double x) { return x < 0.3 ? -1.0 : 1.0; };
  Result r = solve(step, -8, 8, 0);
  EXPECT_EQ(r.iflag, numeric::kConverged);
  EXPECT_NEAR(r.b, 0.3, 1e-6);
}

TEST(DfzeroTest, EvaluationLimit) {
  // A jump near 1e-300 in a bracket up to 8e300: some 2000 halvings would be
  // needed, so the 500-evaluation budget runs out first.
  Result r = solve([](double x) { return x < 1e-300 ? -1.0 : 1.0; }, 0, 8e300, 1, 0, 0);
  EXPECT_EQ(r.iflag, numeric::kTooMany);
  EXPECT_EQ(r.calls, 500);
}

TEST(DfzeroTest, ToleranceFloorsAndGuessRules) {
  // A relative tolerance below 2^-51 is raised to it; a negative AE counts as 0.
  Result r = solve([](double x) { return x - 3; }, 0, 10, 20, 0, -1);
  EXPECT_TRUE(r.iflag == numeric::kConverged || r.iflag == numeric::kExactZero);
  EXPECT_NEAR(r.b, 3, 3 * 0x1p-50);
  // A guess equal to an end is ignored: the first points are b and c.
  std::vector<double> seen;
  auto record = [&](double& x) {
    seen.push_back(x);
    return x - 1;
  };
  double b = -8;
  double c = 8;
  int iflag = 0;
  dfzero(record, b, c, 8, 1e-6, 1e-7, iflag);
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen[0], 8.0);
  EXPECT_EQ(seen[1], -8.0);
}

}  // namespace
