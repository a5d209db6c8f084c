#include "mvn/fast.hpp"

#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>

#include "mvn/adone.hpp"
#include "mvn/batch.hpp"
#include "mvn/mvn.hpp"
#include "mvn/vexp.hpp"

namespace mvn::fast {
namespace {

// Smallest Cholesky pivot (a conditional variance) the path is trusted with:
// below it the conditional correlations near s = 1 come too close to +-1.
constexpr double kMinPivot = 1e-4;

// A limit beyond which its variable is left out: P(X < h) is then within
// Phi(-7.65) < 1.01e-14, a thousandth of the tolerance, of 1 (or at -h of 0).
constexpr double kFar = 7.65;

// The four-variate path starts from a block of three (and one independent
// variable) where the correlations it leaves to the path sum to less than this
// share of those two independent pairs would leave.
constexpr double kBlockShare = 0.7;

// Smallest pivot from which a Kronrod step is judged by the error model of
// smooth integrands: R(s) then stays far from singular beyond s = 1 and the
// integrand is analytic about [0, 1]. Nearer singular matrices put a
// singularity just past s = 1, where the Kronrod and Gauss estimates can agree
// by chance while both are off by up to 2e-9: their steps keep the plain
// difference of the two. In four sweeps of 600,000 random 3- and 4-variate
// problems (tools/step_judgement.cpp, seeds 20261209, 1, 2 and 3), the 563,422
// whose pivots reached 0.08 were within 2.6e-13 of the integral to 1e-15;
// from 0.06 one was off by 5.8e-12.
constexpr double kSmoothPivot = 0.08;

using Matrix = std::array<std::array<double, 4>, 4>;

Matrix full(int n, const double* rho) {
  Matrix m{};
  int p = 0;
  for (int i = 0; i < n; ++i) {
    m[static_cast<std::size_t>(i)][static_cast<std::size_t>(i)] = 1;
    for (int j = 0; j < i; ++j) {
      m[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] = rho[p];
      m[static_cast<std::size_t>(j)][static_cast<std::size_t>(i)] = rho[p];
      ++p;
    }
  }
  return m;
}

// The smallest pivot of the Cholesky factorization (not-a-number counts as 0).
double smallest_pivot(int n, Matrix a) {
  double smallest = 1;
  for (int j = 0; j < n; ++j) {
    const auto J = static_cast<std::size_t>(j);
    double d = a[J][J];
    for (int k = 0; k < j; ++k)
      d -= a[J][static_cast<std::size_t>(k)] * a[J][static_cast<std::size_t>(k)];
    if (!(d > 0)) return 0;
    smallest = std::min(smallest, d);
    const double l = std::sqrt(d);
    a[J][J] = l;
    for (int i = j + 1; i < n; ++i) {
      const auto I = static_cast<std::size_t>(i);
      double v = a[I][J];
      for (int k = 0; k < j; ++k)
        v -= a[I][static_cast<std::size_t>(k)] * a[J][static_cast<std::size_t>(k)];
      a[I][J] = v / l;
    }
  }
  return smallest;
}

double lower2(double a, double b, double r) {
  return bvnd(-a, -b, r);
}

// A step's part that depends on the matrix alone: per varying pair its nodes'
// regressions and conditional correlations, and with four variables the sine
// form of the lanes prepared (lane p * 23 + node holds pair p at the node).
struct StepNodes {
  std::array<batch::PathNodes, 4> pair;
  batch::BvnLanes lanes;
};

}  // namespace

// What one matrix keeps: its steps by interval (the centre and first node of
// each). A cutoff search stays on one matrix; a stage's moments take a few.
struct PathCache::Store {
  // Matrices kept at once; the oldest gives way.
  static constexpr int kMatrices = 4;
  // Steps kept of a matrix: the whole interval and two levels of bisection.
  static constexpr int kSteps = 7;
  struct Step {
    double centre = 0, first = 0;
    std::unique_ptr<StepNodes> nodes;
  };
  struct Matrix {
    int n = 0;  // 0: unused
    std::array<double, 6> r{};
    int steps = 0;
    std::array<Step, kSteps> step;
    // The bivariate rules of the pairs R0 keeps.
    std::array<std::optional<Bvn>, 2> kept_pair;
  };
  std::array<Matrix, kMatrices> matrix;
  int next = 0;        // the matrix to give way next
  StepNodes overflow;  // a step beyond those kept

