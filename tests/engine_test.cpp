#include "engine/engine.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "numeric/random.hpp"

namespace {

using selquant::Model;
using selquant::Problem;
using selquant::RandomSources;

TEST(EngineTest, ClockSeed) {
  EXPECT_EQ(selquant::clock_seed(1765432109), 145);
  EXPECT_EQ(selquant::clock_seed(0), 1);
  // The largest seed: 999 + 11 + 1 + 9 * 16.
  int most = 0;
  for (std::int64_t t = 1700000000; t < 1700000000 + 2 * 1000 * 12 * 9 * 17; ++t)
    most = std::max(most, selquant::clock_seed(t));
  EXPECT_EQ(most, 1155);
}

TEST(EngineTest, SeedingAdvancesBothSources) {
  RandomSources rs;
  selquant::seed_sources(rs, 145);
  numeric::Rand22 g;
  for (int i = 0; i < 145 * 12; ++i)
    g.rand(0.0f);
  EXPECT_EQ(rs.gauss.state(), g.state());
  numeric::Rand15 u;
  u.seed(145);  // two restarts from the seed, one number drawn after each:
  u.next();     // the run's stream starts with the second number after seeding
  EXPECT_EQ(numeric::rand01(rs.uniform, 0), static_cast<float>(u.next() / 32767.0));
}

// Two criteria, two predictors, three groups.
Problem problem(int smode) {
  Problem p;
  p.smode = smode;
  p.nsamp = 10;
  for (int g = 1; g <= 3; ++g) {
    for (int c = 1; c <= 2; ++c) {
      p.dc1(g, c) = -0.1f * g;
      p.dc2(g, c) = smode == 0 ? p.dc1(g, c) : 0.2f;
    }
    for (int j = 1; j <= 2; ++j) {
      p.dp1(g, j) = -0.2f * g;
      p.dp2(g, j) = smode == 0 ? p.dp1(g, j) : 0.3f;
    }
  }
  p.prop1(1) = p.prop2(1) = 0.2f;
  p.prop1(2) = p.prop2(2) = 0.3f;
  p.prop1(3) = p.prop2(3) = 0.9f;
  if (smode == 1) p.prop2(1) = p.prop2(2) = 0;
  for (int i = 1; i <= 2; ++i)
    p.rc1(i, i) = p.rc2(i, i) = p.rp1(i, i) = p.rp2(i, i) = 1;
  p.rc1(1, 2) = p.rc1(2, 1) = 0.4f;
  p.rc2(1, 2) = p.rc2(2, 1) = smode == 0 ? 0.4f : 0.6f;
  p.rp1(1, 2) = p.rp1(2, 1) = 0.94f;
  p.rp2(1, 2) = p.rp2(2, 1) = smode == 0 ? 0.94f : 0.99f;
  for (int c = 1; c <= 2; ++c)
    for (int j = 1; j <= 2; ++j) {
      p.val1(c, j) = 0.3f;
      p.val2(c, j) = smode == 0 ? 0.3f : 0.1f;
    }
  return p;
}

Model model() {
  Model m;
  m.wdca.ncrit = 2;
  m.wdca.npred = 2;
  m.wdca.ngroup = 3;
  m.wdca.nstage = 1;
  m.wdca.cw(1) = 1;
  m.wdca.cw(2) = 0.5;
  for (int i = 1; i <= 2; ++i)
    m.wdca.rcc(i, i) = m.wdcd.rpp(i, i) = 1;
  return m;
}

// Elements drawn per pass: 3 x (2 + 2) effect sizes, 2 proportions, one
// criterion and one predictor correlation, 4 validities.
constexpr int kDraws = 12 + 2 + 1 + 1 + 4;

TEST(EngineTest, ExactModeDrawsFirstRowsAndAdvancesTheStream) {
  const Problem p = problem(0);
  Model m = model();
  RandomSources rs;
  EXPECT_FALSE(selquant::draw_sample(p, m, rs));  // the proportions sum to one
  EXPECT_EQ(m.wdca.dc(2, 1), static_cast<double>(-0.2f));
  EXPECT_EQ(m.wdcd.dp(3, 2), static_cast<double>(-0.6f));
  EXPECT_EQ(m.wdca.rcc(2, 1), static_cast<double>(0.4f));
  EXPECT_EQ(m.wdcd.rpp(1, 2), static_cast<double>(0.94f));
  EXPECT_EQ(m.wdcd.val(2, 2), static_cast<double>(0.3f));
  EXPECT_EQ(m.wdca.prop(1), static_cast<double>(0.2f));
  // The deck's base proportion is not used: the base group takes the rest.
  EXPECT_EQ(m.wdca.prop(3), 1 - (static_cast<double>(0.2f) + static_cast<double>(0.3f)));
  numeric::Rand15 ref;
  for (int i = 0; i < kDraws; ++i)
    ref.next();
  EXPECT_EQ(numeric::rand01(rs.uniform, 0), static_cast<float>(ref.next() / 32767.0));
  // vcrit = 1 + 0.25 + 2 * 0.5 * r12; dcrit = sum cw dc / sqrt(vcrit).
  const double r12 = static_cast<double>(0.4f);
  EXPECT_DOUBLE_EQ(m.wdca.vcrit, 1 + 0.25 + r12);
  EXPECT_DOUBLE_EQ(m.wdca.dcrit(1), 1.5 * static_cast<double>(-0.1f) / std::sqrt(1.25 + r12));
}

TEST(EngineTest, RectangularDrawsFollowTheUniformStream) {
  const Problem p = problem(2);
  Model m = model();
  RandomSources rs;
  selquant::draw_sample(p, m, rs);
  numeric::Rand15 ref;
  auto next = [&](float a, float h) {
    const float u = numeric::rand01(ref, 0);
    return static_cast<double>(a) +
           static_cast<double>(u) * (static_cast<double>(h) - static_cast<double>(a));
  };
  EXPECT_EQ(m.wdca.dc(1, 1), next(-0.1f, 0.2f));
  EXPECT_EQ(m.wdca.dc(1, 2), next(-0.1f, 0.2f));
  EXPECT_EQ(m.wdcd.dp(1, 1), next(-0.2f, 0.3f));
  for (int i = 0; i < 9; ++i)
    next(0, 0);  // the other groups' effect sizes
  next(0, 0);    // proportions
  next(0, 0);
  EXPECT_EQ(m.wdca.rcc(1, 2), next(0.4f, 0.6f));
  EXPECT_EQ(m.wdca.rcc(2, 1), m.wdca.rcc(1, 2));
  const double r = next(0.94f, 0.99f);  // never clipped in rectangular mode
  EXPECT_EQ(m.wdcd.rpp(1, 2), r);
  EXPECT_EQ(m.wdcd.val(1, 1), next(0.3f, 0.1f));
}

TEST(EngineTest, NormalDrawsAreClippedForCorrelationsOnly) {
  Problem p = problem(1);
  p.rp1(1, 2) = p.rp1(2, 1) = 0.94f;
  p.rp2(1, 2) = p.rp2(2, 1) = 0.1f;  // standard deviation
  Model m = model();
  RandomSources rs;
  int clipped = 0;
  for (int k = 1; k <= 200; ++k) {
    selquant::draw_sample(p, m, rs);
    EXPECT_LE(m.wdcd.rpp(1, 2), 0.95);
    clipped += m.wdcd.rpp(1, 2) == 0.95;
    EXPECT_EQ(m.wdca.prop(1), static_cast<double>(0.2f));  // no spread
  }
  EXPECT_GT(clipped, 50);
  // The normal deviates come from the 22-bit source, one uniform number each
  // still taken from the other stream.
  RandomSources a;
  Model first = model();
  selquant::draw_sample(p, first, a);
  numeric::Rand22 g;
  EXPECT_EQ(first.wdca.dc(1, 1), static_cast<double>(numeric::rgauss(g, -0.1f, 0.2f)));
  numeric::Rand15 u;
  for (int i = 0; i < kDraws; ++i)
    u.next();
  EXPECT_EQ(numeric::rand01(a.uniform, 0), static_cast<float>(u.next() / 32767.0));
}

TEST(EngineTest, ProportionsAreCompletedByTheBaseGroup) {
  Problem p = problem(2);
  Model m = model();
  m.wdca.ngroup = 4;
  p.prop1(1) = p.prop2(1) = 0.3f;
  p.prop1(2) = p.prop2(2) = 0.5f;
  p.prop1(3) = p.prop2(3) = 0.4f;
  RandomSources rs;
  EXPECT_FALSE(selquant::draw_sample(p, m, rs));
  EXPECT_NEAR(m.wdca.prop(1), 0.25, 1e-7);
  EXPECT_NEAR(m.wdca.prop(2), 0.5 / 1.2, 1e-7);
  EXPECT_NEAR(m.wdca.prop(3), 0.4 / 1.2, 1e-7);
  EXPECT_EQ(m.wdca.prop(4), 0.0);
  p.prop1(2) = p.prop2(2) = -0.5f;
  selquant::draw_sample(p, m, rs);
  EXPECT_EQ(m.wdca.prop(2), 0.0);
  EXPECT_NEAR(m.wdca.prop(4), 1 - 0.3 - 0.4, 1e-7);
}

TEST(EngineTest, OneCriterionDrawsNoCriterionCorrelation) {
  Problem p = problem(2);
  Model m = model();
  m.wdca.ncrit = 1;
  m.wdca.npred = 1;
  RandomSources rs;
  selquant::draw_sample(p, m, rs);
  numeric::Rand15 ref;
  for (int i = 0; i < 3 * 2 + 2 + 1; ++i)
    ref.next();
  EXPECT_EQ(numeric::rand01(rs.uniform, 0), static_cast<float>(ref.next() / 32767.0));
  EXPECT_EQ(m.wdca.vcrit, 1.0);
}

TEST(EngineTest, UnreachableRetentionReportsTheStage) {
  Model m = model();
  m.wdca.ngroup = 1;
  m.wdca.nstage = 2;
  m.wdca.prop(1) = 1;
  m.wdca.vcrit = 1;
  m.wdcc.b(1, 1) = 1;
  m.wdcc.b(2, 2) = 1;
  m.wdca.rr(1) = 0.5;
  m.wdca.rr(2) = 0.6;  // more than the first stage leaves
  EXPECT_EQ(selquant::solve_cutoffs(m), 1u << 2);
  EXPECT_EQ(m.wdcb.cut(1), 0.0);  // the exact zero at the guess is no failure
}

}  // namespace
