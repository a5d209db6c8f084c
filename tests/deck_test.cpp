#include "formats/deck.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using selquant::Model;
using selquant::Problem;

struct Read {
  Problem p;
  Model m;
  std::string error;
};

Read read(const std::string& text) {
  std::istringstream in(text);
  textio::ListReader reader(in);
  Read r;
  r.error = selquant::read_deck(reader, r.p, r.m);
  return r;
}

// The rectangular example: 500 samples, 1 criterion, 2 stages, 2 predictors, 2 groups.
const char* kExample =
    "2 500 1 2 2 2 0.3 0.7\n"
    "0.5 0.2\n"
    "1 0\n"
    "0.5 0.5\n"
    "-0.5 -0.8 -0.3\n"
    "0 0 0\n"
    "-0.3 -0.6 -0.1\n"
    "0 0 0\n"
    "1\n"
    "0.2\n"
    "0.4\n"
    "0.3 0.2\n"
    "0.5 0.4\n";

TEST(DeckTest, RectangularExample) {
  const Read r = read(kExample);
  ASSERT_EQ(r.error, "");
  const auto& a = r.m.wdca;
  EXPECT_EQ(r.p.smode, 2);
  EXPECT_EQ(r.p.nsamp, 500);
  EXPECT_EQ(a.ncrit, 1);
  EXPECT_EQ(a.nstage, 2);
  EXPECT_EQ(a.npred, 2);
  EXPECT_EQ(a.ngroup, 2);
  EXPECT_EQ(a.prop(1), 0.3);  // double precision
  EXPECT_EQ(r.p.prop1(1), 0.3f);
  EXPECT_EQ(r.p.prop2(2), 0.7f);  // rectangular: a copy of the first row
  EXPECT_EQ(a.rr(1), 0.5);
  EXPECT_EQ(a.rr(2), 0.2);
  EXPECT_EQ(r.m.wdcc.b(1, 1), 1);
  EXPECT_EQ(r.m.wdcc.b(1, 2), 0);
  EXPECT_EQ(r.m.wdcc.b(2, 2), 0.5);
  EXPECT_EQ(r.m.wdcd.np(1), 2);
  EXPECT_EQ(r.m.wdcd.np(2), 2);
  EXPECT_EQ(r.p.dc1(1, 1), -0.5f);
  EXPECT_EQ(r.p.dp1(1, 1), -0.8f);
  EXPECT_EQ(r.p.dp1(1, 2), -0.3f);
  EXPECT_EQ(r.p.dc2(1, 1), -0.3f);
  EXPECT_EQ(r.p.dp2(1, 2), -0.1f);
  EXPECT_EQ(r.p.dp2(2, 2), 0.0f);
  EXPECT_EQ(a.cw(1), 1);
  EXPECT_EQ(r.p.rc1(1, 1), 1.0f);
  EXPECT_EQ(a.rcc(1, 1), 1.0);
  EXPECT_EQ(r.m.wdcd.rpp(1, 1), 1.0);
  EXPECT_EQ(r.m.wdcd.rpp(2, 2), 1.0);
  EXPECT_EQ(r.p.rp1(1, 2), 0.2f);
  EXPECT_EQ(r.p.rp1(2, 1), 0.2f);  // mirrored
  EXPECT_EQ(r.p.rp2(2, 1), 0.4f);
  EXPECT_EQ(static_cast<double>(r.p.val1(1, 1)), 0.30000001192092896);
  EXPECT_EQ(r.p.val2(1, 2), 0.4f);
  EXPECT_EQ(a.zinf, 7.5);
  EXPECT_EQ(a.pi, 3.141592653589793);
}

