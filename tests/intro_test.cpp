// The intro: played once at start-up, skipped with Ctrl only, and followed by the menu.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sim_harness.h"
#include "support/test_data.h"

namespace vesquin::testing {
namespace {

class Intro : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeGameData(data_.Path(), {{"game/game_intro.vgz", 1020}, {"menu/arrows.vgz", 500}});
  }
  TempFolder data_;
};

TEST_F(Intro, MenuStartsOnTheFirstTickAfterTheIntroEnds) {
  const SimRun run = RunSim(data_.Path(), "wait 1100\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(run.lines, (std::vector<std::string>{"0 state 0", "0 play game\\game_intro.vgz pan=0 vol=0",
                                                 "1050 state 1", "1050 loop menu\\bgrn.vgz pan=0 vol=0",
                                                 "1050 play menu\\arrows.vgz pan=0 vol=0"}));
}

TEST_F(Intro, CtrlCutsItAndStartsTheMenuAtOnce) {
  const SimRun run = RunSim(data_.Path(), "wait 300\nkey Ctrl\nwait 1000\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  ASSERT_GE(run.lines.size(), 6u) << run.Text();
  EXPECT_EQ(std::vector<std::string>(run.lines.begin() + 2, run.lines.begin() + 6),
            (std::vector<std::string>{"300 stop game\\game_intro.vgz", "300 state 1",
                                      "300 loop menu\\bgrn.vgz pan=0 vol=0",
                                      "300 play menu\\arrows.vgz pan=0 vol=0"}));
  // Played once: the intro does not come back when its time is up.
  EXPECT_EQ(run.Matching("game_intro").size(), 2u) << run.Text();
  EXPECT_EQ(run.Matching(" state 1").size(), 1u);
}

TEST_F(Intro, EveryOtherKeyIsIgnored) {
  const SimRun run = RunSim(data_.Path(),
                            "wait 300\nkey Escape\nkey Enter\nkey Up\nkey Down\nkey Left\nkey Right\n"
                            "key Space\nkey D\nkey N\nkey Y\nkey 162\nkey 65\nwait 800\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(run.lines, (std::vector<std::string>{"0 state 0", "0 play game\\game_intro.vgz pan=0 vol=0",
                                                 "1050 state 1", "1050 loop menu\\bgrn.vgz pan=0 vol=0",
                                                 "1050 play menu\\arrows.vgz pan=0 vol=0"}));
}

TEST_F(Intro, CtrlOnceTheMenuHasStartedIsTheMenusToIgnore) {
  const SimRun run = RunSim(data_.Path(), "wait 300\nkey Ctrl\nwait 100\nkey Ctrl\nshow\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  ASSERT_EQ(run.lines.size(), 7u) << run.Text();
  EXPECT_EQ(run.lines[6].rfind("400 show gameState=1 ticksEnabled=1 menuIndex=0 ", 0), 0u) << run.lines[6];
}

TEST_F(Intro, MissingIntroGoesToTheMenuOnTheFirstTick) {
  TempFolder data;
  MakeGameData(data.Path(), {}, {"game/game_intro.vgz"});
  const SimRun run = RunSim(data.Path(), "wait 100\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(run.lines,
            (std::vector<std::string>{"0 state 0", "50 state 1", "50 loop menu\\bgrn.vgz pan=0 vol=0",
                                      "50 play menu\\arrows.vgz pan=0 vol=0"}));
}

}  // namespace
}  // namespace vesquin::testing
