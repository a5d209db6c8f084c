#include "engine/model.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <random>
#include <vector>

#include "mvn/mvn.hpp"
#include "numeric/dfzero.hpp"

namespace {

using selquant::Corr6;
using selquant::Model;

struct ModelCase {
  int k, g;
  double p, qgrp, dpsel1, dpsel2, dnext;
};
#include "data/model_reference.inc"

// A model with one criterion of weight 1, unit diagonals and the given counts.
Model base_model(int nstage, int npred, int ngroup) {
  Model m;
  auto& a = m.wdca;
  a.nstage = nstage;
  a.npred = npred;
  a.ngroup = ngroup;
  a.ncrit = 1;
  a.cw(1) = 1;
  a.rcc(1, 1) = 1;
  a.vcrit = 1;
  for (int g = 1; g <= ngroup; ++g)
    a.prop(g) = 1;
  for (int j = 1; j <= npred; ++j)
    m.wdcd.rpp(j, j) = 1;
  return m;
}

void set_stage(Model& m, int s, std::initializer_list<double> w) {
  int j = 1;
  for (double v : w)
    m.wdcc.b(s, j++) = v;
}

// Solves every stage's cutoff as the driver does; returns the flags.
std::vector<int> solve(Model& m) {
  std::vector<int> flags;
  for (int s = 1; s <= m.wdca.nstage; ++s) {
    m.wdca.istage = s;
    double b = -8;
    double c = 8;
    int iflag = 0;
    numeric::dfzero([&m](double x) { return selquant::eh(m, x); }, b, c, 0.0, 1e-6, 1e-7, iflag);
    m.wdcb.cut(s) = b;
    flags.push_back(iflag);
  }
  return flags;
}

struct Composite {
  Corr6 rs, rx;
  selquant::Mat<double, 4, 10> rpc;
  selquant::Vec<double, 4> vs;
  selquant::Mat<double, 5, 4> dm;
};

Composite composite(Model& m, int nk) {
  Composite c;
  selquant::corpas(m, nk, c.rs, c.rx, c.rpc, c.vs, c.dm);
  return c;
}

// The problem of the composite example: two predictors correlated 0.5.
Model two_predictors() {
  Model m = base_model(2, 2, 2);
  m.wdcd.rpp(1, 2) = m.wdcd.rpp(2, 1) = 0.5;
  m.wdcd.val(1, 1) = 0.3;
  m.wdcd.val(1, 2) = 0.4;
  m.wdcd.dp(1, 1) = -0.6;
  m.wdcd.dp(1, 2) = -0.2;
  set_stage(m, 1, {1, 1});
  set_stage(m, 2, {0, 1});
  return m;
}

TEST(ModelTest, CorpasCompositeExample) {
  Model m = two_predictors();
  Composite c = composite(m, 2);
  EXPECT_DOUBLE_EQ(c.vs(1), 3);
  EXPECT_DOUBLE_EQ(c.dm(1, 1), -0.8 / std::sqrt(3.0));
  EXPECT_EQ(m.wdca.dcomp(1, 1), c.dm(1, 1));
  EXPECT_NEAR(c.rx(1, 2), 0.404145, 1e-6);
  EXPECT_NEAR(c.rpc(1, 1), 0.866025, 1e-6);
  EXPECT_NEAR(c.rpc(1, 2), 0.866025, 1e-6);
  EXPECT_NEAR(c.rs(1, 2), 0.866025, 1e-6);
  EXPECT_EQ(c.rs(1, 2), c.rs(2, 1));
  EXPECT_EQ(c.rx(2, 3), c.rs(1, 2));
  EXPECT_EQ(c.rx(3, 1), c.rx(1, 3));
  // A single predictor of weight 1.
  EXPECT_EQ(c.vs(2), 1);
  EXPECT_EQ(c.dm(1, 2), -0.2);
  EXPECT_EQ(c.rpc(2, 2), 1);
  EXPECT_DOUBLE_EQ(c.rx(1, 3), 0.4);
  set_stage(m, 1, {1, 0});
  EXPECT_DOUBLE_EQ(composite(m, 2).rs(1, 2), 0.5);
  EXPECT_EQ(m.wdcd.np(1), 2);
}

TEST(ModelTest, CorpasPrefixScalingAndZeroWeights) {
  Model m = base_model(4, 3, 2);
  auto& r = m.wdcd.rpp;
  r(1, 2) = r(2, 1) = 0.2;
  r(1, 3) = r(3, 1) = 0.4;
  r(2, 3) = r(3, 2) = -0.1;
  m.wdcd.val(1, 1) = 0.3;
  m.wdcd.val(1, 2) = 0.2;
  m.wdcd.val(1, 3) = 0.5;
  m.wdcd.dp(1, 1) = -0.4;
  m.wdcd.dp(1, 3) = 0.2;
  set_stage(m, 1, {1, 0.5, 0});
  set_stage(m, 2, {0.2, 1, 1});
  set_stage(m, 3, {1, 1, 1});
  set_stage(m, 4, {0, 0.3, 1});
  const Composite full = composite(m, 4);
  const Composite two = composite(m, 2);
  for (int s = 1; s <= 2; ++s) {
    EXPECT_EQ(two.vs(s), full.vs(s));
    for (int t = 1; t <= 2; ++t)
      EXPECT_EQ(two.rs(s, t), full.rs(s, t));
    for (int t = 1; t <= 3; ++t)
      EXPECT_EQ(two.rx(s, t), full.rx(s, t));
    for (int j = 1; j <= 3; ++j)
      EXPECT_EQ(two.rpc(s, j), full.rpc(s, j));
    EXPECT_EQ(two.dm(1, s), full.dm(1, s));
  }
  // Scaling a stage's weights by 2.5 changes its variance alone; -1 flips signs.
  set_stage(m, 2, {0.5, 2.5, 2.5});
  const Composite scaled = composite(m, 4);
  EXPECT_DOUBLE_EQ(scaled.vs(2), 6.25 * full.vs(2));
  EXPECT_NEAR(scaled.rs(2, 3), full.rs(2, 3), 1e-15);
  EXPECT_NEAR(scaled.rx(1, 3), full.rx(1, 3), 1e-15);
  EXPECT_NEAR(scaled.rpc(2, 1), full.rpc(2, 1), 1e-15);
  EXPECT_NEAR(scaled.dm(1, 2), full.dm(1, 2), 1e-15);
  set_stage(m, 2, {-0.2, -1, -1});
  const Composite flipped = composite(m, 4);
  EXPECT_NEAR(flipped.rs(2, 3), -full.rs(2, 3), 1e-15);
  EXPECT_NEAR(flipped.dm(1, 2), -full.dm(1, 2), 1e-15);
  // A stage of zero weights: raw means, no correlation, no validity.
  set_stage(m, 2, {0, 0, 0});
  const Composite zero = composite(m, 4);
  EXPECT_EQ(zero.vs(2), 0);
  EXPECT_EQ(zero.rs(1, 2), 0);
  EXPECT_EQ(zero.rx(1, 3), 0);
  EXPECT_EQ(zero.rpc(2, 1), 0);
  EXPECT_EQ(zero.dm(1, 2), 0);
}

TEST(ModelTest, IntegEdgeCases) {
  Model m = base_model(1, 1, 1);
  const auto& a = m.wdca;
  Corr6 c;
  for (int i = 1; i <= 6; ++i)
    c(i, i) = 1;
  c(1, 2) = c(2, 1) = 0.5;
  const double one[2] = {-7.5, 0.0};
  EXPECT_NEAR(selquant::integ(a, 2, one, c, 2), 0.19947114020071635, 1e-15);
  const double zero[1] = {0.0};
  EXPECT_EQ(selquant::integ(a, 1, zero, c, 0), 0.5);
  const double high[2] = {-7.5, 7.5};
  EXPECT_EQ(selquant::integ(a, 2, high, c, 2), 0.0);
  EXPECT_EQ(selquant::integ(a, 2, high + 1, c, 0), 0.0);
  // Two uncorrelated composites, both correlated rho with the free variable.
  Corr6 t;
  for (int i = 1; i <= 6; ++i)
    t(i, i) = 1;
  t(1, 2) = t(2, 1) = t(1, 3) = t(3, 1) = 0.3;
  const double lim3[3] = {-7.5, 0, 0};
  EXPECT_NEAR(selquant::integ(a, 3, lim3, t, 2), 0.3 / std::sqrt(2 * M_PI), 1e-15);
  // A conditional limit at or above 7.5 zeroes its own term only: given
  // Z3 = -1, Z2 needs (7 + 0.9) / sqrt(0.19) > 7.5, so term 3 is 0; given Z2 = 7,
  // the limit of Z3 falls below -7.5 and is clamped there.
  t(2, 3) = t(3, 2) = 0.9;
  const double far[3] = {-7.5, 7.0, -1.0};
  const double s = std::sqrt(1 - 0.81);
  EXPECT_GE((7.0 - 0.9 * -1.0) / s, 7.5);
  EXPECT_LE((-1.0 - 0.9 * 7.0) / s, -7.5);
  EXPECT_EQ(selquant::integ(a, 3, far, t, 2), 0.3 * selquant::phim(a, 7.0) * mvn::phid(7.5));
  // A free variable uncorrelated with the composites has moment 0.
  t(1, 2) = t(2, 1) = t(1, 3) = t(3, 1) = 0;
  EXPECT_EQ(selquant::integ(a, 3, lim3, t, 2), 0.0);
  Corr6 cleared;
  selquant::Vec<double, 6> v;
  v(3) = 2;
  cleared(2, 2) = 3;
  selquant::nul(v, cleared);
  EXPECT_EQ(v(3), 0.0);
  EXPECT_EQ(cleared(2, 2), 0.0);
}

TEST(ModelTest, MomentWithIdenticalCompositesEqualsSingleComposite) {
  Model m = base_model(1, 1, 1);
  Corr6 dup;
  for (int i = 1; i <= 6; ++i)
    dup(i, i) = 1;
  // Free variable, then C1, C2 = C1, C3 independent-ish.
  dup(1, 2) = dup(2, 1) = dup(1, 3) = dup(3, 1) = 0.4;
  dup(2, 3) = dup(3, 2) = 1;
  dup(1, 4) = dup(4, 1) = 0.2;
  dup(2, 4) = dup(4, 2) = dup(3, 4) = dup(4, 3) = 0.3;
  Corr6 one;
  for (int i = 1; i <= 6; ++i)
    one(i, i) = 1;
  one(1, 2) = one(2, 1) = 0.4;
  one(1, 3) = one(3, 1) = 0.2;
  one(2, 3) = one(3, 2) = 0.3;
  // The same without the free variable, for passing probabilities.
  Corr6 pdup;
  Corr6 pone;
  for (int i = 1; i <= 6; ++i)
    pdup(i, i) = pone(i, i) = 1;
  pdup(1, 2) = pdup(2, 1) = 1;
  pdup(1, 3) = pdup(3, 1) = pdup(2, 3) = pdup(3, 2) = 0.3;
  pone(1, 2) = pone(2, 1) = 0.3;
  for (double second : {-0.4, 0.1, 0.25}) {
    const double lim[4] = {-7.5, 0.1, second, -0.2};
    const double merged[3] = {-7.5, std::max(0.1, second), -0.2};
    EXPECT_NEAR(selquant::integ(m.wdca, 4, lim, dup, 2), selquant::integ(m.wdca, 3, merged, one, 2),
                1e-15)
        << second;
    // The passing probability: the bivariate problem at the stricter limit.
    EXPECT_NEAR(selquant::integ(m.wdca, 3, lim + 1, pdup, 0),
                selquant::integ(m.wdca, 2, merged + 1, pone, 0), 1e-15)
        << second;
  }
  // Opposite composites: C2 = -C1 confines C1 to (0.1, 0.3).
  dup(2, 3) = dup(3, 2) = -1;
  dup(1, 3) = dup(3, 1) = -0.4;
  dup(3, 4) = dup(4, 3) = -0.3;
  const double lim[4] = {-7.5, 0.1, -0.3, -0.2};
  const double low[3] = {-7.5, 0.1, -0.2};
  const double high[3] = {-7.5, 0.3, -0.2};
  EXPECT_NEAR(selquant::integ(m.wdca, 4, lim, dup, 2),
              selquant::integ(m.wdca, 3, low, one, 2) - selquant::integ(m.wdca, 3, high, one, 2),
              1e-15);
  const double empty[4] = {-7.5, 0.1, 0.3, -0.2};
  EXPECT_EQ(selquant::integ(m.wdca, 4, empty, dup, 2), 0.0);
}

TEST(ModelTest, CutoffEquation) {
  Model m = base_model(1, 1, 1);
  m.wdcc.b(1, 1) = 1;
  m.wdca.istage = 1;
  m.wdca.rr(1) = 0.5;
  EXPECT_EQ(selquant::eh(m, 0), 0.0);
  EXPECT_EQ(selquant::eh(m, 7.5), -0.5);
  EXPECT_NEAR(selquant::eh(m, -8), 0.5, 1e-14);
  m.wdca.rr(1) = 0.1587;
  std::vector<int> flags = solve(m);
  EXPECT_NEAR(m.wdcb.cut(1), 0.9998150936147446, 1e-6);
  // Two groups of equal weight at -1 and 0: weights normalised.
  Model two = base_model(1, 1, 2);
  two.wdcc.b(1, 1) = 1;
  two.wdcd.dp(1, 1) = -1;
  two.wdca.rr(1) = 0.3;
  two.wdca.prop(1) = two.wdca.prop(2) = 7;
  solve(two);
  EXPECT_NEAR(two.wdcb.cut(1), 0.093241, 1e-6);
  // Symmetric groups: the root is 0 for a retention of one half.
  two.wdcd.dp(1, 1) = 0.8;
  two.wdcd.dp(2, 1) = -0.8;
  two.wdca.rr(1) = 0.5;
  flags = solve(two);
  EXPECT_TRUE(flags[0] == numeric::kConverged || flags[0] == numeric::kExactZero);
  EXPECT_NEAR(two.wdcb.cut(1), 0.0, 1e-7);
  // Unreachable retention: no sign change in [-8, 8].
  two.wdca.rr(1) = 1;
  EXPECT_EQ(solve(two)[0], numeric::kNoChange);
}

TEST(ModelTest, OneStageOneGroup) {
  Model m = base_model(1, 1, 1);
  m.wdcc.b(1, 1) = 1;
  m.wdcd.val(1, 1) = 0.4;
  m.wdcd.dp(1, 1) = 0.3;
  m.wdca.rr(1) = 0.5;
  solve(m);
  selquant::ef(m, m.wdcb.cut);
  EXPECT_NEAR(m.wdcb.cut(1), 0.3, 1e-7);
  EXPECT_NEAR(m.wdcf.qgrp(1, 1), 0.4 * 0.7978845608, 1e-6);
  EXPECT_NEAR(m.wdcf.qall(1), 0.4 * 0.7978845608, 1e-6);
  EXPECT_NEAR(m.wdcf.dpsel(1, 1, 1), 0.7978845608 + 0.3, 1e-6);
  EXPECT_EQ(m.wdcc.aicum(1, 1), 1);
  EXPECT_EQ(m.wdcc.aistg(1, 1), 1);
  EXPECT_EQ(m.wdcc.dnext(1, 1), 0);
}

// The one-stage worked example: groups at -1 and 0 on predictor and criterion.
Model one_stage_example() {
  Model m = base_model(1, 1, 2);
  m.wdcc.b(1, 1) = 1;
  m.wdcd.dp(1, 1) = -1;
  m.wdca.dc(1, 1) = -1;
  m.wdca.dcrit(1) = -1;
  m.wdcd.val(1, 1) = 0.5;
  m.wdca.rr(1) = 0.3;
  return m;
}

TEST(ModelTest, OneStageWorkedExample) {
  Model m = one_stage_example();
  solve(m);
  selquant::ef(m, m.wdcb.cut);
  EXPECT_NEAR(m.wdcb.cut(1), 0.093241, 1e-6);
  EXPECT_NEAR(m.wdcc.aicum(1, 1), 0.296299, 1e-6);
  EXPECT_NEAR(m.wdcc.aistg(1, 1), 0.296299, 1e-6);
  EXPECT_NEAR(m.wdcf.qgrp(1, 1), 0.268467, 1e-6);
  EXPECT_NEAR(m.wdcf.qgrp(2, 1), 0.831002, 1e-6);
  EXPECT_NEAR(m.wdcf.qall(1), 0.702421, 1e-6);
  EXPECT_NEAR(m.wdcf.dpsel(1, 1, 1), 0.600310, 1e-6);
  EXPECT_NEAR(m.wdcf.dpsel(1, 2, 1), 0.858176, 1e-6);
  EXPECT_EQ(m.wdcc.aicum(1, 2), 1);
}

TEST(ModelTest, TwoStageWorkedExample) {
  Model m = base_model(2, 2, 2);
  m.wdcd.rpp(1, 2) = m.wdcd.rpp(2, 1) = 0.3;
  set_stage(m, 1, {1, 0});
  set_stage(m, 2, {0.5, 0.5});
  m.wdcd.val(1, 1) = 0.3;
  m.wdcd.val(1, 2) = 0.4;
  m.wdcd.dp(1, 1) = -0.5;
  m.wdcd.dp(1, 2) = -0.3;
  m.wdca.dc(1, 1) = -0.2;
  m.wdca.dcrit(1) = -0.2;
  m.wdca.rr(1) = 0.5;
  m.wdca.rr(2) = 0.2;
  solve(m);
  const Composite c = composite(m, 2);
  EXPECT_NEAR(c.rs(1, 2), 0.806226, 1e-6);
  EXPECT_NEAR(c.rx(1, 2), 0.3, 1e-12);
  EXPECT_NEAR(c.rx(1, 3), 0.434122, 1e-6);
  selquant::ef(m, m.wdcb.cut);
  EXPECT_NEAR(m.wdcb.cut(1), -0.25, 1e-5);
  EXPECT_NEAR(m.wdcb.cut(2), 0.584928, 1e-5);
  EXPECT_NEAR(m.wdcc.aicum(1, 1), 0.670268, 1e-5);
  EXPECT_NEAR(m.wdcc.aicum(2, 1), 0.488456, 1e-5);
  EXPECT_NEAR(m.wdcc.aistg(2, 1), 0.728748, 1e-5);
  EXPECT_NEAR(m.wdcf.qgrp(1, 1), 0.188128, 1e-5);
  EXPECT_NEAR(m.wdcf.qgrp(2, 1), 0.292294, 1e-5);
  EXPECT_NEAR(m.wdcf.qgrp(1, 2), 0.585273, 1e-5);
  EXPECT_NEAR(m.wdcf.qgrp(2, 2), 0.619246, 1e-5);
  EXPECT_NEAR(m.wdcf.qall(1), 0.250493, 1e-5);
  EXPECT_NEAR(m.wdcf.qall(2), 0.608097, 1e-5);
  EXPECT_NEAR(m.wdcc.dnext(1, 1), 0.280703, 1e-5);
  EXPECT_NEAR(m.wdcc.dnext(1, 2), 0.520692, 1e-5);
  EXPECT_NEAR(m.wdcf.dpsel(2, 1, 1), 0.867501, 1e-5);
  EXPECT_NEAR(m.wdcf.dpsel(2, 1, 2), 0.926143, 1e-5);
  EXPECT_NEAR(m.wdcf.dpsel(2, 2, 1), 1.028582, 1e-5);
  EXPECT_NEAR(m.wdcf.dpsel(2, 2, 2), 0.936064, 1e-5);
  EXPECT_EQ(m.wdcc.dnext(2, 1), 0);
  for (int k = 1; k <= 2; ++k) {
    EXPECT_EQ(m.wdcc.aicum(k, 2), 1);
    EXPECT_EQ(m.wdcc.aistg(k, 2), 1);
    EXPECT_GE(m.wdcf.qall(k), std::min(m.wdcf.qgrp(1, k), m.wdcf.qgrp(2, k)));
    EXPECT_LE(m.wdcf.qall(k), std::max(m.wdcf.qgrp(1, k), m.wdcf.qgrp(2, k)));
  }
}

TEST(ModelTest, GroupsThatDoNotDifferHaveUnitRatios) {
  Model m = base_model(2, 2, 3);
  m.wdcd.rpp(1, 2) = m.wdcd.rpp(2, 1) = 0.2;
  set_stage(m, 1, {1, 0});
  set_stage(m, 2, {1, 1});
  m.wdcd.val(1, 1) = 0.3;
  m.wdca.rr(1) = 0.6;
  m.wdca.rr(2) = 0.25;
  m.wdca.prop(1) = 0.2;
  m.wdca.prop(2) = 0.3;
  m.wdca.prop(3) = 0.5;
  solve(m);
  selquant::ef(m, m.wdcb.cut);
  for (int k = 1; k <= 2; ++k)
    for (int g = 1; g <= 3; ++g) {
      EXPECT_NEAR(m.wdcc.aicum(k, g), 1, 1e-15);
      EXPECT_NEAR(m.wdcc.aistg(k, g), 1, 1e-15);
      EXPECT_NEAR(m.wdcf.qgrp(g, k), m.wdcf.qgrp(3, k), 1e-15);
    }
}

TEST(ModelTest, EmptyGroupHasUndefinedMeansAndZeroAI) {
  Model m = one_stage_example();
  m.wdcd.dp(1, 1) = -9;  // nobody of group 1 reaches the cutoff
  m.wdca.rr(1) = 0.05;
  solve(m);
  selquant::ef(m, m.wdcb.cut);
  EXPECT_TRUE(std::isnan(m.wdcf.qgrp(1, 1)));
  EXPECT_TRUE(std::isnan(m.wdcf.dpsel(1, 1, 1)));
  EXPECT_EQ(m.wdcc.aicum(1, 1), 0.0);
  EXPECT_TRUE(std::isfinite(m.wdcf.qall(1)));
  EXPECT_NEAR(m.wdcf.qall(1), m.wdcf.qgrp(2, 1), 1e-15);
  // An empty base group: every ratio over it is undefined.
  Model b = one_stage_example();
  b.wdcd.dp(2, 1) = -9;
  b.wdcd.dp(1, 1) = 0;
  b.wdca.rr(1) = 0.05;
  solve(b);
  selquant::ef(b, b.wdcb.cut);
  EXPECT_TRUE(std::isnan(b.wdcc.aicum(1, 1)));
  EXPECT_TRUE(std::isnan(b.wdcc.aicum(1, 2)));
}

// The rank-deficient designs of the reference table over two predictors.
Model rank_deficient(int nstage) {
  Model m = base_model(nstage, 2, 2);
  m.wdcd.rpp(1, 2) = m.wdcd.rpp(2, 1) = 0.3;
  m.wdcd.val(1, 1) = 0.4;
  m.wdcd.val(1, 2) = 0.3;
  m.wdcd.dp(1, 1) = -0.5;
  m.wdcd.dp(1, 2) = -0.2;
  m.wdca.dc(1, 1) = -0.3;
  m.wdca.dcrit(1) = -0.3;
  m.wdca.prop(1) = 0.4;
  m.wdca.prop(2) = 0.6;
  set_stage(m, 1, {1, 0});
  set_stage(m, 2, {0, 1});
  set_stage(m, 3, {1, 1});
  set_stage(m, 4, {1, 2});
  return m;
}

template <std::size_t N>
void check_against(Model& m, const ModelCase (&cases)[N], const std::vector<double>& cuts) {
  selquant::Vec<double, 4> cut;
  for (std::size_t s = 0; s < cuts.size(); ++s)
    cut(static_cast<int>(s) + 1) = cuts[s];
  selquant::ef(m, cut);
  for (const ModelCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "stage " << c.k << " group " << c.g);
    EXPECT_NEAR(m.wdcc.aicum(c.k, c.g), c.p / cases[2 * (c.k - 1) + 1].p, 1e-6);
    EXPECT_NEAR(m.wdcf.qgrp(c.g, c.k), c.qgrp, 1e-6);
    EXPECT_NEAR(m.wdcf.dpsel(c.k, c.g, 1), c.dpsel1, 1e-6);
    EXPECT_NEAR(m.wdcf.dpsel(c.k, c.g, 2), c.dpsel2, 1e-6);
    EXPECT_NEAR(m.wdcc.dnext(c.k, c.g), c.dnext, 1e-6);
  }
}