  // The matrix's entry, taken over from the oldest when it is new.
  Matrix& of(int n, const double* r) {
    const auto bytes = sizeof(double) * static_cast<std::size_t>(n * (n - 1) / 2);
    for (Matrix& m : matrix)
      if (m.n == n && std::memcmp(m.r.data(), r, bytes) == 0) return m;
    Matrix& m = matrix[static_cast<std::size_t>(next)];
    next = (next + 1) % kMatrices;
    m.n = n;
    std::memcpy(m.r.data(), r, bytes);
    m.steps = 0;
    for (auto& rule : m.kept_pair)
      rule.reset();
    return m;
  }
  void forget() {
    for (Matrix& m : matrix) {
      m.n = 0;
      m.steps = 0;
    }
  }
};

PathCache::PathCache() = default;
PathCache::~PathCache() = default;
PathCache::PathCache(const PathCache&) {}
PathCache& PathCache::operator=(const PathCache& other) {
  if (this != &other && store_) store_->forget();
  return *this;
}
PathCache::PathCache(PathCache&&) noexcept = default;
PathCache& PathCache::operator=(PathCache&&) noexcept = default;

int PathCache::steps_kept() const {
  int steps = 0;
  if (store_)
    for (const Store::Matrix& m : store_->matrix)
      steps += m.n == 0 ? 0 : m.steps;
  return steps;
}

PathCache::Store& PathCache::store() {
  if (!store_) store_.reset(new Store);  // not zeroed: a step is filled before use
  return *store_;
}

namespace {

// The path's integrand of an n-variate problem: R(s) keeps the pairs of R0 and
// scales the others by s (they are 0 in R0). One term per varying pair (i, j):
// (R - R0)_ij phi_2(h_i, h_j; r_ij(s)) times the probability of the other
// variables given X_i = h_i, X_j = h_j.
struct Path {
  int n;
  const double* h;
  Matrix r;         // the target matrix
  int pairs[6][2];  // the pairs (i, j) that vary with s
  int npairs = 0;
  Simd simd = default_simd();
  PathCache::Store* store = nullptr;  // with the matrix's entry
  PathCache::Store::Matrix* kept = nullptr;

  // Of each varying pair, the other variables K and L, and which elements of
  // R(s) that its term reads vary with s.
  struct Shape {
    int K, L;
    bool KI, KJ, LI, LJ, KL;
  };
  std::array<Shape, 6> shape{};

  // Sets the pairs that vary, (i, j) with i > j in order, all that R0 does
  // not keep.
  template <class Kept>
  void vary_all_but(Kept kept) {
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < i; ++j)
        if (!kept(i, j)) {
          pairs[npairs][0] = i;
          pairs[npairs][1] = j;
          ++npairs;
        }
  }

  // Sets the shapes, once the pairs are set, and finds the matrix's entry.
  void prepare(PathCache* cache, const double* packed) {
    auto varies = [this](int a, int b) {
      for (int v = 0; v < npairs; ++v)
        if ((pairs[v][0] == a && pairs[v][1] == b) || (pairs[v][0] == b && pairs[v][1] == a))
          return true;
      return false;
    };
    for (int p = 0; p < npairs; ++p) {
      const int i = pairs[p][0], j = pairs[p][1];
      int others[2] = {0, 0};
      int m = 0;
      for (int k = 0; k < n; ++k)
        if (k != i && k != j) others[m++] = k;
      const int K = others[0], L = others[1];
      shape[static_cast<std::size_t>(p)] = {
          K, L, varies(K, i), varies(K, j), varies(L, i), varies(L, j), varies(K, L)};
    }
    if (cache != nullptr && simd != Simd::none) {
      store = &cache->store();
      kept = &store->of(n, packed);
    }
  }

  double at(int a, int b) const {
    return r[static_cast<std::size_t>(a)][static_cast<std::size_t>(b)];
  }

