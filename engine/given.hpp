// Samples given instead of drawn: a researcher's own draws of the uncertain
// inputs (posterior draws of a meta-analysis, bootstrap replicates), one row
// per pass, with the columns of the inputs table (prop_2, dc_1_3, dp_4_10,
// rcc_1_2, rpp_2_7, val_3_10). An input a row leaves out keeps the design's
// expected value. Each row is computed as a drawn pass is.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/design.hpp"
#include "engine/problem.hpp"

namespace selquant {

// The draws as given: named columns of equal length.
struct GivenDraws {
  std::vector<std::string> names;
  std::vector<std::vector<double>> columns;
};

// A fault in given draws, where it is: the row (1 for the first; 0 for the
// names) and the column.
class DrawsError : public std::invalid_argument {
 public:
  DrawsError(std::size_t row, std::string column, const std::string& what)
      : std::invalid_argument(what), row(row), column(std::move(column)) {}
  std::size_t row;
  std::string column;
};

// Given draws checked against a design, each column bound to the input it
// sets. The columns sample and valid (of an inputs table fed back) are taken
// and not used.
class Given {
 public:
  // Throws DrawsError: a column that names no input of the design or names
  // one twice, no rows or more than a run has, a value that is not a finite
  // number, a correlation or validity outside [-1, 1], a proportion outside
  // [0, 1], proportions (the base group's taking the rest where not given)
  // that do not sum to 1 within 1e-6.
  // The rows are of the passes first, first + 1, ... (a run's piece on a
  // cluster gets its own rows alone); messages count rows from the run's
  // first.
  Given(const Design& d, GivenDraws draws, int first = 1);
  // The last pass the rows reach: the run's count of passes.
  int last() const { return first_ - 1 + rows_; }
  // Sets the inputs of pass k (first .. last) into a model whose inputs hold
  // the expected values, and completes them as a drawn pass's; returns the
  // proportion check.
  std::optional<double> apply(int k, Model& m) const;

 private:
  enum class Kind { prop, dc, dp, rcc, rpp, val };
  struct Target {
    Kind kind;
    int i;
    int j;
    std::size_t column;
  };
  std::vector<std::vector<double>> columns_;
  std::vector<Target> targets_;
  int first_ = 1;
  int rows_ = 0;
};

// The problem of a run of the design: its own (given null), or on given
// draws: the design at its expected values, mode kGiven, one pass per row.
void problem_of(const Design& d, const Given* given, Problem& p, Model& deck);

}  // namespace selquant
