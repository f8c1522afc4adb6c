// Routing of keys and ticks to the screen of the current state.

#include <gtest/gtest.h>

#include <sstream>

#include "shell/game.h"
#include "shell/main_window.h"
#include "sim/simulation.h"
#include "support/sim_harness.h"
#include "support/test_data.h"

namespace vesquin::testing {
namespace {

// Every screen in turn, each left by its own keys; Enter and Escape go to the screen of the
// current state and close nothing outside the menu.
constexpr const char* kTourOfTheScreens =
    "key Ctrl\n"                                   // intro -> menu
    "key Down\nkey Down\nkey Down\nkey Enter\n"    // learning the sounds
    "key Down\nkey Enter\nkey Escape\n"            // its second item, its sound, back
    "key Down\nkey Enter\n"                        // final score
    "key Escape\nkey Enter\nkey Ctrl\n"            // only Ctrl leaves it
    "key Down\nkey Enter\n"                        // best list
    "key Escape\nkey Escape\n"                     // the first cuts the opening phrase
    "key Up\nkey Up\nkey Up\nkey Up\nkey Enter\n"  // a game
    "key Escape\n"                                 // given up: game over
    "key Escape\nkey Enter\nkey Ctrl\n"            // only Ctrl cuts the game-over clip
    "key Ctrl\n";                                  // final score -> menu

class RoutingTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeGameData(data_.Path()); }
  SimOptions Options() const {
    SimOptions options;
    options.dataFolder = data_.Str();
    return options;
  }
  TempFolder data_;
};

TEST_F(RoutingTest, KeysReachTheScreenOfTheCurrentState) {
  const SimRun run = RunSim(data_.Path(), kTourOfTheScreens);
  ASSERT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(run.Matching(" state "),
            (std::vector<std::string>{"0 state 0", "0 state 1", "0 state 5", "0 state 1", "0 state 6",
                                      "0 state 1", "0 state 7", "0 state 1", "0 state 100", "0 state 10",
                                      "0 state 6", "0 state 1"}))
      << run.Text();
  // The learning screen's own keys were heard there, not in the menu.
  EXPECT_TRUE(run.Has("0 play learn\\2.vgz pan=0 vol=0")) << run.Text();
  EXPECT_TRUE(run.Matching(" close").empty()) << run.Text();
  EXPECT_TRUE(run.Matching("exit_game").empty()) << run.Text();
}

TEST_F(RoutingTest, KeysReachTheSendScoreScreen) {
  std::ostringstream out;
  std::ostringstream errors;
  Simulation sim(Options(), out);
  sim.Start();
  sim.RunningGame().level.score = 42;  // as a won game leaves it
  ASSERT_TRUE(RunScriptOn(sim,
                          "key Ctrl\nkey Up\nkey Up\nkey Up\n"  // the send-score item
                          "key Enter\nkey Enter\nkey Ctrl\nkey Escape\n",
                          errors))
      << errors.str();
  const std::string text = out.str();
  const std::size_t entered = text.find("0 state 8\n");
  ASSERT_NE(entered, std::string::npos) << text;
  // Enter and Ctrl are not the screen's keys; Escape leaves it.
  EXPECT_EQ(text.substr(entered),
            "0 state 8\n0 stop menu\\send_score.vgz\n"
            "0 play game\\check_connected.vgz pan=0 vol=0\n"
            "0 stop game\\check_connected.vgz\n0 state 1\n"
            "0 play menu\\send_score.vgz pan=0 vol=0\n");
}

