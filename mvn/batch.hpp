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

struct Kernels {
  // y[i] = exp(x[i]), i < n (any n).
  void (*exp)(const double* x, double* y, int n);
  // p[i] = Phi(z[i]), i < n (any n): the same bits as phid1.
  void (*phid)(const double* z, double* p, int n);
  // p[i] = P(X > h[i], Y > k[i]) by the rule, i < m <= kMaxBatch.
  void (*bvn)(const BvnRule& rule, const double* h, const double* k, double* p, int m);
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
