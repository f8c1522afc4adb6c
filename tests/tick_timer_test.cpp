// The 50 ms timer's deadlines, which every driver's loop keeps.

#include "machine/tick_timer.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace vesquin {
namespace {

TEST(TickTimerDeadlines, FirstTickComesOnePeriodAfterTheStart) {
  TickTimer timer;
  EXPECT_FALSE(timer.Due(1'000'000));
  EXPECT_EQ(timer.WaitMs(1'000, 100), 100);  // stopped: the loop waits for events only
  ASSERT_TRUE(timer.Start(1'000, 50));
  EXPECT_EQ(timer.WaitMs(1'000, 100), 50);
  EXPECT_EQ(timer.WaitMs(1'049, 100), 1);
  EXPECT_FALSE(timer.Due(1'049));
  EXPECT_TRUE(timer.Due(1'050));
  EXPECT_EQ(timer.WaitMs(1'070, 100), 0);
  timer.Stop();
  EXPECT_FALSE(timer.Due(1'070));
  EXPECT_FALSE(timer.Start(1'000, 0));
}

TEST(TickTimerDeadlines, LateTicksDoNotPushLaterOnesBack) {
  TickTimer timer;
  ASSERT_TRUE(timer.Start(0, 50));
  std::uint64_t now = 0;
  for (int tick = 1; tick <= 1'000; ++tick) {
    now = timer.NextDeadline() + static_cast<std::uint64_t>(tick % 17);  // handled up to 16 ms late
    ASSERT_TRUE(timer.Due(now));
    timer.Take(now);
  }
  EXPECT_EQ(timer.NextDeadline(), 1'001u * 50u);
}

TEST(TickTimerDeadlines, TicksMissedWhileHeldAreMergedIntoOne) {
  TickTimer timer;
  ASSERT_TRUE(timer.Start(0, 50));
  timer.Take(50);  // this tick's handler holds the game until 2,013
  EXPECT_TRUE(timer.Due(2'013));
  timer.Take(2'013);  // the one merged tick, at once after the block
  EXPECT_FALSE(timer.Due(2'013));
  EXPECT_FALSE(timer.Due(2'049));
  EXPECT_TRUE(timer.Due(2'050));  // and the timer goes on at its next multiple of 50
}

}  // namespace
}  // namespace vesquin
