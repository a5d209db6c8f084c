// The Pareto search against a dense grid of weights, its points against the
// ordinary run, and a first stage that keeps everyone.
#include "engine/pareto.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <set>

#include "engine/economics.hpp"
#include "engine/engine.hpp"
#include "engine/tables.hpp"
#include "formats/design_file.hpp"
#include "formats/front.hpp"

namespace {

using selquant::Design;
using selquant::Front;
using selquant::ParetoPlan;

// The meta-analytic predictors of Bobko, Roth and Potosky (1999): cognitive
// ability, structured interview, conscientiousness, biodata; one stage
// selecting a tenth.
const char* kBobko = R"(predictors = ["CA", "SI", "C", "B"]
criteria = ["performance"]
criterion_weights = [1]
[[stage]]
retention = 0.10
weights = [1, 0, 1, 0]
[[group]]
name = "minority"
proportion = 0.25
predictor_d = [-1.00, -0.23, -0.09, -0.33]
[[group]]
name = "majority"
proportion = 0.75
[correlations]
predictors = [[0.24], [0.00, 0.12], [0.19, 0.16, 0.51]]
validities = [[0.30, 0.30, 0.18, 0.28]]
[pareto]
objectives = ["quality", "ai:minority"]
)";

struct Read {
  Design d;
  ParetoPlan plan;
};

Read read(const std::string& text) {
  Read r;
  EXPECT_EQ(selquant::read_design(text, "p.toml", r.d), "");
  EXPECT_EQ(selquant::read_pareto(text, "p.toml", r.d, r.plan), "");
  return r;
}

using Points = std::vector<std::pair<double, double>>;  // (quality, AI)

// The hypervolume above the reference point of the front through the points'
// non-dominated set: the area under the line joining them (the staircase of N
// points would leave out about 1/N of it, the spacing rather than the front).
double hypervolume(Points p, std::pair<double, double> ref) {
  std::sort(p.begin(), p.end(), [](auto a, auto b) { return a.first > b.first; });
  Points front;
  for (const auto& pt : p)
    if (front.empty() || pt.second > front.back().second) front.push_back(pt);
  double volume = 0;
  for (std::size_t i = 1; i < front.size(); ++i) {
    const auto [q0, a0] = front[i - 1];
    const auto [q1, a1] = front[i];
    volume += (a1 - a0) * ((q0 + q1) / 2 - ref.first);
  }
  return volume;
}

// The results of an ordinary run of the design with a point's weights and
// retention rates, by the search's kernel.
selquant::Table ordinary_results(Design d, const selquant::FrontPoint& p) {
  for (std::size_t s = 0; s < d.stages.size(); ++s) {
    d.stages[s].weights = p.weights[s];
    d.stages[s].retention = p.retention[s];
  }
  selquant::Collector collector(d);
  selquant::Sink* const sinks[] = {&collector};
  selquant::EngineOptions o;
  o.kernel = selquant::SearchOptions{}.kernel;
  selquant::evaluate(d, o, sinks);
  return collector.results();
}

Points points_of(const Front& f) {
  Points p;
  for (const auto& x : f.points)
    p.emplace_back(x.objectives[0], x.objectives[1]);
  return p;
}

TEST(ParetoTest, FindsTheFrontOfADenseGrid) {
  Read r = read(kBobko);  // CA and C free
  r.plan.points = 21;
  selquant::SearchOptions options;
  options.threads = 2;
  const Front front = selquant::pareto(r.d, r.plan, options);
  ASSERT_GE(front.points.size(), 20u);
  // The grid: w CA + (1 - w) C for 4001 values of w.
  Points grid;
  for (int i = 0; i <= 4000; ++i) {
    const double w = i / 4000.0;
    const std::vector<double> f =
        selquant::objectives_at(r.d, r.plan, {{w, 0, 1 - w, 0}}, selquant::SearchOptions{}.kernel);
    grid.emplace_back(f[0], f[1]);
  }
  double qmax = -1, aimax = -1;
  for (const auto& [q, ai] : grid) {
    qmax = std::max(qmax, q);
    aimax = std::max(aimax, ai);
  }
  // The ends of the front are the single-objective optima.
  EXPECT_NEAR(front.points.front().objectives[0], qmax, 1e-6);
  EXPECT_NEAR(front.points.back().objectives[1], aimax, 1e-6);
  // No point dominates another.
  const Points found = points_of(front);
  for (const auto& a : found)
    for (const auto& b : found)
      EXPECT_FALSE(a.first >= b.first && a.second >= b.second && a != b &&
                   (a.first > b.first || a.second > b.second));
  // The reference: the worst of both ends.
  const std::pair<double, double> ref = {found.back().first, found.front().second};
  const double hv_grid = hypervolume(grid, ref);
  const double hv_found = hypervolume(found, ref);
  EXPECT_GT(hv_grid, 0);
  EXPECT_NEAR(hv_found / hv_grid, 1.0, 1e-3) << hv_found << " " << hv_grid;
}

