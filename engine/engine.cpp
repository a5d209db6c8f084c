#include "engine/engine.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "engine/given.hpp"
#include "engine/model.hpp"
#include "engine/schedule.hpp"
#include "numeric/dfzero.hpp"

namespace selquant {
namespace {

// Normal draws of correlations and validities are held inside this bound.
constexpr double kClip = 0.95;

class Sampler {
 public:
  Sampler(const Problem& p, RandomSources& rs) : p_(p), rs_(rs) {}

  // One element from its two rows: uniform between them, or a normal deviate
  // with their mean and standard deviation. A uniform number is taken in every
  // mode, so the uniform stream advances alike.
  double draw(float a, float h) {
    const float u = numeric::rand01(rs_.uniform, 0);
    double x = static_cast<double>(a) +
               static_cast<double>(u) * (static_cast<double>(h) - static_cast<double>(a));
    if (p_.smode == kNormal) x = numeric::rgauss(rs_.gauss, a, h);
    return x;
  }
  // A correlation or validity: normal draws are clipped to [-0.95, 0.95].
  double draw_correlation(float a, float h) {
    double x = draw(a, h);
    if (p_.smode == kNormal) {
      if (x >= kClip) x = kClip;
      if (x <= -kClip) x = -kClip;
    }
    return x;
  }

