#include "mvn/mvn.hpp"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>

namespace mvn {
namespace {

// Rational approximation of the upper normal tail below 10/sqrt(2): numerator
// (degree 6) and denominator (degree 7), lowest power first.
constexpr std::array<double, 7> kTailNum = {
    220.2068679123761, 221.2135961699311,  112.0792914978709,   33.912866078383,
    6.37396220353165,  0.7003830644436881, 0.03526249659989109,
};
constexpr std::array<double, 8> kTailDen = {
    440.4137358247522, 793.8265125199484, 637.3336333788311, 296.5642487796737,
    86.78073220294608, 16.06417757920695, 1.755667163182642, 0.08838834764831845,
};

// Gauss-Legendre rules with 6, 12 and 20 points on [-1, 1], one per column of
// ten: the negative nodes x (each used with both signs) and their weights w.
// Unused slots hold 0.
using Rule = std::array<double, 10>;
constexpr std::array<Rule, 3> x = {{
    {-0.9324695142031522, -0.6612093864662647, -0.238619186083197},
    {-0.9815606342467191, -0.904117256370475, -0.769902674194305, -0.5873179542866171,
     -0.3678314989981802, -0.1252334085114692},
    {-0.9931285991850949, -0.9639719272779138, -0.912234428251326, -0.8391169718222188,
     -0.7463319064601508, -0.636053680726515, -0.5108670019508271, -0.3737060887154196,
     -0.2277858511416451, -0.07652652113349732},
}};
constexpr std::array<Rule, 3> w = {{
    {0.1713244923791705, 0.3607615730481384, 0.4679139345726904},
    {0.04717533638651177, 0.1069393259953183, 0.1600783285433464, 0.2031674267230659,
     0.2334925365383547, 0.2491470458134029},
    {0.01761400713915212, 0.04060142980038694, 0.06267204833410905, 0.08327674157670475,
     0.1019301198172404, 0.1181945319615184, 0.1316886384491766, 0.1420961093183821,
     0.1491729864726037, 0.1527533871307259},
}};

constexpr double kTwoPi = 6.283185307179586;
constexpr double kFourPi = 12.566370614359172;
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

double lower(int n, const double* h, const double* rho, double eps);

// Lower orthant probability when variables i > j are perfectly correlated:
// variable i is dropped; with r = +1 variable j takes the stricter limit, with
// r = -1 it is confined to (-h_i, h_j).
double lower_degenerate(int n, const double* h, const double* rho, double eps, int i, int j,
                        bool positive) {
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
    return lower(m, hr.data(), rr.data(), eps);
  }
  if (h[j] <= -h[i]) return 0.0;
  const double upper_part = lower(m, hr.data(), rr.data(), eps);
  hr[static_cast<std::size_t>(jr)] = -h[i];
  return upper_part - lower(m, hr.data(), rr.data(), eps);
}

// Trivariate reduction: the coordinate with the largest |limit| is moved to the
// front and reflected to be non-positive, then P(X2, X3 | X1 = t) is integrated
// over t in [-7.5, h1].
double tvnd_core(const double h[3], const double r[3], double eps) {
  double h1 = h[0], h2 = h[1], h3 = h[2];
  double r21 = r[0], r31 = r[1], r32 = r[2];
  if (std::max(std::fabs(h1), std::fabs(h3)) <= std::fabs(h2)) {
    std::swap(h1, h2);
    std::swap(r31, r32);
  } else if (std::max(std::fabs(h1), std::fabs(h2)) <= std::fabs(h3)) {
    std::swap(h1, h3);
    std::swap(r21, r32);
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
    double rp23 = (r32 - r21 * r31) / (sq21 * sq31);
    if (unit(rp23)) rp23 = std::copysign(1.0, rp23);
    const Bvn given_t(rp23);  // the conditional pair's rule, prepared once
    auto trvfnd = [&](double t) {
      return std::exp(-t * t / 2) * given_t(t * rs2 - hs2, t * rs3 - hs3);
    };
    p = adoned(trvfnd, kLow, h1, eps) / kRootTwoPi12;
  }
  if (reflected) p = bvnd(-h2, -h3, r32) - p;
  return p;
}

// Quadrivariate reduction: P(X2, X3, X4 | X1 = t) integrated over t in
// [-7.5, h1], coordinates in the order given.
double qvnd_core(const double h[4], const double r[6], double eps) {
  const double r21 = r[0], r31 = r[1], r32 = r[2], r41 = r[3], r42 = r[4], r43 = r[5];
  const double sq21 = std::sqrt(1 - r21 * r21);
  const double sq31 = std::sqrt(1 - r31 * r31);
  const double sq41 = std::sqrt(1 - r41 * r41);
  // Parameters of the integrand (the quadrivariate record) for this call.
  const double hs2 = h[1] / sq21;
  const double hs3 = h[2] / sq31;
  const double hs4 = h[3] / sq41;
  const std::array<double, 3> rp = {
      (r32 - r31 * r21) / (sq21 * sq31),
      (r42 - r41 * r21) / (sq21 * sq41),
      (r43 - r41 * r31) / (sq31 * sq41),
  };
  const double rs2 = r21 / sq21;
  const double rs3 = r31 / sq31;
  const double rs4 = r41 / sq41;
  auto qvndd = [&](double t) {
    const double hc[3] = {hs2 - t * rs2, hs3 - t * rs3, hs4 - t * rs4};
    return std::exp(-t * t / 2) * tvnd(hc, rp.data(), kInnerEps);
  };
  return adone(qvndd, kLow, h[0], eps) / kRootTwoPi12;
}

// Lower orthant probability of dimension n with packed correlations rho.
double lower(int n, const double* h, const double* rho, double eps) {
  for (int i = 1; i < n; ++i)
    for (int j = 0; j < i; ++j) {
      const double r = rho[packed(i, j)];
      if (unit(r)) return lower_degenerate(n, h, rho, eps, i, j, r > 0);
    }
  switch (n) {
    case 2:
      return bvnd(-h[0], -h[1], rho[0]);
    case 3:
      return tvnd_core(h, rho, eps);
    case 4:
      return qvnd_core(h, rho, eps);
    default:
      return phid(h[0]);
  }
}

}  // namespace

