#include "engine/model.hpp"

#include <cmath>
#include <limits>

#include "mvn/mvn.hpp"

namespace selquant {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// A conditioning correlation this close to +1 or -1 is taken as exact.
constexpr double kUnitGap = 1e-12;

double ratio(double num, double den) {
  return den == 0.0 ? kNaN : num / den;
}

// Group weights: each group's share of the pool.
Vec<double, kMaxGroups> group_weights(const Wdca& a) {
  double sum = 0;
  for (int h = 1; h <= a.ngroup; ++h)
    sum += a.prop(h);
  Vec<double, kMaxGroups> wgt;
  for (int g = 1; g <= a.ngroup; ++g)
    wgt(g) = a.prop(g) / sum;
  return wgt;
}

// The composite model of stages 1..nk, as corpas builds it.
struct Composites {
  Corr6 rs;
  Corr6 rx;
  Mat<double, kMaxStages, kMaxPred> rpc;
  Vec<double, kMaxStages> vs;
  Mat<double, kMaxGroups, kMaxStages> dm;
  Composites(Model& m, int nk) { corpas(m, nk, rs, rx, rpc, vs, dm); }
};

}  // namespace

void corpas(Model& m, int nk, Corr6& rs, Corr6& rx, Mat<double, kMaxStages, kMaxPred>& rpc,
            Vec<double, kMaxStages>& vs, Mat<double, kMaxGroups, kMaxStages>& dm) {
  Wdca& a = m.wdca;
  const auto& b = m.wdcc.b;
  const auto& rpp = m.wdcd.rpp;
  auto& np = m.wdcd.np;
  for (int s = 1; s <= nk; ++s) {
    np(s) = a.npred;
    double v = 0;
    for (int j = 1; j <= np(s); ++j)
      v += b(s, j) * b(s, j);
    for (int j = 1; j <= np(s); ++j)
      for (int l = j + 1; l <= np(s); ++l)
        v += 2 * b(s, j) * b(s, l) * rpp(j, l);
    vs(s) = v;
    for (int g = 1; g <= a.ngroup; ++g) {
      double mean = 0;
      for (int j = 1; j <= np(s); ++j)
        mean += b(s, j) * m.wdcd.dp(g, j);
      dm(g, s) = vs(s) != 0 ? mean / std::sqrt(vs(s)) : mean;
      a.dcomp(g, s) = dm(g, s);
    }
  }
  for (int s = 1; s <= nk; ++s) {
    for (int t = s + 1; t <= nk; ++t) {
      double r = 0;
      if (vs(s) != 0 && vs(t) != 0) {
        double cov = 0;
        for (int j = 1; j <= np(s); ++j)
          for (int l = 1; l <= np(t); ++l)
            cov += b(s, j) * rpp(j, l) * b(t, l);
        r = cov / std::sqrt(vs(s) * vs(t));
      }
      rs(s, t) = r;
      rs(t, s) = r;
    }
    rs(s, s) = 1;
  }
  rx(1, 1) = 1;
  for (int s = 1; s <= nk; ++s) {
    double rv = 0;
    if (vs(s) != 0) {
      double cov = 0;
      for (int c = 1; c <= a.ncrit; ++c) {
        double sc = 0;
        for (int j = 1; j <= np(s); ++j)
          sc += m.wdcd.val(c, j) * b(s, j);
        cov += a.cw(c) * sc;
      }
      rv = cov / std::sqrt(a.vcrit * vs(s));
    }
    rx(1, s + 1) = rv;
    rx(s + 1, 1) = rv;
    for (int t = 1; t <= nk; ++t)
      rx(s + 1, t + 1) = rs(s, t);
  }
  for (int j = 1; j <= a.npred; ++j) {
    for (int s = 1; s <= nk; ++s) {
      double r = 0;
      if (vs(s) != 0) {
        double cov = 0;
        for (int l = 1; l <= np(s); ++l)
          cov += rpp(j, l) * b(s, l);
        r = cov / std::sqrt(vs(s));
      }
      rpc(s, j) = r;
    }
  }
}

double phim(const Wdca& a, double x) {
  return std::exp(-x * x / 2) / std::sqrt(2 * a.pi);
}

void nul(Vec<double, 6>& v, Corr6& c) {
  v.v.fill(0.0);
  c.v.fill(0.0);
}

double integ(const Wdca& a, int ndim, const double* lim, const Corr6& corr, int mode,
             mvn::fast::PathCache* paths) {
  for (int i = 0; i < ndim; ++i)
    if (lim[i] >= a.zinf) return 0.0;
  if (mode == 0) return mvn::g01hb(ndim, lim, corr.data(), a.kernel, paths);
  return inte2(a, ndim, lim, corr, paths);
}

