// The end of a game: the victory, the game-over clip, the best score and the final score, and
// the way back to the menu.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "scores/best_scores.h"
#include "support/sim_harness.h"
#include "support/test_data.h"

namespace vesquin::testing {
namespace {

// The scores best.dat holds, decoded.
std::vector<int> BestScoresIn(const std::filesystem::path& file) {
  std::vector<std::uint8_t> bytes = ReadFile(file);
  DecodeBestBytes(bytes);
  std::vector<int> scores;
  for (std::size_t at = 0; at + kBestRecordSize <= bytes.size(); at += kBestRecordSize) {
    const std::string record(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                             bytes.begin() + static_cast<std::ptrdiff_t>(at + kBestRecordSize));
    scores.push_back(std::atoi(record.c_str()));
  }
  return scores;
}

// Each event in turn, each after the one before; an event given without its time matches
// at any time.
void ExpectInOrder(const SimRun& run, const std::vector<std::string>& expected) {
  std::size_t at = 0;
  for (const std::string& event : expected) {
    const bool timed = !event.empty() && event[0] >= '0' && event[0] <= '9';
    auto matches = [&](const std::string& line) {
      return timed ? line == event : line.substr(line.find(' ') + 1) == event;
    };
    while (at < run.lines.size() && !matches(run.lines[at])) ++at;
    ASSERT_LT(at, run.lines.size()) << "missing in order: " << event << "\n" << run.Text();
    ++at;
  }
}

class GameOverTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeGameData(data_.Path(), {{"game/game_intro.vgz", 100}}); }

  SimRun Run(const std::string& script) {
    SimRun run = RunSim(data_.Path(), script);
    EXPECT_EQ(run.status, 0) << run.errors;
    return run;
  }

  TempFolder data_;
};

TEST_F(GameOverTest, ExampleScriptWinsTheGame) {
  std::ifstream file(std::string(VESQUIN_SOURCE_DIR) + "/examples/win.vsim");
  ASSERT_TRUE(file) << "examples/win.vsim";
  std::stringstream script;
  script << file.rdbuf();
  const SimRun run = Run(script.str());
  ExpectInOrder(run, {
                         "state 100",
                         "play level1\\vict.vgz pan=0 vol=0",
                         "stop level1\\bgrn.vgz",
                         "state 10",
                         "play game\\say_game_over.vgz pan=0 vol=0",
                         "state 6",
                         "play score\\say_final_score.vgz pan=0 vol=0",
                         "play score\\60.vgz pan=0 vol=0",
                         "play score\\8.vgz pan=0 vol=0",
                         "play score\\say_points.vgz pan=0 vol=0",
                         "state 1",
                         "play menu\\start_game.vgz pan=0 vol=0",
                     });
  const std::vector<std::string> shown = run.Matching(" show ");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(Field(shown[0], "gameState"), 1);
  EXPECT_EQ(Field(shown[0], "won"), 1);
  EXPECT_EQ(Field(shown[0], "score"), 68);
  EXPECT_EQ(Field(shown[0], "quarryEast"), 0);
  EXPECT_EQ(Field(shown[0], "quarryNorth"), 0);
  // The empty list held a single 0; the 68 goes before it.
  EXPECT_EQ(BestScoresIn(data_.Path() / "best.dat"), (std::vector<int>{68, 0}));
}

