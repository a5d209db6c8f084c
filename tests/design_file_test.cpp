// Design files: what they read to, the round trip through their text, and
// every kind of error against its exact message.
#include "formats/design_file.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "engine/study.hpp"
#include "formats/deck.hpp"
#include "textio/listin.hpp"

namespace {

using selquant::Design;

const std::string kData = SELQUANT_TEST_DATA;

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

Design design_of_deck(const std::string& path) {
  std::istringstream in(slurp(path));
  textio::ListReader reader(in);
  selquant::Problem p;
  selquant::Model m;
  EXPECT_EQ(selquant::read_deck(reader, p, m), "") << path;
  return selquant::design_of(p, m);
}

// The worked two-stage example as a design file, with one line replaced.
const std::string kExample = R"(sampling = "rectangular"
samples = 500
predictors = ["cognitive", "interview"]
criteria = ["task"]
criterion_weights = [1.0]
[[stage]]
retention = 0.5
weights = { cognitive = 1 }
[[stage]]
retention = 0.2
weights = [0.5, 0.5]
[[group]]
name = "minority"
proportion = 0.3
criterion_d = [{ low = -0.5, high = -0.3 }]
predictor_d = { cognitive = { low = -0.8, high = -0.6 }, interview = { low = -0.3, high = -0.1 } }
[[group]]
name = "majority"
proportion = 0.7
[correlations]
predictors = [[{ low = 0.2, high = 0.4 }]]
validities = [[{ low = 0.3, high = 0.5 }, { low = 0.2, high = 0.4 }]]
)";

std::string with(const std::string& from, const std::string& to) {
  std::string s = kExample;
  const std::size_t at = s.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return s.replace(at, from.size(), to);
}

std::string error_of(const std::string& text) {
  Design d;
  return selquant::read_design(text, "d.toml", d);
}

TEST(DesignFileTest, TheExampleIsTheDeckWithNames) {
  Design d;
  ASSERT_EQ(selquant::read_design(kExample, "d.toml", d), "");
  Design deck = design_of_deck(kData + "/../../examples/two_stage_rectangular.deck");
  deck.predictors = {"cognitive", "interview"};
  deck.criteria = {"task"};
  deck.groups[0].name = "minority";
  deck.groups[1].name = "majority";
  EXPECT_EQ(d, deck);
  // A value is the single-precision number of the same decimal in a deck.
  EXPECT_EQ(static_cast<double>(d.validities[0][0].first), 0.30000001192092896);
  EXPECT_EQ(d.stages[1].retention, 0.2);
}

TEST(DesignFileTest, FormsDecideTheSamplingAndNamesMayLeaveValuesOut) {
  // No sampling given: the forms decide; plain numbers fit every mode.
  Design d;
  ASSERT_EQ(selquant::read_design(with("sampling = \"rectangular\"\n", ""), "d.toml", d), "");
  EXPECT_EQ(d.sampling, selquant::kRectangular);
  const std::string normal = R"(predictors = ["a", "b"]
criteria = ["c"]
criterion_weights = { c = 2 }
[[stage]]
retention = 0.3
weights = { b = 1 }
[[group]]
proportion = 0.25
predictor_d = { a = { mean = -1, sd = 0.1 } }
[[group]]
[correlations]
predictors = [[1, 0.5], [0.5, 1]]
validities = { c = { b = 0.4 } }
)";
  ASSERT_EQ(selquant::read_design(normal, "n.toml", d), "");
  EXPECT_EQ(d.sampling, selquant::kNormal);
  EXPECT_EQ(d.samples, 1);
  EXPECT_EQ(d.criterion_weights, std::vector<double>{2});
  EXPECT_EQ(d.stages[0].weights, (std::vector<double>{0, 1}));
  EXPECT_EQ(d.groups[0].name, "group_1");
  EXPECT_EQ(d.groups[0].predictor_d[0], (selquant::Uncertain{-1, 0.1f}));
  EXPECT_EQ(d.groups[0].predictor_d[1], (selquant::Uncertain{0, 0}));
  EXPECT_EQ(d.groups[1].proportion, 0.75);                         // the base group: the rest
  EXPECT_EQ(d.predictor_r[1][0], (selquant::Uncertain{0.5f, 0}));  // a fixed value: sd 0
  EXPECT_EQ(d.validities[0][0], (selquant::Uncertain{0, 0}));
}

