#include "engine/pareto.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <nlopt.hpp>
#include <stdexcept>
#include <thread>

#include "engine/economics.hpp"
#include "engine/engine.hpp"
#include "engine/model.hpp"

namespace selquant {
namespace {

// An objective that cannot be computed (no cutoff, nobody selected) counts as
// far worse than any that can.
constexpr double kWorst = -1e3;
// How far inside its bound the search takes a constraint, relative to the
// bound: above the round-off of evaluating a point again, far below what a
// reader of the front can see.
constexpr double kInside = 1e-7;
// An optimum taken on with its objective held must lose none of it, and gain
// more than this share of another objective's span, to replace it.
constexpr double kGain = 1e-6;

// The report's percentile of a sorted series: the value at p n / 100.
double percentile(const std::vector<double>& sorted, int p) {
  const std::size_t n = sorted.size();
  std::size_t i = static_cast<std::size_t>(p) * n / 100;
  return sorted[std::clamp<std::size_t>(i, 1, n) - 1];
}

// A statistic of a measure over the draws (Objective::statistic), of its
// values that are numbers: their mean, or a percentile by the report's rule.
double statistic(std::vector<double> values, int which) {
  values.erase(
      std::remove_if(values.begin(), values.end(), [](double v) { return !std::isfinite(v); }),
      values.end());
  if (values.empty()) return std::numeric_limits<double>::quiet_NaN();
  if (which == Objective::kMean) {
    double sum = 0;
    for (double v : values)
      sum += v;
    return sum / static_cast<double>(values.size());
  }
  std::sort(values.begin(), values.end());
  return percentile(values, which);
}
// COBYLA: the first steps span a tenth of a weight's range; the search stops
// when the weights move by less than this relative amount.
constexpr double kFirstStep = 0.1;
constexpr double kWeightTolerance = 1e-5;
// Evaluations per search, per variable: enough for COBYLA's simplex and a
// good deal of refinement, a bound on the cost of a large design.
constexpr int kEvaluationsPerVariable = 30;
// A start's short search, where a structure's starts are screened: enough
// for COBYLA's simplex and a few steps, and for a small design's constraints
// to be met (at least kScreenLeast evaluations).
constexpr int kScreenPerVariable = 8;
constexpr int kScreenLeast = 120;

// Runs f(i) for i < n on the given threads; each i writes only its own result.
template <class F>
void parallel_for(int n, int threads, F&& f) {
  if (threads <= 1 || n <= 1) {
    for (int i = 0; i < n; ++i)
      f(i);
    return;
  }
  std::atomic<int> next{0};
  std::vector<std::thread> pool;
  for (int t = 0; t < std::min(threads, n); ++t)
    pool.emplace_back([&] {
      for (int i; (i = next++) < n;)
        f(i);
    });
  for (std::thread& t : pool)
    t.join();
}

}  // namespace

Design point_design(const Design& d, const FrontPoint& p) {
  Design e = expected_design(d);
  for (std::size_t s = 0; s < e.stages.size(); ++s) {
    e.stages[s].weights = p.weights[s];
    e.stages[s].retention = p.retention[s];
  }
  return e;
}

// The models a weight vector is judged on: the expected values, or draws.
class Judge {
 public:
  Judge(const Design& d, const ParetoPlan& plan, const SearchOptions& options)
      : plan_(plan),
        kernel_(options.kernel),
        stages_(static_cast<int>(d.stages.size())),
        costs_(d.costs),
        entry_(entry_stages(d, plan.free)),
        utility_(d.utility),
        outputs_(plan.objectives) {
    for (const Constraint& c : plan.constraints)
      outputs_.push_back(c.measure);
    Problem p;
    Model deck;
    RandomSources rs;
    problem_of(expected_design(d), p, deck);
    expected_ = deck;
    draw_sample(p, expected_, rs);
    if (!sample_is_valid(expected_))
      throw std::invalid_argument(
          "the design's correlations and validities do not form a positive definite matrix");
    if (d.sampling == kExact) return;
    problem_of(d, p, deck);
    seed_sources(rs, clock_seed(options.epoch));
    for (int i = 0; i < plan.samples; ++i) {
      Model m = deck;
      draw_sample(p, m, rs);
      if (sample_is_valid(m)) draws_.push_back(m);
    }
    if (draws_.empty()) throw std::invalid_argument("no draw of the design is a valid model");
  }