TEST(ParetoTest, FindsTheFrontOfATwoStageGrid) {
  // A screen on CA and B, then CA and C searched: the ends of such a front
  // came out nearly equal, and one dominated the other.
  std::string text = kBobko;
  text.replace(text.find("[[stage]]"), 0, "[[stage]]\nretention = 0.5\nweights = [1, 0, 0, 1]\n");
  Read r = read(text);
  r.plan.free = {{}, {1, 3}};
  const Front front = selquant::pareto(r.d, r.plan, {});
  Points grid;
  for (int i = 0; i <= 1000; ++i) {
    const double w = i / 1000.0;
    const std::vector<double> f = selquant::objectives_at(
        r.d, r.plan, {{0.5, 0, 0, 0.5}, {w, 0, 1 - w, 0}}, selquant::SearchOptions{}.kernel);
    grid.emplace_back(f[0], f[1]);
  }
  const Points found = points_of(front);
  double qmax = -1;
  for (const auto& g : grid)
    qmax = std::max(qmax, g.first);
  EXPECT_NEAR(found.front().first, qmax, 1e-6);
  const std::pair<double, double> ref = {found.back().first, found.front().second};
  EXPECT_NEAR(hypervolume(found, ref) / hypervolume(grid, ref), 1.0, 1e-3);
}

TEST(ParetoTest, EveryPointIsWhatTheOrdinaryRunGives) {
  for (const bool any_sign : {false, true}) {
    Read r = read(kBobko);
    r.plan.free = {{1, 2, 3, 4}};
    r.plan.points = 9;
    r.plan.any_sign = any_sign;
    selquant::SearchOptions options;
    std::vector<std::pair<int, int>> told;  // every search done is told, one at a time
    options.progress = [&](int done, int total) { told.emplace_back(done, total); };
    const Front front = selquant::pareto(r.d, r.plan, options);
    ASSERT_GT(told.size(), 9u);  // the single-objective searches and one per point
    for (std::size_t i = 0; i < told.size(); ++i)
      EXPECT_EQ(told[i], std::pair(static_cast<int>(i + 1), static_cast<int>(told.size())));
    ASSERT_GE(front.points.size(), 5u);
    int negative = 0;
    for (const auto& p : front.points) {
      negative += static_cast<int>(
          std::count_if(p.weights[0].begin(), p.weights[0].end(), [](double w) { return w < 0; }));
      double sum = 0;
      for (double w : p.weights[0])
        sum += std::fabs(w);
      EXPECT_NEAR(sum, 1.0, 1e-15);
      const selquant::Table t = ordinary_results(r.d, p);
      EXPECT_NEAR(t["quality_all"].values[0], p.objectives[0], 1e-12);
      EXPECT_NEAR(t["cum_ai"].values[0], p.objectives[1], 1e-12);  // group 1's row
      // Past parity a Cum. AI is no better: negative weights do not carry the
      // minority's far above the majority's.
      EXPECT_LE(p.objectives[1], 1.001);
    }
    EXPECT_EQ(negative > 0, any_sign);
  }
}

