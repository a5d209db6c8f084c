// Ordered parallel passes: finishing in pass order with passes computed out of
// order, the window of passes in flight, stopping early and errors.
#include "engine/schedule.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using selquant::run_in_order;
using selquant::Schedule;

TEST(ScheduleTest, FinishesInPassOrderWithinTheWindow) {
  for (const int threads : {1, 2, 7}) {
    const Schedule sc{50, threads, 3 * threads};
    std::vector<int> slot_pass(static_cast<std::size_t>(sc.window), 0);
    std::vector<int> finished;
    std::atomic<int> in_flight = 0;
    int most_in_flight = 0;
    const bool done = run_in_order(
        sc,
        [&](int k, int slot) {
          EXPECT_EQ(slot, (k - 1) % sc.window);
          EXPECT_EQ(slot_pass[static_cast<std::size_t>(slot)], 0) << "slot reused too soon";
          slot_pass[static_cast<std::size_t>(slot)] = k;
          most_in_flight = std::max(most_in_flight, ++in_flight);
        },
        [&](int k, int slot) {
          // Early passes take longest, so later ones complete first.
          std::this_thread::sleep_for(std::chrono::microseconds(k % 5 == 1 ? 3000 : 100));
          EXPECT_EQ(slot_pass[static_cast<std::size_t>(slot)], k);
        },
        [&](int k, int slot) {
          slot_pass[static_cast<std::size_t>(slot)] = 0;
          --in_flight;
          finished.push_back(k);
          return true;
        });
    EXPECT_TRUE(done);
    ASSERT_EQ(finished.size(), 50u);
    for (int k = 1; k <= 50; ++k)
      EXPECT_EQ(finished[static_cast<std::size_t>(k - 1)], k) << threads << " threads";
    EXPECT_LE(most_in_flight, sc.window);
  }
}

TEST(ScheduleTest, StopsAtAFailedFinishAndRethrowsAComputeError) {
  const Schedule sc{100, 2, 4};
  int last = 0;
  EXPECT_FALSE(run_in_order(
      sc, [](int, int) {}, [](int, int) {},
      [&](int k, int) {
        last = k;
        return k < 10;
      }));
  EXPECT_EQ(last, 10);

  std::vector<int> finished;
  EXPECT_THROW(run_in_order(
                   sc, [](int, int) {},
                   [](int k, int) {
                     if (k == 7) throw std::runtime_error("pass 7");
                   },
                   [&](int k, int) {
                     finished.push_back(k);
                     return true;
                   }),
               std::runtime_error);
  EXPECT_EQ(finished.size(), 6u);  // passes 1..6, then pass 7's error
}

}  // namespace
