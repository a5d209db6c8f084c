// Deck findings: each on a small deck, against its exact message.
#include "formats/findings.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "textio/listin.hpp"

namespace {

std::vector<std::string> findings(const std::string& deck) {
  std::istringstream in(deck);
  selquant::Problem p;
  selquant::Model m;
  std::vector<std::string> found;
  EXPECT_EQ(selquant::read_and_check(in, p, m, true, found), "");
  return found;
}

using Lines = std::vector<std::string>;

// A sound rectangular deck of two stages, two predictors and two groups, with
// one line replaced.
std::string rectangular(int line, const std::string& text) {
  std::vector<std::string> deck = {"2 10 1 2 2 2 0.3 0.7",
                                   "0.5 0.2",
                                   "1 0",
                                   "0.5 0.5",
                                   "-0.5 -0.8 -0.3",
                                   "0 0 0",
                                   "-0.3 -0.6 -0.1",
                                   "0 0 0",
                                   "1",
                                   "0.2",
                                   "0.4",
                                   "0.3 0.2",
                                   "0.5 0.4"};
  deck[static_cast<std::size_t>(line)] = text;
  std::string s;
  for (const std::string& l : deck)
    s += l + "\n";
  return s;
}

TEST(FindingsTest, ASoundDeckHasNone) {
  EXPECT_EQ(findings(rectangular(0, "2 10 1 2 2 2 0.3 0.7")), Lines{});
}

TEST(FindingsTest, RetentionRatesAndWeights) {
  EXPECT_EQ(findings(rectangular(1, "0.5 0.5")),
            Lines{"read 2 (retention rates): the retention rate of stage 2 (0.5) is not below "
                  "that of stage 1 (0.5): no cutoff can meet it"});
  EXPECT_EQ(findings(rectangular(1, "1.5 0")),
            (Lines{"read 2 (retention rates): the retention rate of stage 1 is 1.5; it must be "
                   "above 0 and at most 1",
                   "read 2 (retention rates): the retention rate of stage 2 is 0; it must be "
                   "above 0 and at most 1"}));
  EXPECT_EQ(findings(rectangular(1, "1 0.2")),
            Lines{"read 2 (retention rates): the retention rate of stage 1 is 1: no cutoff "
                  "within [-8, 8] keeps everyone"});
  EXPECT_EQ(findings(rectangular(3, "0 0")),
            Lines{"read 3 (stage weights): stage 2 has no nonzero weight"});
  EXPECT_EQ(findings(rectangular(8, "0")),
            Lines{"read 6 (criterion weights): the criterion weights give a composite "
                  "criterion of zero variance (with the first-row criterion correlations)"});
}

TEST(FindingsTest, BoundsAndDeviations) {
  EXPECT_EQ(findings(rectangular(6, "-0.3 -0.9 -0.1")),
            Lines{"reads 4 and 5 (effect sizes, first row, effect sizes, second row): the "
                  "lower bound of dp(1,1), -0.8, is above its upper bound, -0.9"});
  EXPECT_EQ(findings(rectangular(10, "1.2")),
            Lines{"read 10 (predictor correlations, second matrix): rpp(1,2) is 1.2, outside "
                  "[-1, 1]"});
  EXPECT_EQ(findings(rectangular(11, "-1.5 0.2"))[0],
            "read 11 (validities, first matrix): val(1,1) is -1.5, outside [-1, 1]");
  // Normal mode: a negative standard deviation; expected values are clipped.
  std::string normal = rectangular(0, "1 10 1 2 2 2 0.3 0.7");
  normal.replace(normal.find("-0.3 -0.6 -0.1"), 14, "0.1 -0.2 0.1");
  EXPECT_EQ(findings(normal),
            Lines{"read 5 (effect sizes, second row): the standard deviation of dp(1,1) is "
                  "-0.2; it must not be negative"});
}

TEST(FindingsTest, StructureAndProportions) {
  // r(1, 2) = -0.9 with validities 0.3 and 0.2: not positive definite.
  EXPECT_EQ(findings(rectangular(9, "-0.9")),
            Lines{"reads 9 and 11 (first-row correlations and validities): they do not "
                  "form a positive definite matrix, so passes drawn near them will be skipped"});
  EXPECT_EQ(findings("0 1 1 1 2 3 -0.2 0.5 0.5\n0.5\n1 1\n0 0 0\n0 0 0\n0 0 0\n1\n0\n"
                     "0.95 0.95\n"),
            (Lines{"read 1 (counts and group proportions): the proportion of group 1 is -0.2; "
                   "it counts as 0",
                   "reads 9 and 11 (first-row correlations and validities): they do not form "
                   "a positive definite matrix, so every pass will be skipped"}));
  EXPECT_EQ(findings(rectangular(0, "2 10 1 2 2 2 0.2 0.5")),
            Lines{"read 1 (counts and group proportions): the proportion of the base group 2 "
                  "is 0.5, but groups 1 to 1 leave it 0.8: 0.8 is used"});
  EXPECT_EQ(findings(rectangular(0, "2 10 1 2 2 2 1.3 0.7")),
            Lines{"read 1 (counts and group proportions): the proportions of groups 1 to 1 sum "
                  "to 1.3, above 1: they are scaled to sum to 1 and the base group 2 gets none"});
}

TEST(FindingsTest, EffectSizesOfTheWrongSign) {
  // Rectangular: the middle of the bounds counts (0.2 and 0.1, though one
  // lower bound is below 0); the criterion's effect size does not.
  std::string deck = rectangular(4, "-0.5 0.1 -0.3");
  deck.replace(deck.find("-0.3 -0.6 -0.1"), 14, "0.1 0.3 0.5");
  EXPECT_EQ(findings(deck),
            Lines{"read 4 (effect sizes, first row): group 1 scores above the base group 2 on "
                  "every predictor; effect sizes are the group's mean minus the base group's; "
                  "if these are base-minus-group values, change their signs"});
  deck.replace(deck.find("0.1 0.3 0.5"), 11, "0.1 0.3 -0.2");  // one predictor below
  EXPECT_EQ(findings(deck), Lines{});
}

TEST(FindingsTest, WhatTheReaderDropped) {
  // Numbers after a read's last value, a remark after them (not reported),
  // a base group that is not at 0, and lines after the last read.
  std::string deck = rectangular(2, "1 0 0.25 0.5 stage 1");
  for (int row = 0; row < 2; ++row)
    deck.replace(deck.find("\n0 0 0\n"), 7, "\n0 0.2 0\n");
  deck += "\n0.5 0.4\n  \nend\n";
  EXPECT_EQ(findings(deck),
            (Lines{"line 3: 0.25 0.5 after the last value of read 3 are ignored",
                   "lines 15 to 17 follow the last read (read 12) and are not read",
                   "read 4 (effect sizes, first row): the base group 2 has a nonzero effect "
                   "size, dp(2,1) = 0.2; effect sizes are measured from the base group, whose "
                   "own are 0"}));
  // A slash makes the rest of its line a remark; a remark word is no number,
  // nor is an exponent without digits.
  EXPECT_EQ(findings(rectangular(2, "1 0/ 7") + "\n"), Lines{});
  EXPECT_EQ(findings(rectangular(2, "1 0 1st stage")), Lines{});
  EXPECT_EQ(findings(rectangular(2, "1 0 2E")), Lines{});
  // A last value run into a letter is read as far as it is a number.
  EXPECT_EQ(findings(rectangular(2, "1 0.3S, the rest")), Lines{"line 3: '0.3S' was read as 0.3"});
}

TEST(FindingsTest, DesignsAreNamedByTheirKeysAndNames) {
  std::istringstream in(rectangular(1, "0.5 0.6"));
  textio::ListReader reader(in);
  selquant::Problem p;
  selquant::Model m;
  ASSERT_EQ(selquant::read_deck(reader, p, m), "");
  selquant::Design d = selquant::design_of(p, m);
  d.groups[0].name = "minority";
  d.groups[1].name = "majority";
  d.predictors = {"cognitive", "interview"};
  d.groups[1].predictor_d[1] = {0.1f, 0.1f};
  d.stages[0].weights = {0, 0};
  EXPECT_EQ(selquant::design_findings(d),
            (Lines{"stage retention: the retention rate of stage 2 (0.6) is not below that of "
                   "stage 1 (0.5): no cutoff can meet it",
                   "stage weights: stage 1 has no nonzero weight",
                   "effect sizes: the base group \"majority\" has a nonzero effect size, group "
                   "\"majority\" predictor_d.interview = 0.1; effect sizes are measured from the "
                   "base group, whose own are 0"}));
  d.groups[0].proportion = 1.25;
  const Lines scaled = selquant::design_findings(d);
  EXPECT_EQ(
      std::count(scaled.begin(), scaled.end(),
                 "group proportion: the proportions of the groups before \"majority\" sum to 1.25, "
                 "above 1: they are scaled to sum to 1 and the base group \"majority\" gets none"),
      1);
  std::istringstream singular(rectangular(9, "-0.9"));
  textio::ListReader again(singular);
  ASSERT_EQ(selquant::read_deck(again, p, m), "");
  EXPECT_EQ(selquant::design_findings(selquant::design_of(p, m)),
            Lines{"correlations: the lower bounds of the correlations and validities do not "
                  "form a positive definite matrix, so passes drawn near them will be skipped"});
}

}  // namespace