TEST(ParetoTest, SearchesTheRetentionOfAStageWithTheWeights) {
  // A screen on CA keeping 15 % to 90 %, then CA and C searched, a tenth
  // selected: against a grid of retention rates and weights.
  std::string text = kBobko;
  text.replace(text.find("[[stage]]"), 0, "[[stage]]\nretention = 0.5\nweights = [1, 0, 0, 0]\n");
  text += "retention = [{ low = 0.15, high = 0.9 }, 0.1]\nfree = [[], [\"CA\", \"C\"]]\n";
  const Read r = read(text);
  const Front front = selquant::pareto(r.d, r.plan, {});
  ASSERT_GE(front.points.size(), 10u);
  const selquant::Table table = selquant::front_table(r.d, r.plan, front);
  const selquant::Objectives objectives(r.d, r.plan, selquant::SearchOptions{}.kernel);
  Points grid;
  for (int a = 0; a <= 30; ++a)
    for (int i = 0; i <= 100; ++i) {
      const double w = i / 100.0;
      const std::vector<double> f =
          objectives.at({{1, 0, 0, 0}, {w, 0, 1 - w, 0}}, {0.15 + 0.025 * a, 0.1});
      grid.emplace_back(f[0], f[1]);
    }
  for (std::size_t i = 0; i < front.points.size(); ++i) {
    const selquant::FrontPoint& p = front.points[i];
    EXPECT_EQ(table["r1"].values[i], p.retention[0]);
    EXPECT_EQ(table["r2"].values[i], 0.1);
    EXPECT_GE(p.retention[0], 0.15);
    EXPECT_LE(p.retention[0], 0.9);
    // No design of the grid is better in both by more than 1e-3.
    for (const auto& [q, ai] : grid)
      EXPECT_FALSE(q > p.objectives[0] + 1e-3 && ai > p.objectives[1] + 1e-3)
          << "point " << i + 1 << " (" << p.objectives[0] << ", " << p.objectives[1] << ") below ("
          << q << ", " << ai << ")";
    // What an ordinary run of the design with its rates and weights gives.
    const selquant::Table t = ordinary_results(r.d, p);
    EXPECT_NEAR(t["quality_all"].values[2], p.objectives[0], 1e-12);  // stage 2, group 1
    EXPECT_NEAR(t["cum_ai"].values[2], p.objectives[1], 1e-12);
  }
  double qmax = -1, aimax = -1;
  for (const auto& [q, ai] : grid) {
    qmax = std::max(qmax, q);
    aimax = std::max(aimax, ai);
  }
  EXPECT_GE(front.points.front().objectives[0], qmax - 1e-5);
  EXPECT_GE(front.points.back().objectives[1], aimax - 1e-5);
  // Both rates searched, the later's range above the earlier's: no stage
  // keeps more than the one before.
  std::string later = text;
  later.replace(later.find("retention = [{ low = 0.15, high = 0.9 }, 0.1]"), 45,
                "retention = [{ low = 0.05, high = 0.3 }, { low = 0.05, high = 0.8 }]");
  const Read l = read(later);
  for (const selquant::FrontPoint& p : selquant::pareto(l.d, l.plan, {}).points) {
    EXPECT_LE(p.retention[0], 0.3);
    EXPECT_LE(p.retention[1], p.retention[0]);
    EXPECT_GE(p.retention[1], 0.05);
  }
}

TEST(ParetoTest, CostsArePaidWhereAPredictorFirstEnters) {
  // CA and B screen, SI and C enter at stage 2 after a first stage keeping
  // r1: 10 + 12 for everyone, (150 + 8) r1 for those who pass.
  std::string text = kBobko;
  text.replace(text.find("[[stage]]"), 0, "[[stage]]\nretention = 0.5\nweights = [1, 0, 0, 1]\n");
  text.replace(text.find("[pareto]"), 0,
               "[costs]\nCA = 10\nSI = 150\nC = 8\nB = 12\n[utility]\napplicants = 1000\n"
               "sdy = 40000\n");
  text +=
      "objectives = [\"quality\", \"cost\"]\nretention = [{ low = 0.15, high = 0.9 }, "
      "0.1]\nfree = [[\"CA\", \"B\"], [\"CA\", \"SI\", \"C\"]]\n";
  text.erase(text.find("objectives = [\"quality\", \"ai:minority\"]\n"), 40);
  const Read r = read(text);
  // Unused predictors cost nothing; a late one is paid at the rate before.
  const std::vector<int> entry = selquant::entry_stages(r.d, {{1, 4}, {1, 2}});
  EXPECT_EQ(entry, (std::vector<int>{1, 2, 0, 1}));
  // A stage not searched uses the predictors its weights give.
  EXPECT_EQ(selquant::entry_stages(r.d, {{}, {1, 3}}), (std::vector<int>{1, 0, 2, 1}));
  EXPECT_EQ(selquant::cost_per_applicant(r.d.costs, entry, {0.4, 0.1}), 10 + 12 + 150 * 0.4);
  const Front front = selquant::pareto(r.d, r.plan, {});
  ASSERT_GE(front.points.size(), 10u);
  const selquant::Table table = selquant::front_table(r.d, r.plan, front);
  for (std::size_t i = 0; i < front.points.size(); ++i) {
    const selquant::FrontPoint& p = front.points[i];
    const double cost = 10 + 12 + (150 + 8) * p.retention[0];
    EXPECT_NEAR(table["cost"].values[i], cost, 1e-12);
    if (i > 0) {
      EXPECT_LT(table["cost"].values[i], table["cost"].values[i - 1]);
    }
    // The utility of the quality an ordinary run gives.
    EXPECT_NEAR(table["utility"].values[i],
                1000 * 0.1 * 40000 * table["quality"].values[i] - 1000 * cost, 1e-6);
  }
  EXPECT_NEAR(front.points.back().retention[0], 0.15, 1e-6);  // the cheapest keeps fewest
  // Of the cheapest designs (any weights at that rate), the best quality: no
  // design of a grid at that rate is better.
  const selquant::Objectives at(r.d, r.plan, selquant::SearchOptions{}.kernel);
  double grid_best = -1;
  for (int a = 0; a <= 20; ++a)
    for (int b = 0; b <= 20; ++b)
      for (int c = 0; b + c <= 20; ++c)
        grid_best = std::max(grid_best, at.at({{a / 20.0, 0, 0, 1 - a / 20.0},
                                               {b / 20.0, c / 20.0, (20 - b - c) / 20.0, 0}},
                                              {0.15, 0.1})[0]);
  EXPECT_GT(front.points.back().objectives[0], grid_best - 1e-4);
}