double inte2(const Wdca& a, int ndim, const double* lim, const Corr6& corr,
             mvn::fast::PathCache* paths) {
  auto L = [lim](int i) { return lim[i - 1]; };
  double res = 0;
  Vec<double, 6> limc;
  Corr6 corrc;
  for (int r = 1; r <= ndim; ++r) {
    if (L(r) <= -a.zinf) continue;
    // limc(1..m) and the leading m x m block of corrc are set below; nothing
    // else of them is read, so they are not cleared.
    // The truncated variables other than r that stay random given Z_r = lim(r).
    // One perfectly correlated with Z_r is fixed by it: its truncation is then
    // certain or impossible. Of two identical variables with equal limits the
    // lower-numbered one carries the term.
    std::array<int, 6> T{};
    int m = 0;
    bool impossible = false;
    for (int t = 2; t <= ndim; ++t) {
      if (t == r) continue;
      const double rtr = corr(t, r);
      if (std::fabs(rtr) >= 1.0 - kUnitGap) {
        const double zt = rtr > 0 ? L(r) : -L(r);
        const bool certain = zt > L(t) || (rtr > 0 && zt == L(t) && r < t);
        if (!certain) {
          impossible = true;
          break;
        }
        continue;
      }
      T[static_cast<std::size_t>(m++)] = t;
    }
    double p = 0;
    if (!impossible) {
      // Conditional standard deviation of each remaining variable given Z_r.
      std::array<double, 6> sd{};
      for (int i = 1; i <= m; ++i) {
        const int t = T[static_cast<std::size_t>(i - 1)];
        sd[static_cast<std::size_t>(i - 1)] = std::sqrt(1 - corr(t, r) * corr(t, r));
      }
      for (int i = 1; i <= m; ++i) {
        const int t = T[static_cast<std::size_t>(i - 1)];
        const double st = sd[static_cast<std::size_t>(i - 1)];
        limc(i) = (L(t) - corr(t, r) * L(r)) / st;
        for (int i2 = 1; i2 <= m; ++i2) {
          const int u = T[static_cast<std::size_t>(i2 - 1)];
          corrc(i, i2) =
              (corr(t, u) - corr(t, r) * corr(u, r)) / (st * sd[static_cast<std::size_t>(i2 - 1)]);
        }
      }
      p = 1;
      if (m > 0) {
        for (int i = 1; i <= m; ++i) {
          if (limc(i) >= a.zinf) {
            p = 0;
            break;
          }
          if (limc(i) <= -a.zinf) limc(i) = -a.zinf;
        }
        if (p != 0) p = mvn::g01hb(m, limc.data(), corrc.data(), a.kernel, paths);
      }
    }
    res += phim(a, L(r)) * corr(1, r) * p;
  }
  return res;
}

CutoffEquation::CutoffEquation(Model& m) : m_(m) {
  const Composites c(m, m.wdca.istage);
  rs_ = c.rs;
  dm_ = c.dm;
  wgt_ = group_weights(m.wdca);
}

double CutoffEquation::operator()(double x) {
  const Wdca& a = m_.wdca;
  const int k = a.istage;
  double achieved = 0;
  for (int g = 1; g <= a.ngroup; ++g) {
    double lim[kMaxStages];
    for (int s = 1; s < k; ++s)
      lim[s - 1] = m_.wdcb.cut(s) - dm_(g, s);
    lim[k - 1] = x - dm_(g, k);
    achieved += wgt_(g) * integ(a, k, lim, rs_, 0, &m_.paths);
  }
  return achieved - a.rr(k);
}

double eh(Model& m, double x) {
  return CutoffEquation(m)(x);
}

