#include "engine/given.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <string_view>
#include <utility>

#include "engine/engine.hpp"
#include "engine/tables.hpp"
#include "textio/shortest.hpp"

namespace selquant {
namespace {

// How far the proportions of a row may sum from 1: the draws of a sampler
// written with 17 digits sum to 1 within a few ulps; 1e-6 leaves room for
// draws written with six or seven digits.
constexpr double kProportionSum = 1e-6;

struct Prefix {
  std::string_view name;
  int indices;
};
// The inputs' names: a prefix and one or two indices, in the order of Kind.
constexpr std::array<Prefix, 6> kPrefixes = {
    {{"prop", 1}, {"dc", 2}, {"dp", 2}, {"rcc", 2}, {"rpp", 2}, {"val", 2}}};

// The indices of a name such as dp_2_10, or false.
bool indices_of(std::string_view rest, int want, int& i, int& j) {
  int got[2] = {0, 0};
  for (int n = 0; n < want; ++n) {
    if (rest.empty() || rest.front() != '_') return false;
    rest.remove_prefix(1);
    std::size_t digits = 0;
    while (digits < rest.size() && digits < 3 && rest[digits] >= '0' && rest[digits] <= '9')
      got[n] = got[n] * 10 + (rest[digits++] - '0');
    if (digits == 0) return false;
    rest.remove_prefix(digits);
  }
  i = got[0];
  j = got[1];
  return rest.empty();
}

}  // namespace

Given::Given(const Design& d, GivenDraws draws, int first)
    : columns_(std::move(draws.columns)), first_(std::max(first, 1)) {
  auto shape = std::make_unique<Problem>();
  auto deck = std::make_unique<Model>();
  problem_of(d, *shape, *deck);
  const std::vector<std::string> inputs = input_columns(*deck);
  auto known = [&inputs](const std::string& name) {
    return std::find(inputs.begin() + 2, inputs.end(), name) != inputs.end();
  };

  if (draws.names.size() != columns_.size())
    throw std::invalid_argument("the draws have " + std::to_string(draws.names.size()) +
                                " names for " + std::to_string(columns_.size()) + " columns");
  const std::size_t n = columns_.empty() ? 0 : columns_[0].size();
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    const std::string& name = draws.names[c];
    if (columns_[c].size() != n)
      throw DrawsError(0, name,
                       std::to_string(columns_[c].size()) + " rows where the first column has " +
                           std::to_string(n));
    if (std::find(draws.names.begin(), draws.names.begin() + static_cast<std::ptrdiff_t>(c),
                  name) != draws.names.begin() + static_cast<std::ptrdiff_t>(c))
      throw DrawsError(0, name, "the column is named twice");
    if (name == "sample" || name == "valid") continue;
    if (!known(name))
      throw DrawsError(0, name,
                       "names no input of the design (its inputs are " + inputs[2] + " to " +
                           inputs.back() + ", correlations by their upper triangle)");
    Target t{};
    for (std::size_t k = 0; k < kPrefixes.size(); ++k) {
      const Prefix& prefix = kPrefixes[k];
      if (name.starts_with(prefix.name) &&
          indices_of(std::string_view(name).substr(prefix.name.size()), prefix.indices, t.i, t.j)) {
        t.kind = static_cast<Kind>(k);
        break;
      }
    }
    t.column = c;
    targets_.push_back(t);
  }
  if (n == 0) throw DrawsError(0, "", "the draws have no rows");
  if (static_cast<std::size_t>(first_ - 1) + n > static_cast<std::size_t>(kMaxSamples))
    throw DrawsError(0, "",
                     std::to_string(static_cast<std::size_t>(first_ - 1) + n) +
                         " rows; a run has at most " + std::to_string(kMaxSamples));
  rows_ = static_cast<int>(n);
  // A row's number in messages: the run's.
  const auto row = [this](std::size_t r) { return r + static_cast<std::size_t>(first_); };

  // Every value a number; correlations in [-1, 1]; proportions in [0, 1],
  // summing to 1 with the design's where not given.
  const int groups = deck->wdca.ngroup;
  std::vector<const std::vector<double>*> proportion(static_cast<std::size_t>(groups), nullptr);
  for (std::size_t c = 0; c < targets_.size(); ++c) {
    const Target& t = targets_[c];
    const std::string& name = draws.names[t.column];
    const std::vector<double>& values = columns_[t.column];
    const bool correlation = t.kind == Kind::rcc || t.kind == Kind::rpp || t.kind == Kind::val;
    for (std::size_t r = 0; r < n; ++r) {
      const double v = values[r];
      if (!std::isfinite(v)) throw DrawsError(row(r), name, "not a finite number");
      if (correlation && std::fabs(v) > 1)
        throw DrawsError(row(r), name,
                         std::string(t.kind == Kind::val ? "the validity " : "the correlation ") +
                             textio::shortest(v) + " is outside [-1, 1]");
      if (t.kind == Kind::prop && !(v >= 0 && v <= 1))
        throw DrawsError(row(r), name,
                         "the proportion " + textio::shortest(v) + " is outside [0, 1]");
    }
    if (t.kind == Kind::prop) proportion[static_cast<std::size_t>(t.i - 1)] = &values;
  }
  if (std::none_of(proportion.begin(), proportion.end(), [](auto* v) { return v != nullptr; }))
    return;
  std::string named;
  for (int g = 1; g <= groups; ++g)
    if (proportion[static_cast<std::size_t>(g - 1)])
      named += (named.empty() ? "" : ", ") + ("prop_" + std::to_string(g));
  const bool base_given = proportion.back() != nullptr;
  for (std::size_t r = 0; r < n; ++r) {
    double sum = 0;
    for (int g = 1; g <= groups; ++g) {
      const auto* given = proportion[static_cast<std::size_t>(g - 1)];
      if (g < groups || base_given)
        sum += given ? (*given)[r] : d.groups[static_cast<std::size_t>(g - 1)].proportion;
    }
    // Without the base group's column, it takes the rest: the others must
    // leave it at least nothing.
    const bool bad = base_given ? std::fabs(sum - 1) > kProportionSum : sum > 1 + kProportionSum;
    if (bad)
      throw DrawsError(row(r), named,
                       "the proportions sum to " + textio::shortest(sum) +
                           (base_given ? ", not 1" : " without the base group's, more than 1") +
                           " (within 1e-6)");
  }
}

std::optional<double> Given::apply(int k, Model& m) const {
  Wdca& a = m.wdca;
  Wdcd& d = m.wdcd;
  const auto r = static_cast<std::size_t>(k - first_);
  for (const Target& t : targets_) {
    const double v = columns_[t.column][r];
    switch (t.kind) {
      case Kind::prop:
        a.prop(t.i) = v;
        break;
      case Kind::dc:
        a.dc(t.i, t.j) = v;
        break;
      case Kind::dp:
        d.dp(t.i, t.j) = v;
        break;
      case Kind::rcc:
        a.rcc(t.i, t.j) = v;
        break;
      case Kind::rpp:
        d.rpp(t.i, t.j) = v;
        break;
      case Kind::val:
        d.val(t.i, t.j) = v;
        break;
    }
  }
  return complete_sample(m);
}

void problem_of(const Design& d, const Given* given, Problem& p, Model& deck) {
  if (given == nullptr) return problem_of(d, p, deck);
  problem_of(expected_design(d), p, deck);
  p.smode = kGiven;
  p.nsamp = given->last();
}

}  // namespace selquant