TEST(ParetoTest, ConstraintsBoundEveryPointAndTheConstrainedOptimum) {
  // One stage, CA and C free: the grid of their weights.
  const Read base = read(kBobko);
  const selquant::Objectives objectives(base.d, base.plan, selquant::SearchOptions{}.kernel);
  Points grid;
  for (int i = 0; i <= 4000; ++i) {
    const double w = i / 4000.0;
    const std::vector<double> f = objectives.at({{w, 0, 1 - w, 0}});
    grid.emplace_back(f[0], f[1]);
  }
  // The best quality with the minority's Cum. AI at least 0.5: the grid's
  // best design within it, or better.
  std::string text = kBobko;
  text.replace(text.find("objectives = [\"quality\", \"ai:minority\"]"), 39,
               "objectives = [\"quality\"]\nconstraints = [\"ai:* >= 0.5\"]");
  const Read one = read(text);
  ASSERT_EQ(one.plan.constraints.size(), 1u);
  EXPECT_EQ(one.plan.constraints[0].text, "ai:minority >= 0.5");
  const Front best = selquant::pareto(one.d, one.plan, {});
  ASSERT_EQ(best.points.size(), 1u);
  double grid_best = -1;
  for (const auto& [q, ai] : grid)
    if (ai >= 0.5) grid_best = std::max(grid_best, q);
  EXPECT_GE(best.points[0].objectives[0], grid_best - 1e-6);
  EXPECT_GE(best.points[0].constrained[0], 0.5);
  const selquant::Table table = selquant::front_table(one.d, one.plan, best);
  EXPECT_EQ(table["ai_minority"].values[0], best.points[0].constrained[0]);
  // A front within a bound on quality: every point keeps it.
  Read two = read(kBobko);
  two.plan.constraints = one.plan.constraints;
  two.plan.constraints[0].measure = two.plan.objectives[0];
  two.plan.constraints[0].bound = 0.5;
  two.plan.constraints[0].text = "quality >= 0.5";
  const Front front = selquant::pareto(two.d, two.plan, {});
  ASSERT_GE(front.points.size(), 5u);
  for (const selquant::FrontPoint& p : front.points)
    EXPECT_GE(p.objectives[0], 0.5);
  double ai_best = -1;
  for (const auto& [q, ai] : grid)
    if (q >= 0.5) ai_best = std::max(ai_best, ai);
  EXPECT_GE(front.points.back().objectives[1], ai_best - 1e-5);
  // None within reach: the nearest constraint, and how near.
  two.plan.constraints[0].bound = 0.9;
  two.plan.constraints[0].text = "quality >= 0.9";
  const Front none = selquant::pareto(two.d, two.plan, {});
  EXPECT_TRUE(none.points.empty());
  ASSERT_TRUE(none.unmet.has_value());
  EXPECT_EQ(none.unmet->first, "quality >= 0.9");
  EXPECT_LT(none.unmet->second, 0.9);
}

