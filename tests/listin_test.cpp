#include "textio/listin.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace {

using textio::ListReader;

// The four lines written on standard error by a failed read, as a regex.
std::string failure(const std::string& first) {
  return "^" + first +
         "\napparent state: unit 5 \\(unnamed\\)\nlast format: list io\n"
         "lately reading sequential formatted external IO\n$";
}

template <class T>
std::vector<T> read_one(const std::string& text, int n, T init = T{}) {
  std::istringstream in(text);
  ListReader r(in);
  std::vector<T> v(static_cast<std::size_t>(n), init);
  r.begin();
  r.read(v.data(), n);
  r.end();
  return v;
}

// Two read statements: two values, then one from the next line.
struct TwoStatements {
  double a[2] = {9, 9};
  double b = 9;
};

TwoStatements read_two_statements(const std::string& text) {
  std::istringstream in(text);
  ListReader r(in);
  TwoStatements s;
  r.begin();
  r.read(s.a, 2);
  r.end();
  r.begin();
  r.read(&s.b, 1);
  r.end();
  return s;
}

TEST(ListinTest, SeparatorsAndLines) {
  EXPECT_EQ(read_one<double>("1 2,3\n", 3), (std::vector<double>{1, 2, 3}));
  EXPECT_EQ(read_one<double>("1\n\n  2\t\n3 4\n", 3), (std::vector<double>{1, 2, 3}));
  EXPECT_EQ(read_one<double>("1, 2 ,3", 3), (std::vector<double>{1, 2, 3}));
}

TEST(ListinTest, RepeatCountsAndNulls) {
  EXPECT_EQ(read_one<double>("3*1.5\n", 3), (std::vector<double>(3, 1.5)));
  EXPECT_EQ(read_one<double>("3* \n", 3, 9.0), (std::vector<double>(3, 9.0)));
  EXPECT_EQ(read_one<double>("3*,\n", 3, 9.0), (std::vector<double>(3, 9.0)));
  EXPECT_EQ(read_one<double>("3*/\n", 3, 9.0), (std::vector<double>(3, 9.0)));
  EXPECT_EQ(read_one<double>("2*,5\n", 3, 9.0), (std::vector<double>{9, 9, 5}));
  EXPECT_EQ(read_one<double>("1,,3\n", 3, 9.0), (std::vector<double>{1, 9, 3}));
  EXPECT_EQ(read_one<double>("1 2*7\n", 3), (std::vector<double>{1, 7, 7}));
}

TEST(ListinTest, RepeatLongerThanStatementIsDiscardedWithTheLine) {
  std::istringstream in("5*0\n4\n");
  ListReader r(in);
  double a[3] = {9, 9, 9};
  double b = 0;
  r.begin();
  r.read(a, 3);
  r.end();
  r.begin();
  r.read(&b, 1);
  r.end();
  EXPECT_EQ(a[0] + a[1] + a[2], 0.0);
  EXPECT_EQ(b, 4.0);
}

TEST(ListinTest, SlashEndsTheStatement) {
  std::istringstream in("1.5/ 7 8\n2\n");
  ListReader r(in);
  double a[3] = {9, 9, 9};
  int n = 5;
  double b = 0;
  r.begin();
  r.read(a, 3);
  r.read(&n, 1);
  r.end();
  r.begin();
  r.read(&b, 1);
  r.end();
  EXPECT_EQ(a[0], 1.5);
  EXPECT_EQ(a[1], 9.0);
  EXPECT_EQ(n, 5);
  EXPECT_EQ(b, 2.0);
}

TEST(ListinTest, RestOfLineIsIgnoredAndStatementsStartOnNewLines) {
  const TwoStatements s = read_two_statements("1 2 remark here\n3 x\n");
  EXPECT_EQ(s.a[1], 2.0);
  EXPECT_EQ(s.b, 3.0);
}

TEST(ListinTest, NumberForms) {
  for (const char* text : {"1.5D-3", "1.5e-3", "1.5-3", "15E-4", "1.5d-3", "0.0015", ".15e-2"})
    EXPECT_EQ(read_one<double>(text, 1)[0], 0.0015) << text;
  EXPECT_EQ(read_one<double>("+2.5E+2", 1)[0], 250.0);
  EXPECT_EQ(read_one<double>("1.5+3", 1)[0], 1500.0);
  EXPECT_EQ(read_one<double>("000012.5000", 1)[0], 12.5);
  const double z = read_one<double>("-0.0", 1)[0];
  EXPECT_EQ(z, 0.0);
  EXPECT_FALSE(std::signbit(z));
  EXPECT_EQ(read_one<double>("-.25", 1)[0], -0.25);
  EXPECT_EQ(read_one<double>("2x", 1)[0], 2.0);  // the x is discarded with the line
}

