// Setting up a level: where the animals start, the hearing model that places the quarry's call,
// the level's clips, and the call timer that runs from one game into the next.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

#include "level/level.h"
#include "shell/game.h"
#include "sim/simulation.h"
#include "support/sim_harness.h"
#include "support/test_data.h"

namespace vesquin::testing {
namespace {

LevelState Facing(int heading, int chaserNorth, int chaserEast, int quarryNorth, int quarryEast) {
  LevelState level;
  level.heading = heading;
  level.chaserNorth = chaserNorth;
  level.chaserEast = chaserEast;
  level.quarryNorth = quarryNorth;
  level.quarryEast = quarryEast;
  UpdateQuarrySound(level);
  return level;
}

void ExpectHeard(const LevelState& level, int distance, int pan, int volume) {
  EXPECT_EQ(level.quarryDistance, distance);
  EXPECT_EQ(level.quarryPan, pan);
  EXPECT_EQ(level.quarryVolume, volume);
}

TEST(HearingModelTest, WorkedExamplesFacingNorth) {
  // Three ahead and two to the right; three straight behind; one behind and two to the right.
  ExpectHeard(Facing(North, 5, 12, 8, 14), 3, 800, -600);
  ExpectHeard(Facing(North, 5, 12, 2, 12), 3, 0, -1800);
  ExpectHeard(Facing(North, 5, 12, 4, 14), 2, 1600, -1200);
}

TEST(HearingModelTest, PanCountsCellsToTheRightOfEachHeading) {
  // The quarry three cells north and two east of the chaser.
  ExpectHeard(Facing(North, 12, 12, 15, 14), 3, 800, -600);
  ExpectHeard(Facing(East, 12, 12, 15, 14), 3, -1200, -600);    // north is on the left
  ExpectHeard(Facing(South, 12, 12, 15, 14), 3, -1600, -1800);  // behind: pan doubled
  ExpectHeard(Facing(West, 12, 12, 15, 14), 3, 2400, -1800);    // behind: pan doubled
}

TEST(HearingModelTest, AbreastIsNotBehind) {
  ExpectHeard(Facing(North, 12, 12, 12, 9), 3, -1200, -600);
  ExpectHeard(Facing(East, 12, 12, 8, 12), 4, 1600, -800);
  ExpectHeard(Facing(South, 12, 12, 12, 9), 3, 1200, -600);
  ExpectHeard(Facing(West, 12, 12, 8, 12), 4, -1600, -800);
}

TEST(HearingModelTest, FarValuesAreNotClamped) {
  // Beyond the sound layer's ranges; the layer refuses them, not the model.
  ExpectHeard(Facing(North, 24, 24, 10, 10), 14, -11200, -8400);
  ExpectHeard(Facing(North, 24, 12, 7, 12), 17, 0, -10200);
  ExpectHeard(Facing(East, 0, 24, 24, 0), 24, -19200, -14400);
}

class LevelSetupTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeGameData(data_.Path(), {{"game/game_intro.vgz", 100}}); }
  TempFolder data_;
};

TEST_F(LevelSetupTest, StartPlacesTheQuarryFromTwoDrawsEastFirst) {
  struct Case {
    int eastDraw, northDraw, quarryEast, quarryNorth, pan, volume;
  };
  const Case cases[] = {
      {0, 0, 10, 10, -800, -1800}, {4, 4, 14, 14, 800, -2600},       {0, 4, 10, 14, -800, -2600},
      {4, 0, 14, 10, 800, -1800},  {32767, 32765, 12, 10, 0, -1800},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.eastDraw) + " " + std::to_string(c.northDraw));
    // A turn and back re-places the call at the start's values; the first call plays them.
    const SimRun run =
        RunSim(data_.Path(), StartGame(c.eastDraw, c.northDraw) + "show\nkey Left\nkey Right\nwait 2050\n");
    ASSERT_EQ(run.status, 0) << run.errors;
    const std::vector<std::string> shown = run.Matching(" show ");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(Field(shown[0], "gameState"), 100);
    EXPECT_EQ(Field(shown[0], "quarryEast"), c.quarryEast);
    EXPECT_EQ(Field(shown[0], "quarryNorth"), c.quarryNorth);
    const std::string heard =
        " level1\\cat.vgz pan=" + std::to_string(c.pan) + " vol=" + std::to_string(c.volume);
    const std::vector<std::string> resumed = run.Matching("resume level1\\cat.vgz");
    ASSERT_EQ(resumed.size(), 2u);
    EXPECT_EQ(resumed[1], "100 resume" + heard);
    EXPECT_TRUE(run.Has("2150 play" + heard)) << run.Text();
  }
}

TEST_F(LevelSetupTest, EveryStartHasTheQuarryAheadInTheMiddleBlock) {
  for (std::uint32_t seed = 1; seed <= 25; ++seed) {
    SCOPED_TRACE(seed);
    const SimRun run = RunSim(data_.Path(), "wait 100\nkey Enter\nshow\nwait 2050\n", seed);
    ASSERT_EQ(run.status, 0) << run.errors;
    const std::vector<std::string> shown = run.Matching(" show ");
    ASSERT_EQ(shown.size(), 1u);
    const std::string& show = shown[0];
    EXPECT_EQ(Field(show, "chaserNorth"), 1);
    EXPECT_EQ(Field(show, "chaserEast"), 12);
    EXPECT_EQ(Field(show, "heading"), North);
    EXPECT_EQ(Field(show, "score"), 100);
    EXPECT_EQ(Field(show, "lives"), 3);
    EXPECT_EQ(Field(show, "won"), 0);
    const int east = Field(show, "quarryEast");
    const int north = Field(show, "quarryNorth");
    EXPECT_TRUE(east >= 10 && east <= 14) << east;
    EXPECT_TRUE(north >= 10 && north <= 14) << north;
    // 9..13 cells ahead, at most two to either side: pan -800..800, volume -1,800..-2,600.
    const std::string heard = "2150 play level1\\cat.vgz pan=" + std::to_string((east - 12) * 400) +
                              " vol=" + std::to_string(-200 * (north - 1));
    EXPECT_TRUE(run.Has(heard)) << heard << "\n" << run.Text();
  }
}

