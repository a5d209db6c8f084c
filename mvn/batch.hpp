// Batches of normal probabilities in vector lanes: the exponential, the normal
// distribution function and the bivariate rule over many limits at once. One
// set of kernels per vector width, each the same source compiled for its
// instruction set without fused multiply-add, so that all give the same bits.
#pragma once

#include <array>

#include "mvn/mvn.hpp"

namespace mvn::batch {

// Most limits (pairs) one call takes: the nodes of one Kronrod step.
inline constexpr int kMaxBatch = 23;

// The correlations of one varying pair (i, j) of the fast kernel's path, with
// the other variables K and L, and for each element of R(s) the nodes' scale
// (the nodes s where it varies, ones where not).
struct PathPair {
  double rij, rKI, rKJ, rLI, rLJ, rKL;
  const double *sKI, *sKJ, *sLI, *sLJ, *sKL;
};

// What a pair's terms at a step's nodes take from the matrix alone: per node
// r_ij(s), 2 q and 2 pi sqrt(q) with q = 1 - r_ij(s)^2, the regressions of K
// (and L) on the pair with their conditional standard deviations, and the
// conditional correlation of K and L.
struct PathNodes {
  std::array<double, kMaxBatch> rij, twoq, norm, biK, bjK, sdK, biL, bjL, sdL, rho;
};

// Lanes of the widest vectors.
inline constexpr int kVectorLanes = 8;

// Bivariate probabilities by the sine form in vector lanes, prepared from the
// lanes' correlations alone: the lanes of each Gauss-Legendre rule gathered
// into vectors, and per vector and node of its rule the sine of the node's
// angle and 1 - sine^2.
struct BvnLanes {
  static constexpr int kMaxLanes = 4 * kMaxBatch;
  // Every rule's last vector may be partial.
  static constexpr int kMaxVectors = kMaxLanes / kVectorLanes + 3;
  struct Vector {
    int rule;
    int used;  // lanes in use; the others compute a zero pair
    std::array<int, kVectorLanes> lane;
    std::array<double, kVectorLanes> asr;
    std::array<std::array<double, kVectorLanes>, 20> sn, den;
  };
  int vectors = 0;
  std::array<Vector, kMaxVectors> vector;
};

struct Kernels {
  // y[i] = exp(x[i]), i < n (any n).
  void (*exp)(const double* x, double* y, int n);
  // p[i] = Phi(z[i]), i < n (any n): the same bits as phid1.
  void (*phid)(const double* z, double* p, int n);
  // p[i] = P(X > h[i], Y > k[i]) by the rule, i < m <= kMaxBatch.
  void (*bvn)(const BvnRule& rule, const double* h, const double* k, double* p, int m);
  // The matrix's part of the pair's terms at the nodes s[i], i < m <= kMaxBatch.
  void (*path_nodes)(const PathPair& pp, const double* s, int m, bool four, PathNodes& out);
  // The path's terms of the pair with limits h = (h_i, h_j, h_K, h_L) at the
  // nodes: r_ij phi2(h_i, h_j; s r_ij), the conditional limit of K (and with
  // four variables, of L).
  void (*path_terms)(const PathNodes& nodes, double rij, const double* h, int m, bool four,
                     double* factor, double* lim0, double* lim1);
  // The lanes l < m with |r[l]| < kModerate and asr[l] = asin(r[l]), by rule.
  void (*bvn_prepare)(const double* r, const double* asr, int m, BvnLanes& out);
  // p[l] = P(X > h[l], Y > k[l]) for the prepared lanes (the others untouched).
  void (*bvn_lanes)(const BvnLanes& lanes, const double* h, const double* k, double* p);
};

// The kernels of a vector width; Simd::none has those of the base instruction set.
const Kernels& kernels(Simd simd);

// Phi(z), one value: the same bits as the kernels' lanes.
double phid1(double z);

}  // namespace mvn::batch
