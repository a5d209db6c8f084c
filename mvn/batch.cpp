#include "mvn/batch.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "mvn/legendre.hpp"
#include "mvn/vexp.hpp"

namespace mvn::batch {
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
constexpr double kRationalEnd = 7.071067811865475;  // 10 / sqrt(2)
constexpr double kTailEnd = 37;                     // Phi(-z) is 0 below -37
constexpr double kTwoPi = 6.283185307179586;
constexpr double kFourPi = 12.566370614359172;
// Arguments below this give a negligible term, which the series leaves out.
constexpr double kSeriesFloor = -100;

#define MVN_INLINE [[gnu::always_inline]] inline

// The rational form of the tail, for |z| < 10/sqrt(2).
MVN_INLINE double rational_tail(double zabs, double e) {
  double num = kTailNum[6];
  for (int i = 5; i >= 0; --i)
    num = num * zabs + kTailNum[static_cast<std::size_t>(i)];
  double den = kTailDen[7];
  for (int i = 6; i >= 0; --i)
    den = den * zabs + kTailDen[static_cast<std::size_t>(i)];
  return e * num / den;
}

// The continued fraction of the tail, for 10/sqrt(2) <= |z| <= 37.
MVN_INLINE double fraction_tail(double zabs, double e) {
  return e / (zabs + 1 / (zabs + 2 / (zabs + 3 / (zabs + 4 / (zabs + 0.65))))) / 2.506628274631001;
}

}  // namespace

// Phi(z).
double phid1(double z) {
  const double zabs = std::fabs(z);
  double p = 0.0;
  if (zabs <= kTailEnd) {
    const double e = exp1(-zabs * zabs / 2);
    p = zabs < kRationalEnd ? rational_tail(zabs, e) : fraction_tail(zabs, e);
  }
  if (z > 0) p = 1 - p;
  return p;
}