TEST(ListinTest, FortyDigitRule) {
  // 45 digits: the first 40 are kept, the rest shift the exponent.
  const std::string big = "123456789012345678901234567890123456789012345";
  EXPECT_EQ(read_one<double>(big, 1)[0], 1.2345678901234567890123456789e44);
  // Fraction digits beyond the 40 are dropped.
  const std::string frac = "0." + std::string(39, '0') + "123";
  EXPECT_DOUBLE_EQ(read_one<double>(frac, 1)[0], 1.23e-40);
}

TEST(ListinTest, ItemKinds) {
  EXPECT_EQ(read_one<float>("0.3", 1)[0], 0.3f);
  EXPECT_EQ(static_cast<double>(read_one<float>("0.3", 1)[0]), 0.30000001192092896);
  EXPECT_EQ(read_one<double>("0.3", 1)[0], 0.3);
  EXPECT_EQ(read_one<int>("+7", 1)[0], 7);
  EXPECT_EQ(read_one<int>("12-1", 1)[0], 1);  // 1.2, truncated
  EXPECT_EQ(read_one<int>("-12", 1)[0], -12);
  EXPECT_EQ(read_one<int>("99999999999", 1)[0], 2147483647);
  EXPECT_TRUE(std::isinf(read_one<float>("1e39", 1)[0]));
}

TEST(ListinTest, LineEnds) {
  // A last line without a line feed is read normally, repeats included.
  EXPECT_EQ(read_one<double>("1 2", 2), (std::vector<double>{1, 2}));
  EXPECT_EQ(read_one<double>("3*1.5", 3), (std::vector<double>(3, 1.5)));
  // A carriage return before a line feed belongs to the line end.
  EXPECT_EQ(read_two_statements("1 2\r\n3\r\n").b, 3.0);
}

void read_text(const std::string& text, int n, bool integer = false, int statements = 1) {
  std::istringstream in(text);
  ListReader r(in);
  for (int s = 0; s < statements; ++s) {
    r.begin();
    for (int i = 0; i < n; ++i) {
      if (integer) {
        int v;
        r.read(&v, 1);
      } else {
        double v;
        r.read(&v, 1);
      }
    }
    r.end();
  }
}

// The message of the input error that reading the text throws.
std::string error_of(const std::string& text, int n, bool integer = false, int statements = 1) {
  try {
    read_text(text, n, integer, statements);
  } catch (const textio::InputError& e) {
    return e.what();
  }
  return "no error";
}

TEST(ListinTest, FailuresAreInputErrors) {
  EXPECT_EQ(error_of("1 2\n", 3), "list in: end of file");
  EXPECT_EQ(error_of("", 1), "list in: end of file");
  // After a complete last line the next statement fails inside; after a line
  // without a line feed it fails at its start.
  EXPECT_EQ(error_of("1\n", 1, false, 2), "list in: end of file");
  EXPECT_EQ(error_of("1", 1, false, 2), "read start: end of file");
  EXPECT_EQ(error_of("1.5", 1, true), "invalid integer: read unexpected character");
  EXPECT_EQ(error_of("1E3", 1, true), "invalid integer: read unexpected character");
  EXPECT_EQ(error_of("0*1", 1), "bad repetition count: incomprehensible list input");
  EXPECT_EQ(error_of("*1", 1), "bad repetition count: incomprehensible list input");
  EXPECT_EQ(error_of("-2*1", 1), "bad repetition count: incomprehensible list input");
  EXPECT_EQ(error_of("1E", 1), "exponent field: incomprehensible list input");
  EXPECT_EQ(error_of("1E123456789", 1), "exponent field: incomprehensible list input");
  EXPECT_EQ(error_of("abc", 1), "invalid number: incomprehensible list input");
  EXPECT_EQ(error_of("2x", 2), "invalid number: incomprehensible list input");
  EXPECT_EQ(error_of("1\r2\n", 2), "invalid number: incomprehensible list input");
}

TEST(ListinDeathTest, AnInputErrorWritesFourLinesAndAborts) {
  EXPECT_DEATH(textio::abort_on(textio::InputError("list in", "end of file")),
               failure("list in: end of file"));
}

}  // namespace
