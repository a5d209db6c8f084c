// The problem deck: twelve free-format reads into the problem record (mode,
// sample count and the two rows of every uncertain input, in single precision)
// and into the fixed parameters of the model blocks.
#pragma once

#include <string>

#include "selquant/blocks.hpp"
#include "textio/listin.hpp"

namespace selquant {

// Sampling modes.
enum Mode : int { kExact = 0, kNormal = 1, kRectangular = 2 };

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

// Reads the whole deck; a malformed or missing value throws textio::InputError.
// Returns an empty string, or, when the mode or a count read at the start is
// outside its range or a value does not fit its kind, a message naming it and
// its record; nothing further is then read.
std::string read_deck(textio::ListReader& in, Problem& p, Model& m);

// What read `record` (1 to 12) holds.
const char* record_name(int record);

// The message for a mode or count outside its range, or an empty string.
std::string check_counts(int smode, int nsamp, int ncrit, int nstage, int npred, int ngroup);

}  // namespace selquant