namespace {

// The continued fraction for one argument: its divisions are a long chain,
// which one lane alone finishes sooner than every lane of a vector.
[[gnu::noinline]] double far_tail(double zabs, double e) {
  return zabs <= kTailEnd ? fraction_tail(zabs, e) : 0.0;
}

// p[i] = Phi(z[i]), i < n: the rational form in vector lanes, then the
// continued-fraction arguments: one alone by itself, more in the lanes too.
// The same bits as phid1.
template <int n>
MVN_INLINE void phid_body(const double* z, double* p) {
  double zabs[n], e[n], t[n];
  int far = 0;
  for (int i = 0; i < n; ++i) {
    zabs[i] = std::fabs(z[i]);
    e[i] = exp1(-zabs[i] * zabs[i] / 2);
    t[i] = zabs[i] < kRationalEnd ? rational_tail(zabs[i], e[i]) : 0.0;
    far += zabs[i] >= kRationalEnd;  // not a number: not far, and 0
  }
  if (far == 1) {
    for (int i = 0; i < n; ++i)
      if (zabs[i] >= kRationalEnd) t[i] = far_tail(zabs[i], e[i]);
  } else if (far > 1) {
    for (int i = 0; i < n; ++i) {
      const double f = fraction_tail(zabs[i], e[i]);
      t[i] = zabs[i] >= kRationalEnd ? (zabs[i] <= kTailEnd ? f : 0.0) : t[i];
    }
  }
  for (int i = 0; i < n; ++i)
    p[i] = z[i] > 0 ? 1 - t[i] : t[i];
}

// Lanes of the widest vectors: loops of a fixed multiple of it have no
// remainder to finish one value at a time.
constexpr int kLanes = kVectorLanes;
// Pairs of a batch, padded to whole vectors.
constexpr int kPadded = (kMaxBatch + kLanes - 1) / kLanes * kLanes;

// One vector's exponentials.
MVN_INLINE void exp_vector(const double* __restrict x, double* __restrict y) {
  for (int j = 0; j < kLanes; ++j)
    y[j] = exp1(x[j]);
}

// y[i] = f of x[i], i < n, by vector(x, y), which takes one vector's worth:
// whole vectors, then the last padded with its last value.
template <class Vector>
MVN_INLINE void by_vectors(const double* x, double* y, int n, Vector vector) {
  int i = 0;
  for (; i + kLanes <= n; i += kLanes)
    vector(x + i, y + i);
  if (i == n) return;
  double xr[kLanes], yr[kLanes];
  for (int j = 0; j < kLanes; ++j)
    xr[j] = x[std::min(i + j, n - 1)];
  vector(xr, yr);
  for (int j = 0; i + j < n; ++j)
    y[i + j] = yr[j];
}

MVN_INLINE void exp_body(const double* x, double* y, int n) {
  by_vectors(x, y, n, exp_vector);
}

// p[i] = Phi(z[i]).
MVN_INLINE void phid_many(const double* z, double* p, int n) {
  by_vectors(z, p, n, phid_body<kLanes>);
}

// ph[i] = Phi(-h[i]) and pk[i] = Phi(-k[i]).
template <int m>
MVN_INLINE void upper_tails(const double* h, const double* k, double* ph, double* pk) {
  double z[m];
  for (int i = 0; i < m; ++i)
    z[i] = -h[i];
  phid_body<m>(z, ph);
  for (int i = 0; i < m; ++i)
    z[i] = -k[i];
  phid_body<m>(z, pk);
}

// The end of the sine form: the rule's sum times asin(r) / (4 pi), plus the
// product of the two univariate tails.
template <int m>
MVN_INLINE void sine_form_end(const double* asr, const double* h, const double* k,
                              const double* sum, double* p) {
  double ph[m], pk[m];
  upper_tails<m>(h, k, ph, pk);
  for (int i = 0; i < m; ++i)
    p[i] = sum[i] * asr[i] / kFourPi + ph[i] * pk[i];
}

template <int m>
MVN_INLINE void bvn_moderate(const BvnRule& R, const double* h, const double* k, double* p) {
  double hk[m], hs[m], sum[m];
  for (int i = 0; i < m; ++i) {
    hk[i] = h[i] * k[i];
    hs[i] = (h[i] * h[i] + k[i] * k[i]) / 2;
    sum[i] = 0.0;
  }
  for (int n = 0; n < R.nodes; ++n) {
    const double w = R.w[static_cast<std::size_t>(n)];
    const double sn = R.sn[static_cast<std::size_t>(n)];
    const double den = R.den[static_cast<std::size_t>(n)];
    for (int i = 0; i < m; ++i)
      sum[i] += w * exp1((sn * hk[i] - hs[i]) / den);
  }
  double asr[m];
  for (int i = 0; i < m; ++i)
    asr[i] = R.asr;
  sine_form_end<m>(asr, h, k, sum, p);
}

// One node's term of the series for one pair, as the lanes compute it.
[[gnu::noinline]] double series_term(double w, double xsq, double rs, double asr, double hk,
                                     double c, double d) {
  return w * exp1(asr) *
         (exp1(-hk * (1 - rs) / (2 * (1 + rs))) / rs - (1 + c * xsq * (1 + d * xsq)));
}

// Lanes few enough to be given a node's term one by one rather than a whole
// batch computing it; of 4 and 8, 4 ran the random orthants of
// bench/orthants.cpp faster.
constexpr int kFewLanes = 4;

// The series for |r| >= 0.925 (and the limits r = +-1).
template <int m>
MVN_INLINE void bvn_series(const BvnRule& R, const double* h, const double* k_in, double* p) {
  const double r = R.r;
  double k[m], hk[m], bs[m], c[m], d[m], bvn[m], z[m], pz[m], pz2[m];
  for (int i = 0; i < m; ++i) {
    k[i] = k_in[i];
    hk[i] = h[i] * k[i];
    if (r < 0) {
      k[i] = -k[i];
      hk[i] = -hk[i];
    }
    bvn[i] = 0.0;
  }
  if (std::fabs(r) < 1) {
    const double as = R.as;
    const double a = R.a;
    for (int i = 0; i < m; ++i) {
      bs[i] = (h[i] - k[i]) * (h[i] - k[i]);
      c[i] = (4 - hk[i]) / 8;
      d[i] = (12 - hk[i]) / 16;
      z[i] = -std::sqrt(bs[i]) / a;
    }
    phid_body<m>(z, pz);
    for (int i = 0; i < m; ++i) {
      const double asr = -(bs[i] / as + hk[i]) / 2;
      const double first =
          a * exp1(asr) *
          (1 - c[i] * (bs[i] - as) * (1 - d[i] * bs[i] / 5) / 3 + c[i] * d[i] * as * as / 5);
      double v = asr > kSeriesFloor ? first : bvn[i];
      const double b = std::sqrt(bs[i]);
      const double second = exp1(-hk[i] / 2) * std::sqrt(kTwoPi) * pz[i] * b *
                            (1 - c[i] * bs[i] * (1 - d[i] * bs[i] / 5) / 3);
      v = -hk[i] < 100 ? v - second : v;
      bvn[i] = v;
    }
    for (int n = 0; n < R.nodes; ++n) {
      const double w = R.w[static_cast<std::size_t>(n)];
      const double xsq = R.sn[static_cast<std::size_t>(n)];
      const double rs = R.den[static_cast<std::size_t>(n)];
      // Far-apart limits leave a node's term negligible (an exponent below
      // the floor), as one pair alone leaves it out: where no lane needs the
      // node it is passed over, where a few do they get it one by one.
      double asr[m];
      int needed = 0;
      for (int i = 0; i < m; ++i) {
        asr[i] = -(bs[i] / xsq + hk[i]) / 2;
        needed += asr[i] > kSeriesFloor;
      }
      if (needed == 0) continue;
      if (needed <= kFewLanes) {
        for (int i = 0; i < m; ++i)
          if (asr[i] > kSeriesFloor) bvn[i] += series_term(w, xsq, rs, asr[i], hk[i], c[i], d[i]);
        continue;
      }
      for (int i = 0; i < m; ++i) {
        const double term =
            w * exp1(asr[i]) *
            (exp1(-hk[i] * (1 - rs) / (2 * (1 + rs))) / rs - (1 + c[i] * xsq * (1 + d[i] * xsq)));
        bvn[i] = asr[i] > kSeriesFloor ? bvn[i] + term : bvn[i];
      }
    }
    for (int i = 0; i < m; ++i)
      bvn[i] = -bvn[i] / kTwoPi;
  }
  if (r > 0) {
    for (int i = 0; i < m; ++i)
      z[i] = -(h[i] < k[i] ? k[i] : h[i]);
    phid_body<m>(z, pz);
    for (int i = 0; i < m; ++i)
      bvn[i] += pz[i];
  }
  if (r < 0) {
    upper_tails<m>(h, k, pz, pz2);
    for (int i = 0; i < m; ++i) {
      const double diff = pz[i] - pz2[i];
      bvn[i] = -bvn[i] + (0.0 < diff ? diff : 0.0);
    }
  }
  std::memcpy(p, bvn, sizeof(double) * static_cast<std::size_t>(m));
}

template <int m>
MVN_INLINE void bvn_fixed(const BvnRule& R, const double* h, const double* k, double* p) {
  if (R.moderate) {
    bvn_moderate<m>(R, h, k, p);
  } else {
    bvn_series<m>(R, h, k, p);
  }
}

// One pair alone, or a batch padded to whole vectors with copies of its last
// pair (limits of their own, say zeros, could need the series' nodes that
// every real pair passes over).
MVN_INLINE void bvn_body(const BvnRule& R, const double* h, const double* k, double* p, int m) {
  if (m == 1) {
    bvn_fixed<1>(R, h, k, p);
    return;
  }
  double hp[kPadded], kp[kPadded], pp[kPadded];
  for (int i = 0; i < kPadded; ++i) {
    hp[i] = h[std::min(i, m - 1)];
    kp[i] = k[std::min(i, m - 1)];
  }
  bvn_fixed<kPadded>(R, hp, kp, pp);
  std::memcpy(p, pp, sizeof(double) * static_cast<std::size_t>(m));
}

// sin(t) for |t| <= asin(0.925) < 1.19: the Taylor series to t^21, whose
// truncation error there is below 2e-21.
MVN_INLINE double sin_small(double t) {
  constexpr std::array<double, 10> c = {
      -1.0 / 6,
      1.0 / 120,
      -1.0 / 5040,
      1.0 / 362880,
      -1.0 / 39916800,
      1.0 / 6227020800,
      -1.0 / 1307674368000,
      1.0 / 355687428096000,
      -1.0 / 121645100408832000.0,
      1.0 / 51090942171709440000.0,
  };
  const double t2 = t * t;
  double p = c[9];
  for (int i = 8; i >= 0; --i)
    p = p * t2 + c[static_cast<std::size_t>(i)];
  return t + t * t2 * p;
}

// Gathers the lanes of |r| < kModerate by rule into vectors, and computes each
// vector's sines at the nodes of its rule.
MVN_INLINE void bvn_prepare_body(const double* r, const double* asr, int m, BvnLanes& out) {
  out.vectors = 0;
  for (int rule = 0; rule < 3; ++rule) {
    BvnLanes::Vector* v = nullptr;
    for (int l = 0; l < m; ++l) {
      if (!(std::fabs(r[l]) < kModerate) || legendre::rule_of(r[l]) != rule) continue;
      if (v == nullptr || v->used == kLanes) {
        v = &out.vector[static_cast<std::size_t>(out.vectors++)];
        v->rule = rule;
        v->used = 0;
        v->asr.fill(0.0);
      }
      v->lane[static_cast<std::size_t>(v->used)] = l;
      v->asr[static_cast<std::size_t>(v->used)] = asr[l];
      ++v->used;
    }
  }
  for (int at = 0; at < out.vectors; ++at) {
    BvnLanes::Vector& v = out.vector[static_cast<std::size_t>(at)];
    const legendre::Rule& X = legendre::x[static_cast<std::size_t>(v.rule)];
    const auto points = legendre::kPoints[static_cast<std::size_t>(v.rule)];
    for (int n = 0; n < points; ++n) {
      const double x = X[static_cast<std::size_t>(n)];
      for (int side = 0; side < 2; ++side) {  // the nodes are stored negative
        const double node = side == 0 ? x : -x;
        auto& sn = v.sn[static_cast<std::size_t>(2 * n + side)];
        auto& den = v.den[static_cast<std::size_t>(2 * n + side)];
        for (int i = 0; i < kLanes; ++i) {
          const auto I = static_cast<std::size_t>(i);
          sn[I] = sin_small(v.asr[I] * (node + 1) / 2);
          den[I] = 1 - sn[I] * sn[I];
        }
      }
    }
  }
}

// One prepared vector of lanes: the rule's sum, then the end of the sine form.
MVN_INLINE void bvn_vector(const BvnLanes::Vector& v, const double* h, const double* k, double* p) {
  const legendre::Rule& W = legendre::w[static_cast<std::size_t>(v.rule)];
  const auto points = legendre::kPoints[static_cast<std::size_t>(v.rule)];
  double hk[kLanes], hs[kLanes], sum[kLanes];
  for (int i = 0; i < kLanes; ++i) {
    hk[i] = h[i] * k[i];
    hs[i] = (h[i] * h[i] + k[i] * k[i]) / 2;
    sum[i] = 0;
  }
  for (int n = 0; n < 2 * points; ++n) {
    const double w = W[static_cast<std::size_t>(n / 2)];
    const auto& sn = v.sn[static_cast<std::size_t>(n)];
    const auto& den = v.den[static_cast<std::size_t>(n)];
    for (int i = 0; i < kLanes; ++i) {
      const auto I = static_cast<std::size_t>(i);
      sum[i] += w * exp1((sn[I] * hk[i] - hs[i]) / den[I]);
    }
  }
  sine_form_end<kLanes>(v.asr.data(), h, k, sum, p);
}

// The prepared lanes, a vector at a time: gathered, computed and scattered.
MVN_INLINE void bvn_lanes_body(const BvnLanes& lanes, const double* h, const double* k, double* p) {
  for (int at = 0; at < lanes.vectors; ++at) {
    const BvnLanes::Vector& v = lanes.vector[static_cast<std::size_t>(at)];
    double hr[kLanes] = {}, kr[kLanes] = {}, pr[kLanes];
    for (int j = 0; j < v.used; ++j) {
      const int l = v.lane[static_cast<std::size_t>(j)];
      hr[j] = h[l];
      kr[j] = k[l];
    }
    bvn_vector(v, hr, kr, pr);
    for (int j = 0; j < v.used; ++j)
      p[v.lane[static_cast<std::size_t>(j)]] = pr[j];
  }
}

// A third variable given the pair (X_i, X_j) with correlation rij (q = 1 -
// rij^2), from its correlations rI, rJ with them: the regression weights and
// the conditional variance.
struct Given {
  double bi, bj, var;
};
MVN_INLINE Given given_pair(double rI, double rJ, double rij, double q) {
  const double bi = (rI - rij * rJ) / q;
  const double bj = (rJ - rij * rI) / q;
  return {bi, bj, 1 - (bi * rI + bj * rJ)};
}

// The matrix's part of the path's terms at the nodes of a Kronrod step.
template <bool four>
MVN_INLINE void path_nodes_body(const PathPair& pp, const double* __restrict s, int m,
                                PathNodes& __restrict out) {
  for (int node = 0; node < m; ++node) {
    const auto N = static_cast<std::size_t>(node);
    const double rij = s[node] * pp.rij;
    const double q = 1 - rij * rij;
    out.rij[N] = rij;
    out.twoq[N] = 2 * q;
    out.norm[N] = kTwoPi * std::sqrt(q);
    // The regression's weights and conditional standard deviation, kept.
    auto keep = [N](const Given& g, auto& bi, auto& bj, auto& sd) {
      bi[N] = g.bi;
      bj[N] = g.bj;
      sd[N] = std::sqrt(g.var);
    };
    const double rKI = pp.sKI[node] * pp.rKI;
    const double rKJ = pp.sKJ[node] * pp.rKJ;
    const Given K = given_pair(rKI, rKJ, rij, q);
    keep(K, out.biK, out.bjK, out.sdK);
    if constexpr (four) {
      const double rLI = pp.sLI[node] * pp.rLI;
      const double rLJ = pp.sLJ[node] * pp.rLJ;
      const Given L = given_pair(rLI, rLJ, rij, q);
      keep(L, out.biL, out.bjL, out.sdL);
      const double cov = pp.sKL[node] * pp.rKL - (K.bi * rLI + K.bj * rLJ);
      out.rho[N] = std::max(-1.0, std::min(1.0, cov / std::sqrt(K.var * L.var)));
    }
  }
}

// The path's terms at the nodes: r_ij phi2(h_i, h_j; r_ij(s)) and the
// conditional limits.
template <bool four>
MVN_INLINE void path_terms_body(const PathNodes& __restrict nd, double rij0,
                                const double* __restrict h, int m, double* __restrict factor,
                                double* __restrict lim0, double* __restrict lim1) {
  const double hi = h[0], hj = h[1], hK = h[2], hL = h[3];
  for (int node = 0; node < m; ++node) {
    const auto N = static_cast<std::size_t>(node);
    const double rij = nd.rij[N];
    factor[node] =
        rij0 * (exp1(-(hi * hi - 2 * rij * hi * hj + hj * hj) / nd.twoq[N]) / nd.norm[N]);
    lim0[node] = (hK - (nd.biK[N] * hi + nd.bjK[N] * hj)) / nd.sdK[N];
    if constexpr (four) lim1[node] = (hL - (nd.biL[N] * hi + nd.bjL[N] * hj)) / nd.sdL[N];
  }
}

MVN_INLINE void path_nodes_of(const PathPair& pp, const double* s, int m, bool four,
                              PathNodes& out) {
  if (four)
    path_nodes_body<true>(pp, s, m, out);
  else
    path_nodes_body<false>(pp, s, m, out);
}

MVN_INLINE void path_terms_of(const PathNodes& nodes, double rij, const double* h, int m, bool four,
                              double* factor, double* lim0, double* lim1) {
  if (four)
    path_terms_body<true>(nodes, rij, h, m, factor, lim0, lim1);
  else
    path_terms_body<false>(nodes, rij, h, m, factor, lim0, lim1);
}

// One set of kernels per instruction set.
#define MVN_KERNELS(suffix, attr)                                                                 \
  attr void exp_##suffix(const double* x, double* y, int n) {                                     \
    exp_body(x, y, n);                                                                            \
  }                                                                                               \
  attr void phid_##suffix(const double* z, double* p, int n) {                                    \
    phid_many(z, p, n);                                                                           \
  }                                                                                               \
  attr void bvn_##suffix(const BvnRule& R, const double* h, const double* k, double* p, int m) {  \
    bvn_body(R, h, k, p, m);                                                                      \
  }                                                                                               \
  attr void nodes_##suffix(const PathPair& pp, const double* s, int m, bool four,                 \
                           PathNodes& out) {                                                      \
    path_nodes_of(pp, s, m, four, out);                                                           \
  }                                                                                               \
  attr void terms_##suffix(const PathNodes& nodes, double rij, const double* h, int m, bool four, \
                           double* factor, double* lim0, double* lim1) {                          \
    path_terms_of(nodes, rij, h, m, four, factor, lim0, lim1);                                    \
  }                                                                                               \
  attr void prepare_##suffix(const double* r, const double* a, int m, BvnLanes& out) {            \
    bvn_prepare_body(r, a, m, out);                                                               \
  }                                                                                               \
  attr void lanes_##suffix(const BvnLanes& lanes, const double* h, const double* k, double* p) {  \
    bvn_lanes_body(lanes, h, k, p);                                                               \
  }

