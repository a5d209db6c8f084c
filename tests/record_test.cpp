#include "textio/record.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

namespace {

using textio::format_f;
using textio::format_i;
using textio::Layout;

template <class... Items>
std::string written(const Layout& layout, const Items&... items) {
  std::ostringstream out;
  textio::Writer w(out);
  w.write(layout, items...);
  return out.str();
}

TEST(RecordTest, IntegerFields) {
  EXPECT_EQ(format_i(7, 2), " 7");
  EXPECT_EQ(format_i(100, 2), "**");
  EXPECT_EQ(format_i(-10, 3), "-10");
  EXPECT_EQ(format_i(-10, 2), "**");
  EXPECT_EQ(format_i(0, 5), "    0");
  EXPECT_EQ(format_i(100000, 5), "*****");
  EXPECT_EQ(format_i(std::numeric_limits<int>::min(), 11), "-2147483648");
}

TEST(RecordTest, RealFields) {
  EXPECT_EQ(format_f(0.5, 8, 3), "   0.500");
  EXPECT_EQ(format_f(-0.0004, 8, 3), "   0.000");  // rounds to zero: no minus
  EXPECT_EQ(format_f(-0.0, 8, 3), "   0.000");
  EXPECT_EQ(format_f(-12.5, 7, 3), "-12.500");
  EXPECT_EQ(format_f(1234.5, 7, 3), "*******");
  EXPECT_EQ(format_f(-100.0, 7, 3), "*******");
  EXPECT_EQ(format_f(999.9994, 7, 3), "999.999");
  EXPECT_EQ(format_f(0.5, 4, 3), ".500");  // leading zero dropped to fit
  EXPECT_EQ(format_f(-0.5, 5, 3), "-.500");
  EXPECT_EQ(format_f(-0.5, 4, 3), "****");
  EXPECT_EQ(format_f(3.14159, 12, 2), "        3.14");
  EXPECT_EQ(format_f(-1.0, 9, 3), "   -1.000");
  EXPECT_EQ(format_f(0.30000001192092896, 7, 3), "  0.300");
  EXPECT_EQ(format_f(2.6, 3, 0), " 3.");  // always a decimal point
}

TEST(RecordTest, NotANumberAndInfinities) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(format_f(nan, 8, 3), "     NaN");
  EXPECT_EQ(format_f(inf, 8, 3), "     Inf");
  EXPECT_EQ(format_f(-inf, 8, 3), "    -Inf");
  EXPECT_EQ(format_f(-inf, 3, 3), "***");
}

