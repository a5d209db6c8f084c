#include "engine/economics.hpp"

#include <algorithm>

namespace selquant {

std::vector<int> entry_stages(const Design& d, const std::vector<std::vector<int>>& free) {
  std::vector<int> entry(d.predictors.size(), 0);
  for (std::size_t s = d.stages.size(); s-- > 0;) {
    const bool searched = s < free.size() && !free[s].empty();
    for (std::size_t j = 0; j < d.predictors.size(); ++j) {
      const bool used = searched ? std::find(free[s].begin(), free[s].end(),
                                             static_cast<int>(j + 1)) != free[s].end()
                                 : d.stages[s].weights[j] != 0;
      if (used) entry[j] = static_cast<int>(s + 1);
    }
  }
  return entry;
}

double cost_per_applicant(const std::vector<double>& costs, const std::vector<int>& entry,
                          const std::vector<double>& retention) {
  double cost = 0;
  for (std::size_t j = 0; j < costs.size() && j < entry.size(); ++j) {
    if (entry[j] == 0) continue;
    const double assessed = entry[j] == 1 ? 1.0 : retention[static_cast<std::size_t>(entry[j] - 2)];
    cost += costs[j] * assessed;
  }
  return cost;
}

double utility(const Design::Utility& u, double final_retention, double quality, double cost) {
  return u.applicants * final_retention * u.sdy * quality - u.applicants * cost;
}

}  // namespace selquant