TEST(DesignFileTest, EveryDeckRoundTripsThroughItsDesignFile) {
  for (const char* deck :
       {"/../../examples/two_stage_rectangular.deck", "/../../examples/exact_two_stage.deck",
        "/../../examples/normal_three_stage.deck", "/../../examples/four_stage_five_group.deck",
        "/e2e/invalid_samples.deck", "/e2e/perfect_correlation.deck"}) {
    Design d = design_of_deck(kData + deck);
    // What a deck cannot hold, but a design file does.
    d.epoch = -12345;
    d.costs.assign(d.predictors.size(), 0.0);
    d.costs.back() = 12.5;
    d.utility = Design::Utility{1000, 0.1 + 0.2};
    Design back;
    ASSERT_EQ(selquant::read_design(selquant::write_design(d), "d.toml", back), "") << deck;
    EXPECT_EQ(back, d) << deck;
  }
}

TEST(DesignFileTest, ErrorsNameTheFileTheLineAndTheKey) {
  for (auto [text, message] : std::vector<std::pair<std::string, std::string>>{
           {"predictors = [",
            "d.toml, line 1, column 15: not valid TOML: "
            "Error while parsing array: encountered end-of-file"},
           {with("predictor_d = {", "predictors_d = {"),
            "d.toml, line 16, column 16: group[1].predictors_d: unknown key; did you mean "
            "'predictor_d'?"},
           {with("retention = 0.2\n", ""),
            "d.toml, line 9, column 1: stage[2]: the key 'retention' is missing"},
           {with("retention = 0.5", "retention = \"half\""),
            "d.toml, line 7, column 13: stage[1].retention: must be a number"},
           {with("weights = [0.5, 0.5]", "weights = [0.5, 0.5, 1]"),
            "d.toml, line 11, column 11: stage[2].weights: 3 values for 2 predictors"},
           {with("weights = { cognitive = 1 }", "weights = { cognitiv = 1 }"),
            "d.toml, line 8, column 24: stage[1].weights.cognitiv: no predictor 'cognitiv'; did "
            "you mean 'cognitive'?"},
           {with("[[{ low = 0.2, high = 0.4 }]]", "[[1, 0.2], [0.3, 1]]"),
            "d.toml, line 21, column 19: correlations.predictors[1][2]: the matrix is not "
            "symmetric: this element differs from its mirror"},
           {with("[[{ low = 0.2, high = 0.4 }]]", "[[1, 0.2], [0.2, 0.9]]"),
            "d.toml, line 21, column 31: correlations.predictors[2][2]: the diagonal must be 1"},
           {with("[[{ low = 0.2, high = 0.4 }]]", "[[1, 0.2], [0.2, 2]]"),
            "d.toml, line 21, column 31: correlations.predictors[2][2]: the diagonal must be 1"},
           {with("[[{ low = 0.2, high = 0.4 }]]", "[[0.2], [0.1], [0.3]]"),
            "d.toml, line 21, column 14: correlations.predictors: 3 rows: the strict lower "
            "triangle of 2 has 1, the full matrix 2"},
           {with("\"cognitive\", \"interview\"]", "\"cognitive\", \"cognitive\"]"),
            "d.toml, line 3, column 28: predictors[2]: 'cognitive' is named twice"},
           {with("name = \"majority\"", "name = \"minority\""),
            "d.toml, line 18, column 8: group[2].name: 'minority' is named twice"},
           {with("low = -0.5, high = -0.3", "low = -0.2, high = -0.3"),
            "d.toml, line 15, column 16: group[1].criterion_d[1]: low -0.2 is above high -0.3"},
           {with("{ low = 0.3, high = 0.5 }", "{ mean = 0.3, sd = -0.1 }"),
            "d.toml, line 22, column 16: correlations.validities[1][1]: { mean, sd } in a design "
            "whose sampling is \"rectangular\""},
           {kExample + "[costs]\ncognitiv = 10\n",
            "d.toml, line 24, column 12: costs.cognitiv: no predictor 'cognitiv'; did you mean "
            "'cognitive'?"},
           {kExample + "[costs]\ninterview = -1\n",
            "d.toml, line 24, column 13: costs.interview: must be a cost of 0 or more"},
           {kExample + "[utility]\napplicants = 100\n",
            "d.toml, line 23, column 1: utility: the key 'sdy' is missing"},
           {with("proportion = 0.7", "proportion = { low = 0.6, high = 0.8 }"),
            "d.toml, line 19, column 14: group[2].proportion: the base group takes what the "
            "others leave: its proportion is not drawn"},
           {with("proportion = 0.3", "proportion = { low = 0.2, high = 1.2 }"),
            "d.toml, line 14, column 14: group[1].proportion: low and high must be from 0 to 1"},
           {with("samples = 500", "samples = 0"),
            "d.toml, line 2, column 11: samples: 0 is out of range: 1 to 100000"},
           {with("{ low = 0.2, high = 0.4 }]]", "{ low = 0.2, high = 1.4 }]]"),
            "d.toml, line 21, column 16: correlations.predictors[1][1]: a correlation must lie "
            "in [-1, 1]"}}) {
    EXPECT_EQ(error_of(text), message);
  }
  // Equal bounds are that value.
  Design equal;
  ASSERT_EQ(selquant::read_design(with("low = -0.5, high = -0.3", "low = -0.2, high = -0.2"),
                                  "d.toml", equal),
            "");
  EXPECT_EQ(equal.groups[0].criterion_d[0], (selquant::Uncertain{-0.2f, -0.2f}));
  // Mixed forms where no sampling is given; a negative standard deviation.
  const std::string mixed = with("sampling = \"rectangular\"\n", "");
  std::string normal_one = mixed;
  normal_one.replace(normal_one.find("{ low = -0.5, high = -0.3 }"), 27,
                     "{ mean = -0.5, sd = 0.1 }");
  EXPECT_EQ(error_of(normal_one),
            "d.toml, line 15, column 29: group[1].predictor_d.cognitive: { low, high } beside "
            "{ mean, sd } at group[1].criterion_d[1]: a design mixes forms only with plain "
            "numbers");
  std::string negative = kExample;
  negative.replace(0, negative.find('\n'), "sampling = \"normal\"");
  negative.replace(negative.find("{ low = 0.3, high = 0.5 }"), 25, "{ mean = 0.3, sd = -0.5 }");
  negative.replace(negative.find("{ low = -0.5, high = -0.3 }"), 27, "-0.4");
  negative.replace(negative.find("{ low = -0.8, high = -0.6 }"), 27, "-0.7");
  negative.replace(negative.find("{ low = -0.3, high = -0.1 }"), 27, "-0.2");
  negative.replace(negative.find("{ low = 0.2, high = 0.4 }"), 25, "0.3");
  negative.replace(negative.find("{ low = 0.2, high = 0.4 }"), 25, "0.3");
  EXPECT_EQ(error_of(negative),
            "d.toml, line 22, column 16: correlations.validities[1][1]: sd -0.5 is negative");
}