double phid(double z) {
  const double zabs = std::fabs(z);
  double p = 0.0;
  if (zabs <= 37) {
    const double e = std::exp(-zabs * zabs / 2);
    if (zabs < 7.071067811865475) {  // 10 / sqrt(2)
      double num = kTailNum[6];
      for (int i = 5; i >= 0; --i)
        num = num * zabs + kTailNum[static_cast<std::size_t>(i)];
      double den = kTailDen[7];
      for (int i = 6; i >= 0; --i)
        den = den * zabs + kTailDen[static_cast<std::size_t>(i)];
      p = e * num / den;
    } else {
      p = e / (zabs + 1 / (zabs + 2 / (zabs + 3 / (zabs + 4 / (zabs + 0.65))))) / 2.506628274631001;
    }
  }
  if (z > 0) p = 1 - p;
  return p;
}

Bvn::Bvn(double r) : r_(r) {
  int col = 0;
  lg_ = 3;
  if (std::fabs(r) >= 0.75) {
    col = 2;
    lg_ = 10;
  } else if (std::fabs(r) >= 0.3) {
    col = 1;
    lg_ = 6;
  }
  const Rule& xs = x[static_cast<std::size_t>(col)];
  const Rule& ws = w[static_cast<std::size_t>(col)];
  moderate_ = std::fabs(r) < 0.925;
  if (moderate_) {
    asr_ = std::asin(r);
    for (int i = 0; i < lg_; ++i) {
      for (int side = 0; side < 2; ++side) {
        const double s = side == 0 ? -1.0 : 1.0;
        Node& n = node_[static_cast<std::size_t>(2 * i + side)];
        n.w = ws[static_cast<std::size_t>(i)];
        n.sn = std::sin(asr_ * (s * xs[static_cast<std::size_t>(i)] + 1) / 2);
        n.den = 1 - n.sn * n.sn;
      }
    }
    return;
  }
  if (std::fabs(r) < 1) {
    as_ = (1 - r) * (1 + r);
    a_ = std::sqrt(as_);
    const double a = a_ / 2;
    for (int i = 0; i < lg_; ++i) {
      for (int side = 0; side < 2; ++side) {
        const double s = side == 0 ? -1.0 : 1.0;
        Node& n = node_[static_cast<std::size_t>(2 * i + side)];
        n.w = a * ws[static_cast<std::size_t>(i)];
        const double v = a * (s * xs[static_cast<std::size_t>(i)] + 1);
        n.sn = v * v;                 // xs of the series
        n.den = std::sqrt(1 - n.sn);  // rs of the series
      }
    }
  }
}

double Bvn::operator()(double h, double k) const {
  const double r = r_;
  double hk = h * k;
  double bvn = 0.0;
  if (moderate_) {
    const double hs = (h * h + k * k) / 2;
    for (int i = 0; i < 2 * lg_; ++i) {
      const Node& n = node_[static_cast<std::size_t>(i)];
      bvn += n.w * std::exp((n.sn * hk - hs) / n.den);
    }
    return bvn * asr_ / kFourPi + phid(-h) * phid(-k);
  }
  if (r < 0) {
    k = -k;
    hk = -hk;
  }
  if (std::fabs(r) < 1) {
    const double as = as_;
    const double a = a_;
    const double bs = (h - k) * (h - k);
    const double c = (4 - hk) / 8;
    const double d = (12 - hk) / 16;
    double asr = -(bs / as + hk) / 2;
    if (asr > -100) {
      bvn = a * std::exp(asr) * (1 - c * (bs - as) * (1 - d * bs / 5) / 3 + c * d * as * as / 5);
    }
    if (-hk < 100) {
      const double b = std::sqrt(bs);
      bvn -= std::exp(-hk / 2) * std::sqrt(kTwoPi) * phid(-b / a) * b *
             (1 - c * bs * (1 - d * bs / 5) / 3);
    }
    for (int i = 0; i < 2 * lg_; ++i) {
      const Node& n = node_[static_cast<std::size_t>(i)];
      const double xsq = n.sn;
      const double rs = n.den;
      asr = -(bs / xsq + hk) / 2;
      if (asr > -100) {
        bvn += n.w * std::exp(asr) *
               (std::exp(-hk * (1 - rs) / (2 * (1 + rs))) / rs - (1 + c * xsq * (1 + d * xsq)));
      }
    }
    bvn = -bvn / kTwoPi;
  }
  if (r > 0) bvn += phid(-std::max(h, k));
  if (r < 0) bvn = -bvn + std::max(0.0, phid(-h) - phid(-k));
  return bvn;
}

double bvnd(double h, double k, double r) {
  return Bvn(r)(h, k);
}

double tvnd(const double h[3], const double r[3], double eps) {
  return lower(3, h, r, eps);
}

double qvnd(const double h[4], const double r[6], double eps) {
  return lower(4, h, r, eps);
}

double g01hb(int ndim, const double lim[4], const double corr[36]) {
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
  return lower(ndim, h.data(), rho.data(), eps);
}

}  // namespace mvn