TEST(RecordTest, LiteralsMovesAndSlashes) {
  EXPECT_EQ(written(Layout{R"((/,"PROBLEM SPECIFICATION",/))"}), "\nPROBLEM SPECIFICATION\n\n");
  EXPECT_EQ(written(Layout{R"((" "))"}), " \n");
  // A move pending at the end of a record writes nothing.
  EXPECT_EQ(written(Layout{R"(("a",5X,/,"b",3X))"}), "a\nb\n");
  EXPECT_EQ(written(Layout{R"((3X,"x",X,"y"))"}), "   x y\n");
  // A doubled quote inside a literal, and the other quote character.
  EXPECT_EQ(written(Layout{R"(('the "sampling',/,"say ""hi"""))"}), "the \"sampling\nsay \"hi\"\n");
}

TEST(RecordTest, RecordStopsAtFirstDataEditWithoutItem) {
  const Layout rows{"(10X,5F9.3)"};
  EXPECT_EQ(written(rows, 1.0, 2.0, 3.0, 4.0, 5.0),
            "              1.000    2.000    3.000    4.000    5.000\n");
  EXPECT_EQ(written(rows, 1.0, 2.0).size(), 10u + 18u + 1u);
  EXPECT_EQ(written(Layout{R"((3X,"Quality all selected per stage:",4F8.3))"}, 0.25, 0.608),
            "   Quality all selected per stage:   0.250   0.608\n");
  // Text after the last data edit used is written.
  EXPECT_EQ(written(Layout{R"(("Fixed retention rates in the ",I2," stages"))"}, 2),
            "Fixed retention rates in the  2 stages\n");
  EXPECT_EQ(written(Layout{R"(("Weights are:",4F8.3))"}, 1.0), "Weights are:   1.000\n");
}

TEST(RecordTest, ReversionToRightmostTopLevelGroup) {
  // No group: back to the start of the layout on a new record.
  EXPECT_EQ(written(Layout{R"(("v",2I3))"}, 1, 2, 3), "v  1  2\nv  3\n");
  // The rightmost top-level group, with its repeat count.
  EXPECT_EQ(written(Layout{R"(("E",I2,/,(1X,2I2)))"}, 1, 2, 3, 4, 5), "E 1\n  2 3\n  4 5\n");
  EXPECT_EQ(written(Layout{R"(("h",2(I2),"|",3(I2)))"}, 1, 2, 3, 4, 5, 6, 7),
            "h 1 2| 3 4 5\n 6 7\n");
}

TEST(RecordTest, GroupsNestAndRepeat) {
  const Layout pct{R"((9(3X,I5),/,9F8.3))"};
  std::ostringstream out;
  textio::Writer w(out);
  w.begin(pct);
  for (int p : {1, 5, 10, 25, 50, 75, 90, 95, 99})
    w.put(p);
  for (int i = 1; i <= 9; ++i)
    w.put(0.1 * i);
  w.end();
  EXPECT_EQ(out.str(),
            "       1       5      10      25      50      75      90      95      99\n"
            "   0.100   0.200   0.300   0.400   0.500   0.600   0.700   0.800   0.900\n");
  EXPECT_EQ(written(Layout{"(2(I1,2(\"-\",I1)),\"!\")"}, 1, 2, 3, 4, 5, 6), "1-2-34-5-6!\n");
}

TEST(RecordTest, PassReportRowsAre47Columns) {
  const Layout head{R"((3X,"Stage   Group   Quality   Cum. AI   Stage AI"))"};
  const Layout row{"(3X,I5,3X,I5,2X,F8.3,2X,F8.3,3X,F8.3)"};
  const std::string h = written(head);
  const std::string r = written(row, 2, 1, 0.585273, 0.488456, 0.728748);
  EXPECT_EQ(r, "       2       1     0.585     0.488      0.729\n");
  EXPECT_EQ(h.size(), 48u);
  EXPECT_EQ(r.size(), 48u);
  // Each number ends under the last letter of its heading word.
  EXPECT_EQ(h.find("Stage") + 4, 7u);  // column 8 (0-based 7)
  EXPECT_EQ(r[7], '2');
  EXPECT_EQ(h.find("Group") + 4, r.find("1 "));
  EXPECT_EQ(h.find("Quality") + 6, 25u);
  EXPECT_EQ(r[25], '5');
  EXPECT_EQ(h.find("Stage AI") + 7, 46u);
  EXPECT_EQ(r[46], '9');
}

TEST(RecordTest, StatementWithoutItems) {
  EXPECT_EQ(written(Layout{R"(("a",/,"b"))"}), "a\nb\n");
  // Items given to a layout without data edits are not written.
  EXPECT_EQ(written(Layout{R"(("a"))"}, 5), "a\n");
}

TEST(RecordTest, SingleAndIntegerItems) {
  EXPECT_EQ(written(Layout{"(F12.9)"}, 0.3f), " 0.300000012\n");
  EXPECT_EQ(written(Layout{"(F6.1)"}, 3), "   3.0\n");
}

TEST(RecordDeathTest, TooComplicatedLayoutAborts) {
  std::string text = "(";
  for (int i = 0; i < 301; ++i)
    text += "\"x\",";
  text += "\"y\")";
  EXPECT_DEATH(Layout{text}, "format too complicated:\n\\(\"x\",");
  std::string fits = "(";
  for (int i = 0; i < 299; ++i)
    fits += "\"x\",";
  fits += "\"y\")";
  EXPECT_EQ(Layout{fits}.ops().size(), 300u);
}

}  // namespace