  // The objectives of one model with the weights, then the constraints'
  // measures, on a spare model of the judge's (whose kept paths keep their
  // storage from one evaluation to the next); and the quality of all
  // selected, where asked.
  std::vector<double> on(const Model& base, const std::vector<std::vector<double>>& w,
                         const std::vector<double>& retention, double* quality = nullptr) const {
    std::unique_ptr<Model> spare = take();
    Model& m = *spare;
    m = base;
    m.wdca.kernel = kernel_;
    for (int s = 1; s <= stages_; ++s) {
      m.wdca.rr(s) = retention[static_cast<std::size_t>(s - 1)];
      for (int j = 1; j <= m.wdca.npred; ++j)
        m.wdcc.b(s, j) = w[static_cast<std::size_t>(s - 1)][static_cast<std::size_t>(j - 1)];
    }
    solve_cutoffs(m);
    ef(m, m.wdcb.cut, false);
    std::vector<double> f;
    for (const Objective& o : outputs_) {
      using M = Objective::Measure;
      f.push_back(o.measure == M::quality ? m.wdcf.qall(stages_)
                  : o.measure == M::ai    ? m.wdcc.aicum(stages_, o.group)
                  : o.measure == M::cost  ? cost(retention)
                                          : utility(retention, m.wdcf.qall(stages_)));
    }
    if (quality != nullptr) *quality = m.wdcf.qall(stages_);
    evaluations_ += 1;
    give_back(std::move(spare));
    return f;
  }
  double cost(const std::vector<double>& retention) const {
    return cost_per_applicant(costs_, entry_, retention);
  }
  double utility(const std::vector<double>& retention, double quality) const {
    return utility_ ? selquant::utility(*utility_, retention.back(), quality, cost(retention))
                    : 0.0;
  }
  // The cost and utility of a point, at the expected values.
  std::pair<double, double> economics(const std::vector<std::vector<double>>& w,
                                      const std::vector<double>& retention) const {
    double quality = 0;
    on(expected_, w, retention, &quality);
    return {cost(retention), utility(retention, quality)};
  }
  // The outputs as reported: at the expected values, or a statistic over
  // the draws where one is asked.
  std::vector<double> expected(const std::vector<std::vector<double>>& w,
                               const std::vector<double>& retention) const {
    return combined(w, retention, false);
  }
  // What the search maximizes: at the expected values or (uncertainty =
  // "mean") the mean over the draws, or a statistic over them where asked.
  std::vector<double> searched(const std::vector<std::vector<double>>& w,
                               const std::vector<double>& retention) const {
    return maximized(combined(w, retention, plan_.mean));
  }
  std::vector<double> combined(const std::vector<std::vector<double>>& w,
                               const std::vector<double>& retention, bool plain_as_mean) const {
    const bool mean = plain_as_mean && !draws_.empty();
    bool at_expected = false, over_draws = mean;
    for (const Objective& o : outputs_) {
      at_expected = at_expected || (o.statistic == Objective::kExpected && !mean);
      over_draws = over_draws || o.statistic != Objective::kExpected;
    }
    std::vector<double> out;
    if (at_expected) out = on(expected_, w, retention);
    out.resize(outputs_.size());
    if (!over_draws) return out;
    std::vector<std::vector<double>> series(outputs_.size());
    for (const Model& m : draws_) {
      const std::vector<double> f = on(m, w, retention);
      for (std::size_t i = 0; i < f.size(); ++i)
        series[i].push_back(f[i]);
    }
    for (std::size_t i = 0; i < outputs_.size(); ++i) {
      const int s = outputs_[i].statistic;
      if (s != Objective::kExpected) {
        out[i] = statistic(series[i], s);
      } else if (mean) {
        double sum = 0;
        for (double v : series[i])
          sum += v;
        out[i] = sum / static_cast<double>(series[i].size());
      }
    }
    return out;
  }
  // Values of the objectives as the search maximizes them, one that cannot
  // be computed far worse than any that can; then of the constraints as
  // their excess over what they allow (at most 0 where met), each bound
  // taken a little inside, so that a point the search finds on it is met
  // when evaluated again.
  std::vector<double> maximized(std::vector<double> f) const {
    const std::size_t k = plan_.objectives.size();
    for (std::size_t i = 0; i < f.size(); ++i) {
      if (i < k) {
        f[i] = std::isfinite(f[i]) ? plan_.objectives[i].maximized(f[i]) : worst(outputs_[i]);
        continue;
      }
      const Constraint& c = plan_.constraints[i - k];
      const double inside = kInside * (1 + std::fabs(c.bound));
      f[i] = !std::isfinite(f[i]) ? -worst(c.measure)
             : c.at_least         ? c.bound + inside - f[i]
                                  : f[i] - c.bound + inside;
    }
    return f;
  }
  // Quality and Cum. AI are of the order of 1; money is of its own scale.
  double worst(const Objective& o) const {
    double scale = 1;
    if (o.measure == Objective::Measure::cost || o.measure == Objective::Measure::utility) {
      double costs = 0;
      for (double c : costs_)
        costs += c;
      scale += costs + (utility_ ? utility_->applicants * (utility_->sdy + costs) : 0.0);
    }
    return kWorst * scale;
  }
  const std::vector<Model>& draws() const { return draws_; }
  long evaluations() const { return evaluations_; }

 private:
  // A spare model: one given back, or a new one (at most one per thread at a time).
  std::unique_ptr<Model> take() const {
    {
      const std::lock_guard<std::mutex> lock(spares_mutex_);
      if (!spares_.empty()) {
        std::unique_ptr<Model> m = std::move(spares_.back());
        spares_.pop_back();
        return m;
      }
    }
    return std::make_unique<Model>();
  }
  void give_back(std::unique_ptr<Model> m) const {
    const std::lock_guard<std::mutex> lock(spares_mutex_);
    spares_.push_back(std::move(m));
  }

  const ParetoPlan& plan_;
  mvn::Kernel kernel_;
  int stages_;
  std::vector<double> costs_;  // per predictor (none: nothing costs)
  std::vector<int> entry_;     // per predictor its first stage, or 0
  std::optional<Design::Utility> utility_;
  std::vector<Objective> outputs_;  // the objectives, then the constraints' measures
  Model expected_;
  std::vector<Model> draws_;
  mutable std::atomic<long> evaluations_{0};
  mutable std::mutex spares_mutex_;
  mutable std::vector<std::unique_ptr<Model>> spares_;
};

namespace {

// The search's variables: per stage, the direction of its free weights in
// hyperspherical angles, m - 1 of them for m free predictors, each scaled to
// [0, 1] (non-negative weights: angles in [0, pi/2]; any signs: the last in
// [-pi, pi], the others in [0, pi]). A direction has no scale to wander in:
// the weights' sizes do not matter to the selection. Then one variable in
// [0, 1] per stage whose retention rate is searched: the rate within the room
// its range leaves between the next stage's rate and the highest the earlier
// stages can keep, so that no rate rises from one stage to the next.
class Weights {
 public:
  Weights(const Design& d, const ParetoPlan& plan) : d_(d), any_(plan.any_sign) {
    for (std::size_t s = 0; s < plan.free.size(); ++s) {
      Block b{s, n_, {}};
      for (int j : plan.free[s])
        b.free.push_back(static_cast<std::size_t>(j - 1));
      if (b.free.empty()) continue;
      n_ += b.free.size() - 1;
      blocks_.push_back(b);
    }
    for (std::size_t s = 0; s < d.stages.size(); ++s) {
      const bool given = s < plan.retention_low.size();
      low_.push_back(given ? plan.retention_low[s] : d.stages[s].retention);
      high_.push_back(given ? plan.retention_high[s] : d.stages[s].retention);
      rate_.push_back(low_[s] < high_[s] ? n_++ : kFixed);
    }
    auto cost = [](const Objective& o) { return o.measure == Objective::Measure::cost; };
    bend_ = std::any_of(plan.objectives.begin(), plan.objectives.end(), cost) ||
            std::any_of(plan.constraints.begin(), plan.constraints.end(),
                        [&](const Constraint& c) { return cost(c.measure); });
  }
  std::size_t size() const { return n_; }