TEST(ParetoTest, BandsAreThePercentilesOfTheReport) {
  // Uncertain validities and correlations: each point's bands over the draws
  // are the summary of an ordinary run of as many samples from the same clock
  // reading, without the draws it skips (31 of 150 here).
  std::string text = kBobko;
  text.replace(text.find("[[0.30, 0.30, 0.18, 0.28]]"), 26,
               "[[{ low = 0.2, high = 0.4 }, { low = 0.2, high = 0.4 }, 0.18, 0.28]]");
  text.replace(text.find("[[0.24], [0.00, 0.12], [0.19, 0.16, 0.51]]"), 42,
               "[[0.24], [{ low = -0.9, high = 0.9 }, 0.12], [0.19, 0.16, { low = -0.9, high = "
               "0.9 }]]");
  text += "samples = 150\npoints = 2\n";
  const Read r = read(text);
  selquant::SearchOptions options;
  options.epoch = 1772874303;
  const Front front = selquant::pareto(r.d, r.plan, options);
  ASSERT_TRUE(front.bands);
  // The first point, as its table shows it.
  const selquant::Table table = selquant::front_table(r.d, r.plan, front);
  Design d = r.d;
  d.samples = 150;
  d.stages[0].weights = front.points[0].weights[0];
  selquant::Collector collector(d);
  selquant::Sink* const sinks[] = {&collector};
  selquant::EngineOptions o;
  o.epoch = options.epoch;
  o.kernel = options.kernel;
  const selquant::Evaluation ev = selquant::evaluate(d, o, sinks);
  ASSERT_EQ(ev.summary.count, 119);
  ASSERT_TRUE(ev.summary.percentiles);
  // Saved in single precision: equal to 1e-6.
  for (auto [column, value] :
       std::vector<std::pair<std::string, double>>{{"quality_mean", ev.summary.avq(1)},
                                                   {"quality_p5", ev.summary.q[0][1]},
                                                   {"quality_p95", ev.summary.q[0][7]},
                                                   {"ai_minority_mean", ev.summary.avai(1, 1)},
                                                   {"ai_minority_p5", ev.summary.ai[0][0][1]},
                                                   {"ai_minority_p95", ev.summary.ai[0][0][7]}})
    EXPECT_NEAR(table[column].values[0], value, 1e-6) << column;
  // A statistic as an objective and in a constraint: that of the same run.
  std::string robust = text;
  robust.replace(robust.find("objectives = [\"quality\", \"ai:minority\"]"), 39,
                 "objectives = [\"quality@p5\"]\nconstraints = [\"ai:*@p10 >= 0.3\"]");
  const Read s = read(robust);
  const Front best = selquant::pareto(s.d, s.plan, options);
  ASSERT_EQ(best.points.size(), 1u);
  d.stages[0].weights = best.points[0].weights[0];
  selquant::Collector again(d);
  selquant::Sink* const again_sinks[] = {&again};
  const selquant::Evaluation run = selquant::evaluate(d, o, again_sinks);
  const selquant::Table best_table = selquant::front_table(s.d, s.plan, best);
  EXPECT_NEAR(best_table["quality@p5"].values[0], run.summary.q[0][1], 1e-6);
  EXPECT_NEAR(best_table["ai_minority@p10"].values[0], run.summary.ai[0][0][2], 1e-6);
  EXPECT_GE(run.summary.ai[0][0][2], 0.3 - 1e-6);
}

TEST(ParetoTest, AFirstStageThatKeepsEveryoneLeavesTheSecondStagesFront) {
  Read one = read(kBobko);
  one.plan.points = 41;
  std::string two_text = kBobko;
  two_text.replace(two_text.find("[[stage]]"), 0,
                   "[[stage]]\nretention = 1\nweights = [0, 1, 0, 0]\n");
  Read two = read(two_text);
  two.plan.free = {{}, {1, 3}};
  two.plan.points = 41;
  const Front a = selquant::pareto(one.d, one.plan, {});
  const Front b = selquant::pareto(two.d, two.plan, {});
  const Points pa = points_of(a), pb = points_of(b);
  const std::pair<double, double> ref = {std::min(pa.back().first, pb.back().first),
                                         std::min(pa.front().second, pb.front().second)};
  EXPECT_NEAR(hypervolume(pb, ref) / hypervolume(pa, ref), 1.0, 1e-4);
  EXPECT_NEAR(pb.front().first, pa.front().first, 1e-7);
  EXPECT_NEAR(pb.back().second, pa.back().second, 1e-7);
}

// The hypervolume above ref of points maximizing three objectives: slices of
// the third, each the staircase area of the first two among the points at or
// above it.
double hypervolume3(std::vector<std::array<double, 3>> p, const std::array<double, 3>& ref) {
  std::sort(p.begin(), p.end(), [](const auto& a, const auto& b) { return a[2] > b[2]; });
  double volume = 0;
  for (std::size_t i = 0; i < p.size(); ++i) {
    std::vector<std::array<double, 3>> above(p.begin(), p.begin() + static_cast<long>(i) + 1);
    std::sort(above.begin(), above.end(), [](const auto& a, const auto& b) { return a[0] > b[0]; });
    double area = 0, best = ref[1];
    for (const auto& a : above)
      if (a[1] > best) {
        area += (a[0] - ref[0]) * (a[1] - best);
        best = a[1];
      }
    volume += area * (p[i][2] - (i + 1 < p.size() ? p[i + 1][2] : ref[2]));
  }
  return volume;
}

