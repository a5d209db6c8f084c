// The 4-D orthant probability over random problems, not only selection-typical
// ones: correlation matrices of random unit vectors (the Gram matrix of four
// Gaussian directions, any sign and strength) and limits uniform in [-3, 3].
// One benchmark per problem, named by its number; it calls qvnd(h, r, eps)
// alone, so the same source builds against an older library to compare
// (tools/compare_orthants.py reads the two runs' JSON).
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "mvn/mvn.hpp"

namespace {

constexpr int kProblems = 199;

struct Problem {
  std::array<double, 4> h;
  std::array<double, 6> r;  // r21, r31, r32, r41, r42, r43
};

std::vector<Problem> problems() {
  std::mt19937 gen(21);
  std::normal_distribution<double> gauss;
  std::uniform_real_distribution<double> lim(-3, 3);
  std::vector<Problem> out;
  while (out.size() < kProblems) {
    std::array<std::array<double, 4>, 4> u{};
    for (auto& v : u) {
      double norm = 0;
      for (double& x : v) {
        x = gauss(gen);
        norm += x * x;
      }
      for (double& x : v)
        x /= std::sqrt(norm);
    }
    Problem p{};
    int m = 0;
    for (std::size_t i = 1; i < 4; ++i)
      for (std::size_t j = 0; j < i; ++j) {
        double d = 0;
        for (std::size_t k = 0; k < 4; ++k)
          d += u[i][k] * u[j][k];
        p.r[static_cast<std::size_t>(m++)] = d;
      }
    for (double& x : p.h)
      x = lim(gen);
    out.push_back(p);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  static const std::vector<Problem> all = problems();
  for (std::size_t i = 0; i < all.size(); ++i) {
    const Problem& p = all[i];
    benchmark::RegisterBenchmark(("qvnd/" + std::to_string(i)).c_str(), [&p](benchmark::State&
                                                                                 state) {
      for (auto _ : state)
        benchmark::DoNotOptimize(mvn::qvnd(p.h.data(), p.r.data(), 1e-7));
    })->Unit(benchmark::kMicrosecond);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
}