  // The variables as a front point's search moves them where a cost is
  // searched or bounded: a rate's variable v as (v + v^2) / 2, so that the
  // cost, linear in the rates, is not affine in what is searched (COBYLA's
  // linear steps can cycle without end on an affine constraint next to a
  // bound); and back.
  std::vector<double> bent(std::vector<double> x) const {
    for (std::size_t v : rate_)
      if (v != kFixed && bend_) x[v] = (std::sqrt(1 + 8 * x[v]) - 1) / 2;
    return x;
  }
  std::vector<double> unbent(std::vector<double> y) const {
    for (std::size_t v : rate_)
      if (v != kFixed && bend_) y[v] = (y[v] + y[v] * y[v]) / 2;
    return y;
  }

  // Every stage's retention rate from the variables.
  std::vector<double> retention(const std::vector<double>& x) const {
    std::vector<double> r(low_.size());
    double later = 0;  // the next stage's rate
    for (std::size_t s = low_.size(); s-- > 0;) {
      const auto [lo, hi] = room(s, later);
      r[s] = rate_[s] == kFixed ? low_[s] : lo + x[rate_[s]] * (hi - lo);
      later = r[s];
    }
    return r;
  }

  // Every stage's weights from the variables, normalized to absolute values
  // summing to 1.
  std::vector<std::vector<double>> of(const std::vector<double>& x) const {
    std::vector<std::vector<double>> w;
    for (const Design::Stage& st : d_.stages)
      w.push_back(st.weights);
    for (const Block& b : blocks_) {
      const std::size_t m = b.free.size();
      std::vector<double>& row = w[b.stage];
      std::fill(row.begin(), row.end(), 0.0);
      double sines = 1;
      for (std::size_t k = 0; k + 1 < m; ++k) {
        const double theta = angle(x[b.first + k], k + 2 == m);
        row[b.free[k]] = sines * std::cos(theta);
        sines *= std::sin(theta);
      }
      row[b.free[m - 1]] = sines;
    }
    for (auto& row : w)
      normalize(row);
    return w;
  }

  // The variables of given weights (their free parts) and of the design's
  // retention rates, where its ranges hold them (else the nearest end).
  std::vector<double> from(const std::vector<std::vector<double>>& w) const {
    std::vector<double> x(n_, 0.0);
    double later = 0;
    for (std::size_t s = low_.size(); s-- > 0;) {
      const auto [lo, hi] = room(s, later);
      if (rate_[s] == kFixed) {
        later = low_[s];
        continue;
      }
      const double r = std::clamp(d_.stages[s].retention, lo, hi);
      x[rate_[s]] = (r - lo) / (hi - lo);
      later = r;
    }
    for (const Block& b : blocks_) {
      const std::size_t m = b.free.size();
      std::vector<double> u;
      for (std::size_t j : b.free)
        u.push_back(any_ ? w[b.stage][j] : std::fabs(w[b.stage][j]));
      for (std::size_t k = 0; k + 1 < m; ++k) {
        double rest = 0;
        for (std::size_t i = k + 1; i < m; ++i)
          rest += u[i] * u[i];
        const double theta =
            k + 2 == m ? std::atan2(u[k + 1], u[k]) : std::atan2(std::sqrt(rest), u[k]);
        x[b.first + k] = std::clamp(scaled(theta, k + 2 == m), 0.0, 1.0);
      }
    }
    return x;
  }
  // The weights with predictor j stressed where it is free, and whether it is.
  bool stressed(std::size_t j, std::vector<std::vector<double>>& w) const {
    bool any = false;
    for (const Block& b : blocks_)
      for (std::size_t f : b.free) {
        w[b.stage][f] = f == j ? 1.0 : 0.05;
        any = any || f == j;
      }
    return any;
  }

  static void normalize(std::vector<double>& w) {
    double sum = 0;
    for (double v : w)
      sum += std::fabs(v);
    if (sum > 0)
      for (double& v : w)
        v /= sum;
  }

 private:
  static constexpr double kPi = 3.141592653589793;
  // A variable in [0, 1] as an angle, and back.
  double angle(double v, bool last) const {
    if (!any_) return v * kPi / 2;
    return last ? 2 * kPi * v - kPi : kPi * v;
  }
  double scaled(double theta, bool last) const {
    if (!any_) return theta / (kPi / 2);
    return last ? (theta + kPi) / (2 * kPi) : theta / kPi;
  }

  // The room of stage s's rate: above its low end and the next stage's rate,
  // below its high end and every earlier stage's.
  std::pair<double, double> room(std::size_t s, double later) const {
    double hi = high_[s];
    for (std::size_t t = 0; t < s; ++t)
      hi = std::min(hi, high_[t]);
    return {std::max(low_[s], later), hi};
  }

  struct Block {
    std::size_t stage;
    std::size_t first;  // its first variable
    std::vector<std::size_t> free;
  };
  static constexpr std::size_t kFixed = static_cast<std::size_t>(-1);
  const Design& d_;
  bool any_;
  std::size_t n_ = 0;
  std::vector<Block> blocks_;
  std::vector<double> low_, high_;  // per stage, the range of its rate
  std::vector<std::size_t> rate_;   // per stage its variable, or kFixed
  bool bend_ = false;
};

struct Found {
  std::vector<double> x;
  std::vector<double> f;  // searched objectives
};

// The searched values at a point, kept for the next call at the same point
// (COBYLA asks for the objective and the constraints apart).
class Evaluated {
 public:
  Evaluated(const Judge& judge, const Weights& weights) : judge_(judge), weights_(weights) {}
  const std::vector<double>& operator()(const std::vector<double>& x) {
    if (x != x_ || f_.empty()) {
      x_ = x;
      f_ = judge_.searched(weights_.of(x), weights_.retention(x));
    }
    return f_;
  }