 private:
  const Problem& p_;
  RandomSources& rs_;
};

// One pass in flight: its own model and what happened to it.
struct Pass {
  Model model;
  PassResult result;
};

}  // namespace

int clock_seed(std::int64_t t) {
  return static_cast<int>((t % 1000) + (t % 12) + 1 + ((t % 9) + 1) * (t % 17));
}

void seed_sources(RandomSources& rs, int iseed) {
  for (int i = 0; i < iseed; ++i)
    numeric::rgauss(rs.gauss, 50.0f, 10.0f);
  numeric::rand01(rs.uniform, iseed);
  numeric::rand01(rs.uniform, iseed);
}

std::optional<double> draw_sample(const Problem& p, Model& m, RandomSources& rs) {
  Wdca& a = m.wdca;
  Wdcd& d = m.wdcd;
  Sampler sampler(p, rs);
  for (int g = 1; g <= a.ngroup; ++g) {
    for (int c = 1; c <= a.ncrit; ++c)
      a.dc(g, c) = sampler.draw(p.dc1(g, c), p.dc2(g, c));
    for (int j = 1; j <= a.npred; ++j)
      d.dp(g, j) = sampler.draw(p.dp1(g, j), p.dp2(g, j));
  }
  for (int g = 1; g < a.ngroup; ++g)
    a.prop(g) = sampler.draw(p.prop1(g), p.prop2(g));
  for (int i = 1; i <= a.ncrit; ++i)
    for (int j = i + 1; j <= a.ncrit; ++j)
      a.rcc(i, j) = sampler.draw_correlation(p.rc1(i, j), p.rc2(i, j));
  for (int i = 1; i <= a.npred; ++i)
    for (int j = i + 1; j <= a.npred; ++j)
      d.rpp(i, j) = sampler.draw_correlation(p.rp1(i, j), p.rp2(i, j));
  for (int c = 1; c <= a.ncrit; ++c)
    for (int j = 1; j <= a.npred; ++j)
      d.val(c, j) = sampler.draw_correlation(p.val1(c, j), p.val2(c, j));
  return complete_sample(m);
}

std::optional<double> complete_sample(Model& m) {
  Wdca& a = m.wdca;
  Wdcd& d = m.wdcd;
  // Group proportions: the base group takes what the others leave.
  double sum = 0;
  for (int g = 1; g < a.ngroup; ++g) {
    if (a.prop(g) < 0) a.prop(g) = 0;
    sum += a.prop(g);
  }
  if (sum >= 1) {
    for (int g = 1; g < a.ngroup; ++g)
      a.prop(g) *= 1 / sum;
    sum = 1;
  }
  a.prop(a.ngroup) = 1 - sum;
  double total = 0;
  for (int g = 1; g <= a.ngroup; ++g)
    total += a.prop(g);
  std::optional<double> check;
  if (std::fabs(1 - total) >= 1.0e-7) check = total;

  for (int i = 2; i <= a.ncrit; ++i)
    for (int j = 1; j < i; ++j)
      a.rcc(i, j) = a.rcc(j, i);
  for (int i = 2; i <= a.npred; ++i)
    for (int j = 1; j < i; ++j)
      d.rpp(i, j) = d.rpp(j, i);

  // Variance of the composite criterion and each group's standardized mean on it.
  a.vcrit = 0;
  for (int c = 1; c <= a.ncrit; ++c) {
    a.vcrit += a.cw(c) * a.cw(c) * a.rcc(c, c);
    for (int c2 = c + 1; c2 <= a.ncrit; ++c2)
      a.vcrit += 2 * a.cw(c) * a.cw(c2) * a.rcc(c, c2);
  }
  for (int g = 1; g <= a.ngroup; ++g) {
    double mean = 0;
    for (int c = 1; c <= a.ncrit; ++c)
      mean += a.cw(c) * a.dc(g, c) * std::sqrt(a.rcc(c, c));
    a.dcrit(g) = mean / std::sqrt(a.vcrit);
  }
  return check;
}

unsigned solve_cutoffs(Model& m) {
  unsigned failed = 0;
  for (int s = 1; s <= m.wdca.nstage; ++s) {
    m.wdca.istage = s;
    double b = -8.0;
    double c = 8.0;
    const double r = 0.0;
    const double re = 1.0e-6;
    const double ae = 1.0e-7;
    int iflag = 0;
    CutoffEquation equation(m);
    numeric::dfzero(equation, b, c, r, re, ae, iflag);
    // An exact zero is as good as convergence.
    if (iflag != numeric::kConverged && iflag != numeric::kExactZero) failed |= 1u << s;
    m.wdcb.cut(s) = b;
  }
  return failed;
}

Evaluation evaluate(const Problem& p, const Model& deck, const EngineOptions& options,
                    std::span<Sink* const> sinks) {
  RandomSources rs;
  seed_sources(rs, clock_seed(options.epoch));

  // The draws stay in pass order on this thread; the passes are computed on
  // worker threads and handed on in pass order. In exact mode every pass
  // draws the same values: the pass is computed once and its results handed
  // on again.
  const bool exact = p.smode == kExact;
  const int last = options.last > 0 ? std::min(options.last, p.nsamp) : p.nsamp;
  const int first = std::clamp(options.first, 1, last + 1);
  Schedule schedule;
  schedule.passes = last - first + 1;
  schedule.threads = exact ? 1 : std::max(1, options.threads);
  schedule.window = 4 * schedule.threads;
  std::vector<Pass> passes(static_cast<std::size_t>(schedule.window));
  auto slot_of = [&passes](int slot) -> Pass& { return passes[static_cast<std::size_t>(slot)]; };
  Evaluation ev;
  ev.saved = std::make_unique<Saved>();
  Model kernel_deck = deck;
  kernel_deck.wdca.kernel = options.kernel;
  // Exact mode: the computed pass 1 (its results and its failed stages).
  bool computed = false;
  unsigned computed_failed = 0;

  // The passes before the first: drawn, as a whole run draws them, and dropped.
  if (first > 1 && options.given == nullptr) {
    auto scratch = std::make_unique<Model>(kernel_deck);
    for (int k = 1; k < first; ++k)
      draw_sample(p, *scratch, rs);
  }

  auto prepare = [&](int k, int slot) {
    Pass& ps = slot_of(slot);
    ps.model = kernel_deck;
    ps.result = PassResult{};
    ps.result.k = first - 1 + k;
    ps.result.model = &ps.model;
    ps.result.proportion_total = draw_sample(p, ps.model, rs);
    // Given draws: the problem's rows are the expected values, drawn as they
    // are; the row's values replace them.
    if (options.given) ps.result.proportion_total = options.given->apply(ps.result.k, ps.model);
  };
  auto compute = [&](int, int slot) {
    Pass& ps = slot_of(slot);
    if (computed) {
      ps.model = *ev.exact;
      ps.result.failed = computed_failed;
      return;
    }
    if (!sample_is_valid(ps.model)) {
      ps.result.skipped = true;
      return;
    }
    ps.result.failed = solve_cutoffs(ps.model);
    ef(ps.model, ps.model.wdcb.cut);
    if (exact) {
      ev.exact = std::make_unique<Model>(ps.model);
      computed_failed = ps.result.failed;
      computed = true;
    }
  };
  auto finish = [&](int, int slot) {
    Pass& ps = slot_of(slot);
    PassResult& r = ps.result;
    if (r.skipped) {
      ++ev.saved->not_counted;
    } else {
      ++ev.searched;
      for (int s = 1; s <= kMaxStages; ++s)
        ev.not_found[static_cast<std::size_t>(s)] += (r.failed >> s) & 1u;
      const int before = ev.saved->count;
      save_pass(*ev.saved, ps.model);
      r.counted = ev.saved->count > before;
      if (r.counted && r.failed == 0) ++ev.whole;
    }
    for (Sink* sink : sinks)
      if (!sink->pass(r)) return false;
    return true;
  };
  ev.complete = run_in_order(schedule, prepare, compute, finish);
  if (ev.complete) ev.summary = summarize(p.smode, deck, *ev.saved);
  return ev;
}

Evaluation evaluate(const Design& d, const EngineOptions& options, std::span<Sink* const> sinks) {
  auto p = std::make_unique<Problem>();
  auto deck = std::make_unique<Model>();
  problem_of(d, *p, *deck);
  EngineOptions o = options;
  if (d.epoch) o.epoch = *d.epoch;
  return evaluate(*p, *deck, o, sinks);
}

}  // namespace selquant
