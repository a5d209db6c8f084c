// The problem of one run as the computation holds it: mode, sample count and
// the two rows of every uncertain input in single precision; the counts and
// fixed parameters live in the model blocks.
#pragma once

#include <string>

#include "engine/blocks.hpp"

namespace selquant {

// Sampling modes.
// kGiven: every pass takes its inputs from given draws (never in a deck).
enum Mode : int { kExact = 0, kNormal = 1, kRectangular = 2, kGiven = 3 };

struct Problem {
  int smode = kExact;
  int nsamp = 1;
  // First row: lower bounds (rectangular) or expected values (normal); second
  // row: upper bounds or standard deviations. In exact mode the rows are equal.
  Vec<float, kMaxGroups> prop1, prop2;
  Mat<float, kMaxGroups, kMaxCrit> dc1, dc2;
  Mat<float, kMaxGroups, kMaxPred> dp1, dp2;
  Mat<float, kMaxCrit, kMaxCrit> rc1, rc2;
  Mat<float, kMaxPred, kMaxPred> rp1, rp2;
  Mat<float, kMaxCrit, kMaxPred> val1, val2;
};

// The message for a mode or count outside its range, or an empty string.
std::string check_counts(int smode, int nsamp, int ncrit, int nstage, int npred, int ngroup);

}  // namespace selquant