 private:
  const Judge& judge_;
  const Weights& weights_;
  std::vector<double> x_, f_;
};

// The constraints' excesses among the searched values, after k objectives,
// as COBYLA's inequality constraints (c <= 0).
struct Excesses {
  Evaluated& at;
  std::size_t k;
  static void of(unsigned m, double* c, unsigned n, const double* v, double*, void* data) {
    auto& e = *static_cast<Excesses*>(data);
    const std::vector<double>& f = e.at(std::vector<double>(v, v + n));
    for (unsigned j = 0; j < m; ++j)
      c[j] = f[e.k + j];
  }
};

// Maximizes objective i (of k) from a start, within the constraints.
Found single(const Judge& judge, const Weights& weights, std::size_t i, std::vector<double> x,
             std::size_t k, std::size_t constraints, int evaluations = 0) {
  const std::size_t n = weights.size();
  Evaluated at(judge, weights);
  // Objective i, or (i >= k) the least excess of constraint i - k.
  auto value = [&](const std::vector<double>& v) { return i < k ? at(v)[i] : -at(v)[i]; };
  if (n > 0) {
    nlopt::opt opt(nlopt::LN_COBYLA, static_cast<unsigned>(n));
    opt.set_lower_bounds(0.0);
    opt.set_upper_bounds(1.0);
    opt.set_xtol_rel(kWeightTolerance);
    opt.set_maxeval(evaluations > 0 ? evaluations
                                    : kEvaluationsPerVariable * static_cast<int>(n + 1));
    opt.set_initial_step(kFirstStep);
    auto f = [](const std::vector<double>& v, std::vector<double>&, void* data) {
      return (*static_cast<decltype(value)*>(data))(v);
    };
    opt.set_max_objective(f, &value);
    Excesses excesses{at, k};
    if (constraints > 0)
      opt.add_inequality_mconstraint(&Excesses::of, &excesses,
                                     std::vector<double>(constraints, 1e-9));
    double best = 0;
    try {
      opt.optimize(x, best);
    } catch (const std::exception&) {
      // A search stopped by round-off keeps the best point it found.
    }
  }
  return {x, judge.searched(weights.of(x), weights.retention(x))};
}

// The front point for the hull point q: maximize t with u(x) >= q + t in the
// objectives that trade off (an objective the same at every optimum, such as
// the cost of a layout with fixed rates, would leave t bounded by itself and
// the others free); the held objectives keep at least q, without t. The
// constraints' excesses come after the searched objectives, as in single.
Found boundary(const Judge& judge, const Weights& weights, const std::vector<double>& q,
               const std::vector<double>& ideal, const std::vector<double>& nadir,
               const std::vector<std::size_t>& trading, std::vector<double> x,
               std::size_t constraints, const std::vector<std::size_t>& held = {}) {
  const std::size_t n = weights.size();
  const std::size_t k = q.size();
  auto scaled = [&](const std::vector<double>& f) {
    std::vector<double> u(k);
    for (std::size_t i = 0; i < k; ++i)
      u[i] = (f[i] - nadir[i]) / (ideal[i] - nadir[i]);
    return u;
  };
  if (n == 0 || trading.empty()) return {x, judge.searched(weights.of(x), weights.retention(x))};
  struct Boundary {
    const Judge& judge;
    const Weights& weights;
    const std::vector<double>& q;
    decltype(scaled)& scale;
    const std::vector<std::size_t>& trading;
    const std::vector<std::size_t>& held;
    std::size_t n;
  } problem{judge, weights, q, scaled, trading, held, n};
  // Variables: x bent, then t.
  std::vector<double> y = weights.bent(x);
  {
    const std::vector<double> u = scaled(judge.searched(weights.of(x), weights.retention(x)));
    double t = 1e9;
    for (std::size_t i : trading)
      t = std::min(t, u[i] - q[i]);
    y.push_back(t);
  }
  nlopt::opt opt(nlopt::LN_COBYLA, static_cast<unsigned>(n + 1));
  std::vector<double> lo(n + 1, 0.0), hi(n + 1, 1.0);
  lo[n] = -2;
  hi[n] = 2;
  opt.set_lower_bounds(lo);
  opt.set_upper_bounds(hi);
  opt.set_xtol_rel(kWeightTolerance);
  opt.set_maxeval(kEvaluationsPerVariable * static_cast<int>(n + 2));
  opt.set_initial_step(kFirstStep);
  opt.set_max_objective(
      [](const std::vector<double>& v, std::vector<double>&, void*) { return v.back(); }, nullptr);
  // c_i = q_i + t - u_i(x) <= 0 for the objectives that trade off, then the
  // constraints' excesses, all from one evaluation.
  opt.add_inequality_mconstraint(
      [](unsigned m, double* c, unsigned, const double* v, double*, void* data) {
        const auto& p = *static_cast<Boundary*>(data);
        const std::vector<double> xs = p.weights.unbent(std::vector<double>(v, v + p.n));
        const std::vector<double> f = p.judge.searched(p.weights.of(xs), p.weights.retention(xs));
        const std::vector<double> u = p.scale(f);
        const std::size_t k = p.trading.size();
        const std::size_t h = p.held.size();
        for (unsigned i = 0; i < m; ++i) {
          if (i < k) {
            c[i] = p.q[p.trading[i]] + v[p.n] - u[p.trading[i]];
          } else if (i < k + h) {
            c[i] = p.q[p.held[i - k]] - u[p.held[i - k]];  // held where q has it
          } else {
            c[i] = f[p.q.size() + i - k - h];
          }
        }
      },
      &problem, std::vector<double>(trading.size() + held.size() + constraints, 1e-9));
  double best = 0;
  try {
    opt.optimize(y, best);
  } catch (const std::exception&) {
  }
  y.pop_back();
  const std::vector<double> found = weights.unbent(y);
  return {found, judge.searched(weights.of(found), weights.retention(found))};
}

// The cost objectives among k (none of one objective alone).
std::vector<std::size_t> costs(const ParetoPlan& plan, std::size_t k) {
  std::vector<std::size_t> c;
  for (std::size_t i = 0; i < k && k > 1; ++i)
    if (plan.objectives[i].measure == Objective::Measure::cost) c.push_back(i);
  return c;
}

// The divisions of the lattice below: points - 1 for two objectives (a
// point at each end), points for more.
int lattice_divisions(const ParetoPlan& plan) {
  return std::max(1, plan.points - (plan.objectives.size() == 2 ? 1 : 0));
}

// The lattice of hull weights: all lambda with k parts of h divisions.
void lattice(std::size_t k, int h, std::vector<int>& part, std::vector<std::vector<double>>& out) {
  if (part.size() + 1 == k) {
    int used = 0;
    for (int p : part)
      used += p;
    std::vector<double> lambda;
    for (int p : part)
      lambda.push_back(static_cast<double>(p) / h);
    lambda.push_back(static_cast<double>(h - used) / h);
    out.push_back(lambda);
    return;
  }
  int used = 0;
  for (int p : part)
    used += p;
  for (int p = h - used; p >= 0; --p) {
    part.push_back(p);
    lattice(k, h, part, out);
    part.pop_back();
  }
}

bool dominates(const std::vector<double>& a, const std::vector<double>& b) {
  bool better = false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] < b[i]) return false;
    better = better || a[i] > b[i];
  }
  return better;
}

