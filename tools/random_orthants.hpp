// Random orthant problems for the fast kernel's sweeps: the Gram matrix of n
// random unit vectors (n = 3 or 4) whose last coordinate is scaled by shrink
// (small: nearly singular), and limits uniform in [-3, 3].
#pragma once

#include <cmath>
#include <random>

namespace orthants {

struct Problem {
  int n;
  double h[4];
  double r[6];  // r21, r31, r32, r41, r42, r43
};

template <class Generator>
Problem random_problem(Generator& gen, int n, double shrink) {
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> limit(-3, 3);
  Problem p{n, {}, {}};
  double v[4][4];
  for (int i = 0; i < n; ++i) {
    double norm = 0;
    for (int k = 0; k < n; ++k) {
      v[i][k] = normal(gen) * (k == n - 1 ? shrink : 1);
      norm += v[i][k] * v[i][k];
    }
    for (int k = 0; k < n; ++k)
      v[i][k] /= std::sqrt(norm);
  }
  int m = 0;
  for (int i = 1; i < n; ++i)
    for (int j = 0; j < i; ++j) {
      p.r[m] = 0;
      for (int k = 0; k < n; ++k)
        p.r[m] += v[i][k] * v[j][k];
      ++m;
    }
  for (int i = 0; i < n; ++i)
    p.h[i] = limit(gen);
  return p;
}

}  // namespace orthants
