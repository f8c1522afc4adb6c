// Playing a level through the simulator: keys, steps, pushes, turns, spoken coordinates and the
// moment a lost game ends.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sim_harness.h"
#include "support/test_data.h"

namespace vesquin::testing {
namespace {

// From the quarry at east 10, north 10: north beside it, west, and ten pushes to the edge.
// The quarry ends at east 0, north 10, the chaser at east 1, north 10, facing west; 20 steps.
std::string PushQuarryToWestEdge() {
  return StartGame(0, 0) + Repeat("key Up", 9) + "key Left\nkey Up\n" + StraightPushes(10) +
         Repeat("key Up", 10);
}

class PlayTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeGameData(data_.Path(), {{"game/game_intro.vgz", 100}}); }

  SimRun Run(const std::string& script) {
    SimRun run = RunSim(data_.Path(), script);
    EXPECT_EQ(run.status, 0) << run.errors;
    return run;
  }

  static std::vector<std::string> Shown(const SimRun& run) { return run.Matching(" show "); }

  TempFolder data_;
};

TEST_F(PlayTest, EightStepsNorthCostEightPointsWithoutAPush) {
  // The quarry straight ahead at east 12, north 10: eight steps stop just short of it.
  const SimRun run =
      Run(StartGame(2, 0) + Repeat("key Up", 8) + "show\n" + StraightPushes(1) + "key Up\nshow\n");
  const std::vector<std::string> shown = Shown(run);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(Field(shown[0], "chaserNorth"), 9);
  EXPECT_EQ(Field(shown[0], "chaserEast"), 12);
  EXPECT_EQ(Field(shown[0], "score"), 92);
  EXPECT_EQ(Field(shown[0], "quarryNorth"), 10);
  const int firstShow = run.Find(shown[0]);
  EXPECT_EQ(run.Matching("play level1\\search.vgz").size(), 9u);
  EXPECT_EQ(run.lines[static_cast<std::size_t>(firstShow - 1)], "100 play level1\\search.vgz pan=0 vol=0");
  EXPECT_EQ(run.lines[static_cast<std::size_t>(firstShow - 2)], "100 resume level1\\cat.vgz pan=0 vol=-200");
  // The ninth step walks into it: the dog barks, the quarry moves on, the chaser takes its cell.
  EXPECT_GT(run.Find("100 play level1\\dog.vgz pan=0 vol=0"), firstShow);
  EXPECT_EQ(Field(shown[1], "chaserNorth"), 10);
  EXPECT_EQ(Field(shown[1], "quarryNorth"), 11);
  EXPECT_EQ(Field(shown[1], "quarryEast"), 12);
  EXPECT_EQ(Field(shown[1], "score"), 91);
}

