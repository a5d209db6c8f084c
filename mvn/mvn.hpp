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

namespace fast {
class PathCache;
}

// How integrand values are obtained: node by node (none), or all the nodes of
// a Kronrod step at once in vector lanes of the given instruction set. Every
// choice gives the same bits.
enum class Simd { none, sse2, avx2, avx512 };
// Whether this processor has the instruction set.
bool simd_supported(Simd simd);
// The widest supported, unless SELQUANT_SIMD names another (none, sse2, avx2,
// avx512) that is supported; chosen once per process.
Simd default_simd();

// Phi(z).
double phid(double z);
// P(X > h, Y > k) for standard normal X, Y with correlation r.
double bvnd(double h, double k, double r);

// Correlations below this in size take the sine form of the bivariate
// probability; the others its series.
inline constexpr double kModerate = 0.925;

// The bivariate rule prepared for one correlation.
struct BvnRule {
  double r = 0;
  int nodes = 6;                 // 2 * points of the Gauss-Legendre rule
  bool moderate = true;          // |r| < 0.925: the sine form; otherwise the series
  double asr = 0;                // asin(r)
  double as = 0;                 // (1 - r)(1 + r)
  double a = 0;                  // its square root
  std::array<double, 20> w{};    // weight (times the half-width in the series)
  std::array<double, 20> sn{};   // sine of the node angle; the squared node in the series
  std::array<double, 20> den{};  // 1 - sn^2; the square root of 1 - squared node in the series
};

// bvnd for one correlation and many pairs of limits: the correlation's
// quadrature nodes (sines, or the series' square roots) are prepared once.
// Bvn(r)(h, k) equals bvnd(h, k, r) exactly, and so does every value of a batch.
class Bvn {
 public:
  explicit Bvn(double r);
  double operator()(double h, double k) const;
  // p[i] = bvnd(h[i], k[i], r), i < m <= 23, in the lanes of simd.
  void operator()(const double* h, const double* k, double* p, int m, Simd simd) const;
  const BvnRule& rule() const { return rule_; }

 private:
  BvnRule rule_;
};

// Integrand evaluations of the trivariate and quadrivariate integrations: a
// count that shows any change of the subdivision decisions.
struct Evaluations {
  long trivariate = 0;     // nodes of trivariate integrands (bivariate probabilities)
  long quadrivariate = 0;  // nodes of quadrivariate integrands (trivariate probabilities)
};

// P(X1 < h1, X2 < h2, X3 < h3); r = (r21, r31, r32); eps: absolute tolerance.
// With ev, the integrand evaluations are added to it.
double tvnd(const double h[3], const double r[3], double eps, Evaluations* ev = nullptr,
            Simd simd = default_simd());
// P(X1 < h1, ..., X4 < h4); r = (r21, r31, r32, r41, r42, r43).
double qvnd(const double h[4], const double r[6], double eps, Evaluations* ev = nullptr,
            Simd simd = default_simd());
// P(X1 > lim1, ..., Xn > limn), n = ndim in 1..4, for the correlation matrix
// corr stored by columns with six rows (only the strict lower triangle of the
// leading n x n block is read).
//
// The kernel of dimensions 3 and 4: the specified nested integrations, or the
// fast one-dimensional integration along Plackett's path (more accurate, to
// 1e-11 or better; nearly singular matrices still go the specified way),
// with what paths keeps of earlier calls' matrices.
enum class Kernel { specified, fast };
double g01hb(int ndim, const double lim[4], const double corr[36],
             Kernel kernel = Kernel::specified, fast::PathCache* paths = nullptr);

}  // namespace mvn
