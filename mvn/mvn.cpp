#include "mvn/mvn.hpp"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <optional>

#include "mvn/batch.hpp"
#include "mvn/fast.hpp"
#include "mvn/legendre.hpp"
#include "mvn/vexp.hpp"

namespace mvn {
namespace {

// sqrt(2 pi) as the trivariate and quadrivariate reductions write it.
constexpr double kRootTwoPi12 = 2.506628274631;
// Integration start standing in for minus infinity.
constexpr double kLow = -7.5;
// A correlation this close to +1 or -1 is taken as exact.
constexpr double kUnitGap = 1e-12;
// Tolerance of every trivariate probability inside the quadrivariate integrand.
constexpr double kInnerEps = 1e-7;

bool unit(double r) {
  return std::fabs(r) >= 1.0 - kUnitGap;
}

// Index of the packed correlation of variables i > j (0-based).
constexpr int packed(int i, int j) {
  return i * (i - 1) / 2 + j;
}

// The conditional pair's rules of the trivariate integrations inside one
// quadrivariate integration, prepared once for each of the three variables
// that can become the outer one (the reflection leaves the rule unchanged).
struct BvnCache {
  std::array<std::optional<Bvn>, 3> rule;
  std::array<std::optional<Bvn>, 3> reflection;  // of the pair left by the outer variable
};

double lower(int n, const double* h, const double* rho, double eps, Evaluations* ev, Simd simd,
             BvnCache* cache, Kernel kernel = Kernel::specified, fast::PathCache* paths = nullptr);

// Lower orthant probability when variables i > j are perfectly correlated:
// variable i is dropped; with r = +1 variable j takes the stricter limit, with
// r = -1 it is confined to (-h_i, h_j).
double lower_degenerate(int n, const double* h, const double* rho, double eps, int i, int j,
                        bool positive, Evaluations* ev, Simd simd, Kernel kernel,
                        fast::PathCache* paths) {
  std::array<double, 4> hr{};
  std::array<double, 6> rr{};
  std::array<int, 4> keep{};
  int m = 0;
  for (int v = 0; v < n; ++v)
    if (v != i) keep[static_cast<std::size_t>(m++)] = v;
  int jr = 0;
  for (int a = 0; a < m; ++a) {
    const int va = keep[static_cast<std::size_t>(a)];
    hr[static_cast<std::size_t>(a)] = h[va];
    if (va == j) jr = a;
    for (int b = 0; b < a; ++b) {
      const int vb = keep[static_cast<std::size_t>(b)];
      rr[static_cast<std::size_t>(packed(a, b))] = rho[packed(va, vb)];
    }
  }
  if (positive) {
    hr[static_cast<std::size_t>(jr)] = std::min(h[j], h[i]);
    return lower(m, hr.data(), rr.data(), eps, ev, simd, nullptr, kernel, paths);
  }
  if (h[j] <= -h[i]) return 0.0;
  const double upper_part = lower(m, hr.data(), rr.data(), eps, ev, simd, nullptr, kernel, paths);
  hr[static_cast<std::size_t>(jr)] = -h[i];
  return upper_part - lower(m, hr.data(), rr.data(), eps, ev, simd, nullptr, kernel, paths);
}

// The trivariate integrand exp(-t^2/2) P(X2 < h2, X3 < h3 | X1 = t), up to the
// constant, one node or a Kronrod step's nodes at a time.
struct Trvfnd {
  const Bvn& given_t;  // the conditional pair's rule
  double rs2, hs2, rs3, hs3;
  Simd simd;
  Evaluations* ev;

