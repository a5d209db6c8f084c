// The fast kernel's step judgement against its plain judgement to 1e-15, over
// random 3- and 4-variate problems whose smallest pivots spread from 1e-4 to 1:
// Gram matrices of random unit vectors with the last coordinate shrunk by a
// factor 10^u, u uniform in [-2, 0], and limits uniform in [-3, 3]. Prints the
// worst difference of the problems whose smallest pivot reaches each level,
// the evidence for the pivot from which the smooth error model is trusted.
//
//   cmake --build build --target step_judgement && build/step_judgement [PROBLEMS [SEED]]
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "mvn/fast.hpp"
#include "tools/random_orthants.hpp"

namespace {

// The smallest pivot of the Cholesky factorization of the n x n matrix.
double smallest_pivot(int n, const double* r) {
  double a[4][4] = {};
  int p = 0;
  for (int i = 0; i < n; ++i) {
    a[i][i] = 1;
    for (int j = 0; j < i; ++j)
      a[i][j] = a[j][i] = r[p++];
  }
  double smallest = 1;
  for (int j = 0; j < n; ++j) {
    double d = a[j][j];
    for (int k = 0; k < j; ++k)
      d -= a[j][k] * a[j][k];
    if (!(d > 0)) return 0;
    smallest = std::min(smallest, d);
    a[j][j] = std::sqrt(d);
    for (int i = j + 1; i < n; ++i) {
      double v = a[i][j];
      for (int k = 0; k < j; ++k)
        v -= a[i][k] * a[j][k];
      a[i][j] = v / a[j][j];
    }
  }
  return smallest;
}

}  // namespace

int main(int argc, char** argv) {
  const long problems = argc > 1 ? std::atol(argv[1]) : 600000;
  constexpr std::array<double, 8> kLevels = {0.02, 0.04, 0.06, 0.07, 0.08, 0.09, 0.1, 0.12};
  std::array<double, kLevels.size()> worst{};
  std::array<long, kLevels.size()> count{};
  std::mt19937_64 gen(argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20261209);
  std::uniform_real_distribution<double> scale(-2, 0);
  const mvn::fast::Steps reference{true, 1e-15};
  for (long it = 0; it < problems; ++it) {
    const double shrink = std::pow(10.0, scale(gen));
    const orthants::Problem problem =
        orthants::random_problem(gen, 3 + static_cast<int>(it % 2), shrink);
    const int n = problem.n;
    const double* h = problem.h;
    const double* r = problem.r;
    const auto simd = mvn::default_simd();
    const auto a = n == 3 ? mvn::fast::lower3(h, r) : mvn::fast::lower4(h, r);
    if (!a) continue;
    const auto b = n == 3 ? mvn::fast::lower3(h, r, simd, reference)
                          : mvn::fast::lower4(h, r, simd, reference);
    const double pivot = smallest_pivot(n, r);
    for (std::size_t l = 0; l < kLevels.size(); ++l)
      if (pivot >= kLevels[l]) {
        ++count[l];
        worst[l] = std::max(worst[l], std::fabs(*a - *b));
      }
  }
  for (std::size_t l = 0; l < kLevels.size(); ++l)
    std::printf("pivot >= %.2f: %ld problems, worst difference %.2e\n", kLevels[l], count[l],
                worst[l]);
}