TEST(ParetoTest, EverySubsetOfOneStageIsSearchedOnItsOwn) {
  // Costs 1, 2, 4, 8: a subset's cost names it.
  std::string text = kBobko;
  text.replace(text.find("[pareto]"), 0, "[costs]\nCA = 1\nSI = 2\nC = 4\nB = 8\n");
  text +=
      "objectives = [\"quality\", \"ai:minority\", \"cost\"]\nstructures = \"all\"\npoints = 12\n";
  text.erase(text.find("objectives = [\"quality\", \"ai:minority\"]\n"), 40);
  Read r = read(text);
  ASSERT_EQ(r.plan.structures.size(), 15u);
  selquant::SearchOptions options;
  options.threads = 2;
  const Front front = selquant::pareto(r.d, r.plan, options);
  // Each subset's designs on a grid of weights in twentieths.
  ParetoPlan two = r.plan;
  two.objectives.resize(2);
  std::vector<std::array<double, 3>> grid;
  for (int subset = 1; subset < 16; ++subset) {
    std::vector<int> in;
    for (int j = 0; j < 4; ++j)
      if (subset >> j & 1) in.push_back(j);
    std::vector<int> part(in.size(), 0);
    for (;;) {
      int used = 0;
      for (std::size_t j = 0; j + 1 < in.size(); ++j)
        used += part[j];
      if (used <= 20) {
        std::vector<double> w(4, 0.0);
        for (std::size_t j = 0; j < in.size(); ++j)
          w[static_cast<std::size_t>(in[j])] = j + 1 < in.size() ? part[j] : 20 - used;
        const std::vector<double> f =
            selquant::objectives_at(r.d, two, {w}, selquant::SearchOptions{}.kernel);
        grid.push_back({f[0], f[1], -static_cast<double>(subset)});
      }
      std::size_t j = 0;  // the next part, the last one taking the rest
      while (j + 1 < in.size() && ++part[j] > 20)
        part[j++] = 0;
      if (j + 1 >= in.size()) break;
    }
  }
  ASSERT_EQ(grid.size(), 1771u + 4 * 231 + 6 * 21 + 4 * 1);
  std::vector<std::array<double, 3>> found;
  std::set<int> subsets;
  for (std::size_t i = 0; i < front.points.size(); ++i) {
    const selquant::FrontPoint& p = front.points[i];
    // Its structure is the subset its cost names, whatever its weights.
    int subset = 0;
    for (int j : r.plan.structures[static_cast<std::size_t>(p.structure)][0])
      subset |= 1 << (j - 1);
    EXPECT_EQ(p.objectives[2], subset);
    subsets.insert(subset);
    for (std::size_t j = 0; j < 4; ++j)
      EXPECT_TRUE(p.weights[0][j] == 0 || (subset >> j & 1)) << i;
    // No design of the grid is better in all three.
    for (const auto& g : grid)
      EXPECT_FALSE(g[0] > p.objectives[0] + 1e-4 && g[1] > p.objectives[1] + 1e-4 &&
                   -g[2] <= p.objectives[2])
          << "point " << i + 1 << " against a grid design of subset " << -g[2] << ": " << g[0]
          << " " << g[1] << " over " << p.objectives[0] << " " << p.objectives[1];
    // Each point is what the ordinary run gives.
    if (i % 10 == 0) {
      const selquant::Table t = ordinary_results(r.d, p);
      EXPECT_NEAR(t["quality_all"].values[0], p.objectives[0], 1e-12);
      EXPECT_NEAR(t["cum_ai"].values[0], p.objectives[1], 1e-12);
    }
    found.push_back({p.objectives[0], p.objectives[1], -p.objectives[2]});
  }
  EXPECT_GE(subsets.size(), 8u);
  // Of one objective under a constraint, each subset's best within it, even
  // where subsets reach the same quality.
  ParetoPlan best = r.plan;
  best.objectives.resize(1);
  ASSERT_EQ(selquant::read_pareto(text + "constraints = [\"ai:* >= 0.8\"]\n", "p.toml", r.d, best),
            "");
  best.objectives.resize(1);
  best.structures = r.plan.structures;
  const Front within = selquant::pareto(r.d, best, options);
  std::map<int, double> grid_best;  // per subset the grid's best quality within the bound
  for (const auto& g : grid)
    if (g[1] >= 0.8) {
      double& q = grid_best.try_emplace(static_cast<int>(-g[2]), -1.0).first->second;
      q = std::max(q, g[0]);
    }
  std::map<int, double> found_best;
  for (const selquant::FrontPoint& p : within.points) {
    int subset = 0;
    for (int j : r.plan.structures[static_cast<std::size_t>(p.structure)][0])
      subset |= 1 << (j - 1);
    EXPECT_TRUE(found_best.emplace(subset, p.objectives[0]).second) << subset << " twice";
    EXPECT_GE(p.constrained[0], 0.8);
  }
  for (const auto& [subset, q] : grid_best) {
    ASSERT_TRUE(found_best.count(subset)) << subset;
    EXPECT_GT(found_best[subset], q - 1e-4) << subset;
  }
  // The front covers the grid's.
  std::array<double, 3> ref{1e9, 1e9, 1e9};
  for (const auto* set : {&grid, &found})
    for (const auto& g : *set)
      for (int o = 0; o < 3; ++o)
        ref[static_cast<std::size_t>(o)] =
            std::min(ref[static_cast<std::size_t>(o)], g[static_cast<std::size_t>(o)]);
  EXPECT_GT(hypervolume3(found, ref) / hypervolume3(grid, ref), 0.95);
  // Spread over the front: no two points nearer than half a lattice step of
  // its spans in every objective.
  std::array<double, 3> span{};
  for (std::size_t o = 0; o < 3; ++o) {
    const auto [lo, hi] = std::minmax_element(
        found.begin(), found.end(), [o](const auto& a, const auto& b) { return a[o] < b[o]; });
    span[o] = (*hi)[o] - (*lo)[o];
  }
  for (std::size_t i = 0; i < found.size(); ++i)
    for (std::size_t j = 0; j < i; ++j) {
      bool apart = false;
      for (std::size_t o = 0; o < 3; ++o)
        apart = apart || std::fabs(found[i][o] - found[j][o]) >= span[o] / 24;
      EXPECT_TRUE(apart) << i + 1 << " and " << j + 1;
    }
}