  double operator()(double t) const {
    if (ev) ++ev->trivariate;
    return exp1(-t * t / 2) * given_t(t * rs2 - hs2, t * rs3 - hs3);
  }
  bool batch(const double* t, double* y) const {
    if (simd == Simd::none) return false;
    if (ev) ev->trivariate += kKronrodNodes;
    std::array<double, kKronrodNodes> g, a, b, p;
    for (int i = 0; i < kKronrodNodes; ++i) {
      g[static_cast<std::size_t>(i)] = -t[i] * t[i] / 2;
      a[static_cast<std::size_t>(i)] = t[i] * rs2 - hs2;
      b[static_cast<std::size_t>(i)] = t[i] * rs3 - hs3;
    }
    batch::kernels(simd).exp(g.data(), g.data(), kKronrodNodes);
    given_t(a.data(), b.data(), p.data(), kKronrodNodes, simd);
    for (int i = 0; i < kKronrodNodes; ++i)
      y[i] = g[static_cast<std::size_t>(i)] * p[static_cast<std::size_t>(i)];
    return true;
  }
};

// Trivariate reduction: the coordinate with the largest |limit| is moved to the
// front and reflected to be non-positive, then P(X2, X3 | X1 = t) is integrated
// over t in [-7.5, h1].
double tvnd_core(const double h[3], const double r[3], double eps, Evaluations* ev, Simd simd,
                 BvnCache* cache) {
  double h1 = h[0], h2 = h[1], h3 = h[2];
  double r21 = r[0], r31 = r[1], r32 = r[2];
  int outer = 0;
  if (std::max(std::fabs(h1), std::fabs(h3)) <= std::fabs(h2)) {
    std::swap(h1, h2);
    std::swap(r31, r32);
    outer = 1;
  } else if (std::max(std::fabs(h1), std::fabs(h2)) <= std::fabs(h3)) {
    std::swap(h1, h3);
    std::swap(r21, r32);
    outer = 2;
  }
  bool reflected = false;
  if (h1 > 0) {
    h1 = -h1;
    r21 = -r21;
    r31 = -r31;
    reflected = true;
  }
  double p = 0.0;
  if (h1 > kLow) {
    auto root = [](double rr) {
      return 2 * std::fabs(rr) < 1 ? std::sqrt(1 - rr * rr) : std::sqrt((1 - rr) * (1 + rr));
    };
    const double sq21 = root(r21);
    const double sq31 = root(r31);
    // Parameters of the integrand (the trivariate record) for this call.
    const double hs2 = h2 / sq21;
    const double hs3 = h3 / sq31;
    const double rs2 = r21 / sq21;
    const double rs3 = r31 / sq31;
    std::optional<Bvn> own;
    std::optional<Bvn>& given = cache ? cache->rule[static_cast<std::size_t>(outer)] : own;
    if (!given) {
      double rp23 = (r32 - r21 * r31) / (sq21 * sq31);
      if (unit(rp23)) rp23 = std::copysign(1.0, rp23);
      given.emplace(rp23);  // the conditional pair's rule, prepared once
    }
    const Trvfnd trvfnd{*given, rs2, hs2, rs3, hs3, simd, ev};
    p = adoned(trvfnd, kLow, h1, eps) / kRootTwoPi12;
  }
  if (reflected) {
    std::optional<Bvn> own;
    std::optional<Bvn>& pair = cache ? cache->reflection[static_cast<std::size_t>(outer)] : own;
    if (!pair) pair.emplace(r32);
    p = (*pair)(-h2, -h3) - p;
  }
  return p;
}

// The quadrivariate integrand exp(-t^2/2) P(X2, X3, X4 | X1 = t), up to the
// constant: a trivariate probability at every node.
struct Qvndd {
  double hs2, hs3, hs4, rs2, rs3, rs4;
  const double* rp;  // conditional correlations
  Simd simd;
  Evaluations* ev;
  BvnCache* cache;
  bool reduced;  // a conditional correlation is +-1: the trivariate probability reduces