TEST(ModelTest, MoreStagesThanPredictorsAgreeWithIndependentValues) {
  Model three = rank_deficient(3);
  check_against(three, kThreeStageCases, {-0.6, -0.2, 0.1});
  Model four = rank_deficient(4);
  check_against(four, kFourStageCases, {-0.6, -0.2, 0.1, 0.3});
  // The cutoff equation meets the retention it is asked for.
  four.wdca.rr = {{0.6, 0.4, 0.3, 0.25}};
  solve(four);
  for (int s = 1; s <= 4; ++s) {
    four.wdca.istage = s;
    EXPECT_NEAR(selquant::eh(four, four.wdcb.cut(s)), 0.0, 1e-7);
  }
}

TEST(ModelTest, RepeatedCompositeEqualsEquivalentProblem) {
  // Stage 3 raises the bar on stage 1's composite (weights doubled).
  Model m = base_model(3, 2, 2);
  m.wdcd.rpp(1, 2) = m.wdcd.rpp(2, 1) = 0.4;
  m.wdcd.val(1, 1) = 0.35;
  m.wdcd.val(1, 2) = 0.25;
  m.wdcd.dp(1, 1) = -0.6;
  m.wdcd.dp(1, 2) = -0.1;
  m.wdca.dcrit(1) = -0.4;
  set_stage(m, 1, {1, 0.5});
  set_stage(m, 2, {0.2, 1});
  set_stage(m, 3, {2, 1});
  m.wdca.rr = {{0.6, 0.4, 0.2, 0}};
  const std::vector<int> flags = solve(m);
  for (int f : flags)
    EXPECT_TRUE(f == numeric::kConverged || f == numeric::kExactZero);
  selquant::ef(m, m.wdcb.cut);

  // The same selection as two stages: composite 2 at its cutoff, then composite 1
  // at the third stage's cutoff.
  Model e = m;
  e.wdca.nstage = 2;
  set_stage(e, 1, {0.2, 1});
  set_stage(e, 2, {1, 0.5});
  selquant::Vec<double, 4> cut;
  cut(1) = m.wdcb.cut(2);
  cut(2) = m.wdcb.cut(3);
  selquant::ef(e, cut);
  for (int g = 1; g <= 2; ++g) {
    EXPECT_NEAR(m.wdcf.qgrp(g, 3), e.wdcf.qgrp(g, 2), 1e-7);
    EXPECT_NEAR(m.wdcc.aicum(3, g), e.wdcc.aicum(2, g), 1e-7);
    for (int j = 1; j <= 2; ++j)
      EXPECT_NEAR(m.wdcf.dpsel(3, g, j), e.wdcf.dpsel(2, g, j), 1e-7);
    EXPECT_TRUE(std::isfinite(m.wdcc.dnext(2, g)));
  }
  EXPECT_NEAR(m.wdcf.qall(3), e.wdcf.qall(2), 1e-7);
}