// Two points within a millionth in every objective: the second is a repeat.
bool same(const std::vector<double>& a, const std::vector<double>& b) {
  constexpr double kRepeat = 1e-6;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!(std::fabs(a[i] - b[i]) <= kRepeat * (1 + std::fabs(a[i])))) return false;
  return true;
}

}  // namespace

std::vector<std::vector<int>> default_free(const Design& d) {
  std::vector<std::vector<int>> free;
  for (const Design::Stage& s : d.stages) {
    std::vector<int> f;
    for (std::size_t j = 0; j < s.weights.size(); ++j)
      if (s.weights[j] != 0) f.push_back(static_cast<int>(j + 1));
    free.push_back(f);
  }
  return free;
}

Objectives::Objectives(const Design& d, const ParetoPlan& plan, mvn::Kernel kernel)
    : plan_(std::make_unique<ParetoPlan>(plan)) {
  SearchOptions o;
  o.kernel = kernel;
  plan_->mean = false;
  Design exact = d;
  exact.sampling = kExact;
  judge_ = std::make_unique<Judge>(exact, *plan_, o);
  for (const Design::Stage& s : d.stages)
    retention_.push_back(s.retention);
}

Objectives::~Objectives() = default;

std::vector<double> Objectives::at(const std::vector<std::vector<double>>& weights) const {
  return judge_->expected(weights, retention_);
}

std::vector<double> Objectives::at(const std::vector<std::vector<double>>& weights,
                                   const std::vector<double>& retention) const {
  return judge_->expected(weights, retention);
}

std::vector<double> objectives_at(const Design& d, const ParetoPlan& plan,
                                  const std::vector<std::vector<double>>& weights,
                                  mvn::Kernel kernel) {
  return Objectives(d, plan, kernel).at(weights);
}

std::size_t count_structures(int predictors, int stages) {
  // Inclusion and exclusion over the stages left without an entering
  // predictor: sum over j of (-1)^j C(s, j) (s + 1 - j)^p.
  double count = 0, choose = 1;
  for (int j = 0; j <= stages; ++j) {
    count += (j % 2 == 0 ? 1 : -1) * choose * std::pow(stages + 1 - j, predictors);
    choose = choose * (stages - j) / (j + 1);
  }
  return static_cast<std::size_t>(std::llround(count));
}

std::vector<Structure> all_structures(int predictors, int stages) {
  std::vector<Structure> all;
  // Each predictor's entry stage, 1 to s, or s + 1 for not used.
  std::vector<int> entry(static_cast<std::size_t>(predictors), 1);
  while (true) {
    Structure s(static_cast<std::size_t>(stages));
    for (int j = 0; j < predictors; ++j)
      if (entry[static_cast<std::size_t>(j)] <= stages)
        s[static_cast<std::size_t>(entry[static_cast<std::size_t>(j)] - 1)].push_back(j + 1);
    if (std::all_of(s.begin(), s.end(), [](const auto& e) { return !e.empty(); })) all.push_back(s);
    int j = predictors - 1;
    while (j >= 0 && entry[static_cast<std::size_t>(j)] == stages + 1)
      entry[static_cast<std::size_t>(j--)] = 1;
    if (j < 0) break;
    ++entry[static_cast<std::size_t>(j)];
  }
  return all;
}

