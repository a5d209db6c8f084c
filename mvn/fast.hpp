// Orthant probabilities of dimension 3 and 4 by Plackett's identity: along the
// path R(s) = R0 + s (R - R0) from a matrix R0 whose orthant probability is a
// product of lower-dimensional ones,
//   d Phi_n(h; R(s)) / ds = sum over i < j of (R - R0)_ij phi_2(h_i, h_j; r_ij(s))
//                           Phi_{n-2}(conditional limits; conditional correlations),
// one smooth integral over s in [0, 1].
#pragma once

#include <memory>
#include <optional>

#include "mvn/mvn.hpp"

namespace mvn::fast {

// Absolute tolerance of the integration in s.
inline constexpr double kTolerance = 1e-11;

// How the integration in s judges its steps: as the matrix allows (by the error
// model of smooth integrands where it is far from singular), or always by the
// plain difference of the Kronrod and Gauss estimates, to a tolerance of its
// own: a reference for the first.
struct Steps {
  bool plain = false;
  double tolerance = kTolerance;
};

// What the path integrations keep between calls with the same matrix, as a
// cutoff search makes them for every group and trial cutoff: of each step, the
// parts of its nodes that depend on the matrix alone (the conditional
// regressions and correlations, the bivariate rules' sines). They are the
// values a call without it computes, so the results are the same bits. A copy
// starts empty; an assignment keeps its own storage and forgets what it held.
// One user at a time.
class PathCache {
 public:
  PathCache();
  ~PathCache();
  PathCache(const PathCache&);
  PathCache& operator=(const PathCache&);
  PathCache(PathCache&&) noexcept;
  PathCache& operator=(PathCache&&) noexcept;

  // The steps it holds, of all its matrices.
  int steps_kept() const;

  struct Store;
  Store& store();

 private:
  std::unique_ptr<Store> store_;
};

// P(X1 < h1, X2 < h2, X3 < h3), r = (r21, r31, r32), or nothing when the matrix
// is too near singular for the path (the caller then uses another method).
// The nodes of a step go through the lanes of simd together (none: one by
// one); every vector width gives the same bits.
// With a cache, what it holds of the matrix is used and what it lacks added.
std::optional<double> lower3(const double h[3], const double r[3], Simd simd = default_simd(),
                             Steps steps = {}, PathCache* cache = nullptr);
// P(X1 < h1, ..., X4 < h4), r = (r21, r31, r32, r41, r42, r43), or nothing.
std::optional<double> lower4(const double h[4], const double r[6], Simd simd = default_simd(),
                             Steps steps = {}, PathCache* cache = nullptr);

}  // namespace mvn::fast
