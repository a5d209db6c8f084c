// Normal distribution function and orthant probabilities of the standard
// multivariate normal distribution in dimensions 1 to 4. Every function is
// re-entrant: integrand parameters live in the call that integrates.
//
// Conventions: phid is the distribution function; bvnd and g01hb give upper
// orthant probabilities P(X > a); tvnd and qvnd give lower orthant
// probabilities P(X < h). Packed correlations are r21, r31, r32, r41, r42, r43.
// A correlation within 1e-12 of +1 or -1 is treated as exact: the two
// variables are one (r = +1) or confine each other to an interval (r = -1).
#pragma once

#include <array>

#include "mvn/adone.hpp"

namespace mvn {

// Phi(z).
double phid(double z);
// P(X > h, Y > k) for standard normal X, Y with correlation r.
double bvnd(double h, double k, double r);
// bvnd for one correlation and many pairs of limits: the correlation's
// quadrature nodes (sines, or the series' square roots) are prepared once.
// Bvn(r)(h, k) equals bvnd(h, k, r) exactly.
class Bvn {
 public:
  explicit Bvn(double r);
  double operator()(double h, double k) const;

 private:
  struct Node {
    double w;    // weight (times the half-width in the series)
    double sn;   // sine of the node angle; the squared node in the series
    double den;  // 1 - sn^2; the square root of 1 - squared node in the series
  };
  double r_;
  int lg_ = 3;
  bool moderate_ = true;
  double asr_ = 0;  // asin(r)
  double as_ = 0;   // (1 - r)(1 + r)
  double a_ = 0;    // its square root
  std::array<Node, 20> node_{};
};

// P(X1 < h1, X2 < h2, X3 < h3); r = (r21, r31, r32); eps: absolute tolerance.
double tvnd(const double h[3], const double r[3], double eps);
// P(X1 < h1, ..., X4 < h4); r = (r21, r31, r32, r41, r42, r43).
double qvnd(const double h[4], const double r[6], double eps);
// P(X1 > lim1, ..., Xn > limn), n = ndim in 1..4, for the correlation matrix
// corr stored by columns with six rows (only the strict lower triangle of the
// leading n x n block is read).
double g01hb(int ndim, const double lim[4], const double corr[36]);

}  // namespace mvn