namespace {

// One layout searched on its own: its design (weight 1 where a predictor may
// carry one, else 0), its plan (the free predictors of the layout), and the
// judge and variables of both.
struct Layout {
  Layout(const Design& d, const ParetoPlan& p, const SearchOptions& options)
      : design(d), plan(p), judge(design, plan, options), weights(design, plan) {}
  Design design;
  ParetoPlan plan;
  Judge judge;
  Weights weights;
};

std::unique_ptr<Layout> layout_of(const Design& d, const ParetoPlan& plan,
                                  const SearchOptions& options, const Structure* s) {
  if (s == nullptr) return std::make_unique<Layout>(d, plan, options);
  Design sd = d;
  ParetoPlan sp = plan;
  sp.structures.clear();
  sp.free.assign(d.stages.size(), {});
  std::vector<int> entered;
  for (std::size_t st = 0; st < d.stages.size(); ++st) {
    entered.insert(entered.end(), (*s)[st].begin(), (*s)[st].end());
    std::sort(entered.begin(), entered.end());
    sp.free[st] = entered;
    std::fill(sd.stages[st].weights.begin(), sd.stages[st].weights.end(), 0.0);
    for (int j : entered)
      sd.stages[st].weights[static_cast<std::size_t>(j - 1)] = 1;
  }
  return std::make_unique<Layout>(sd, sp, options);
}

// The points one layout's searches find, each evaluated again exactly, and
// their objectives as the search maximizes them.
struct Candidates {
  std::vector<FrontPoint> points;
  std::vector<std::vector<double>> searched;
};

Candidates candidates(const Layout& layout, int threads, bool screen,
                      const std::function<void()>& tell, int* count = nullptr) {
  const Design& d = layout.design;
  const ParetoPlan& plan = layout.plan;
  const Judge& judge = layout.judge;
  const Weights& weights = layout.weights;
  const std::size_t k = plan.objectives.size();
  const std::size_t nc = plan.constraints.size();
  const std::size_t n = weights.size();

  // The starts of the single-objective searches: the design's weights, equal
  // weights, and each predictor stressed where it is free.
  std::vector<std::vector<double>> own;
  for (const Design::Stage& st : d.stages)
    own.push_back(st.weights);
  std::vector<std::vector<double>> starts;
  starts.push_back(weights.from(own));
  {
    std::vector<std::vector<double>> equal = own;
    for (auto& row : equal)
      std::fill(row.begin(), row.end(), 1.0);
    const std::vector<double> x = weights.from(equal);
    if (x != starts[0]) starts.push_back(x);
  }
  for (std::size_t j = 0; j < d.predictors.size() && n > 0; ++j) {
    std::vector<std::vector<double>> w = own;
    if (weights.stressed(j, w)) starts.push_back(weights.from(w));
  }
  // One objective: its constrained optimum alone.
  std::vector<std::vector<double>> lambdas;
  std::vector<int> part;
  if (k > 1) lattice(k, lattice_divisions(plan), part, lambdas);
  if (count != nullptr) {
    *count =
        static_cast<int>(nc + k * (starts.size() + nc) + lambdas.size() + costs(plan, k).size());
    return {};
  }
  // With constraints, first for each the point that meets it best, from the
  // design's weights: starts from which the others are met more easily.
  {
    std::vector<Found> meet(nc);
    parallel_for(static_cast<int>(nc), threads, [&](int c) {
      meet[static_cast<std::size_t>(c)] =
          single(judge, weights, k + static_cast<std::size_t>(c), starts[0], k, 0);
      tell();
    });
    for (const Found& m : meet)
      starts.push_back(m.x);
  }
  // Of a structure among several, each start is a short search and only the
  // best of them goes on to the full one.
  const int full = kEvaluationsPerVariable * static_cast<int>(n + 1);
  const int short_search = std::max(kScreenPerVariable * static_cast<int>(n + 1), kScreenLeast);
  screen = screen && short_search < full;
  const int evaluations = screen ? short_search : full;
  std::vector<Found> tries(k * starts.size());
  parallel_for(static_cast<int>(tries.size()), threads, [&](int t) {
    const auto T = static_cast<std::size_t>(t);
    tries[T] =
        single(judge, weights, T / starts.size(), starts[T % starts.size()], k, nc, evaluations);
    tell();
  });
  // The best of each objective's tries: a point within the constraints
  // before one without, then the better.
  auto within = [&](const Found& f) {
    for (std::size_t j = k; j < k + nc; ++j)
      if (f.f[j] > 0) return false;
    return true;
  };
  std::vector<Found> best(k);
  for (std::size_t i = 0; i < k; ++i) {
    best[i] = tries[i * starts.size()];
    for (std::size_t s = 1; s < starts.size(); ++s) {
      const Found& f = tries[i * starts.size() + s];
      if (within(f) != within(best[i]) ? within(f) : f.f[i] > best[i].f[i]) best[i] = f;
    }
    if (screen) {
      const Found f = single(judge, weights, i, best[i].x, k, nc);
      if (within(f) != within(best[i]) ? within(f) : f.f[i] >= best[i].f[i]) best[i] = f;
    }
  }
  std::vector<double> ideal(k), nadir(k);
  std::vector<std::size_t> trading;
  for (std::size_t i = 0; i < k; ++i) {
    ideal[i] = best[i].f[i];
    nadir[i] = ideal[i];
    for (std::size_t j = 0; j < k; ++j)
      nadir[i] = std::min(nadir[i], best[j].f[i]);
    if (ideal[i] > nadir[i])
      trading.push_back(i);
    else
      nadir[i] = ideal[i] - 1;  // no trade-off in it
  }
  // The scaled optima span the hull; each lattice point gives a front point.
  std::vector<std::vector<double>> hull(k, std::vector<double>(k));
  for (std::size_t j = 0; j < k; ++j)
    for (std::size_t i = 0; i < k; ++i)
      hull[j][i] = (best[j].f[i] - nadir[i]) / (ideal[i] - nadir[i]);
  std::vector<Found> found(lambdas.size());
  parallel_for(static_cast<int>(lambdas.size()), threads, [&](int l) {
    const std::vector<double>& lambda = lambdas[static_cast<std::size_t>(l)];
    std::vector<double> q(k, 0.0), x(n, 0.0);
    for (std::size_t j = 0; j < k; ++j) {
      for (std::size_t i = 0; i < k; ++i)
        q[i] += lambda[j] * hull[j][i];
      for (std::size_t v = 0; v < n; ++v)
        x[v] += lambda[j] * best[j].x[v];
    }
    found[static_cast<std::size_t>(l)] = boundary(judge, weights, q, ideal, nadir, trading, x, nc);
    tell();
  });
  // The optimum of a cost leaves the others short: it is flat (any weights
  // at the cheapest rates), and the search stops anywhere on it. It is taken
  // on with the cost held, and replaced where the others gain.
  const std::vector<std::size_t> flat = costs(plan, k);
  std::vector<Found> polished(flat.size());
  parallel_for(static_cast<int>(flat.size()), threads, [&](int o) {
    const std::size_t i = flat[static_cast<std::size_t>(o)];
    std::vector<double> q(k);
    for (std::size_t j = 0; j < k; ++j)
      q[j] = (best[i].f[j] - nadir[j]) / (ideal[j] - nadir[j]);
    std::vector<std::size_t> others;
    for (std::size_t j : trading)
      if (j != i) others.push_back(j);
    polished[static_cast<std::size_t>(o)] =
        boundary(judge, weights, q, ideal, nadir, others, best[i].x, nc, {i});
    tell();
  });
  for (std::size_t o = 0; o < flat.size(); ++o) {
    const std::size_t i = flat[o];
    const Found& f = polished[o];
    bool gains = within(f) || !within(best[i]);
    gains = gains && f.f[i] >= best[i].f[i];
    bool some = false;
    for (std::size_t j = 0; j < k && gains; ++j)
      if (j != i) {
        gains = f.f[j] >= best[i].f[j];
        some = some || f.f[j] > best[i].f[j] + kGain * (ideal[j] - nadir[j]);
      }
    if (gains && some) best[i] = f;
  }
  // The single-objective optima belong to the front too (for two objectives
  // at its ends).
  if (k == 1) {
    found.push_back(best[0]);
  } else if (k == 2) {
    found.insert(found.begin(), best[0]);
    found.push_back(best[1]);
  } else {
    found.insert(found.end(), best.begin(), best.end());
  }

  Candidates c;
  c.points.resize(found.size());
  parallel_for(static_cast<int>(found.size()), threads, [&](int i) {
    FrontPoint& p = c.points[static_cast<std::size_t>(i)];
    p.weights = weights.of(found[static_cast<std::size_t>(i)].x);
    p.retention = weights.retention(found[static_cast<std::size_t>(i)].x);
    p.objectives = judge.expected(p.weights, p.retention);
    p.constrained.assign(p.objectives.begin() + static_cast<std::ptrdiff_t>(k), p.objectives.end());
    p.objectives.resize(k);
    std::tie(p.cost, p.utility) = judge.economics(p.weights, p.retention);
  });
  // The objectives searched decide which are kept.
  c.searched.resize(found.size());
  for (std::size_t i = 0; i < found.size(); ++i) {
    c.searched[i] = plan.mean ? found[i].f : judge.maximized(c.points[i].objectives);
    c.searched[i].resize(k);
  }
  return c;
}

void check_objectives(const ParetoPlan& plan) {
  const std::size_t k = plan.objectives.size();
  if (k < (plan.constraints.empty() ? 2u : 1u) || k > 5)
    throw std::invalid_argument("2 to 5 objectives (1 with constraints)");
}

// The layouts: the design's own, then each structure's.
std::vector<std::unique_ptr<Layout>> layouts_of(const Design& d, const ParetoPlan& plan,
                                                const SearchOptions& options) {
  std::vector<std::unique_ptr<Layout>> layouts;
  layouts.push_back(layout_of(d, plan, options, nullptr));
  for (const Structure& s : plan.structures)
    layouts.push_back(layout_of(d, plan, options, &s));
  return layouts;
}

// The front of what every layout's search found (one per structure, or the
// design's own layout's), judged by the layouts' judges.
Front join(const Design& d, const ParetoPlan& plan, const SearchOptions& options,
           const std::vector<std::unique_ptr<Layout>>& layouts, std::vector<Candidates>& each);

}  // namespace

