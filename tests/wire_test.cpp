// The pieces of a run and of a search, computed apart, sent as bytes and
// joined: the whole run's study and the whole search's front, bit for bit.
#include "engine/wire.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

#include "formats/design_file.hpp"
#include "formats/front.hpp"

namespace {

using selquant::Design;
using selquant::Table;

// Three predictors whose drawn correlations are often no correlation matrix:
// runs of skipped passes among the computed ones, over 100 of them counted.
const char* kSkipping = R"(sampling = "rectangular"
samples = 300
epoch = 1772874303
predictors = ["a", "b", "c"]
criteria = ["performance"]
criterion_weights = [1]
[[stage]]
retention = 0.5
weights = [1, 1, 0]
[[stage]]
retention = 0.2
weights = [1, 1, 1]
[[group]]
name = "minority"
proportion = 0.3
predictor_d = [{ low = -0.8, high = -0.4 }, -0.2, -0.1]
[[group]]
name = "majority"
proportion = 0.7
[correlations]
predictors = [[{ low = 0.5, high = 0.9 }], [{ low = 0.5, high = 0.9 }, { low = -0.3, high = 0.2 }]]
validities = [[0.3, 0.3, 0.2]]
)";

// Equal to the bit, not a number included.
bool same_bits(const std::vector<double>& x, const std::vector<double>& y) {
  if (x.size() != y.size()) return false;
  for (std::size_t i = 0; i < x.size(); ++i)
    if (std::bit_cast<std::uint64_t>(x[i]) != std::bit_cast<std::uint64_t>(y[i])) return false;
  return true;
}

void expect_same_bits(const Table& a, const Table& b, const char* what) {
  ASSERT_EQ(a.columns.size(), b.columns.size()) << what;
  for (std::size_t c = 0; c < a.columns.size(); ++c) {
    const auto& x = a.columns[c];
    const auto& y = b.columns[c];
    EXPECT_EQ(x.name, y.name) << what;
    EXPECT_EQ(x.text, y.text) << what << " " << x.name;
    EXPECT_TRUE(same_bits(x.values, y.values)) << what << " " << x.name;
  }
}

TEST(WireTest, ARunInChunksIsTheWholeRun) {
  Design d;
  ASSERT_EQ(selquant::read_design(kSkipping, "s.toml", d), "");
  selquant::StudyOptions options;
  options.epoch = *d.epoch;
  options.threads = 2;
  const selquant::Study whole = selquant::study(d, options);
  ASSERT_TRUE(whole.complete);
  ASSERT_GE(whole.counted, 100);  // the summary has its percentiles
  // A boundary between two skipped passes, and one elsewhere.
  const std::vector<double>& valid = whole.inputs["valid"].values;
  std::size_t skipped_pair = 0;
  while (skipped_pair + 1 < valid.size() &&
         (valid[skipped_pair] != 0 || valid[skipped_pair + 1] != 0))
    ++skipped_pair;
  ASSERT_LT(skipped_pair + 1, valid.size());
  const int boundary = static_cast<int>(skipped_pair) + 2;  // the second of the pair starts a chunk
  std::vector<selquant::Study> parts;
  for (auto [first, last] : {std::pair{1, boundary - 1}, {boundary, 170}, {171, 300}}) {
    selquant::StudyOptions o = options;
    o.threads = 1;
    o.first = first;
    o.last = last;
    parts.push_back(selquant::wire::study_of(selquant::wire::bytes_of(selquant::study(d, o))));
  }
  const selquant::Study joined = selquant::join_studies(d, parts);
  EXPECT_TRUE(joined.complete);
  EXPECT_EQ(joined.counted, whole.counted);
  EXPECT_EQ(joined.searched, whole.searched);
  EXPECT_EQ(joined.not_found, whole.not_found);
  expect_same_bits(joined.results, whole.results, "results");
  expect_same_bits(joined.inputs, whole.inputs, "inputs");
  expect_same_bits(joined.summary, whole.summary, "summary");
  EXPECT_THROW(selquant::wire::study_of(selquant::wire::bytes_of(whole).substr(0, 100)),
               std::invalid_argument);
  // A piece of a design of another shape (a pool of applicants: a count
  // column more) does not join.
  Design other = d;
  other.utility = Design::Utility{1000, 1};
  selquant::StudyOptions o = options;
  o.last = 10;
  parts.push_back(selquant::study(other, o));
  EXPECT_THROW(selquant::join_studies(d, parts), std::invalid_argument);
}

TEST(WireTest, ASearchInPiecesIsTheWholeSearch) {
  // The Bobko set under uncertain validities, with costs, every two-stage
  // structure of three of its predictors.
  const std::string text = R"(sampling = "rectangular"
samples = 8
predictors = ["CA", "SI", "C"]
criteria = ["performance"]
criterion_weights = [1]
[[stage]]
retention = 0.5
weights = [1, 0, 0]
[[stage]]
retention = 0.1
weights = [1, 1, 1]
[[group]]
name = "minority"
proportion = 0.25
predictor_d = [-1.00, -0.23, -0.09]
[[group]]
name = "majority"
proportion = 0.75
[correlations]
predictors = [[0.24], [0.00, 0.12]]
validities = [[{ low = 0.25, high = 0.35 }, 0.30, 0.18]]
[costs]
CA = 10
SI = 150
C = 8
[pareto]
objectives = ["quality", "ai:minority", "cost"]
points = 5
structures = "all"
)";
  Design d;
  selquant::ParetoPlan plan;
  ASSERT_EQ(selquant::read_design(text, "p.toml", d), "");
  ASSERT_EQ(selquant::read_pareto(text, "p.toml", d, plan), "");
  selquant::SearchOptions options;
  options.threads = 2;
  options.epoch = 1772874303;
  const selquant::Front whole = selquant::pareto(d, plan, options);
  std::vector<selquant::LayoutSearch> found(plan.structures.size());
  for (int s = static_cast<int>(found.size()) - 1; s >= 0; --s)  // in any order
    found[static_cast<std::size_t>(s)] = selquant::wire::layout_search_of(
        selquant::wire::bytes_of(selquant::search_layout(d, plan, options, s)));
  const selquant::Front joined = selquant::join_found(d, plan, options, found);
  EXPECT_EQ(joined.evaluations, whole.evaluations);
  expect_same_bits(selquant::front_table(d, plan, joined), selquant::front_table(d, plan, whole),
                   "front");
  EXPECT_FALSE(whole.design.p95.empty());
  EXPECT_TRUE(same_bits(joined.design.p95, whole.design.p95));
  EXPECT_THROW(selquant::search_layout(d, plan, options, -1), std::invalid_argument);
}

}  // namespace