TEST(ModelTest, LargestProblemIsFiniteEverywhere) {
  // Four stages, five groups, ten predictors with a positive-definite joint
  // matrix built from a random factor structure.
  Model m = base_model(4, 10, 5);
  m.wdca.ncrit = 3;
  std::mt19937 gen(11);
  std::uniform_real_distribution<double> u(-1, 1);
  double f[13][3];
  for (auto& row : f)
    for (double& v : row)
      v = 0.5 * u(gen);
  auto corr = [&](int i, int j) {
    if (i == j) return 1.0;
    double s = 0, ni = 0, nj = 0;
    for (int k = 0; k < 3; ++k) {
      s += f[i][k] * f[j][k];
      ni += f[i][k] * f[i][k];
      nj += f[j][k] * f[j][k];
    }
    return s / std::sqrt((ni + 0.3) * (nj + 0.3));
  };
  for (int c = 1; c <= 3; ++c) {
    m.wdca.cw(c) = 1.0 / c;
    for (int c2 = 1; c2 <= 3; ++c2)
      m.wdca.rcc(c, c2) = corr(c - 1, c2 - 1);
    for (int j = 1; j <= 10; ++j)
      m.wdcd.val(c, j) = corr(c - 1, 2 + j);
  }
  for (int i = 1; i <= 10; ++i)
    for (int j = 1; j <= 10; ++j)
      m.wdcd.rpp(i, j) = corr(2 + i, 2 + j);
  m.wdca.vcrit = 0;
  for (int c = 1; c <= 3; ++c)
    for (int c2 = 1; c2 <= 3; ++c2)
      m.wdca.vcrit += m.wdca.cw(c) * m.wdca.cw(c2) * m.wdca.rcc(c, c2);
  ASSERT_TRUE(selquant::sample_is_valid(m));
  for (int g = 1; g <= 5; ++g) {
    m.wdca.prop(g) = 0.1 * g;
    m.wdca.dcrit(g) = g == 5 ? 0 : -0.1 * g;
    for (int j = 1; j <= 10; ++j)
      m.wdcd.dp(g, j) = g == 5 ? 0 : 0.3 * u(gen);
  }
  for (int s = 1; s <= 4; ++s)
    for (int j = 1; j <= 10; ++j)
      m.wdcc.b(s, j) = (j + s) % 3 == 0 ? 0 : 1 + 0.5 * u(gen);
  m.wdca.rr = {{0.7, 0.5, 0.3, 0.15}};
  for (int f2 : solve(m))
    EXPECT_TRUE(f2 == numeric::kConverged || f2 == numeric::kExactZero);
  selquant::ef(m, m.wdcb.cut);
  for (int k = 1; k <= 4; ++k) {
    EXPECT_TRUE(std::isfinite(m.wdcf.qall(k)));
    for (int g = 1; g <= 5; ++g) {
      EXPECT_TRUE(std::isfinite(m.wdcf.qgrp(g, k)));
      EXPECT_TRUE(std::isfinite(m.wdcc.aicum(k, g)));
      EXPECT_TRUE(std::isfinite(m.wdcc.aistg(k, g)));
      EXPECT_TRUE(std::isfinite(m.wdcc.dnext(k, g)));
      for (int j = 1; j <= 10; ++j)
        EXPECT_TRUE(std::isfinite(m.wdcf.dpsel(k, g, j)));
    }
  }
}

TEST(ModelTest, SampleValidity) {
  Model m = two_predictors();
  EXPECT_TRUE(selquant::sample_is_valid(m));
  m.wdcd.val(1, 1) = 0.99;  // with 0.4 and r = 0.5 the joint matrix is indefinite
  m.wdcd.val(1, 2) = -0.9;
  EXPECT_FALSE(selquant::sample_is_valid(m));
  m = two_predictors();
  m.wdcd.rpp(1, 2) = m.wdcd.rpp(2, 1) = 1.2;
  EXPECT_FALSE(selquant::sample_is_valid(m));
  m = two_predictors();
  m.wdca.vcrit = 0;
  EXPECT_FALSE(selquant::sample_is_valid(m));
  m = two_predictors();
  m.wdcd.val(1, 2) = std::nan("");
  EXPECT_FALSE(selquant::sample_is_valid(m));
}

}  // namespace