Front pareto(const Design& d, const ParetoPlan& plan, const SearchOptions& options) {
  check_objectives(plan);
  const std::size_t ns = plan.structures.size();
  const std::vector<std::unique_ptr<Layout>> layouts = layouts_of(d, plan, options);

  // Every search done is told, in order, one at a time; of several
  // structures each one is.
  int total = static_cast<int>(ns);
  if (ns == 0) candidates(*layouts[0], 1, false, {}, &total);
  std::mutex told;
  int done = 0;
  auto tell = [&] {
    if (!options.progress) return;
    const std::lock_guard<std::mutex> lock(told);
    options.progress(++done, total);
  };
  std::vector<Candidates> each(std::max<std::size_t>(ns, 1));
  if (ns == 0) {
    each[0] = candidates(*layouts[0], options.threads, false, tell);
  } else {
    // Structures are independent: one at a time on each thread.
    parallel_for(static_cast<int>(ns), options.threads, [&](int s) {
      each[static_cast<std::size_t>(s)] =
          candidates(*layouts[static_cast<std::size_t>(s) + 1], 1, true, [] {});
      for (FrontPoint& p : each[static_cast<std::size_t>(s)].points)
        p.structure = s;
      tell();
    });
  }
  return join(d, plan, options, layouts, each);
}

LayoutSearch search_layout(const Design& d, const ParetoPlan& plan, const SearchOptions& options,
                           int s) {
  check_objectives(plan);
  const int ns = static_cast<int>(plan.structures.size());
  if (ns == 0 ? s != -1 : s < 0 || s >= ns) throw std::invalid_argument("no such structure");
  const std::unique_ptr<Layout> layout =
      layout_of(d, plan, options, s < 0 ? nullptr : &plan.structures[static_cast<std::size_t>(s)]);
  // As pareto() searches it: the design's layout on the threads given, a
  // structure (one of several) on one.
  Candidates c = s < 0 ? candidates(*layout, options.threads, false, [] {})
                       : candidates(*layout, 1, true, [] {});
  for (FrontPoint& p : c.points)
    p.structure = s;
  return {std::move(c.points), std::move(c.searched), layout->judge.evaluations()};
}

Front join_found(const Design& d, const ParetoPlan& plan, const SearchOptions& options,
                 std::vector<LayoutSearch> found) {
  check_objectives(plan);
  const std::size_t ns = plan.structures.size();
  if (found.size() != std::max<std::size_t>(ns, 1))
    throw std::invalid_argument("one search's points per structure");
  const std::vector<std::unique_ptr<Layout>> layouts = layouts_of(d, plan, options);
  std::vector<Candidates> each;
  long evaluations = 0;
  for (LayoutSearch& f : found) {
    each.push_back({std::move(f.points), std::move(f.searched)});
    evaluations += f.evaluations;
  }
  Front front = join(d, plan, options, layouts, each);
  front.evaluations += evaluations;
  return front;
}

