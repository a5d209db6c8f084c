// The best trade-offs between the quality of the selected and the adverse
// impact of the groups: the stage weights whose outcomes no other weights
// improve in every objective at once (the Pareto front), over all stages.
//
// Method: every objective is scaled from the worst to the best of the
// single-objective optima (the nadir and ideal points); each front point
// maximizes t subject to u(w) >= q + t (1, ..., 1), where q runs over a
// lattice on the hull of the scaled single-objective optima (normal-boundary
// intersection with inequality constraints), solved by COBYLA (NLopt) from a
// start that mixes the optima's weights alike. Every reported point is
// evaluated again at its normalized weights, exactly as an ordinary run does,
// and points another point dominates are dropped.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/design.hpp"

namespace selquant {

// One objective: the quality of all selected after the last stage, a group's
// Cum. AI after the last stage, the cost per applicant (minimized) or the
// utility; the others maximized.
struct Objective {
  enum class Measure { quality, ai, cost, utility };
  Measure measure = Measure::quality;
  int group = 0;     // 1-based, for a Cum. AI
  std::string name;  // "quality", "ai:GROUP", "cost" or "utility", "@STATISTIC", as written
  // Where the inputs are uncertain, a statistic over the search's draws
  // (those of an ordinary run of the design with the epoch and samples):
  // the mean or a percentile p (1 to 99, the report's rule); or none.
  static constexpr int kExpected = -1;
  static constexpr int kMean = 0;
  int statistic = kExpected;
  // Its values as the search maximizes them: a cost's negative; a Cum. AI as
  // the lower of the two rates over the higher, min(AI, 1 / AI), since a
  // ratio past parity is adverse impact on the base group, no better.
  double maximized(double v) const {
    if (measure == Measure::cost) return -v;
    if (measure == Measure::ai && v > 1) return 1 / v;
    return v;
  }
};

// A bound a reported design must keep: a measure (as an objective names it)
// at least or at most a value.
struct Constraint {
  Objective measure;
  bool at_least = true;
  double bound = 0;
  std::string text;  // as written, with "ai:*" replaced by the group's
  bool met(double v) const { return at_least ? v >= bound : v <= bound; }
};

// One layout of a design: per stage the predictors (1-based) that enter there,
// measured for the first time; at a stage every predictor entered by then may
// carry a weight, and every one that enters is paid for.
using Structure = std::vector<std::vector<int>>;

struct ParetoPlan {
  std::vector<Objective> objectives;  // 2 to 5, or 1 with constraints
  std::vector<Constraint> constraints;
  int points = 21;                     // along the front (more objectives: lattice divisions)
  std::vector<std::vector<int>> free;  // per stage the free predictors (1-based)
  bool any_sign = false;               // weights of any sign, else non-negative
  bool mean = false;                   // search the mean over `samples` draws
  int samples = 20;                    // draws for the mean and the bands
  // Per stage the range its retention rate is searched in (low == high: that
  // rate, fixed); empty: the design's rates, fixed. The ranges allow rates
  // that do not rise from one stage to the next, and only such are searched.
  std::vector<double> retention_low, retention_high;
  // The layouts searched, each on its own, their fronts joined; none: the
  // design's own layout with the free predictors above.
  std::vector<Structure> structures;
  bool searches_retention() const {
    for (std::size_t s = 0; s < retention_low.size(); ++s)
      if (retention_low[s] < retention_high[s]) return true;
    return false;
  }
};

struct SearchOptions {
  int threads = 1;
  std::int64_t epoch = 0;  // seeds the draws of the uncertain inputs
  mvn::Kernel kernel = mvn::Kernel::fast;
  // Told, one call at a time, how many of the searches (single-objective
  // optima and front points; with several structures, the structures) are
  // done of all; the last call has done == total.
  std::function<void(int done, int total)> progress;
};

struct FrontPoint {
  int structure = -1;                        // its index among the plan's, or -1
  std::vector<double> objectives;            // at the searched values
  std::vector<std::vector<double>> weights;  // per stage, per predictor; |w| sums to 1
  std::vector<double> retention;             // per stage
  double cost = 0;                           // per applicant, where the design has costs
  double utility = 0;                        // where the design has a [utility]
  std::vector<double> constrained;           // the constraints' measures
  // Over the draws, for a design with uncertain inputs: per objective.
  std::vector<double> mean, p5, p95;
};

struct Front {
  std::vector<FrontPoint> points;  // in order along the front
  FrontPoint design;               // the design's own weights
  bool bands = false;              // the design has uncertain inputs
  long evaluations = 0;            // of whole designs (each draw counted)
  // Where constraints leave no design: the one nearest to being met and the
  // value the nearest design found reaches.
  std::optional<std::pair<std::string, double>> unmet;
};

// The default free predictors: per stage those with a non-zero weight.
std::vector<std::vector<int>> default_free(const Design& d);

// The number of structures of p predictors over s stages in which every
// stage has a predictor entering (each predictor enters at one stage or is
// not used), and all of them, the first predictor's entry varying slowest.
std::size_t count_structures(int predictors, int stages);
std::vector<Structure> all_structures(int predictors, int stages);

// The design of a point for an ordinary run: the design at its expected
// values (exact, rectangular inputs at their midpoints) with the point's
// weights and retention rates.
Design point_design(const Design& d, const FrontPoint& p);

// The front of a design; throws std::invalid_argument for a plan that does not
// fit the design.
Front pareto(const Design& d, const ParetoPlan& plan, const SearchOptions& options);

// The search in pieces, for a cluster: the points one layout's search finds
// (structure s of the plan's; -1, the design's own layout where the plan has
// no structures), each piece apart; then the front of them all, given in the
// order of the structures: the front pareto() gives, bit for bit.
struct LayoutSearch {
  std::vector<FrontPoint> points;
  std::vector<std::vector<double>> searched;  // the points' objectives as maximized
  long evaluations = 0;                       // of whole designs, by this search
};
LayoutSearch search_layout(const Design& d, const ParetoPlan& plan, const SearchOptions& options,
                           int s);
Front join_found(const Design& d, const ParetoPlan& plan, const SearchOptions& options,
                 std::vector<LayoutSearch> found);

class Judge;

// The objectives of a design at its expected values for one weight vector
// after another, as the search judges them: what an ordinary exact run gives.
// Safe to call from several threads at once.
class Objectives {
 public:
  Objectives(const Design& d, const ParetoPlan& plan, mvn::Kernel kernel);
  ~Objectives();
  // With the given weights (per stage, per predictor), and retention rates
  // (per stage; else the design's).
  std::vector<double> at(const std::vector<std::vector<double>>& weights) const;
  std::vector<double> at(const std::vector<std::vector<double>>& weights,
                         const std::vector<double>& retention) const;

 private:
  std::unique_ptr<ParetoPlan> plan_;  // the judge refers to it
  std::unique_ptr<Judge> judge_;
  std::vector<double> retention_;  // the design's
};

// The objectives of a design with the given weights (per stage, per
// predictor), at its expected values: what an ordinary exact run gives.
std::vector<double> objectives_at(const Design& d, const ParetoPlan& plan,
                                  const std::vector<std::vector<double>>& weights,
                                  mvn::Kernel kernel);

}  // namespace selquant
