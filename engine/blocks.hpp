// The shared model blocks: every problem value of the current sample and every
// result, with 1-based, column-major element access. One Model object, owned by
// the driver and passed by reference, holds all five blocks.
#pragma once

#include <array>
#include <cstddef>

#include "mvn/fast.hpp"
#include "mvn/mvn.hpp"

namespace selquant {

// Limits of the program.
inline constexpr int kMaxStages = 4;
inline constexpr int kMaxCrit = 3;
inline constexpr int kMaxPred = 10;
inline constexpr int kMaxGroups = 5;
inline constexpr int kMaxSamples = 100000;

// Vector of N elements indexed 1..N.
template <class T, int N>
struct Vec {
  std::array<T, N> v{};
  T& operator()(int i) { return v[static_cast<std::size_t>(i - 1)]; }
  const T& operator()(int i) const { return v[static_cast<std::size_t>(i - 1)]; }
  T* data() { return v.data(); }
  const T* data() const { return v.data(); }
};

// R x C matrix stored by columns, indexed (1..R, 1..C).
template <class T, int R, int C>
struct Mat {
  std::array<T, static_cast<std::size_t>(R) * C> v{};
  static constexpr std::size_t at(int i, int j) {
    return static_cast<std::size_t>(i - 1) + static_cast<std::size_t>(R) * (j - 1);
  }
  T& operator()(int i, int j) { return v[at(i, j)]; }
  const T& operator()(int i, int j) const { return v[at(i, j)]; }
  T* data() { return v.data(); }
  const T* data() const { return v.data(); }
};

// A x B x C array stored first index fastest, indexed (1..A, 1..B, 1..C).
template <class T, int A, int B, int C>
struct Arr3 {
  std::array<T, static_cast<std::size_t>(A) * B * C> v{};
  static constexpr std::size_t at(int i, int j, int k) {
    return static_cast<std::size_t>(i - 1) + static_cast<std::size_t>(A) * (j - 1) +
           static_cast<std::size_t>(A) * B * (k - 1);
  }
  T& operator()(int i, int j, int k) { return v[at(i, j, k)]; }
  const T& operator()(int i, int j, int k) const { return v[at(i, j, k)]; }
};

// A correlation matrix argument of the probability routines: 6 x 6 by columns.
using Corr6 = Mat<double, 6, 6>;

// Constants, parameters of the current sample, counts, composite group means.
struct Wdca {
  double zinf = 7.5;                          // stands for an infinite limit
  Mat<double, kMaxGroups, kMaxStages> dcomp;  // (group, stage) standardized composite means
  double pi = 3.141592653589793;
  Vec<double, kMaxStages> rr;            // required cumulative retention after stage s
  Mat<double, kMaxCrit, kMaxCrit> rcc;   // criterion intercorrelations
  Vec<double, kMaxGroups> dcrit;         // standardized composite-criterion means
  double vcrit = 0;                      // variance of the raw composite criterion
  Vec<double, kMaxCrit> cw;              // criterion weights
  Vec<double, kMaxGroups> prop;          // group sizes (used relative to their sum)
  Mat<double, kMaxGroups, kMaxCrit> dc;  // (group, criterion) effect sizes
  int ncrit = 1;
  int nstage = 1;
  int npred = 1;
  int ngroup = 1;                               // the last group is the base group
  int istage = 1;                               // the stage whose cutoff is being solved
  mvn::Kernel kernel = mvn::Kernel::specified;  // of the 3- and 4-variate probabilities
};

// Cutoffs on the standardized stage composites.
struct Wdcb {
  Vec<double, kMaxStages> cut;
};

// Stage weights and adverse impact.
struct Wdcc {
  Mat<double, kMaxStages, kMaxGroups> aicum;  // (stage, group) cumulative AI ratio
  Mat<double, kMaxStages, kMaxPred> b;        // (stage, predictor) composite weights
  Mat<double, kMaxStages, kMaxGroups> aistg;  // (stage, group) AI ratio of the stage alone
  Mat<double, kMaxStages, kMaxGroups> dnext;  // (stage, group) next composite's mean after s
};

// Predictor parameters of the current sample.
struct Wdcd {
  Mat<double, kMaxGroups, kMaxPred> dp;  // (group, predictor) effect sizes
  Mat<double, kMaxPred, kMaxPred> rpp;   // predictor intercorrelations
  Mat<double, kMaxCrit, kMaxPred> val;   // (criterion, predictor) validities
  Vec<int, kMaxStages> np;               // predictors entering each stage
};

// Quality.
struct Wdcf {
  Vec<double, kMaxStages> qall;                          // quality of all selected after s
  Arr3<double, kMaxStages, kMaxGroups, kMaxPred> dpsel;  // (stage, group, predictor) means
  Mat<double, kMaxGroups, kMaxStages> qgrp;              // (group, stage) quality
  Mat<double, kMaxGroups, kMaxStages> ppass;             // (group, stage) cumulative passing
};

struct Model {
  Wdca wdca;
  Wdcb wdcb;
  Wdcc wdcc;
  Wdcd wdcd;
  Wdcf wdcf;
  // What the fast kernel keeps of the sample's matrices between its calls; a
  // copied model starts without it.
  mvn::fast::PathCache paths;
};

}  // namespace selquant