TEST(ParetoTest, AllStructuresAreRefusedPastTheirLimit) {
  // 7 predictors over 4 stages: of the 5^7 entries (a stage or none), those
  // that leave no stage empty, 5^7 - 4 4^7 + 6 3^7 - 4 2^7 + 1 = 25200.
  std::string text =
      "predictors = [\"A\", \"B\", \"C\", \"D\", \"E\", \"F\", \"G\"]\n"
      "criteria = [\"y\"]\ncriterion_weights = [1]\n";
  for (const char* r : {"0.8", "0.6", "0.4", "0.2"})
    text += std::string("[[stage]]\nretention = ") + r + "\nweights = [1, 1, 1, 1, 1, 1, 1]\n";
  text +=
      "[[group]]\nname = \"g\"\nproportion = 0.3\npredictor_d = [-1, 0, 0, 0, 0, 0, 0]\n"
      "[[group]]\nname = \"h\"\nproportion = 0.7\n[correlations]\npredictors = [";
  for (int i = 1; i < 7; ++i) {
    text += i > 1 ? ", [0" : "[0";
    for (int j = 1; j < i; ++j)
      text += ", 0";
    text += "]";
  }
  text += "]\nvalidities = [[0.3, 0.3, 0.3, 0.3, 0.3, 0.3, 0.3]]\n";
  Design d;
  ASSERT_EQ(selquant::read_design(text, "p.toml", d), "");
  ParetoPlan plan;
  EXPECT_EQ(selquant::read_pareto(
                text + "[pareto]\nobjectives = [\"quality\", \"ai:g\"]\nstructures = \"all\"\n",
                "p.toml", d, plan),
            "p.toml, line 28, column 14: pareto.structures: \"all\" makes 25200 structures of 7 "
            "predictors over 4 stages, more than 5000");
  EXPECT_EQ(selquant::count_structures(4, 2), 50u);  // 3^4 - 2 2^4 + 1
  EXPECT_EQ(selquant::all_structures(4, 2).size(), 50u);
}