TEST_F(LevelSetupTest, StartPlaysOnlyTheBackgroundUntilTheFirstCall) {
  const SimRun run = RunSim(data_.Path(), StartGame(0, 0) + "wait 2100\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  const int level = run.Find("100 state 100");
  ASSERT_GE(level, 0) << run.Text();
  ASSERT_EQ(static_cast<int>(run.lines.size()), level + 3) << run.Text();
  EXPECT_EQ(run.lines[static_cast<std::size_t>(level + 1)], "100 loop level1\\bgrn.vgz pan=0 vol=0");
  // The first call, 41 ticks (2,050 ms) after the start.
  EXPECT_EQ(run.lines[static_cast<std::size_t>(level + 2)], "2150 play level1\\cat.vgz pan=-800 vol=-1800");
}

TEST_F(LevelSetupTest, CallTimerCarriesIntoTheNextGame) {
  // First game: 20 ticks, then Escape. The game-over clip, the final score and the
  // one-second pause are over long before 5,000 ms, when the second game starts.
  const SimRun run = RunSim(
      data_.Path(), StartGame(0, 0) + "wait 1000\nkey Escape\nwait 3900\nrand 0 0\nkey Enter\nwait 3100\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  const int second = run.Find("5000 state 100");
  ASSERT_GE(second, 0) << run.Text();
  const std::vector<std::string> calls = run.Matching("play level1\\cat.vgz");
  // 21 ticks are left of the 41: the call comes at 5,000 + 21 x 50.
  ASSERT_EQ(calls.size(), 2u) << run.Text();
  EXPECT_EQ(calls[0], "6050 play level1\\cat.vgz pan=-800 vol=-1800");
  EXPECT_EQ(calls[1], "8100 play level1\\cat.vgz pan=-800 vol=-1800");
}

TEST_F(LevelSetupTest, OutOfRangeValuesArePassedAsComputed) {
  // Quarry at east 10, north 10. The chaser walks east to the edge and north to the corner:
  // facing north, the quarry is 14 behind and 14 to the left.
  const std::string script = StartGame(0, 0) + "key Right\n" + Repeat("key Up", 12) + "key Left\n" +
                             Repeat("key Up", 23) + "show\nwait 2050\n";
  const SimRun run = RunSim(data_.Path(), script);
  ASSERT_EQ(run.status, 0) << run.errors;
  const std::vector<std::string> shown = run.Matching(" show ");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(Field(shown[0], "chaserEast"), 24);
  EXPECT_EQ(Field(shown[0], "chaserNorth"), 24);
  const std::vector<std::string> resumed = run.Matching("resume level1\\cat.vgz");
  ASSERT_FALSE(resumed.empty());
  EXPECT_EQ(resumed.back(), "100 resume level1\\cat.vgz pan=-11200 vol=-8400");
  EXPECT_TRUE(run.Has("2150 play level1\\cat.vgz pan=-11200 vol=-8400")) << run.Text();
}

TEST_F(LevelSetupTest, WorkedExamplesHeardInPlay) {
  // Quarry at east 14, north 10; the chaser walks north past it, then east into its column.
  const std::string script = StartGame(4, 0) + Repeat("key Up", 6) + "wait 50\n" + Repeat("key Up", 4) +
                             "wait 50\n" + Repeat("key Up", 2) + "key Right\n" + Repeat("key Up", 2) +
                             "wait 50\nkey Left\n";
  const SimRun run = RunSim(data_.Path(), script);
  ASSERT_EQ(run.status, 0) << run.errors;
  // North 7: three ahead, two to the right.
  EXPECT_EQ(run.Matching("100 resume level1\\cat.vgz").back(), "100 resume level1\\cat.vgz pan=800 vol=-600");
  // North 11: one behind, two to the right.
  EXPECT_EQ(run.Matching("150 resume level1\\cat.vgz").back(),
            "150 resume level1\\cat.vgz pan=1600 vol=-1200");
  // North 13, east 14, facing north: three straight behind.
  EXPECT_EQ(run.Matching("250 resume level1\\cat.vgz").back(), "250 resume level1\\cat.vgz pan=0 vol=-1800");
  EXPECT_TRUE(run.Matching("play level1\\dog.vgz").empty());
}

TEST_F(LevelSetupTest, MissingLastClipFailsTheStartHoldingNothing) {
  TempFolder data;
  MakeGameData(data.Path(), {{"game/game_intro.vgz", 100}}, {"level1/search.vgz"});
  SimOptions options;
  options.dataFolder = data.Str();
  std::ostringstream transcript;
  Simulation sim(options, transcript);
  sim.Start();
  sim.Wait(100);
  sim.Key(vk::Enter);
  const LevelState& level = sim.RunningGame().level;
  for (const SoundClip& clip : level.levelClips) EXPECT_FALSE(clip);
  EXPECT_EQ(level.levelListener, nullptr);
  EXPECT_EQ(sim.RunningGame().gameState, state::Menu);
  // The menu comes back and names the start item again.
  const std::string text = transcript.str();
  EXPECT_NE(text.find("100 state 100\n100 state 1\n100 loop menu\\bgrn.vgz pan=0 vol=0\n"
                      "100 play menu\\start_game.vgz pan=0 vol=0\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("level1"), std::string::npos) << text;
}

}  // namespace
}  // namespace vesquin::testing
