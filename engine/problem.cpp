#include "engine/problem.hpp"

#include <array>

namespace selquant {
namespace {

// One count's valid range, and how a message names it.
struct Range {
  const char* name;
  int lo;
  int hi;
};

}  // namespace

std::string check_counts(int smode, int nsamp, int ncrit, int nstage, int npred, int ngroup) {
  if (smode < 0 || smode > 2)
    return "sampling mode is " + std::to_string(smode) + "; it must be 0, 1 or 2";
  const std::array<std::pair<int, Range>, 5> counts = {{
      {nsamp, {"number of samples", 1, kMaxSamples}},
      {ncrit, {"number of criterion dimensions", 1, kMaxCrit}},
      {nstage, {"number of stages", 1, kMaxStages}},
      {npred, {"number of predictors", 1, kMaxPred}},
      {ngroup, {"number of groups", 1, kMaxGroups}},
  }};
  for (const auto& [value, range] : counts) {
    if (value < range.lo || value > range.hi)
      return std::string(range.name) + " is " + std::to_string(value) + "; it must be " +
             std::to_string(range.lo) + " to " + std::to_string(range.hi);
  }
  return {};
}

}  // namespace selquant
