// The stream's step on its ladder of latencies: up a step on trouble to the top, down a step
// only after a whole quiet stretch, and never below where it started.

#include "platform/latency_target.h"

#include <cstdint>

#include <gtest/gtest.h>

namespace vesquin {
namespace {

TEST(LatencyTarget, ClimbsAStepOnTroubleUpToTheTop) {
  LatencyTarget target(4, 48'000);
  EXPECT_EQ(target.Step(), 0U);
  EXPECT_TRUE(target.Grow());
  EXPECT_EQ(target.Step(), 1U);
  EXPECT_TRUE(target.Grow());
  EXPECT_TRUE(target.Grow());
  EXPECT_EQ(target.Step(), 3U);
  EXPECT_FALSE(target.Grow());  // nothing to ask the server again
  EXPECT_EQ(target.Step(), 3U);
}

TEST(LatencyTarget, GoesDownAStepAfterEachQuietStretchBackToWhereItStarted) {
  LatencyTarget target(6, 48'000);
  target.Grow();
  target.Grow();
  ASSERT_EQ(target.Step(), 2U);

  // Quiet play counts in whatever pieces the requests come in.
  for (int i = 0; i < 99; ++i) EXPECT_FALSE(target.Played(480));
  EXPECT_EQ(target.Step(), 2U);
  EXPECT_TRUE(target.Played(480));
  EXPECT_EQ(target.Step(), 1U);

  // A new quiet stretch for the next step.
  EXPECT_FALSE(target.Played(47'999));
  EXPECT_TRUE(target.Played(1));
  EXPECT_EQ(target.Step(), 0U);

  // At the start it stays, however long the quiet.
  EXPECT_FALSE(target.Played(1'000'000));
  EXPECT_EQ(target.Step(), 0U);
}

TEST(LatencyTarget, TroubleStartsTheQuietStretchAgain) {
  LatencyTarget target(6, 48'000);
  target.Grow();
  target.Grow();
  EXPECT_FALSE(target.Played(40'000));
  target.Grow();                        // step 3
  EXPECT_FALSE(target.Played(40'000));  // the 40'000 before the trouble no longer count
  EXPECT_EQ(target.Step(), 3U);
  EXPECT_TRUE(target.Played(8'000));
  EXPECT_EQ(target.Step(), 2U);

  // Played the moment the stretch ends, then trouble: the step down stands, the climb starts
  // from it.
  EXPECT_TRUE(target.Grow());
  EXPECT_EQ(target.Step(), 3U);
}

TEST(LatencyTarget, TroubleSoonAfterAStepDownWaitsLongerBeforeTheNext) {
  LatencyTarget target(20, 48'000);
  target.Grow();
  target.Grow();
  target.Grow();  // step 3
  ASSERT_TRUE(target.Played(48'000));
  ASSERT_EQ(target.Step(), 2U);

  // Dry again within a stretch of the step: the next step down waits two stretches.
  target.Grow();
  EXPECT_FALSE(target.Played(95'999));
  EXPECT_TRUE(target.Played(1));
  EXPECT_EQ(target.Step(), 2U);

  // Trouble a whole stretch after a step leaves the wait as it is.
  EXPECT_FALSE(target.Played(48'000));
  target.Grow();
  EXPECT_FALSE(target.Played(95'999));
  EXPECT_TRUE(target.Played(1));

  // Each step that trouble follows at once doubles it, up to eight stretches.
  for (const std::uint64_t wait : {192'000, 384'000, 384'000}) {
    target.Grow();
    EXPECT_FALSE(target.Played(wait - 1));
    EXPECT_TRUE(target.Played(1));
  }
}

TEST(LatencyTarget, AQuietStretchAtTheStartForgetsALongWait) {
  LatencyTarget target(6, 48'000);
  target.Grow();
  ASSERT_TRUE(target.Played(48'000));
  target.Grow();  // soon after the step: wait doubles
  ASSERT_TRUE(target.Played(96'000));
  EXPECT_EQ(target.Step(), 0U);
  EXPECT_FALSE(target.Played(48'000));  // a whole stretch at the start
  target.Grow();
  EXPECT_TRUE(target.Played(48'000));  // back to one stretch
}

TEST(LatencyTarget, ALadderOfOneStepNeverMoves) {
  for (const std::size_t steps : {0U, 1U}) {
    LatencyTarget target(steps, 48'000);
    EXPECT_FALSE(target.Grow());
    EXPECT_FALSE(target.Played(100'000));
    EXPECT_EQ(target.Step(), 0U);
  }
}

}  // namespace
}  // namespace vesquin