TEST_F(PlayTest, StepsAgainstEachEdgeCostAPointAndStillSound) {
  struct Case {
    const char* name;
    std::string keys;
    int turns, steps, north, east;
  };
  const Case cases[] = {
      {"south", "key Right\nkey Right\n" + Repeat("key Up", 3), 2, 3, 0, 12},
      {"north", Repeat("key Up", 26), 0, 26, 24, 12},
      {"east", "key Right\n" + Repeat("key Up", 15), 1, 15, 1, 24},
      {"west", "key Left\n" + Repeat("key Up", 15), 1, 15, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Quarry at east 10, north 10: out of every one of these ways.
    const SimRun run = Run(StartGame(0, 0) + c.keys + "show\n");
    const std::vector<std::string> shown = Shown(run);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(Field(shown[0], "chaserNorth"), c.north);
    EXPECT_EQ(Field(shown[0], "chaserEast"), c.east);
    EXPECT_EQ(Field(shown[0], "score"), 100 - c.steps);
    EXPECT_EQ(Field(shown[0], "lives"), 3);
    // Every step, the blocked ones too, re-places the call and plays the search sound.
    EXPECT_EQ(run.Matching("play level1\\search.vgz").size(), static_cast<std::size_t>(c.steps));
    EXPECT_EQ(run.Matching("resume level1\\cat.vgz").size(), static_cast<std::size_t>(c.turns + c.steps));
  }
}

TEST_F(PlayTest, BlockedStepReplacesTheCall) {
  // Facing south at north 0, the quarry (east 10, north 10) is behind and to the right.
  const SimRun run = Run(StartGame(0, 0) + "key Right\nkey Right\nkey Up\nshow\nkey Up\nshow\n");
  const std::vector<std::string> shown = Shown(run);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(Field(shown[0], "chaserNorth"), 0);
  EXPECT_EQ(Field(shown[1], "chaserNorth"), 0);
  EXPECT_EQ(Field(shown[1], "score"), 98);
  const int blocked = run.Find(shown[0]);
  ASSERT_EQ(static_cast<int>(run.lines.size()), blocked + 4) << run.Text();
  EXPECT_EQ(run.lines[static_cast<std::size_t>(blocked + 1)],
            "100 resume level1\\cat.vgz pan=1600 vol=-6000");
  EXPECT_EQ(run.lines[static_cast<std::size_t>(blocked + 2)], "100 play level1\\search.vgz pan=0 vol=0");
}

TEST_F(PlayTest, TheHundredAndFirstStepIsSilentAndTheNextTickEndsTheGame) {
  // Quarry at east 12, north 10. 91 steps against the south edge, then 9 north: the chaser
  // stands just below the quarry with 0 points. The 101st step walks onto it without a push.
  const std::string script = StartGame(2, 0) + "key Right\nkey Right\n" + Repeat("key Up", 91) +
                             "key Left\nkey Left\n" + Repeat("key Up", 9) +
                             "show\nkey Up\nshow\nwait 50\nshow\n";
  const SimRun run = Run(script);
  const std::vector<std::string> shown = Shown(run);
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(Field(shown[0], "score"), 0);
  EXPECT_EQ(Field(shown[0], "chaserNorth"), 9);
  EXPECT_EQ(Field(shown[0], "lives"), 3);

  EXPECT_EQ(Field(shown[1], "score"), -1);
  EXPECT_EQ(Field(shown[1], "lives"), 0);
  EXPECT_EQ(Field(shown[1], "gameState"), 100);
  EXPECT_EQ(Field(shown[1], "chaserNorth"), 10);
  EXPECT_EQ(Field(shown[1], "quarryNorth"), 10);  // not pushed
  const int first = run.Find(shown[0]);
  EXPECT_EQ(run.lines[static_cast<std::size_t>(first + 1)], shown[1]) << "the overspending step made a sound";
  EXPECT_TRUE(run.Matching("level1\\dog.vgz").empty());

  EXPECT_EQ(Field(shown[2], "score"), 0);
  EXPECT_EQ(Field(shown[2], "gameState"), 10);
  const int end = run.Find("150 state 10");
  ASSERT_GT(end, first);
  EXPECT_EQ(run.lines[static_cast<std::size_t>(end - 1)], "150 stop level1\\bgrn.vgz");
  EXPECT_EQ(run.lines[static_cast<std::size_t>(end + 1)], "150 play game\\say_game_over.vgz pan=0 vol=0");
  EXPECT_TRUE(run.Matching("level1\\vict.vgz").empty());
}

TEST_F(PlayTest, EastPushOffTheFieldEndsTheGameOnTheNextTick) {
  // Quarry at east 14, north 10: up beside it, face east, push it ten cells to the edge.
  const std::string script = StartGame(4, 0) + Repeat("key Up", 9) + "key Right\nkey Up\n" +
                             StraightPushes(11) + Repeat("key Up", 10) +
                             "show\nkey Up\nshow\nwait 50\nshow\n";
  const SimRun run = Run(script);
  const std::vector<std::string> shown = Shown(run);
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(Field(shown[0], "quarryEast"), 24);
  EXPECT_EQ(Field(shown[0], "chaserEast"), 23);
  EXPECT_EQ(Field(shown[1], "quarryEast"), 25);
  EXPECT_EQ(Field(shown[1], "quarryNorth"), 10);
  EXPECT_EQ(Field(shown[1], "chaserEast"), 24);
  EXPECT_EQ(Field(shown[1], "lives"), 0);
  EXPECT_EQ(Field(shown[1], "score"), 79);
  // The push barks, and the step still re-places the call and plays the search sound.
  const int push = run.Find(shown[0]);
  EXPECT_EQ(run.lines[static_cast<std::size_t>(push + 1)], "100 stop level1\\dog.vgz");
  EXPECT_EQ(run.lines[static_cast<std::size_t>(push + 2)], "100 play level1\\dog.vgz pan=0 vol=0");
  EXPECT_EQ(run.lines[static_cast<std::size_t>(push + 3)], "100 resume level1\\cat.vgz pan=0 vol=-200");
  EXPECT_EQ(run.lines[static_cast<std::size_t>(push + 4)], "100 play level1\\search.vgz pan=0 vol=0");
  EXPECT_EQ(Field(shown[2], "gameState"), 10);
  EXPECT_EQ(Field(shown[2], "score"), 0);
  EXPECT_TRUE(run.Has("150 state 10"));
  EXPECT_TRUE(run.Matching("level1\\vict.vgz").empty());
}

TEST_F(PlayTest, NorthPushFromNorth23East0) {
  // From the west edge: round the quarry to its south side and push it north to north 23.
  const std::string toNorth23 = PushQuarryToWestEdge() + "key Left\nkey Up\nkey Right\nkey Up\nkey Right\n" +
                                StraightPushes(13) + Repeat("key Up", 13) + "show\n";
  struct Case {
    int draw;
    bool cornered;
    int quarryEast;
  };
  // Drift 0 and -1 leave east at 0 (clamped): a corner. Drift +1 moves it to east 1.
  const Case cases[] = {{1, true, 0}, {0, true, 0}, {2, false, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.draw);
    const SimRun run = Run(toNorth23 + "rand " + std::to_string(c.draw) + "\nkey Up\nshow\n");
    const std::vector<std::string> shown = Shown(run);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(Field(shown[0], "quarryNorth"), 23);
    EXPECT_EQ(Field(shown[0], "quarryEast"), 0);
    EXPECT_EQ(Field(shown[0], "chaserNorth"), 22);
    EXPECT_EQ(Field(shown[0], "chaserEast"), 0);
    EXPECT_EQ(Field(shown[0], "heading"), 0);
    EXPECT_EQ(Field(shown[1], "quarryNorth"), 24);
    EXPECT_EQ(Field(shown[1], "quarryEast"), c.quarryEast);
    EXPECT_EQ(Field(shown[1], "won"), c.cornered ? 1 : 0);
    EXPECT_EQ(Field(shown[1], "lives"), 3);
    EXPECT_EQ(Field(shown[1], "score"), 64);
    EXPECT_EQ(run.Has("100 play level1\\vict.vgz pan=0 vol=0"), c.cornered);
  }
}

TEST_F(PlayTest, KeysAreIgnoredWhileTheVictoryClipPlays) {
  const std::string win = PushQuarryToWestEdge() + "key Right\nkey Up\nkey Left\nkey Up\nkey Left\n" +
                          StraightPushes(10) + Repeat("key Up", 10);
  const SimRun run =
      Run(win +
          "wait 100\nkey Escape\nkey Up\nkey Space\nkey Left\nkey D\nkey Enter\nkey Ctrl\nshow\nwait 100\n");
  const std::vector<std::string> shown = Shown(run);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(Field(shown[0], "gameState"), 100);
  EXPECT_EQ(Field(shown[0], "won"), 1);
  EXPECT_EQ(Field(shown[0], "score"), 68);
  EXPECT_EQ(Field(shown[0], "heading"), 2);  // south
  // Nothing at all happened at 200: the show line follows the last line of the victory step.
  const int at = run.Find(shown[0]);
  EXPECT_EQ(run.lines[static_cast<std::size_t>(at - 1)], "100 play level1\\search.vgz pan=0 vol=0");
  // The game ends on the first tick after the 200 ms victory clip, with its points.
  EXPECT_EQ(run.lines[static_cast<std::size_t>(at + 1)], "300 stop level1\\bgrn.vgz");
  EXPECT_EQ(run.lines[static_cast<std::size_t>(at + 2)], "300 state 10");
}

TEST_F(PlayTest, SpaceDuringAPairStartsItAgain) {
  // East 12, north 1: "twelve, one", each word on the first tick after the last has ended.
  const SimRun run = Run(StartGame(0, 0) + "key Space\nwait 250\nkey Space\nwait 500\n");
  const std::vector<std::string> words = run.Matching("score\\");
  const std::vector<std::string> expected = {
      "100 play score\\12.vgz pan=0 vol=0", "300 play score\\1.vgz pan=0 vol=0", "350 stop score\\1.vgz",
      "350 play score\\12.vgz pan=0 vol=0", "550 play score\\1.vgz pan=0 vol=0",
  };
  EXPECT_EQ(words, expected) << run.Text();
}

TEST_F(PlayTest, PositionIsSpokenEastThenNorth) {
  // Ten steps east from east 12, north 1: "twenty, two, one".
  const SimRun run =
      Run(StartGame(0, 0) + "key Right\n" + Repeat("key Up", 10) + "wait 50\nkey D\nkey Space\nwait 700\n");
  const std::vector<std::string> words = run.Matching("score\\");
  const std::vector<std::string> expected = {
      "150 play score\\20.vgz pan=0 vol=0",
      "350 play score\\2.vgz pan=0 vol=0",
      "550 play score\\1.vgz pan=0 vol=0",
  };
  EXPECT_EQ(words, expected) << run.Text();
  // Space cuts the heading's name.
  EXPECT_TRUE(run.Has("150 stop level1\\east.vgz")) << run.Text();
}

TEST_F(PlayTest, TurningCutsTheSpokenPosition) {
  const SimRun run = Run(StartGame(0, 0) + "key Space\nwait 50\nkey Right\nwait 500\nshow\n");
  EXPECT_EQ(run.Matching("score\\"),
            (std::vector<std::string>{"100 play score\\12.vgz pan=0 vol=0", "150 stop score\\12.vgz"}))
      << run.Text();
  EXPECT_TRUE(run.Has("150 play level1\\east.vgz pan=0 vol=0"));
}

TEST_F(PlayTest, FourTurnsNameEachHeadingAndReplaceTheCall) {
  // Quarry at east 10, north 10; the chaser at east 12, north 1.
  const SimRun left = Run(StartGame(0, 0) + Repeat("key Left", 4) + "show\n");
  EXPECT_EQ(left.Matching("100 play level1\\"),
            (std::vector<std::string>{
                "100 play level1\\west.vgz pan=0 vol=0", "100 play level1\\south.vgz pan=0 vol=0",
                "100 play level1\\east.vgz pan=0 vol=0", "100 play level1\\north.vgz pan=0 vol=0"}));
  EXPECT_EQ(left.Matching("resume level1\\cat.vgz"),
            (std::vector<std::string>{"100 resume level1\\cat.vgz pan=3600 vol=-1800",
                                      "100 resume level1\\cat.vgz pan=1600 vol=-5400",
                                      "100 resume level1\\cat.vgz pan=-7200 vol=-5400",
                                      "100 resume level1\\cat.vgz pan=-800 vol=-1800"}));
  // Each new name cuts the one still sounding.
  EXPECT_EQ(left.Matching("100 stop level1\\"),
            (std::vector<std::string>{"100 stop level1\\west.vgz", "100 stop level1\\south.vgz",
                                      "100 stop level1\\east.vgz"}));
  ASSERT_EQ(left.Matching(" show ").size(), 1u);
  EXPECT_EQ(Field(left.Matching(" show ")[0], "heading"), 0);
  EXPECT_EQ(Field(left.Matching(" show ")[0], "score"), 100);

  const SimRun right = Run(StartGame(0, 0) + Repeat("key Right", 4) + "show\n");
  EXPECT_EQ(right.Matching("100 play level1\\"),
            (std::vector<std::string>{
                "100 play level1\\east.vgz pan=0 vol=0", "100 play level1\\south.vgz pan=0 vol=0",
                "100 play level1\\west.vgz pan=0 vol=0", "100 play level1\\north.vgz pan=0 vol=0"}));
  EXPECT_EQ(Field(right.Matching(" show ")[0], "heading"), 0);
}

TEST_F(PlayTest, OtherKeysCostNothing) {
  // Facing east: Enter searches, Ctrl says west whatever the heading, D the real heading;
  // Down and other keys do nothing.
  const SimRun run = Run(StartGame(0, 0) +
                         "key Right\nwait 200\nkey Enter\nkey Ctrl\nkey D\nkey Down\nkey 65\nkey 78\nshow\n");
  const int from = run.Find("300 play level1\\search.vgz pan=0 vol=0");
  ASSERT_GE(from, 0) << run.Text();
  const std::vector<std::string> expected = {
      "300 play level1\\search.vgz pan=0 vol=0",
      "300 play level1\\west.vgz pan=0 vol=0",
      "300 stop level1\\west.vgz",
      "300 play level1\\east.vgz pan=0 vol=0",
  };
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(run.lines[static_cast<std::size_t>(from) + i], expected[i]);
  const std::string& show = run.lines[static_cast<std::size_t>(from) + expected.size()];
  EXPECT_NE(show.find(" show "), std::string::npos) << run.Text();
  EXPECT_EQ(Field(show, "score"), 100);
  EXPECT_EQ(Field(show, "heading"), 1);
  EXPECT_EQ(Field(show, "chaserNorth"), 1);
  EXPECT_EQ(Field(show, "chaserEast"), 12);
}

}  // namespace
}  // namespace vesquin::testing