namespace {

Front join(const Design& d, const ParetoPlan& plan, const SearchOptions& options,
           const std::vector<std::unique_ptr<Layout>>& layouts, std::vector<Candidates>& each) {
  const std::size_t k = plan.objectives.size();
  const std::size_t nc = plan.constraints.size();
  const std::size_t ns = plan.structures.size();
  const Judge& judge = layouts[0]->judge;
  std::vector<FrontPoint> points;
  std::vector<std::vector<double>> searched;
  for (Candidates& c : each) {
    points.insert(points.end(), c.points.begin(), c.points.end());
    searched.insert(searched.end(), c.searched.begin(), c.searched.end());
  }

  // A point whose objectives are not all numbers (no cutoff, nobody selected)
  // or that breaks a constraint (evaluated again) is no point of the front,
  // and no judge of the others.
  std::vector<bool> finite_point(points.size(), true);
  for (std::size_t i = 0; i < points.size(); ++i) {
    for (std::size_t o = 0; o < k; ++o)
      finite_point[i] = finite_point[i] && std::isfinite(points[i].objectives[o]) &&
                        std::isfinite(searched[i][o]);
    for (std::size_t c = 0; c < nc; ++c)
      finite_point[i] = finite_point[i] && plan.constraints[c].met(points[i].constrained[c]);
  }
  // Not dominated, not repeated; of one objective, each structure's best.
  Front front;
  front.bands = d.sampling != kExact;
  std::vector<std::size_t> kept;
  for (std::size_t i = 0; i < points.size(); ++i) {
    bool keep = finite_point[i];
    for (std::size_t j = 0; j < points.size() && keep && k > 1; ++j)
      if (j != i && finite_point[j] && dominates(searched[j], searched[i])) keep = false;
    for (std::size_t j : kept)  // a repeat of a kept one (of one objective, in its structure)
      if (keep && (k > 1 || points[j].structure == points[i].structure) &&
          same(searched[j], searched[i]))
        keep = false;
    if (keep) kept.push_back(i);
  }
  // Of several structures, or of two objectives (along the front), in order
  // of the first objective, best first.
  if (ns > 0 || k == 2)
    std::stable_sort(kept.begin(), kept.end(),
                     [&](std::size_t a, std::size_t b) { return searched[a][0] > searched[b][0]; });
  // The union of several structures' fronts is as dense as one structure's:
  // in that order, a point nearer to a kept one than a lattice step (of
  // the objectives' spans over the union, in every objective) adds nothing.
  if (ns > 0 && k > 1) {
    std::vector<double> low(k, std::numeric_limits<double>::infinity()), high(k, -low[0]);
    for (std::size_t i : kept)
      for (std::size_t o = 0; o < k; ++o) {
        low[o] = std::min(low[o], searched[i][o]);
        high[o] = std::max(high[o], searched[i][o]);
      }
    const double step = 1.0 / lattice_divisions(plan);
    std::vector<std::size_t> spread;
    for (std::size_t i : kept) {
      const bool apart = std::all_of(spread.begin(), spread.end(), [&](std::size_t j) {
        for (std::size_t o = 0; o < k; ++o)
          if (std::fabs(searched[i][o] - searched[j][o]) >= step * (high[o] - low[o])) return true;
        return false;
      });
      if (apart) spread.push_back(i);
    }
    kept = spread;
  }
  for (std::size_t i : kept)
    front.points.push_back(points[i]);
  // No design within the constraints: the constraint nearest to being met,
  // by the design nearest to meeting them all (its largest excess relative
  // to the bounds the smallest).
  if (front.points.empty() && nc > 0) {
    double nearest = std::numeric_limits<double>::infinity();
    for (const FrontPoint& p : points) {
      double worst_excess = -1;
      std::size_t worst_c = 0;
      for (std::size_t c = 0; c < nc; ++c) {
        const Constraint& con = plan.constraints[c];
        const double v = p.constrained[c];
        const double excess = !std::isfinite(v) ? std::numeric_limits<double>::infinity()
                                                : (con.at_least ? con.bound - v : v - con.bound) /
                                                      (1 + std::fabs(con.bound));
        if (excess > worst_excess) {
          worst_excess = excess;
          worst_c = c;
        }
      }
      if (worst_excess < nearest) {
        nearest = worst_excess;
        front.unmet = std::pair{plan.constraints[worst_c].text, p.constrained[worst_c]};
      }
    }
  }
  // The design's own point.
  {
    std::vector<std::vector<double>> w;
    for (const Design::Stage& s : d.stages)
      w.push_back(s.weights);
    for (auto& row : w)
      Weights::normalize(row);
    front.design.weights = w;
    for (const Design::Stage& s : d.stages)
      front.design.retention.push_back(s.retention);
    front.design.objectives = judge.expected(w, front.design.retention);
    front.design.constrained.assign(
        front.design.objectives.begin() + static_cast<std::ptrdiff_t>(k),
        front.design.objectives.end());
    front.design.objectives.resize(k);
    std::tie(front.design.cost, front.design.utility) = judge.economics(w, front.design.retention);
  }
  // Bands over the draws, each point judged by its layout's judge (a cost
  // is of the layout).
  if (front.bands) {
    std::vector<FrontPoint*> all;
    for (FrontPoint& p : front.points)
      all.push_back(&p);
    all.push_back(&front.design);
    parallel_for(static_cast<int>(all.size()), options.threads, [&](int i) {
      FrontPoint& p = *all[static_cast<std::size_t>(i)];
      const Judge& by = layouts[static_cast<std::size_t>(p.structure + 1)]->judge;
      std::vector<std::vector<double>> series(k);
      for (const Model& m : by.draws()) {
        const std::vector<double> f = by.on(m, p.weights, p.retention);
        for (std::size_t o = 0; o < k; ++o)
          series[o].push_back(f[o]);
      }
      for (std::size_t o = 0; o < k; ++o) {
        std::vector<double>& s = series[o];
        std::sort(s.begin(), s.end());
        double sum = 0;
        for (double v : s)
          sum += v;
        p.mean.push_back(sum / static_cast<double>(s.size()));
        p.p5.push_back(percentile(s, 5));
        p.p95.push_back(percentile(s, 95));
      }
    });
  }
  for (const auto& l : layouts)
    front.evaluations += l->judge.evaluations();
  return front;
}

}  // namespace

}  // namespace selquant