TEST_F(GameOverTest, CornerOnTheHundredthStepScoresZero) {
  // 67 steps against the south edge, then the example's way: 33 steps, the last one cornering.
  const std::string script = StartGame(0, 0) + "key Right\nkey Right\n" + Repeat("key Up", 67) +
                             "key Left\nkey Left\n" + Repeat("key Up", 10) + "key Left\nkey Up\n" +
                             StraightPushes(10) + Repeat("key Up", 10) +
                             "key Right\nkey Up\nkey Left\nkey Up\nkey Left\n" + StraightPushes(10) +
                             Repeat("key Up", 10) + "show\nwait 5000\nshow\n";
  const SimRun run = Run(script);
  const std::vector<std::string> shown = run.Matching(" show ");
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(Field(shown[0], "won"), 1);
  EXPECT_EQ(Field(shown[0], "score"), 0);
  EXPECT_EQ(Field(shown[0], "lives"), 3);
  ExpectInOrder(run, {
                         "100 play level1\\vict.vgz pan=0 vol=0",
                         "300 state 10",
                         "300 play game\\say_game_over.vgz pan=0 vol=0",
                         "500 state 6",
                         "500 play score\\say_final_score.vgz pan=0 vol=0",
                         "700 play score\\0.vgz pan=0 vol=0",
                         "900 play score\\say_points.vgz pan=0 vol=0",
                         "2100 state 1",
                     });
  EXPECT_EQ(Field(shown[1], "score"), 0);
  // 0 is never offered: best.dat is not written.
  EXPECT_TRUE(ReadFile(data_.Path() / "best.dat").empty());
}

TEST_F(GameOverTest, EscapeLeavesWithoutPointsOrVictory) {
  // A step first, so that the score is not still 100.
  const SimRun run = Run(StartGame(0, 0) + "key Up\nwait 50\nkey Escape\nshow\nwait 2000\n");
  const std::vector<std::string> shown = run.Matching(" show ");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(Field(shown[0], "gameState"), 10);
  EXPECT_EQ(Field(shown[0], "score"), 0);
  // The level's clips still sounding are cut at once, the background last.
  ExpectInOrder(run, {
                         "150 stop level1\\cat.vgz",
                         "150 stop level1\\search.vgz",
                         "150 stop level1\\bgrn.vgz",
                         "150 state 10",
                         "150 play game\\say_game_over.vgz pan=0 vol=0",
                         "350 state 6",
                         "550 play score\\0.vgz pan=0 vol=0",
                     });
  EXPECT_TRUE(run.Matching("vict").empty());
  EXPECT_TRUE(ReadFile(data_.Path() / "best.dat").empty());
}

TEST_F(GameOverTest, OnlyCtrlCutsTheGameOverClip) {
  TempFolder data;
  MakeGameData(data.Path(), {{"game/game_intro.vgz", 100}, {"game/say_game_over.vgz", 2000}});
  const SimRun run =
      RunSim(data.Path(), StartGame(0, 0) +
                              "key Escape\nwait 100\nkey Enter\nkey Escape\nkey Up\nkey Space\nkey Down\n"
                              "key D\nkey Y\nkey N\nshow\nwait 100\nkey Ctrl\nshow\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  const std::vector<std::string> shown = run.Matching(" show ");
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(Field(shown[0], "gameState"), 10);
  // Nothing between the clip's start and the first show.
  const int over = run.Find("100 play game\\say_game_over.vgz pan=0 vol=0");
  ASSERT_GE(over, 0) << run.Text();
  EXPECT_EQ(run.lines[static_cast<std::size_t>(over + 1)], shown[0]);
  EXPECT_EQ(run.lines[static_cast<std::size_t>(over + 2)], "300 stop game\\say_game_over.vgz");
  EXPECT_EQ(run.lines[static_cast<std::size_t>(over + 3)], "300 state 6");
  EXPECT_EQ(run.lines[static_cast<std::size_t>(over + 4)], "300 play score\\say_final_score.vgz pan=0 vol=0");
  EXPECT_EQ(Field(shown[1], "gameState"), 6);
}

TEST_F(GameOverTest, MissingGameOverClipGoesStraightToTheScore) {
  TempFolder data;
  MakeGameData(data.Path(), {{"game/game_intro.vgz", 100}}, {"game/say_game_over.vgz"});
  const SimRun run = RunSim(data.Path(), StartGame(0, 0) + "key Escape\nwait 50\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  ExpectInOrder(run, {"100 state 10", "150 state 6", "150 play score\\say_final_score.vgz pan=0 vol=0"});
}

}  // namespace
}  // namespace vesquin::testing