TEST_F(RoutingTest, TicksReachTheScreenOfTheCurrentState) {
  const SimRun run = RunSim(data_.Path(), "wait 1000\nkey Enter\nwait 2050\nkey Escape\nwait 2000\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  // The intro ends on a tick, and the menu names its first item on the tick after its prompt.
  EXPECT_EQ(run.Find("200 state 1"), 2) << run.Text();
  EXPECT_TRUE(run.Has("400 play menu\\start_game.vgz pan=0 vol=0")) << run.Text();
  // The level's quarry calls on its 41st tick.
  EXPECT_TRUE(run.Has("1000 state 100")) << run.Text();
  EXPECT_EQ(run.Matching("play level1\\cat.vgz").size(), 1u) << run.Text();
  EXPECT_EQ(run.Matching("play level1\\cat.vgz").at(0).rfind("3050 ", 0), 0u) << run.Text();
  // Game over ends on a tick; the final score is spoken word by word on ticks.
  EXPECT_TRUE(run.Has("3050 state 10")) << run.Text();
  EXPECT_TRUE(run.Has("3250 state 6")) << run.Text();
  EXPECT_TRUE(run.Has("3450 play score\\0.vgz pan=0 vol=0")) << run.Text();
  EXPECT_TRUE(run.Has("3650 play score\\say_points.vgz pan=0 vol=0")) << run.Text();
  // The pause after the score holds the game 1,000 ms, then the menu takes over.
  EXPECT_TRUE(run.Has("4850 state 1")) << run.Text();
}

TEST_F(RoutingTest, StatesWithoutATickHandlerAndUnknownStatesTakeNoTicks) {
  for (const int value : {2, 3, 4, 5, 8, 9, 11, 99, -1}) {
    SCOPED_TRACE(value);
    std::ostringstream out;
    Simulation sim(Options(), out);
    sim.Start();
    sim.Key(vk::Ctrl);  // the menu's prompt plays, ticks are on
    sim.RunningGame().gameState = value;
    const std::string before = out.str();
    sim.Wait(1000);
    // Any tick handler would have shown here: the intro's and the game over's change the
    // state, the menu's names an item, the level's ends a game without lives, the score
    // screens' play a word.
    EXPECT_EQ(out.str(), before);
    EXPECT_EQ(sim.RunningGame().gameState, value);
    EXPECT_TRUE(sim.RunningGame().ticksEnabled);
  }
}

TEST_F(RoutingTest, KeysInUnknownStatesDoNothing) {
  for (const int value : {2, 3, 9, 11, 99, -1}) {
    SCOPED_TRACE(value);
    std::ostringstream out;
    Simulation sim(Options(), out);
    sim.Start();
    sim.Wait(1000);  // in the menu
    sim.RunningGame().gameState = value;
    const std::string before = out.str();
    for (const int key : {vk::Ctrl, vk::Enter, vk::Escape, vk::Up, vk::Down, vk::Space, vk::Y, vk::N}) {
      EXPECT_EQ(RouteKeyDown(sim.RunningGame(), key), 1) << key;
      sim.Key(key);
    }
    EXPECT_EQ(out.str(), before);
    EXPECT_FALSE(sim.Ended());
    EXPECT_EQ(sim.RunningGame().gameState, value);
  }
}

TEST_F(RoutingTest, TicksStayOffWhileTheGateIsClosedWhateverTheState) {
  std::ostringstream out;
  Simulation sim(Options(), out);
  sim.Start();
  sim.RunningGame().ticksEnabled = false;
  sim.Wait(1000);
  EXPECT_EQ(out.str().find("state 1"), std::string::npos) << out.str();  // the intro's end went unheard
  sim.Key(vk::Ctrl);                                                     // the menu, still without ticks
  sim.Wait(1000);
  EXPECT_EQ(out.str().find("start_game"), std::string::npos) << out.str();
  sim.RunningGame().ticksEnabled = true;
  sim.Wait(50);
  EXPECT_NE(out.str().find("2050 play menu\\start_game.vgz pan=0 vol=0"), std::string::npos) << out.str();
}

TEST_F(RoutingTest, KeyReleasesDoNothingInAnyState) {
  std::string withReleases;
  std::istringstream tour(kTourOfTheScreens);
  for (std::string line; std::getline(tour, line);) {
    withReleases += line + '\n';
    const std::string key = line.substr(line.find(' ') + 1);
    withReleases += "keyup " + key + "\nkeyup Escape\nkeyup Enter\nkeyup Ctrl\nkeyup Y\nkeyup 0\nkeyup 255\n";
  }
  const SimRun plain = RunSim(data_.Path(), kTourOfTheScreens);
  const SimRun released = RunSim(data_.Path(), withReleases);
  ASSERT_EQ(released.status, 0) << released.errors;
  EXPECT_EQ(released.lines, plain.lines);
}

TEST_F(RoutingTest, EscapeInTheMenuClosesAfterTheWholeExitClip) {
  MakeGameData(data_.Path(), {{"game/exit_game.vgz", 700}});
  const SimRun run = RunSim(data_.Path(), "wait 1000\nkey Escape\nkey Down\nwait 2000\nkey Down\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  const int escape = run.Find("1000 stop menu\\bgrn.vgz");
  ASSERT_GE(escape, 0) << run.Text();
  // Keys pressed while the exit clip plays are never handled: the window closes first.
  EXPECT_EQ(std::vector<std::string>(run.lines.begin() + escape, run.lines.end()),
            (std::vector<std::string>{"1000 stop menu\\bgrn.vgz", "1000 play game\\exit_game.vgz pan=0 vol=0",
                                      "1700 close"}));
}

TEST_F(RoutingTest, TheQuitItemClosesLikeEscape) {
  const SimRun run = RunSim(data_.Path(), "wait 1000\nkey Up\nkey Enter\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(std::vector<std::string>(run.lines.end() - 3, run.lines.end()),
            (std::vector<std::string>{"1000 stop menu\\bgrn.vgz", "1000 play game\\exit_game.vgz pan=0 vol=0",
                                      "1200 close"}));
  EXPECT_TRUE(run.Has("1000 play menu\\quit.vgz pan=0 vol=0"));
}

}  // namespace
}  // namespace vesquin::testing