  double given(double t) const {
    const double hc[3] = {hs2 - t * rs2, hs3 - t * rs3, hs4 - t * rs4};
    // What lower(3, ...) does, its test of the correlations made once per call.
    return reduced ? lower(3, hc, rp, kInnerEps, ev, simd, cache)
                   : tvnd_core(hc, rp, kInnerEps, ev, simd, cache);
  }
  double operator()(double t) const {
    if (ev) ++ev->quadrivariate;
    return exp1(-t * t / 2) * given(t);
  }
  bool batch(const double* t, double* y) const {
    if (simd == Simd::none) return false;
    if (ev) ev->quadrivariate += kKronrodNodes;
    std::array<double, kKronrodNodes> g;
    for (int i = 0; i < kKronrodNodes; ++i)
      g[static_cast<std::size_t>(i)] = -t[i] * t[i] / 2;
    batch::kernels(simd).exp(g.data(), g.data(), kKronrodNodes);
    for (int i = 0; i < kKronrodNodes; ++i)
      y[i] = g[static_cast<std::size_t>(i)] * given(t[i]);
    return true;
  }
};

// Quadrivariate reduction: P(X2, X3, X4 | X1 = t) integrated over t in
// [-7.5, h1], coordinates in the order given.
double qvnd_core(const double h[4], const double r[6], double eps, Evaluations* ev, Simd simd) {
  const double r21 = r[0], r31 = r[1], r32 = r[2], r41 = r[3], r42 = r[4], r43 = r[5];
  const double sq21 = std::sqrt(1 - r21 * r21);
  const double sq31 = std::sqrt(1 - r31 * r31);
  const double sq41 = std::sqrt(1 - r41 * r41);
  const std::array<double, 3> rp = {
      (r32 - r31 * r21) / (sq21 * sq31),
      (r42 - r41 * r21) / (sq21 * sq41),
      (r43 - r41 * r31) / (sq31 * sq41),
  };
  BvnCache cache;
  const bool reduced = unit(rp[0]) || unit(rp[1]) || unit(rp[2]);
  // Parameters of the integrand (the quadrivariate record) for this call.
  const Qvndd qvndd{h[1] / sq21, h[2] / sq31, h[3] / sq41, r21 / sq21, r31 / sq31, r41 / sq41,
                    rp.data(),   simd,        ev,          &cache,     reduced};
  return adone(qvndd, kLow, h[0], eps) / kRootTwoPi12;
}

// Lower orthant probability of dimension n with packed correlations rho.
double lower(int n, const double* h, const double* rho, double eps, Evaluations* ev, Simd simd,
             BvnCache* cache, Kernel kernel, fast::PathCache* paths) {
  for (int i = 1; i < n; ++i)
    for (int j = 0; j < i; ++j) {
      const double r = rho[packed(i, j)];
      if (unit(r)) return lower_degenerate(n, h, rho, eps, i, j, r > 0, ev, simd, kernel, paths);
    }
  switch (n) {
    case 2:
      return bvnd(-h[0], -h[1], rho[0]);
    case 3:
      if (kernel == Kernel::fast)
        if (const auto v = fast::lower3(h, rho, simd, {}, paths)) return *v;
      return tvnd_core(h, rho, eps, ev, simd, cache);
    case 4:
      if (kernel == Kernel::fast)
        if (const auto v = fast::lower4(h, rho, simd, {}, paths)) return *v;
      return qvnd_core(h, rho, eps, ev, simd);
    default:
      return phid(h[0]);
  }
}

}  // namespace

double phid(double z) {
  return batch::phid1(z);
}

Bvn::Bvn(double r) {
  BvnRule& R = rule_;
  R.r = r;
  const int col = legendre::rule_of(r);
  const int lg = legendre::kPoints[static_cast<std::size_t>(col)];
  R.nodes = 2 * lg;
  const legendre::Rule& xs = legendre::x[static_cast<std::size_t>(col)];
  const legendre::Rule& ws = legendre::w[static_cast<std::size_t>(col)];
  R.moderate = std::fabs(r) < kModerate;
  if (R.moderate) {
    R.asr = std::asin(r);
    for (int i = 0; i < lg; ++i) {
      for (int side = 0; side < 2; ++side) {
        const double s = side == 0 ? -1.0 : 1.0;
        const auto n = static_cast<std::size_t>(2 * i + side);
        R.w[n] = ws[static_cast<std::size_t>(i)];
        R.sn[n] = std::sin(R.asr * (s * xs[static_cast<std::size_t>(i)] + 1) / 2);
        R.den[n] = 1 - R.sn[n] * R.sn[n];
      }
    }
    return;
  }
  if (std::fabs(r) < 1) {
    R.as = (1 - r) * (1 + r);
    R.a = std::sqrt(R.as);
    const double a = R.a / 2;
    for (int i = 0; i < lg; ++i) {
      for (int side = 0; side < 2; ++side) {
        const double s = side == 0 ? -1.0 : 1.0;
        const auto n = static_cast<std::size_t>(2 * i + side);
        R.w[n] = a * ws[static_cast<std::size_t>(i)];
        const double v = a * (s * xs[static_cast<std::size_t>(i)] + 1);
        R.sn[n] = v * v;                    // xs of the series
        R.den[n] = std::sqrt(1 - R.sn[n]);  // rs of the series
      }
    }
  }
}

double Bvn::operator()(double h, double k) const {
  double p;
  batch::kernels(Simd::none).bvn(rule_, &h, &k, &p, 1);
  return p;
}

void Bvn::operator()(const double* h, const double* k, double* p, int m, Simd simd) const {
  batch::kernels(simd).bvn(rule_, h, k, p, m);
}

double bvnd(double h, double k, double r) {
  return Bvn(r)(h, k);
}

double tvnd(const double h[3], const double r[3], double eps, Evaluations* ev, Simd simd) {
  return lower(3, h, r, eps, ev, simd, nullptr);
}

double qvnd(const double h[4], const double r[6], double eps, Evaluations* ev, Simd simd) {
  return lower(4, h, r, eps, ev, simd, nullptr);
}

double g01hb(int ndim, const double lim[4], const double corr[36], Kernel kernel,
             fast::PathCache* paths) {
  assert(ndim >= 1 && ndim <= 4);
  constexpr double eps = 1e-7;
  std::array<double, 4> h{};
  std::array<double, 6> rho{};
  int m = 0;
  for (int i = 0; i < ndim; ++i) {
    h[static_cast<std::size_t>(i)] = -lim[i];
    for (int j = 0; j < i; ++j)
      rho[static_cast<std::size_t>(m++)] = corr[i + 6 * j];
  }
  return lower(ndim, h.data(), rho.data(), eps, nullptr, default_simd(), nullptr, kernel, paths);
}

}  // namespace mvn
