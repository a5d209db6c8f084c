// The results of a run as tables: one row per computed pass, stage and group;
// one row of drawn inputs per pass; the summary, one row per stage, group and
// statistic. The one place that names and orders their columns, for the CSV
// files and for whoever collects a run in memory.
#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine.hpp"

namespace selquant {

// A column of numbers, or of text where `text` is set.
struct Column {
  std::string name;
  std::vector<double> values;
  std::vector<std::string> text;
  bool is_text = false;
};

// Columns of equal length.
struct Table {
  std::vector<Column> columns;
  std::size_t rows() const;
  const Column& operator[](std::string_view name) const;  // throws std::out_of_range
};

// The results columns, and the rows of one computed pass: sample, stage,
// group, cutoff, passing (the group's share passing), quality, cum_ai,
// stage_ai, quality_all, share (the group's share of all passing), and, for a
// pool of a given number of applicants, count (the group's expected number
// passing).
inline constexpr std::array<std::string_view, 11> kResultColumns = {
    "sample", "stage",    "group",       "cutoff", "passing", "quality",
    "cum_ai", "stage_ai", "quality_all", "share",  "count",
};
using ResultRow = std::array<double, kResultColumns.size()>;
// The columns a run has: all but count without applicants (0).
std::span<const std::string_view> result_columns(double applicants);
std::vector<ResultRow> result_rows(int k, const Model& m, double applicants = 0);

// The inputs columns of a problem's shape: sample, valid, then every drawn
// element named by its indices (prop_2, dc_1_3, dp_4_10, rcc_1_2, rpp_2_7,
// val_3_10; correlations by their upper triangle); and the row of one pass.
std::vector<std::string> input_columns(const Model& m);
std::vector<double> input_row(int k, bool valid, const Model& m);

// The summary columns: stage, group (0 for all selected), statistic (mean,
// p1, ..., p99), quality (of all selected, or of the group), cum_ai and
// stage_ai (a group's; not a number in the row of all selected).
inline constexpr std::array<std::string_view, 6> kSummaryColumns = {
    "stage", "group", "statistic", "quality", "cum_ai", "stage_ai"};
// The statistics beside the mean: the report's percentile points.
inline constexpr std::array<std::string_view, kPercentiles.size()> kPercentileNames = {
    "p1", "p5", "p10", "p25", "p50", "p75", "p90", "p95", "p99"};
struct SummaryRow {
  int stage;
  int group;  // 0: all selected
  std::string_view statistic;
  double quality;
  double cum_ai;
  double stage_ai;
};
// Per stage the rows of all selected, then those of every group, each for the
// mean and, where the summary has them, the percentiles.
std::vector<SummaryRow> summary_rows(const Model& m, const Summary& summary);

// A consumer that keeps every pass: the results and inputs tables.
class Collector : public Sink {
 public:
  // applicants: the pool's size, for the counts (0: none).
  explicit Collector(const Model& deck, double applicants = 0);
  explicit Collector(const Design& d);
  bool pass(const PassResult& r) override;
  const Table& results() const { return results_; }
  const Table& inputs() const { return inputs_; }
  // The summary table of a finished run of this shape.
  Table summary(const Summary& summary) const { return summary_table(shape_, summary); }
  static Table summary_table(const Model& m, const Summary& summary);

 private:
  Model shape_;  // the counts
  double applicants_;
  Table results_;
  Table inputs_;
};

}  // namespace selquant
