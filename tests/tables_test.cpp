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

// The results table against what a cutoff means, independently of how the
// table is laid out: one cutoff per stage, shared by its groups, that keeps
// the stage's retention rate of the pool. Returns the results.
selquant::Table results_of_their_cutoffs(const std::string& deck) {
  std::ifstream in(deck);
  textio::ListReader reader(in);
  selquant::Problem p;
  selquant::Model m;
  EXPECT_EQ(selquant::read_deck(reader, p, m), "");
  selquant::Collector collector(m);
  selquant::Sink* const sinks[] = {&collector};
  selquant::EngineOptions options;
  options.epoch = kEpoch;
  EXPECT_TRUE(selquant::evaluate(p, m, options, sinks).complete);
  selquant::Table t = collector.results();
  const selquant::Table& inputs = collector.inputs();
  const int groups = m.wdca.ngroup;
  EXPECT_EQ(t.rows() % static_cast<std::size_t>(groups), 0u);
  for (std::size_t r = 0; r < t.rows(); r += static_cast<std::size_t>(groups)) {
    const int stage = static_cast<int>(t["stage"].values[r]);
    const auto sample = static_cast<std::size_t>(t["sample"].values[r]);
    double kept = 0;
    for (int g = 1; g <= groups; ++g) {
      const std::size_t row = r + static_cast<std::size_t>(g - 1);
      EXPECT_EQ(t["stage"].values[row], stage);
      EXPECT_EQ(t["cutoff"].values[row], t["cutoff"].values[r]) << "row " << row;
      kept += inputs["prop_" + std::to_string(g)].values[sample - 1] * t["passing"].values[row];
    }
    // To the root finder's tolerance on the cutoff (1e-6 relative) times a density.
    EXPECT_NEAR(kept, m.wdca.rr(stage), 1e-6) << "sample " << sample << " stage " << stage;
  }
  return t;
}

TEST(TablesTest, EveryGroupOfAStageHasItsCutoff) {
  results_of_their_cutoffs(kData + "/e2e/rectangular_150.deck");
  // The two-stage example: predictors with r = 0.3, group means (-0.5, -0.3)
  // and (0, 0); stage 1 keeps those above c1 on predictor 1, stage 2 those
  // also above c2 on (x1 + x2) / 2 in within-group SD units. Group g passes
  // stage 1 with Phi(m1 - c1), and both with the integral over x1 > c1 of
  // phi(x1 - m1) P(composite > c2 | x1), by Simpson's rule.
  const selquant::Table t = results_of_their_cutoffs(kData + "/reference/w25b_two_stage.deck");
  ASSERT_EQ(t.rows(), 4u);  // stage 1, groups 1 and 2; stage 2, groups 1 and 2
  const double c1 = t["cutoff"].values[0];
  const double c2 = t["cutoff"].values[2];
  auto upper = [](double z) { return 0.5 * std::erfc(z / std::sqrt(2.0)); };
  const double r = static_cast<double>(0.3f);  // as the deck holds it
  const double sd = std::sqrt(0.5 + 0.5 * r);  // of (x1 + x2) / 2
  for (std::size_t g = 0; g < 2; ++g) {
    const double m1 = g == 0 ? -0.5 : 0.0;
    const double m2 = g == 0 ? static_cast<double>(-0.3f) : 0.0;
    EXPECT_NEAR(t["passing"].values[g], upper(c1 - m1), 1e-12);
    auto integrand = [&](double x) {
      const double mean = (x + m2 + r * (x - m1)) / 2 / sd;
      const double spread = std::sqrt(1 - r * r) / 2 / sd;
      return std::exp(-(x - m1) * (x - m1) / 2) / std::sqrt(2 * M_PI) * upper((c2 - mean) / spread);
    };
    constexpr int n = 4000;  // Simpson's error here is below 1e-13
    const double a = c1, b = m1 + 12, h = (b - a) / n;
    double sum = integrand(a) + integrand(b);
    for (int i = 1; i < n; ++i)
      sum += (i % 2 ? 4 : 2) * integrand(a + i * h);
    EXPECT_NEAR(t["passing"].values[2 + g], sum * h / 3, 1e-11) << "group " << g + 1;
  }
}

}  // namespace