MVN_KERNELS(sse2, )
MVN_KERNELS(avx2, [[gnu::target("avx2")]])
// g++ would use 256-bit vectors unless told; clang takes the width from the target.
#if defined(__clang__)
MVN_KERNELS(avx512, [[gnu::target("avx512f")]])
#else
MVN_KERNELS(avx512, [[gnu::target("avx512f,prefer-vector-width=512")]])
#endif

constexpr Kernels kSse2{exp_sse2,   phid_sse2,    bvn_sse2,  nodes_sse2,
                        terms_sse2, prepare_sse2, lanes_sse2};
constexpr Kernels kAvx2{exp_avx2,   phid_avx2,    bvn_avx2,  nodes_avx2,
                        terms_avx2, prepare_avx2, lanes_avx2};
constexpr Kernels kAvx512{exp_avx512,   phid_avx512,    bvn_avx512,  nodes_avx512,
                          terms_avx512, prepare_avx512, lanes_avx512};

}  // namespace

const Kernels& kernels(Simd simd) {
  switch (simd) {
    case Simd::avx512:
      return kAvx512;
    case Simd::avx2:
      return kAvx2;
    default:
      return kSse2;
  }
}

}  // namespace mvn::batch

namespace mvn {

bool simd_supported(Simd simd) {
  switch (simd) {
    case Simd::avx512:
      return __builtin_cpu_supports("avx512f");
    case Simd::avx2:
      return __builtin_cpu_supports("avx2");
    default:
      return true;
  }
}

namespace {

Simd choose_simd() {
  if (const char* s = std::getenv("SELQUANT_SIMD"); s != nullptr) {
    for (auto [name, simd] : {std::pair{"none", Simd::none}, std::pair{"sse2", Simd::sse2},
                              std::pair{"avx2", Simd::avx2}, std::pair{"avx512", Simd::avx512}})
      if (std::strcmp(s, name) == 0 && simd_supported(simd)) return simd;
  }
  if (simd_supported(Simd::avx512)) return Simd::avx512;
  if (simd_supported(Simd::avx2)) return Simd::avx2;
  return Simd::sse2;
}

}  // namespace

Simd default_simd() {
  static const Simd chosen = choose_simd();
  return chosen;
}

}  // namespace mvn