  // P(X_a < h_a, X_b < h_b) of a pair R0 keeps (one of two), its rule kept.
  double kept_pair(int slot, int a, int b) const {
    if (kept == nullptr) return lower2(h[a], h[b], at(a, b));
    std::optional<Bvn>& rule = kept->kept_pair[static_cast<std::size_t>(slot)];
    if (!rule) rule.emplace(at(a, b));
    return (*rule)(-h[a], -h[b]);
  }

  // One varying pair's correlations for the kernel of its terms at the nodes s.
  batch::PathPair pair_of(int p, const double* s) const {
    // An element of R(s): s r_ab where the pair (a, b) varies, else r_ab
    // (times 1, which changes nothing).
    static constexpr std::array<double, kKronrodNodes> kOnes = [] {
      std::array<double, kKronrodNodes> ones{};
      ones.fill(1.0);
      return ones;
    }();
    auto scale = [s](bool varies) { return varies ? s : kOnes.data(); };
    const int i = pairs[p][0], j = pairs[p][1];
    const Shape& c = shape[static_cast<std::size_t>(p)];
    const int K = c.K, L = c.L;
    return {at(i, j),    at(K, i),    at(K, j),    at(L, i),    at(L, j),   at(K, L),
            scale(c.KI), scale(c.KJ), scale(c.LI), scale(c.LJ), scale(c.KL)};
  }
  // The pair's limits (h_i, h_j, h_K, h_L).
  std::array<double, 4> limits_of(int p) const {
    const Shape& c = shape[static_cast<std::size_t>(p)];
    return {h[pairs[p][0]], h[pairs[p][1]], h[c.K], h[c.L]};
  }

  // The matrix's part of a step at the nodes s, in the lanes of simd.
  void fill(const double* s, StepNodes& out) const {
    constexpr int m = kKronrodNodes;
    const batch::Kernels& kernels = batch::kernels(simd);
    for (int p = 0; p < npairs; ++p)
      kernels.path_nodes(pair_of(p, s), s, m, n == 4, out.pair[static_cast<std::size_t>(p)]);
    if (n == 3) return;
    std::array<double, batch::BvnLanes::kMaxLanes> rho, asr;
    for (int p = 0; p < npairs; ++p)
      for (int node = 0; node < m; ++node) {
        const auto l = static_cast<std::size_t>(p * m + node);
        rho[l] = out.pair[static_cast<std::size_t>(p)].rho[static_cast<std::size_t>(node)];
        // Strong correlations take the series, one at a time.
        asr[l] = std::fabs(rho[l]) < kModerate ? std::asin(rho[l]) : 0.0;
      }
    kernels.bvn_prepare(rho.data(), asr.data(), npairs * m, out.lanes);
  }

  // The step at the nodes s: kept, newly kept, or computed into scratch.
  const StepNodes& step_at(const double* s, StepNodes& scratch) const {
    if (kept == nullptr) {
      fill(s, scratch);
      return scratch;
    }
    for (int i = 0; i < kept->steps; ++i) {
      const auto& st = kept->step[static_cast<std::size_t>(i)];
      if (std::memcmp(&st.centre, &s[0], sizeof(double)) == 0 &&
          std::memcmp(&st.first, &s[1], sizeof(double)) == 0)
        return *st.nodes;
    }
    if (kept->steps == PathCache::Store::kSteps) {
      fill(s, store->overflow);
      return store->overflow;
    }
    auto& st = kept->step[static_cast<std::size_t>(kept->steps++)];
    st.centre = s[0];
    st.first = s[1];
    if (!st.nodes) st.nodes.reset(new StepNodes);  // its values are all set below
    fill(s, *st.nodes);
    return *st.nodes;
  }

  // The integrand at one node, its conditional probabilities one by one.
  double operator()(double s) const {
    const batch::Kernels& kernels = batch::kernels(Simd::none);
    std::array<double, 6> factor, lim0, lim1, prob;
    for (int p = 0; p < npairs; ++p) {
      const auto P = static_cast<std::size_t>(p);
      batch::PathNodes nodes;
      kernels.path_nodes(pair_of(p, &s), &s, 1, n == 4, nodes);
      const std::array<double, 4> lim = limits_of(p);
      kernels.path_terms(nodes, at(pairs[p][0], pairs[p][1]), lim.data(), 1, n == 4, &factor[P],
                         &lim0[P], &lim1[P]);
      if (n == 4) prob[P] = lower2(lim0[P], lim1[P], nodes.rho[0]);
    }
    if (n == 3) kernels.phid(lim0.data(), prob.data(), npairs);
    double sum = 0;
    for (int p = 0; p < npairs; ++p)
      sum += factor[static_cast<std::size_t>(p)] * prob[static_cast<std::size_t>(p)];
    return sum;
  }

