// What a design costs and what its hires are worth.
//
// The cost per applicant of the pool sums, over the predictors a design uses,
// the cost of assessing one applicant with the predictor times the share of
// the pool assessed with it: all of it for a predictor first measured at
// stage 1, else those the stage before keeps (a score once taken is carried
// to later stages at no cost). The utility is the Brogden-Cronbach-Gleser
// form: applicants x final retention x SDy x quality (the quality of all
// selected, in pool standard deviations) less applicants x cost.
#pragma once

#include <vector>

#include "engine/design.hpp"

namespace selquant {

// Per predictor the stage (1-based) where it is first measured, or 0 where
// no stage uses it: a stage whose weights are searched uses its free
// predictors (whatever their weight at a point), another those that weigh in
// the design's weights.
std::vector<int> entry_stages(const Design& d, const std::vector<std::vector<int>>& free);

// The cost per applicant of the pool with the given retention rates (per
// stage); costs per predictor (none given: nothing costs).
double cost_per_applicant(const std::vector<double>& costs, const std::vector<int>& entry,
                          const std::vector<double>& retention);

double utility(const Design::Utility& u, double final_retention, double quality, double cost);

}  // namespace selquant
