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

// The constants of one varying pair (i, j) of the fast kernel's path, with the
// other variables K and L: the limits, the target correlations, and for each
// element of R(s) the nodes' scale (the nodes s where it varies, ones where
// not).
struct PathPair {
  double hi, hj, hK, hL;
  double rij, rKI, rKJ, rLI, rLJ, rKL;
  const double *sKI, *sKJ, *sLI, *sLJ, *sKL;
};

struct Kernels {
  // y[i] = exp(x[i]), i < n (any n).
  void (*exp)(const double* x, double* y, int n);
  // p[i] = Phi(z[i]), i < n (any n): the same bits as phid1.
  void (*phid)(const double* z, double* p, int n);
  // p[i] = P(X > h[i], Y > k[i]) by the rule, i < m <= kMaxBatch.
  void (*bvn)(const BvnRule& rule, const double* h, const double* k, double* p, int m);
  // The path's terms of the pair at the nodes s[i], i < m <= kMaxBatch:
  // r_ij phi2(h_i, h_j; s r_ij), the conditional limit of K (and with four
  // variables, of L and their conditional correlation).
  void (*path_terms)(const PathPair& pp, const double* s, int m, bool four, double* factor,
                     double* lim0, double* lim1, double* rho);
  // p[i] = P(X > h[i], Y > k[i]) for correlations r[i] with asr[i] = asin(r[i]),
  // |r[i]| < 0.925, by the sine form with the rule of |r[i]|, i < m (any m).
  void (*bvn_lanes)(const double* r, const double* asr, const double* h, const double* k, double* p,
                    int m);
};

// The kernels of a vector width; Simd::none has those of the base instruction set.
const Kernels& kernels(Simd simd);

// Phi(z), one value: the same bits as the kernels' lanes.
double phid1(double z);

}  // namespace mvn::batch
