// A design: everything a problem holds, with names. Predictors, criteria and
// groups are named; every uncertain input is a fixed value or a pair of rows
// (low and high, or mean and standard deviation) held in single precision as
// the computation uses it; proportions, retention rates and weights are
// double precision.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/blocks.hpp"
#include "engine/problem.hpp"

namespace selquant {

// An uncertain input: in exact mode `first` alone; rectangular: low and high;
// normal: mean and standard deviation.
struct Uncertain {
  float first = 0;
  float second = 0;
  bool operator==(const Uncertain&) const = default;
};

// A square matrix of uncertain correlations, full and symmetric, unit diagonal.
using UncertainMatrix = std::vector<std::vector<Uncertain>>;

struct Design {
  int sampling = kExact;  // kExact, kNormal or kRectangular
  int samples = 1;        // passes; exact mode computes one and repeats it
  std::optional<std::int64_t> epoch;

  std::vector<std::string> predictors;
  std::vector<std::string> criteria;
  std::vector<double> criterion_weights;  // one per criterion

  struct Stage {
    double retention = 0;         // cumulative share of the pool still in
    std::vector<double> weights;  // one per predictor
    bool operator==(const Stage&) const = default;
  };
  std::vector<Stage> stages;

  struct Group {
    std::string name;
    double proportion = 0;  // the last group's is shown, the rest used
    // An uncertain proportion (not the base group's): its two rows in the
    // design's mode; proportion then holds its expected value.
    std::optional<Uncertain> uncertain_proportion;
    std::vector<Uncertain> criterion_d;  // one per criterion
    std::vector<Uncertain> predictor_d;  // one per predictor
    bool operator==(const Group&) const = default;
  };
  std::vector<Group> groups;  // the last is the base group

  UncertainMatrix criterion_r;                     // criteria x criteria
  UncertainMatrix predictor_r;                     // predictors x predictors
  std::vector<std::vector<Uncertain>> validities;  // criteria x predictors

  // The cost of assessing one applicant with each predictor (any unit), or
  // nothing where none is given.
  std::vector<double> costs;
  // What the hires are worth: the applicants assessed at stage 1 and the
  // standard deviation of the criterion in money in their pool.
  struct Utility {
    double applicants = 0;
    double sdy = 0;
    bool operator==(const Utility&) const = default;
  };
  std::optional<Utility> utility;

  bool operator==(const Design&) const = default;
};

// The design of a problem (as read from a deck), with the names predictor_1,
// criterion_1, group_1, ...
Design design_of(const Problem& p, const Model& deck);
// The design at its expected values, in exact mode: the first rows of exact
// and normal values, the midpoints of rectangular ones.
Design expected_design(const Design& d);

// The problem of a design: the problem record and the model's counts and
// fixed parameters. The design must be within the limits (check_counts).
void problem_of(const Design& d, Problem& p, Model& deck);

}  // namespace selquant
