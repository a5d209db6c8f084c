// Cost of the probability kernels and of one complete sample, on inputs typical
// of selection problems (limits in [-2, 2], correlations 0.2 to 0.8).
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

#include "app/run.hpp"
#include "engine/model.hpp"
#include "engine/pareto.hpp"
#include "formats/source.hpp"
#include "mvn/batch.hpp"
#include "mvn/mvn.hpp"
#include "numeric/dfzero.hpp"

namespace {

constexpr int kInputs = 64;

struct Inputs {
  std::vector<std::array<double, 4>> h;
  std::vector<std::array<double, 6>> r;
};

// Limits in [-2, 2]; equicorrelated-plus-noise matrices with entries 0.2 to 0.8,
// which stay positive definite.
Inputs make_inputs(double rlo, double rhi) {
  std::mt19937 gen(3);
  std::uniform_real_distribution<double> lim(-2, 2);
  std::uniform_real_distribution<double> cor(rlo, rhi);
  Inputs in;
  for (int i = 0; i < kInputs; ++i) {
    in.h.push_back({lim(gen), lim(gen), lim(gen), lim(gen)});
    const double base = cor(gen);
    std::array<double, 6> r{};
    for (double& v : r)
      v = std::min(rhi, std::max(rlo, base + 0.05 * (cor(gen) - base)));
    in.r.push_back(r);
  }
  return in;
}

void BM_phid(benchmark::State& state) {
  const Inputs in = make_inputs(0.2, 0.8);
  std::size_t i = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(mvn::phid(in.h[i++ % kInputs][0]));
}
BENCHMARK(BM_phid);

// bvnd with |r| in the range of each rule: 6, 12 and 20 points, and the
// high-correlation form.
void BM_bvnd(benchmark::State& state) {
  static constexpr std::array<std::array<double, 2>, 4> ranges = {
      {{0.05, 0.29}, {0.3, 0.74}, {0.75, 0.92}, {0.93, 0.99}}};
  const auto& rg = ranges[static_cast<std::size_t>(state.range(0))];
  const Inputs in = make_inputs(rg[0], rg[1]);
  std::size_t i = 0;
  for (auto _ : state) {
    const auto& h = in.h[i % kInputs];
    benchmark::DoNotOptimize(mvn::bvnd(h[0], h[1], in.r[i % kInputs][0]));
    ++i;
  }
}
BENCHMARK(BM_bvnd)->DenseRange(0, 3)->ArgName("rule");

// The trivariate integration with the bivariate rule recomputed at every node
// (plain) against the rule prepared once for the conditional correlation.
void BM_trivariate_integration(benchmark::State& state) {
  const bool prepared = state.range(0) == 1;
  const Inputs in = make_inputs(0.2, 0.8);
  std::size_t i = 0;
  for (auto _ : state) {
    const auto& h = in.h[i % kInputs];
    const double rp = in.r[i % kInputs][2];
    const mvn::Bvn given(rp);
    double v;
    if (prepared) {
      v = mvn::adoned(
          [&](double t) { return std::exp(-t * t / 2) * given(0.3 * t - h[1], 0.4 * t - h[2]); },
          -7.5, -std::fabs(h[0]), 1e-7);
    } else {
      v = mvn::adoned(
          [&](double t) {
            return std::exp(-t * t / 2) * mvn::bvnd(0.3 * t - h[1], 0.4 * t - h[2], rp);
          },
          -7.5, -std::fabs(h[0]), 1e-7);
    }
    benchmark::DoNotOptimize(v);
    ++i;
  }
}
BENCHMARK(BM_trivariate_integration)->Arg(0)->Arg(1)->ArgName("prepared");

// The integrations node by node (vector:0) and a Kronrod step's nodes at a time
// in the widest vector lanes (vector:1); the same bits either way.
mvn::Simd path(const benchmark::State& state) {
  return state.range(0) == 0 ? mvn::Simd::none : mvn::default_simd();
}

void BM_tvnd(benchmark::State& state) {
  const Inputs in = make_inputs(0.2, 0.8);
  const mvn::Simd simd = path(state);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        mvn::tvnd(in.h[i % kInputs].data(), in.r[i % kInputs].data(), 1e-7, nullptr, simd));
    ++i;
  }
}
BENCHMARK(BM_tvnd)->Arg(0)->Arg(1)->ArgName("vector");

void BM_qvnd(benchmark::State& state) {
  const Inputs in = make_inputs(0.2, 0.8);
  const mvn::Simd simd = path(state);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        mvn::qvnd(in.h[i % kInputs].data(), in.r[i % kInputs].data(), 1e-7, nullptr, simd));
    ++i;
  }
}
BENCHMARK(BM_qvnd)->Arg(0)->Arg(1)->ArgName("vector")->Unit(benchmark::kMicrosecond);

// Arguments of the exponential as the bivariate rule has them.
std::vector<double> exp_arguments(int n) {
  std::vector<double> x(static_cast<std::size_t>(n));
  std::mt19937 gen(5);
  std::uniform_real_distribution<double> arg(-30, 0);
  for (double& v : x)
    v = arg(gen);
  return x;
}