TEST(DesignFileTest, AnUncertainProportionIsDrawnAndTheBaseGroupTakesTheRest) {
  std::string text = with("proportion = 0.3\n", "proportion = { low = 0.2, high = 0.4 }\n");
  text.erase(text.find("proportion = 0.7\n"), 17);
  Design d;
  ASSERT_EQ(selquant::read_design(text, "d.toml", d), "");
  EXPECT_EQ(d.groups[0].uncertain_proportion, (selquant::Uncertain{0.2f, 0.4f}));
  EXPECT_DOUBLE_EQ(d.groups[0].proportion, 0.3);
  EXPECT_DOUBLE_EQ(d.groups[1].proportion, 0.7);
  EXPECT_FALSE(d.groups[1].uncertain_proportion);
  Design again;
  ASSERT_EQ(selquant::read_design(selquant::write_design(d), "again.toml", again), "");
  EXPECT_EQ(again, d);
  // Drawn between its bounds, the base group taking the rest of every draw.
  d.samples = 2000;
  selquant::StudyOptions options;
  options.epoch = 1772874303;
  const selquant::Study s = selquant::study(d, options);
  const std::vector<double>& minority = s.inputs["prop_1"].values;
  const std::vector<double>& majority = s.inputs["prop_2"].values;
  ASSERT_EQ(minority.size(), 2000u);
  for (std::size_t k = 0; k < minority.size(); ++k) {
    EXPECT_TRUE(minority[k] >= 0.2 && minority[k] <= 0.4) << minority[k];
    EXPECT_EQ(majority[k], 1 - minority[k]);
  }
  EXPECT_LT(*std::min_element(minority.begin(), minority.end()), 0.201);
  EXPECT_GT(*std::max_element(minority.begin(), minority.end()), 0.399);
}

TEST(DesignFileTest, ContentTellsADesignFromADeck) {
  EXPECT_TRUE(selquant::is_design_text(kExample));
  EXPECT_TRUE(selquant::is_design_text("# a design\n\nsamples = 5\n"));
  EXPECT_FALSE(selquant::is_design_text("2 500 1 2 2 2 0.3 0.7\n"));
  EXPECT_FALSE(selquant::is_design_text("# a remark\n-1 5\n"));
  EXPECT_FALSE(selquant::is_design_text(""));
}

}  // namespace