void expect_same(const Read& x, const Read& y) {
  EXPECT_EQ(x.p.smode, y.p.smode);
  EXPECT_EQ(x.p.nsamp, y.p.nsamp);
  EXPECT_EQ(x.p.prop1.v, y.p.prop1.v);
  EXPECT_EQ(x.p.prop2.v, y.p.prop2.v);
  EXPECT_EQ(x.p.dc1.v, y.p.dc1.v);
  EXPECT_EQ(x.p.dc2.v, y.p.dc2.v);
  EXPECT_EQ(x.p.dp1.v, y.p.dp1.v);
  EXPECT_EQ(x.p.dp2.v, y.p.dp2.v);
  EXPECT_EQ(x.p.rc1.v, y.p.rc1.v);
  EXPECT_EQ(x.p.rc2.v, y.p.rc2.v);
  EXPECT_EQ(x.p.rp1.v, y.p.rp1.v);
  EXPECT_EQ(x.p.rp2.v, y.p.rp2.v);
  EXPECT_EQ(x.p.val1.v, y.p.val1.v);
  EXPECT_EQ(x.p.val2.v, y.p.val2.v);
  EXPECT_EQ(x.m.wdca.rr.v, y.m.wdca.rr.v);
  EXPECT_EQ(x.m.wdca.cw.v, y.m.wdca.cw.v);
  EXPECT_EQ(x.m.wdca.prop.v, y.m.wdca.prop.v);
  EXPECT_EQ(x.m.wdcc.b.v, y.m.wdcc.b.v);
}

TEST(DeckTest, LayoutVariantsReadTheSame) {
  const Read plain = read(kExample);
  // Values spread over several lines, repeat counts, remarks after the items,
  // commas, exponents, and a last line without a line feed.
  const Read spread = read(
      "2 500\n1 2 2 2\n0.3\n0.7 remark: the base group\n"
      "0.5,0.2\n"
      "1 0 stage one\n"
      "2*0.5\n"
      "-0.5\n-0.8\n-0.3\n"
      "3*0\n"
      "-3E-1 -6d-1 -1-1\n"
      "3*0 base\n"
      "1.0\n"
      "2.0E-1\n"
      "0.4\n"
      "0.3\n0.2\n"
      "0.5 0.4");
  ASSERT_EQ(spread.error, "");
  expect_same(plain, spread);
}

TEST(DeckTest, ExactModeCopiesFirstRows) {
  const Read r = read(
      "0 3 2 1 3 2 0.5 0.5\n"
      "0.4\n"
      "1 1 1\n"
      "-0.2 -0.1 -0.5 -0.3 -0.1\n"
      "0 0 0 0 0\n"
      "1 0.5\n"
      "0.3\n"
      "0.2 0.1\n"
      "0.3\n"
      "0.3 0.2 0.1\n"
      "0.1 0.2 0.3\n");
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.p.dc2.v, r.p.dc1.v);
  EXPECT_EQ(r.p.dp2.v, r.p.dp1.v);
  EXPECT_EQ(r.p.rc2.v, r.p.rc1.v);
  EXPECT_EQ(r.p.rp2.v, r.p.rp1.v);
  EXPECT_EQ(r.p.val2.v, r.p.val1.v);
  EXPECT_EQ(r.p.prop2.v, r.p.prop1.v);
  EXPECT_EQ(r.p.rc1(2, 1), 0.3f);
  EXPECT_EQ(r.p.rp1(3, 1), 0.1f);
  EXPECT_EQ(r.p.rp1(3, 2), 0.3f);
  EXPECT_EQ(r.p.val1(2, 3), 0.3f);
  EXPECT_EQ(r.p.dc1(1, 2), -0.1f);
  EXPECT_EQ(r.p.dp1(1, 1), -0.5f);
  EXPECT_EQ(r.m.wdca.rcc(2, 2), 1.0);
  EXPECT_EQ(r.m.wdca.cw(2), 0.5);
}

TEST(DeckTest, NormalModeProportionsHaveNoSpread) {
  const Read r =
      read("1 100 1 1 1 2 0.3 0.7\n0.5\n1\n-0.5 -0.5\n0 0\n0.1 0.1\n0 0\n1\n0.3\n0.05\n");
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.p.prop2(1), 0.0f);
  EXPECT_EQ(r.p.prop2(2), 0.0f);
  EXPECT_EQ(r.p.val2(1, 1), 0.05f);
}

