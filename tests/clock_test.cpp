#include "numeric/clock.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace {

class ClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
  void TearDown() override { unsetenv("SOURCE_DATE_EPOCH"); }
};

TEST_F(ClockTest, FixedEpochGivesDateAndTime) {
  setenv("SOURCE_DATE_EPOCH", "1772874303", 1);
  EXPECT_EQ(numeric::time(), 1772874303);
  const numeric::DateTime t = numeric::date_and_time();
  EXPECT_EQ(t.year, 2026);
  EXPECT_EQ(t.month, 3);
  EXPECT_EQ(t.day, 7);
  EXPECT_EQ(t.hour, 9);
  EXPECT_EQ(t.minute, 5);
  EXPECT_EQ(t.second, 3);
}

TEST_F(ClockTest, LocalTimeFollowsTz) {
  setenv("TZ", "Europe/Amsterdam", 1);
  tzset();
  const numeric::DateTime t = numeric::local_date_time(1772874303);
  EXPECT_EQ(t.hour, 10);  // CET in March before the change
}

TEST_F(ClockTest, MalformedEpochFallsBackToSystemClock) {
  const std::int64_t before = static_cast<std::int64_t>(std::time(nullptr));
  for (const char* bad : {"", "12x", "abc", "1.5"}) {
    setenv("SOURCE_DATE_EPOCH", bad, 1);
    const std::int64_t t = numeric::time();
    EXPECT_GE(t, before) << bad;
    EXPECT_LE(t, before + 5) << bad;
  }
}

TEST_F(ClockTest, ProcessorTimeIsNonDecreasing) {
  std::array<float, 2> parts{};
  const float t0 = numeric::etime(parts);
  EXPECT_EQ(t0, parts[0] + parts[1]);
  volatile double sink = 0;
  for (int i = 0; i < 20000000; ++i)
    sink = sink + 1e-9 * i;
  const float t1 = numeric::second();
  EXPECT_GE(t1, t0);
  EXPECT_GT(t1, 0.0f);
}

}  // namespace