  // All nodes of a Kronrod step together in the vector lanes: the conditional
  // probabilities (univariate of the three-variate path, bivariate of the
  // four-variate one) of lane p * 23 + node, pair p at the node.
  bool batch(const double* s, double* y) const {
    if (simd == Simd::none) return false;
    constexpr int m = kKronrodNodes;
    constexpr int kMax = batch::BvnLanes::kMaxLanes;
    StepNodes scratch;
    const StepNodes& st = step_at(s, scratch);
    const batch::Kernels& kernels = batch::kernels(simd);
    std::array<double, kMax> factor, lim0, lim1, prob;
    for (int p = 0; p < npairs; ++p) {
      const auto at = static_cast<std::size_t>(p * m);
      const std::array<double, 4> lim = limits_of(p);
      kernels.path_terms(st.pair[static_cast<std::size_t>(p)], this->at(pairs[p][0], pairs[p][1]),
                         lim.data(), m, n == 4, &factor[at], &lim0[at], &lim1[at]);
    }
    const int lanes = npairs * m;
    if (n == 3) {
      kernels.phid(lim0.data(), prob.data(), lanes);
    } else {
      std::array<double, kMax> a, b;
      for (int l = 0; l < lanes; ++l) {
        const auto L = static_cast<std::size_t>(l);
        a[L] = -lim0[L];
        b[L] = -lim1[L];
      }
      kernels.bvn_lanes(st.lanes, a.data(), b.data(), prob.data());
      for (int p = 0; p < npairs; ++p)
        for (int node = 0; node < m; ++node) {
          const auto L = static_cast<std::size_t>(p * m + node);
          const double r = st.pair[static_cast<std::size_t>(p)].rho[static_cast<std::size_t>(node)];
          if (!(std::fabs(r) < kModerate)) prob[L] = bvnd(a[L], b[L], r);
        }
    }
    // Each node's terms summed in the order of the pairs.
    for (int node = 0; node < m; ++node) {
      double sum = 0;
      for (int p = 0; p < npairs; ++p) {
        const auto l = static_cast<std::size_t>(p * m + node);
        sum += factor[l] * prob[l];
      }
      y[node] = sum;
    }
    return true;
  }
};

// The limits and packed correlations of the n variables without variable v.
void without(int n, const double* h, const double* r, int v, double* hv, double* rv) {
  int keep[3];
  int m = 0;
  for (int i = 0; i < n; ++i)
    if (i != v) keep[m++] = i;
  int p = 0;
  for (int a = 0; a < m; ++a) {
    hv[a] = h[keep[a]];
    for (int b = 0; b < a; ++b)
      rv[p++] = r[keep[a] * (keep[a] - 1) / 2 + keep[b]];
  }
}

// The probability of n = 3 or 4 variables when a limit is beyond kFar: 0 where
// one is below -kFar (nobody passes it), else that of the others without one
// above kFar (everybody passes it); nothing when no limit is so far.
std::optional<double> without_far(int n, const double* h, const double* r, Simd simd, Steps steps,
                                  PathCache* cache) {
  for (int i = 0; i < n; ++i)
    if (h[i] <= -kFar) return 0.0;
  for (int v = 0; v < n; ++v)
    if (h[v] >= kFar) {
      double hv[3], rv[3];
      without(n, h, r, v, hv, rv);
      return n == 3 ? lower2(hv[0], hv[1], rv[0]) : lower3(hv, rv, simd, steps, cache);
    }
  return std::nullopt;
}

// The integral of the path over [0, 1], its steps judged by the error model
// that the matrix's smallest pivot allows.
double integral(Path& f, double pivot, Steps steps) {
  if (!steps.plain && pivot >= kSmoothPivot)
    return adone<StepError::smooth>(f, 0.0, 1.0, steps.tolerance, true);
  return adone(f, 0.0, 1.0, steps.tolerance, true);
}

}  // namespace