void ef(Model& m, const Vec<double, kMaxStages>& cutoffs, bool means) {
  const Wdca& a = m.wdca;
  const int ng = a.ngroup;
  const Composites c(m, a.nstage);
  const Corr6& rs = c.rs;
  const Corr6& rx = c.rx;
  const auto& rpc = c.rpc;

  const Vec<double, kMaxGroups> wgt = group_weights(a);
  double mbar = 0;
  for (int g = 1; g <= ng; ++g)
    mbar += wgt(g) * a.dcrit(g);
  double between = 0;
  for (int g = 1; g <= ng; ++g)
    between += wgt(g) * (a.dcrit(g) - mbar) * (a.dcrit(g) - mbar);
  const double stot = std::sqrt(1 + between);

  Mat<double, kMaxGroups, kMaxStages> P;
  // Joint matrices of a free variable and the k stage composites; their
  // leading (k+1) x (k+1) blocks are set before every use.
  Corr6 S;
  Corr6 N;
  for (int k = 1; k <= a.nstage; ++k) {
    // Moment limits of each group: the free variable, then its k stage limits.
    Mat<double, kMaxStages + 1, kMaxGroups> ell;  // (variable, group)
    for (int g = 1; g <= ng; ++g) {
      ell(1, g) = -a.zinf;
      for (int s = 1; s <= k; ++s)
        ell(s + 1, g) = cutoffs(s) - a.dcomp(g, s);
      P(g, k) = integ(a, k, &ell(2, g), rs, 0, &m.paths);
    }
    for (int g = 1; g <= ng; ++g) {
      const double pk = P(g, k);
      const double* lim = &ell(1, g);
      // Means among those who pass are undefined when nobody passes.
      const bool empty = !(pk > 0);
      auto mean_of = [&](const Corr6& corr) {
        return integ(a, k + 1, lim, corr, 2, &m.paths) / pk;
      };
      m.wdcf.qgrp(g, k) = empty ? kNaN : (mean_of(rx) + a.dcrit(g) - mbar) / stot;
      if (!means) continue;
      for (int j = 1; j <= a.npred; ++j) {
        if (empty) {
          m.wdcf.dpsel(k, g, j) = kNaN;
          continue;
        }
        S(1, 1) = 1;
        for (int s = 1; s <= k; ++s) {
          S(1, s + 1) = rpc(s, j);
          S(s + 1, 1) = rpc(s, j);
          for (int t = 1; t <= k; ++t)
            S(s + 1, t + 1) = rs(s, t);
        }
        m.wdcf.dpsel(k, g, j) = mean_of(S) + m.wdcd.dp(g, j);
      }
      if (k < a.nstage) {
        double next = kNaN;
        if (!empty) {
          N(1, 1) = 1;
          for (int s = 1; s <= k; ++s) {
            N(1, s + 1) = rs(s, k + 1);
            N(s + 1, 1) = rs(s, k + 1);
            for (int t = 1; t <= k; ++t)
              N(s + 1, t + 1) = rs(s, t);
          }
          next = mean_of(N) + a.dcomp(g, k + 1);
        }
        m.wdcc.dnext(k, g) = next;
      } else {
        m.wdcc.dnext(k, g) = 0;
      }
    }
  }

  for (int k = 1; k <= a.nstage; ++k) {
    for (int g = 1; g <= ng; ++g) {
      m.wdcf.ppass(g, k) = P(g, k);
      m.wdcc.aicum(k, g) = ratio(P(g, k), P(ng, k));
      m.wdcc.aistg(k, g) = k == 1
                               ? m.wdcc.aicum(k, g)
                               : ratio(ratio(P(g, k), P(g, k - 1)), ratio(P(ng, k), P(ng, k - 1)));
    }
    double num = 0;
    double den = 0;
    for (int g = 1; g <= ng; ++g) {
      if (!(P(g, k) > 0)) continue;
      num += wgt(g) * P(g, k) * m.wdcf.qgrp(g, k);
      den += wgt(g) * P(g, k);
    }
    m.wdcf.qall(k) = ratio(num, den);
  }
}

bool sample_is_valid(const Model& m) {
  const Wdca& a = m.wdca;
  if (!(a.vcrit > 0)) return false;
  // Joint matrix of (criterion 1..ncrit, predictor 1..npred), Cholesky-factored.
  constexpr int kMax = kMaxCrit + kMaxPred;
  const int n = a.ncrit + a.npred;
  Mat<double, kMax, kMax> j;
  for (int c = 1; c <= a.ncrit; ++c)
    for (int c2 = 1; c2 <= a.ncrit; ++c2)
      j(c, c2) = a.rcc(c, c2);
  for (int p = 1; p <= a.npred; ++p) {
    for (int c = 1; c <= a.ncrit; ++c) {
      j(c, a.ncrit + p) = m.wdcd.val(c, p);
      j(a.ncrit + p, c) = m.wdcd.val(c, p);
    }
    for (int q = 1; q <= a.npred; ++q)
      j(a.ncrit + p, a.ncrit + q) = m.wdcd.rpp(p, q);
  }
  for (int col = 1; col <= n; ++col) {
    double d = j(col, col);
    for (int k = 1; k < col; ++k)
      d -= j(col, k) * j(col, k);
    if (!(d > 0)) return false;  // also refuses not-a-number entries
    const double l = std::sqrt(d);
    j(col, col) = l;
    for (int row = col + 1; row <= n; ++row) {
      double v = j(row, col);
      for (int k = 1; k < col; ++k)
        v -= j(row, k) * j(col, k);
      j(row, col) = v / l;
    }
  }
  return true;
}

}  // namespace selquant
