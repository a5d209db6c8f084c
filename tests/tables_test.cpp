// The in-memory tables of a run against the program's CSV files of the same
// deck and clock: the same columns and the same numbers, to the last bit.
#include "engine/tables.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "formats/deck.hpp"
#include "tests/scratch.hpp"
#include "textio/listin.hpp"

namespace {

const std::string kData = SELQUANT_TEST_DATA;
constexpr std::int64_t kEpoch = 1772874303;

std::vector<std::vector<std::string>> csv(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::stringstream s(line);
    for (std::string f; std::getline(s, f, ',');)
      fields.push_back(f);
    if (!line.empty() && line.back() == ',') fields.emplace_back();
    rows.push_back(fields);
  }
  return rows;
}

// A CSV field as the table holds it: empty or NaN is not a number.
double value(const std::string& field) {
  if (field.empty() || field == "NaN") return std::nan("");
  if (field == "Inf") return INFINITY;
  if (field == "-Inf") return -INFINITY;
  return std::strtod(field.c_str(), nullptr);
}

void expect_same(const selquant::Table& table, const std::string& path) {
  const auto rows = csv(path);
  ASSERT_FALSE(rows.empty());
  ASSERT_EQ(rows[0].size(), table.columns.size()) << path;
  ASSERT_EQ(rows.size() - 1, table.rows()) << path;
  for (std::size_t c = 0; c < table.columns.size(); ++c) {
    const selquant::Column& col = table.columns[c];
    EXPECT_EQ(rows[0][c], col.name);
    for (std::size_t r = 0; r < table.rows(); ++r) {
      const std::string& field = rows[r + 1][c];
      if (col.is_text) {
        EXPECT_EQ(field, col.text[r]);
      } else if (c == 1 && col.name == "group" && field.empty()) {
        EXPECT_EQ(col.values[r], 0.0);  // the row of all selected
      } else {
        const double v = value(field);
        EXPECT_TRUE(v == col.values[r] || (std::isnan(v) && std::isnan(col.values[r])))
            << path << " row " << r + 1 << " " << col.name << ": " << field << " vs "
            << col.values[r];
      }
    }
  }
}

// Through the problem of the deck, or (by_design) through its design.
void compare(const std::string& deck, int threads, bool by_design = false, int status = 0) {
  const Scratch scratch;
  std::ifstream in(deck);
  textio::ListReader reader(in);
  selquant::Problem p;
  selquant::Model m;
  ASSERT_EQ(selquant::read_deck(reader, p, m), "");
  const selquant::Design design = selquant::design_of(p, m);
  selquant::Collector collector(m);
  selquant::Sink* const sinks[] = {&collector};
  selquant::EngineOptions options;
  options.threads = threads;
  options.epoch = kEpoch;
  const selquant::Evaluation ev = by_design ? selquant::evaluate(design, options, sinks)
                                            : selquant::evaluate(p, m, options, sinks);
  ASSERT_TRUE(ev.complete);

  const std::string dir = scratch.dir();
  const std::string command =
      std::string(SELQUANT_BINARY) + " --epoch " + std::to_string(kEpoch) + " --threads " +
      std::to_string(threads) + " --csv " + dir + "/t_results.csv --inputs-csv " + dir +
      "/t_inputs.csv --summary-csv " + dir + "/t_summary.csv " + deck + " > /dev/null 2>&1";
  const int code = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(code) && WEXITSTATUS(code) == status) << command;
  expect_same(collector.results(), dir + "/t_results.csv");
  expect_same(collector.inputs(), dir + "/t_inputs.csv");
  expect_same(collector.summary(ev.summary), dir + "/t_summary.csv");
}

TEST(TablesTest, EqualTheCsvFilesOfASampledRun) {
  compare(kData + "/e2e/rectangular_150.deck", 2);
  compare(kData + "/e2e/invalid_samples.deck", 1, true);
}

TEST(TablesTest, EqualTheCsvFilesOfAnExactRun) {
  compare(kData + "/reference/w25b_two_stage.deck", 1, true);
  compare(kData + "/e2e/dfzero_error.deck", 1, false, 4);  // two passes, a failed cutoff
}

}  // namespace