// The exponential over the arguments of one Kronrod step (23) and of a step's
// bivariate rule (276).
void BM_exp(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<double> x = exp_arguments(n);
  std::vector<double> y(x.size());
  const auto& kernels = mvn::batch::kernels(mvn::default_simd());
  for (auto _ : state) {
    kernels.exp(x.data(), y.data(), n);
    benchmark::DoNotOptimize(y.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_exp)->Arg(23)->Arg(276);

// The C library's exp on the same arguments, for comparison.
void BM_exp_libm(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<double> x = exp_arguments(n);
  std::vector<double> y(x.size());
  for (auto _ : state) {
    for (int i = 0; i < n; ++i)
      y[static_cast<std::size_t>(i)] = std::exp(x[static_cast<std::size_t>(i)]);
    benchmark::DoNotOptimize(y.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_exp_libm)->Arg(276);

void BM_g01hb(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const mvn::Kernel kernel = state.range(1) == 1 ? mvn::Kernel::fast : mvn::Kernel::specified;
  const Inputs in = make_inputs(0.2, 0.8);
  std::vector<std::array<double, 36>> corr(kInputs);
  for (int k = 0; k < kInputs; ++k) {
    int m = 0;
    for (int i = 0; i < 6; ++i)
      corr[k][i + 6 * i] = 1;
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < i; ++j)
        corr[k][i + 6 * j] = corr[k][j + 6 * i] = in.r[k][m++];
  }
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        mvn::g01hb(n, in.h[i % kInputs].data(), corr[i % kInputs].data(), kernel));
    ++i;
  }
}
// Dimensions 1 to 4 with the specified kernel (fast:0) and 3 and 4 with the fast one.
BENCHMARK(BM_g01hb)
    ->ArgsProduct({{1, 2, 3, 4}, {0}})
    ->ArgsProduct({{3, 4}, {1}})
    ->ArgNames({"ndim", "fast"})
    ->Unit(benchmark::kMicrosecond);

// One complete sample of a four-stage, five-group, ten-predictor problem: all
// cutoffs solved and the results evaluated.
void BM_sample(benchmark::State& state) {
  selquant::Model m;
  auto& a = m.wdca;
  a.nstage = 4;
  a.npred = 10;
  a.ngroup = 5;
  a.ncrit = 1;
  a.cw(1) = 1;
  a.rcc(1, 1) = 1;
  a.vcrit = 1;
  a.rr = {{0.7, 0.5, 0.3, 0.15}};
  for (int i = 1; i <= 10; ++i) {
    for (int j = 1; j <= 10; ++j)
      m.wdcd.rpp(i, j) = i == j ? 1 : 0.3;
    m.wdcd.val(1, i) = 0.1 + 0.02 * i;
  }
  for (int g = 1; g <= 5; ++g) {
    a.prop(g) = 0.1 * g;
    a.dcrit(g) = g == 5 ? 0 : -0.1 * g;
    for (int j = 1; j <= 10; ++j)
      m.wdcd.dp(g, j) = g == 5 ? 0 : -0.05 * g * (1 + j % 3);
  }
  for (int s = 1; s <= 4; ++s)
    for (int j = 1; j <= 10; ++j)
      m.wdcc.b(s, j) = j <= 3 * s ? 1 : 0;
  for (auto _ : state) {
    for (int s = 1; s <= 4; ++s) {
      a.istage = s;
      double b = -8;
      double c = 8;
      int iflag = 0;
      numeric::dfzero([&m](double x) { return selquant::eh(m, x); }, b, c, 0.0, 1e-6, 1e-7, iflag);
      m.wdcb.cut(s) = b;
    }
    selquant::ef(m, m.wdcb.cut);
    benchmark::DoNotOptimize(m.wdcf.qall(4));
  }
}
BENCHMARK(BM_sample)->Unit(benchmark::kMillisecond);

// A whole run of the bundled largest-shape deck (4 stages, 5 groups, 10
// predictors and 3 criteria) with 100 rectangular samples, report included,
// with the passes computed on 1 or more threads, by the specified (fast:0) or
// the fast kernel; wall time.
void BM_run(benchmark::State& state) {
  std::ifstream file(SELQUANT_EXAMPLES "/four_stage_five_group.deck");
  std::stringstream deck;
  deck << "2 100";
  file.ignore(4);  // "2 20": mode and sample count
  deck << file.rdbuf();
  setenv("SOURCE_DATE_EPOCH", "1772874303", 1);  // the same draws every time
  selquant::RunOptions options;
  options.threads = static_cast<int>(state.range(0));
  options.kernel = state.range(1) == 1 ? mvn::Kernel::fast : mvn::Kernel::specified;
  for (auto _ : state) {
    std::istringstream in(deck.str());
    std::ostringstream out;
    if (selquant::run(in, out, options) != 0) state.SkipWithError("the run failed");
    benchmark::DoNotOptimize(out.str().size());
  }
}
BENCHMARK(BM_run)
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({1, 1})
    ->ArgNames({"threads", "fast"})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// One exact evaluation of the largest bundled design at its expected values,
// as the Pareto search makes thousands of them: the design's own weights, the
// fast kernel (the search's), cutoffs and results.
void BM_exact_evaluation(benchmark::State& state) {
  selquant::Design d;
  std::vector<std::string> findings;
  if (!selquant::design_from_file(SELQUANT_EXAMPLES "/four_stage_five_group.deck", d, findings)
           .empty()) {
    state.SkipWithError("the example could not be read");
    return;
  }
  selquant::ParetoPlan plan;
  using M = selquant::Objective::Measure;
  plan.objectives = {{M::quality, 0, "quality"}, {M::ai, 1, "ai:group_1"}};
  std::vector<std::vector<double>> weights;
  for (const selquant::Design::Stage& s : d.stages)
    weights.push_back(s.weights);
  const selquant::Objectives objectives(d, plan, mvn::Kernel::fast);
  for (auto _ : state)
    benchmark::DoNotOptimize(objectives.at(weights));
}
BENCHMARK(BM_exact_evaluation)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