std::optional<double> lower3(const double h[3], const double r[3], Simd simd, Steps steps,
                             PathCache* cache) {
  if (const std::optional<double> p = without_far(3, h, r, simd, steps, cache)) return p;
  const Matrix m = full(3, r);
  const double pivot = smallest_pivot(3, m);
  if (pivot < kMinPivot) return std::nullopt;
  // Keep the pair of the largest correlation; the third variable starts
  // independent of it.
  int keep = 0;  // r21, r31, r32 as pairs (1,0), (2,0), (2,1)
  for (int p = 1; p < 3; ++p)
    if (std::fabs(r[p]) > std::fabs(r[keep])) keep = p;
  static constexpr int kPair[3][2] = {{1, 0}, {2, 0}, {2, 1}};
  const int a = kPair[keep][0], b = kPair[keep][1], c = 3 - a - b;
  Path f{3, h, m, {}, 0, simd};
  f.vary_all_but([a, b](int i, int j) { return i == a && j == b; });
  f.prepare(cache, r);
  const double start = f.kept_pair(0, a, b) * phid(h[c]);
  return start + integral(f, pivot, steps);
}

std::optional<double> lower4(const double h[4], const double r[6], Simd simd, Steps steps,
                             PathCache* cache) {
  if (const std::optional<double> p = without_far(4, h, r, simd, steps, cache)) return p;
  const Matrix m = full(4, r);
  const double pivot = smallest_pivot(4, m);
  if (pivot < kMinPivot) return std::nullopt;
  auto at = [&m](int i, int j) {
    return m[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
  };
  // Two ways to start: two independent pairs, or a block of three with the
  // fourth variable independent. Of the three pairings into two pairs, keep
  // the one whose within-pair correlations are largest: the largest of all in
  // it (a strong one on the path makes it steep), then the larger other.
  static constexpr int kPairing[3][4] = {{0, 1, 2, 3}, {0, 2, 1, 3}, {0, 3, 1, 2}};
  int best = 0;
  double most = -1;
  for (int p = 0; p < 3; ++p) {
    const int* q = kPairing[p];
    const double a = std::fabs(at(q[0], q[1])), b = std::fabs(at(q[2], q[3]));
    const double size = 4 * std::max(a, b) + std::min(a, b);
    if (size > most) {
      most = size;
      best = p;
    }
  }
  // Of the variables, the one least correlated with the others.
  int alone = 0;
  double least = 4;
  double total = 0;
  for (int v = 0; v < 4; ++v) {
    double sum = 0;
    for (int j = 0; j < 4; ++j)
      if (j != v) sum += std::fabs(at(v, j));
    total += sum;
    if (sum < least) {
      least = sum;
      alone = v;
    }
  }
  {
    const int* q = kPairing[best];
    const double kept = std::fabs(at(q[0], q[1])) + std::fabs(at(q[2], q[3]));
    const double paired = total / 2 - kept;  // what the pairs leave to the path
    // The block of three leaves three correlations to the path instead of
    // four; it is taken where they weigh less than kBlockShare of the pairs'
    // four (as with stage composites, all substantially correlated). Over 198
    // random matrices of bench/orthants.cpp that rule made the path faster on
    // the whole than either way alone.
    if (least < kBlockShare * paired) {
      Path f{4, h, m, {}, 0, simd};
      f.vary_all_but([alone](int i, int j) { return i != alone && j != alone; });
      f.prepare(cache, r);
      double hv[3], rv[3];
      without(4, h, r, alone, hv, rv);
      const std::optional<double> block = lower3(hv, rv, simd, steps, cache);
      if (!block) return std::nullopt;
      return *block * phid(h[alone]) + integral(f, pivot, steps);
    }
  }
  const int* q = kPairing[best];
  Path f{4, h, m, {}, 0, simd};
  f.vary_all_but([q](int i, int j) {
    return (i == q[1] && j == q[0]) || (i == q[0] && j == q[1]) || (i == q[3] && j == q[2]) ||
           (i == q[2] && j == q[3]);
  });
  f.prepare(cache, r);
  const double start = f.kept_pair(0, q[0], q[1]) * f.kept_pair(1, q[2], q[3]);
  return start + integral(f, pivot, steps);
}

}  // namespace mvn::fast
