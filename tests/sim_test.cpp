// The simulator's clock: what happens to keys and ticks while the game is held.

#include <gtest/gtest.h>

#include "support/sim_harness.h"
#include "support/test_data.h"

namespace vesquin::testing {
namespace {

class SimClockTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeGameData(data_.path(), {{"game/game_intro.vgz", 1000}, {"menu/arrows.vgz", 500}}); }
  TempFolder data_;
};

TEST_F(SimClockTest, IntroEndsOnTheFirstTickAfterItsLength) {
  const SimRun run = RunSim(data_.path(), "wait 1100\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(run.lines.at(0), "0 state 0");
  EXPECT_EQ(run.lines.at(1), "0 play game\\game_intro.vgz pan=0 vol=0");
  // Playing at every time before 1000; the tick at 1000 finds it ended.
  EXPECT_EQ(run.lines.at(2), "1000 state 1");
  EXPECT_EQ(run.lines.at(3), "1000 loop menu\\bgrn.vgz pan=0 vol=0");
  EXPECT_EQ(run.lines.at(4), "1000 play menu\\arrows.vgz pan=0 vol=0");
}

}  // namespace
}  // namespace vesquin::testing