TEST(DeckTest, CountsOutsideTheirRanges) {
  EXPECT_EQ(read("2 500 1 5 2 2 0.3 0.7\n").error, "number of stages is 5; it must be 1 to 4");
  EXPECT_EQ(read("3 5 1 1 1 1 1\n").error, "sampling mode is 3; it must be 0, 1 or 2");
  EXPECT_EQ(read("1 0 1 1 1 1 1\n").error, "number of samples is 0; it must be 1 to 100000");
  EXPECT_EQ(read("1 100001 1 1 1 1 1\n").error,
            "number of samples is 100001; it must be 1 to 100000");
  EXPECT_EQ(read("1 5 4 1 1 1 1\n").error,
            "number of criterion dimensions is 4; it must be 1 to 3");
  EXPECT_EQ(read("1 5 1 1 11 1 1\n").error, "number of predictors is 11; it must be 1 to 10");
  EXPECT_EQ(read("1 5 1 1 1 0\n").error, "number of groups is 0; it must be 1 to 5");
  EXPECT_EQ(read("1 5 1 1 1 6 1 1 1 1 1 1\n").error, "number of groups is 6; it must be 1 to 5");
}

TEST(DeckTest, ShortOrMalformedDeckIsAnInputError) {
  for (auto [text, message] :
       {std::pair{"2 500 1 2 2 2 0.3 0.7\n0.5 0.2\n1 0\n", "list in: end of file"},
        {"2 500 1 2 2 2 0.3 zero\n", "invalid number: incomprehensible list input"},
        {"2 500.5 1 2 2 2 0.3 0.7\n", "invalid integer: read unexpected character"}}) {
    try {
      read(text);
      ADD_FAILURE() << "no error for " << text;
    } catch (const textio::InputError& e) {
      EXPECT_STREQ(e.what(), message);
    }
  }
}

// Each malformed deck is located for a person: line, column, the text and the
// read being filled.
TEST(DeckTest, InputErrorsSayWhere) {
  const std::string sound =
      "2 500 1 2 2 2 0.3 0.7\n0.5 0.2\n1 0\n0.5 0.5\n-0.5 -0.8 -0.3\n0 0 0\n"
      "-0.3 -0.6 -0.1\n0 0 0\n1\n0.2\n0.4\n0.3 0.2\n0.5 0.4\n";
  auto edited = [&](const std::string& from, const std::string& to) {
    std::string s = sound;
    s.replace(s.find(from), from.size(), to);
    return s;
  };
  for (auto [text, located] : std::vector<std::pair<std::string, std::string>>{
           {edited("0 0 0\n-0.3", "0 0.3S 0\n-0.3"),
            "line 6, column 3: '0.3S' is not a number (read 4: effect sizes of group 2, first "
            "row)"},
           // At the line's end, the value's line and column, not the next line's.
           {edited("0 0 0\n-0.3", "0 0.3S\n0\n-0.3"),
            "line 6, column 3: '0.3S' is not a number (read 4: effect sizes of group 2, first "
            "row)"},
           {"# my deck\n" + sound,
            "line 1, column 1: '#' is not a number (read 1: counts and group proportions)"},
           // A stage line one weight short: the next line fills it, the rest shifts.
           {edited("1 0\n", "1\n"),
            "line 13: the deck ends before read 10 (correlations of predictor 1, second matrix)"},
           {edited("0.3 0.2\n0.5 0.4\n", "0.3 0.2\n"),
            "line 12: the deck ends before read 12 (validities for criterion 1, second matrix)"},
           {"", "the deck is empty"},
           {" \n\n", "the deck is empty"},
           {"2 500 1 2 2 2.5 0.3 0.7\n",
            "line 1, column 13: '2.5' is not a whole number (read 1: counts and group "
            "proportions)"},
           {"2 500 1 2 2 2 0.3 1E\n",
            "line 1, column 19: '1E' has no valid exponent (read 1: counts and group "
            "proportions)"}}) {
    try {
      read(text);
      ADD_FAILURE() << "no error for " << text;
    } catch (const textio::InputError& e) {
      EXPECT_EQ(e.located(), located) << text;
    }
  }
}

}  // namespace