TEST(ParetoTest, BadTablesNameTheKey) {
  Design d;
  const std::string base = std::string(kBobko).substr(0, std::string(kBobko).find("[pareto]"));
  ASSERT_EQ(selquant::read_design(base, "p.toml", d), "");
  for (auto [table, message] : std::vector<std::pair<std::string, std::string>>{
           {"[pareto]\nobjectives = [\"quality\", \"ai:minorty\"]\n",
            "p.toml, line 18, column 26: pareto.objectives[2]: no objective 'ai:minorty'; did "
            "you mean 'ai:minority'?"},
           {"[pareto]\nobjectives = [\"quality\"]\n",
            "p.toml, line 18, column 14: pareto.objectives: 2 to 5 objectives, not 1 (1 with "
            "constraints)"},
           {"[pareto]\nobjectives = [\"quality\", \"ai:minority\"]\npoints = 1\n",
            "p.toml, line 19, column 10: pareto.points: 1 is out of range: 2 to 1000"},
           {"[pareto]\nobjectives = [\"quality\", \"ai:minority\"]\nfree = [[\"CA\", \"GMA\"]]\n",
            "p.toml, line 19, column 16: pareto.free[1][2]: no predictor 'GMA'"},
           {"[pareto]\nobjectives = [\"quality\", \"ai:minority\"]\nretention = [{ low = 0, "
            "high = 0.5 }]\n",
            "p.toml, line 19, column 22: pareto.retention[1].low: must be above 0 and at most 1"},
           {"[pareto]\nobjectives = [\"quality\", \"ai:minority\"]\nretention = [0.1, 0.2]\n",
            "p.toml, line 19, column 13: pareto.retention: 2 retention rates for 1 stages"},
           {"[pareto]\nobjectives = [\"quality\"]\nconstraints = [\"ai:minorty >= 0.8\"]\n",
            "p.toml, line 19, column 16: pareto.constraints[1]: no measure 'ai:minorty'; did "
            "you mean 'ai:minority'?"},
           {"[pareto]\nobjectives = [\"quality\"]\nconstraints = [\"ai:* > 0.8\"]\n",
            "p.toml, line 19, column 16: pareto.constraints[1]: 'ai:* > 0.8' is not a "
            "constraint: \"MEASURE >= BOUND\" or \"MEASURE <= BOUND\""},
           {"[pareto]\nobjectives = [\"quality\"]\nconstraints = [\"quality >= high\"]\n",
            "p.toml, line 19, column 16: pareto.constraints[1]: 'high' is not a number"},
           {"[pareto]\nobjectives = [\"quality@p7\", \"ai:minority\"]\n",
            "p.toml, line 18, column 15: pareto.objectives[1]: 'p7' is no statistic: \"mean\" or "
            "\"p1\", \"p5\", \"p10\", \"p25\", \"p50\", \"p75\", \"p90\", \"p95\", \"p99\""},
           {"[pareto]\nobjectives = [\"quality@p5\", \"ai:minority\"]\n",
            "p.toml, line 18, column 15: pareto.objectives[1]: 'quality@p5': a statistic over "
            "draws needs a design with uncertain inputs"},
           {"[pareto]\nobjectives = [\"quality\", \"cost\"]\n",
            "p.toml, line 18, column 26: pareto.objectives[2]: 'cost' needs a [costs] table"},
           {"[pareto]\nobjectives = [\"quality\", \"ai:minority\"]\nstructures = [[[\"CA\", "
            "\"GMA\"]]]\n",
            "p.toml, line 19, column 23: pareto.structures[1][1][2]: no predictor 'GMA'"},
           {"[pareto]\nobjectives = [\"quality\", \"ai:minority\"]\nstructures = [[[\"CA\", "
            "\"CA\"]]]\n",
            "p.toml, line 19, column 23: pareto.structures[1][1][2]: 'CA' enters twice: a "
            "predictor "
            "enters at one stage"},
           {"[pareto]\nobjectives = [\"quality\", \"ai:minority\"]\nstructures = [[[\"CA\"], "
            "[\"SI\"]]]\n",
            "p.toml, line 19, column 15: pareto.structures[1]: 2 stages of entering predictors for "
            "1 "
            "stages"},
           {"[pareto]\nobjectives = [\"quality\", \"ai:minority\"]\nstructures = [[[\"CA\", "
            "\"B\"]], [[\"B\", "
            "\"CA\"]]]\n",
            "p.toml, line 19, column 30: pareto.structures[2]: is structure 1 again"},
           {"[pareto]\nobjectives = [\"quality\", \"ai:minority\"]\nstructures = [[[]]]\n",
            "p.toml, line 19, column 16: pareto.structures[1][1]: no predictor entered by stage 1"},
           {"[pareto]\nobjectives = [\"quality\", \"ai:minority\"]\nfree = [[\"CA\"]]\nstructures "
            "= \"all\"\n",
            "p.toml, line 20, column 14: pareto.structures: pareto.free lays out the stages too: "
            "give "
            "one of them"},
           {"[pareto]\nobjectives = [\"quality\", \"ai:minority\"]\nponits = 5\n",
            "p.toml, line 19, column 10: pareto.ponits: unknown key; did you mean 'points'?"},
           {"[pareto]\nobjectives = [\"quality\", \"ai:minority\"]\nsign = \"any\"\n",
            "p.toml, line 19, column 8: pareto.sign: unknown key; did you mean 'signs'?"}}) {
    ParetoPlan plan;
    EXPECT_EQ(selquant::read_pareto(base + table, "p.toml", d, plan), message);
  }
}

}  // namespace
