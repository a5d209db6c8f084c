// Globally adaptive bisection on a 23-point Gauss-Kronrod rule with an embedded
// 11-point Gauss rule. All working storage belongs to the call and the
// integrand is any callable, so nested integrations need no separate copies.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <concepts>

namespace mvn {

// Abscissae of the 23-point Kronrod rule on [-1, 1], centre first, then the
// positive nodes largest first; slots 3, 5, 7, 9, 11 are the 11-point Gauss nodes.
// clang-format off
inline constexpr std::array<double, 12> xgk = {
    0.0,                0.9963696138895427, 0.978228658146057,  0.9416771085780681,
    0.8870625997680953, 0.8160574566562211, 0.7301520055740492, 0.6305995201619651,
    0.5190961292068118, 0.3979441409523776, 0.269543155952345,  0.1361130007993617};
// clang-format on
// Kronrod weights: centre, then one per pair +-xgk.
inline constexpr std::array<double, 12> wgk = {
    0.1365777947111183,  0.00976544104596129, 0.02715655468210443, 0.04582937856442671,
    0.06309742475037484, 0.07866457193222764, 0.09295309859690074, 0.1058720744813894,
    0.1167395024610472,  0.1251587991003195,  0.1312806842298057,  0.1351935727998845,
};
// Gauss weights: centre, then one per Gauss pair.
inline constexpr std::array<double, 6> wg = {
    0.2729250867779007, 0.05566856711617449, 0.1255803694649048,
    0.1862902109277352, 0.2331937645919914,  0.2628045445102478,
};

inline constexpr int kKronrodNodes = 23;

// An integrand that may give its values at all nodes of a Kronrod step at once:
// batch(x, y) sets y[i] = f(x[i]), i < 23, bit for bit, and returns true, or
// returns false and leaves the nodes to single calls.
template <class F>
concept NodeBatch = requires(F& f, const double* x, double* y) {
  { f.batch(x, y) } -> std::same_as<bool>;
};

// How a step's error is estimated.
enum class StepError {
  // Three times the difference of the Kronrod and the embedded Gauss estimates.
  gauss_difference,
  // The pair's error model for smooth integrands: where f is analytic about
  // the step, the Gauss rule's error falls as rho^-22 and the Kronrod rule's
  // as rho^-35 in the size rho of the region, so the Kronrod error is about
  // the 1.5th power of the difference, relative to the integrand's variation
  // I = integral of |f - mean|: I min(1, (200 |K - G| / I)^1.5), and no less
  // than 50 roundings of the integral of |f|.
  smooth,
};

// The 23-point Kronrod estimate of the integral of f from lo to hi; err gets
// the error estimate of the kind asked for.
template <StepError kind = StepError::gauss_difference, class F>
double krnrdd(double lo, double hi, F& f, double& err) {
  const double wid = (hi - lo) / 2;
  const double cen = (hi + lo) / 2;
  // The nodes in the order of the single calls: centre, then cen - t, cen + t.
  std::array<double, kKronrodNodes> xv;
  std::array<double, kKronrodNodes> fv;
  xv[0] = cen;
  for (int j = 1; j <= 11; ++j) {
    const double t = wid * xgk[static_cast<std::size_t>(j)];
    xv[static_cast<std::size_t>(2 * j - 1)] = cen - t;
    xv[static_cast<std::size_t>(2 * j)] = cen + t;
  }
  bool batched = false;
  if constexpr (NodeBatch<F>) batched = f.batch(xv.data(), fv.data());
  if (!batched)
    for (std::size_t i = 0; i < fv.size(); ++i)
      fv[i] = f(xv[i]);
  double fc = fv[0];
  double resg = fc * wg[0];
  double resk = fc * wgk[0];
  for (int j = 1; j <= 11; ++j) {
    fc = fv[static_cast<std::size_t>(2 * j - 1)];
    fc += fv[static_cast<std::size_t>(2 * j)];
    resk += wgk[static_cast<std::size_t>(j)] * fc;
    if (j % 2 == 0) resg += wg[static_cast<std::size_t>(j / 2)] * fc;
  }
  if constexpr (kind == StepError::gauss_difference) {
    err = 3 * std::fabs((resk - resg) * wid);
  } else {
    const double mean = resk / 2;
    double variation = wgk[0] * std::fabs(fv[0] - mean);
    double magnitude = wgk[0] * std::fabs(fv[0]);
    for (int j = 1; j <= 11; ++j) {
      const double a = fv[static_cast<std::size_t>(2 * j - 1)];
      const double b = fv[static_cast<std::size_t>(2 * j)];
      variation += wgk[static_cast<std::size_t>(j)] * (std::fabs(a - mean) + std::fabs(b - mean));
      magnitude += wgk[static_cast<std::size_t>(j)] * (std::fabs(a) + std::fabs(b));
    }
    variation *= std::fabs(wid);
    magnitude *= std::fabs(wid);
    err = std::fabs((resk - resg) * wid);
    if (variation != 0 && err != 0) {
      const double x = 200 * err / variation;  // x^1.5 as x sqrt(x): the same bits everywhere
      err = variation * std::min(1.0, x * std::sqrt(x));
    }
    err = std::max(err, 50 * 0x1p-52 * magnitude);
  }
  return wid * resk;
}

// Integral of f from lo to hi (oriented) to the absolute tolerance tol, or the
// best sum once 100 subintervals are in use. The first estimate is always
// refined by one bisection, unless at_once allows it to stand when its own
// error estimate meets the tolerance.
template <StepError kind = StepError::gauss_difference, class F>
double adone(F&& f, double lo, double hi, double tol, bool at_once = false) {
  constexpr int kMaxIntervals = 100;
  std::array<double, kMaxIntervals> ai;
  std::array<double, kMaxIntervals> bi;
  std::array<double, kMaxIntervals> fi;
  std::array<double, kMaxIntervals> ei;
  ai[0] = lo;
  bi[0] = hi;
  fi[0] = krnrdd<kind>(ai[0], bi[0], f, ei[0]);
  if (at_once && ei[0] <= tol) return fi[0];
  int ibig = 0;
  int im = 1;  // subintervals in use
  double fin;
  for (;;) {
    const int n = im++;  // index of the new subinterval
    bi[n] = bi[ibig];
    ai[n] = (ai[ibig] + bi[ibig]) / 2;
    bi[ibig] = ai[n];
    const double fold = fi[ibig];
    fi[ibig] = krnrdd<kind>(ai[ibig], bi[ibig], f, ei[ibig]);
    fi[n] = krnrdd<kind>(ai[n], bi[n], f, ei[n]);
    const double e = std::fabs(fold - fi[ibig] - fi[n]) / 2;
    ei[ibig] += e;
    ei[n] += e;
    ibig = 0;
    fin = 0;
    double err = 0;
    for (int i = 0; i < im; ++i) {
      if (ei[i] > ei[ibig]) ibig = i;  // the lowest index wins a tie
      fin += fi[i];
      err += ei[i];
    }
    if (err <= tol || im >= kMaxIntervals) break;
  }
  return fin;
}

// The trivariate level's integrator: the same algorithm.
template <class F>
double adoned(F&& f, double lo, double hi, double tol) {
  return adone(f, lo, hi, tol);
}

}  // namespace mvn
