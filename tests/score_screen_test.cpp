// The spoken final score and the browsable best list, word by word on the tick.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/sim_harness.h"
#include "support/test_data.h"

namespace vesquin::testing {
namespace {

std::vector<std::uint8_t> CodedRecords(const std::vector<std::string>& records) {
  constexpr int kKey[10] = {7, 19, 4, 12, 22, 9, 15, 3, 25, 11};
  std::vector<std::uint8_t> bytes;
  for (const std::string& record : records) {
    std::string padded = record;
    padded.resize(7, '\0');
    bytes.insert(bytes.end(), padded.begin(), padded.end());
  }
  for (std::size_t j = 0; j < bytes.size(); ++j)
    bytes[j] = static_cast<std::uint8_t>(bytes[j] + kKey[j % 10]);
  return bytes;
}

// The simulator in reach of the test, for a score no short game gives.
// The first menu item is named at 400; Down three times reaches the final score, four times
// the best list.
class ScoreScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeGameData(data_.Path(), {{"score/say_final_score.vgz", 300},
                                {"score/score_arrows.vgz", 600},
                                {"score/say_points.vgz", 250},
                                {"game/return_to_menu.vgz", 150}});
  }
  void PutList(const std::vector<std::string>& records) {
    WriteFile(data_.Path() / "best.dat", CodedRecords(records));
  }

  static constexpr const char* kToFinalScore = "wait 500\nkey Down\nkey Down\nkey Down\nkey Enter\n";
  static constexpr const char* kToBestList = "wait 500\nkey Down\nkey Down\nkey Down\nkey Down\nkey Enter\n";
  TempFolder data_;
};

TEST_F(ScoreScreen, FinalScoreOfZeroIsSaidWordByWordThenTheMenuComesBack) {
  const SimRun run = RunSim(data_.Path(), std::string(kToFinalScore) + "wait 3000\nshow\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  const std::vector<std::string> expected = {
      "500 state 6",
      "500 stop menu\\final_score.vgz",
      "500 " + Play("score\\say_final_score.vgz"),
      "800 " + Play("score\\0.vgz"),
      "1000 " + Play("score\\say_points.vgz"),
      // One second of silence after the word points, the whole game waiting.
      "2250 state 1",
      "2250 " + Play("menu\\final_score.vgz"),
  };
  std::vector<std::string> after = From(run.lines, "500 state 6");
  ASSERT_EQ(after.size(), expected.size() + 1) << run.Text();
  EXPECT_EQ(std::vector<std::string>(after.begin(), after.end() - 1), expected);
  EXPECT_EQ(Field(after.back(), "gameState"), 1);
  EXPECT_EQ(Field(after.back(), "ticksEnabled"), 1);  // left on; the menu ignores it
}

TEST_F(ScoreScreen, FinalScoreSaysTheLastGamesScore) {
  LiveSim live(data_.Path());
  live.Sim().RunningGame().level.score = 57;
  live.Sim().Wait(500);
  for (int i = 0; i < 3; ++i) live.Sim().Key(40);
  live.Sim().Key(13);
  live.Sim().Wait(3000);
  EXPECT_EQ(
      Untimed(From(live.Lines(), "500 state 6")),
      (std::vector<std::string>{"state 6", "stop menu\\final_score.vgz", Play("score\\say_final_score.vgz"),
                                Play("score\\50.vgz"), Play("score\\7.vgz"), Play("score\\say_points.vgz"),
                                "state 1", Play("menu\\final_score.vgz")}));
  EXPECT_EQ(From(live.Lines(), "2450 state 1").size(), 2u);
}

TEST_F(ScoreScreen, FinalScoreEndsAtOnceOnCtrlAndIgnoresEscape) {
  const SimRun run =
      RunSim(data_.Path(), std::string(kToFinalScore) +
                               "wait 350\nkey Escape\nkey Enter\nkey Up\nkey Down\nwait 50\nkey Ctrl\nshow\n"
                               "wait 2000\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  const std::vector<std::string> after = From(run.lines, "800 " + Play("score\\0.vgz"));
  ASSERT_EQ(after.size(), 5u) << run.Text();
  EXPECT_EQ(std::vector<std::string>(after.begin(), after.begin() + 4),
            (std::vector<std::string>{"800 " + Play("score\\0.vgz"), "900 stop score\\0.vgz", "900 state 1",
                                      "900 " + Play("menu\\final_score.vgz")}));
  EXPECT_EQ(Field(after[4], "ticksEnabled"), 0);
}

TEST_F(ScoreScreen, KeyPressedDuringThePauseActsOnTheMenu) {
  const SimRun run = RunSim(data_.Path(), std::string(kToFinalScore) + "wait 800\nkey Down\nwait 500\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(
      From(run.lines, "2250 state 1"),
      (std::vector<std::string>{"2250 state 1", "2250 " + Play("menu\\final_score.vgz"),
                                "2250 stop menu\\final_score.vgz", "2250 " + Play("menu\\view_top_10.vgz")}))
      << run.Text();
}

TEST_F(ScoreScreen, AnyKeyDuringTheOpeningPhraseCutsItAndSpeaksTheFirstEntry) {
  PutList({"300", "200", "100"});
  const SimRun run =
      RunSim(data_.Path(), std::string(kToBestList) + "wait 200\nkey Escape\nwait 2000\nshow\nkey Escape\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  const std::vector<std::string> expected = {
      "500 state 7",
      "500 stop menu\\view_top_10.vgz",
      "500 " + Play("score\\score_arrows.vgz"),
      "700 stop score\\score_arrows.vgz",
      "750 " + Play("score\\3.vgz"),
      "950 " + Play("score\\hundred.vgz"),
      "1150 " + Play("score\\say_points.vgz"),
  };
  std::vector<std::string> after = From(run.lines, "500 state 7");
  ASSERT_EQ(after.size(), expected.size() + 3) << run.Text();
  EXPECT_EQ(std::vector<std::string>(after.begin(), after.begin() + 7), expected);
  // The first Escape only cut the phrase; the list is still there, silent, taking no ticks.
  EXPECT_EQ(Field(after[7], "gameState"), 7);
  EXPECT_EQ(Field(after[7], "ticksEnabled"), 0);
  EXPECT_EQ(Untimed({after[8], after[9]}),
            (std::vector<std::string>{"state 1", Play("menu\\view_top_10.vgz")}));
}

TEST_F(ScoreScreen, BestListOfThreeIsBrowsedBothWaysThroughTheReturnEntry) {
  PutList({"300", "200", "100"});
  std::string script = std::string(kToBestList) + "wait 3000\n";
  for (const char* key : {"Down", "Down", "Down", "Down", "Up", "Up", "Up", "Up"})
    script += std::string("key ") + key + "\nwait 2000\n";
  script += "show\n";
  const SimRun run = RunSim(data_.Path(), script);
  ASSERT_EQ(run.status, 0) << run.errors;

  const std::vector<std::string> said = Untimed(run.Matching(" play "));
  const std::vector<std::string> heard(std::find(said.begin(), said.end(), Play("score\\score_arrows.vgz")),
                                       said.end());
  const auto entry = [](const char* hundreds) {
    return std::vector<std::string>{Play(std::string("score\\") + hundreds + ".vgz"),
                                    Play("score\\hundred.vgz"), Play("score\\say_points.vgz")};
  };
  std::vector<std::string> expected = {Play("score\\score_arrows.vgz")};
  for (const auto& part : {entry("3"),
                           entry("2"),
                           entry("1"),
                           {Play("game\\return_to_menu.vgz")},
                           entry("3"),
                           {Play("game\\return_to_menu.vgz")},
                           entry("1"),
                           entry("2"),
                           entry("3")}) {
    expected.insert(expected.end(), part.begin(), part.end());
  }
  EXPECT_EQ(heard, expected) << run.Text();
  EXPECT_EQ(Field(run.Matching(" show ").at(0), "gameState"), 7);
}

TEST_F(ScoreScreen, EnterOnTheReturnEntryGoesBackToTheMenu) {
  PutList({"300", "200", "100"});
  const SimRun run = RunSim(
      data_.Path(), std::string(kToBestList) + "wait 200\nkey Down\nkey Up\nshow\nwait 100\nkey Enter\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  // Down cut the phrase and Up went from the first entry to the return entry.
  EXPECT_EQ(
      From(run.lines, "700 stop score\\score_arrows.vgz"),
      (std::vector<std::string>{"700 stop score\\score_arrows.vgz", "700 " + Play("game\\return_to_menu.vgz"),
                                run.Matching(" show ").at(0), "800 stop game\\return_to_menu.vgz",
                                "800 state 1", "800 " + Play("menu\\view_top_10.vgz")}))
      << run.Text();
  EXPECT_EQ(Field(run.Matching(" show ").at(0), "ticksEnabled"), 0);
}

TEST_F(ScoreScreen, EnterOnAnEntryCutsOnlyTheWordSounding) {
  PutList({"300", "200", "100"});
  // The phrase ends at 1100, then three, hundred, points; Enter cuts three.
  const SimRun run =
      RunSim(data_.Path(), std::string(kToBestList) + "wait 700\nkey Enter\nwait 2000\nshow\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  const std::vector<std::string> after = From(run.lines, "1100 " + Play("score\\3.vgz"));
  ASSERT_EQ(after.size(), 5u) << run.Text();
  EXPECT_EQ(std::vector<std::string>(after.begin(), after.begin() + 4),
            (std::vector<std::string>{"1100 " + Play("score\\3.vgz"), "1200 stop score\\3.vgz",
                                      "1250 " + Play("score\\hundred.vgz"),
                                      "1450 " + Play("score\\say_points.vgz")}));
  EXPECT_EQ(Field(after[4], "gameState"), 7);
}

TEST_F(ScoreScreen, KeyPressedDuringThePauseActsOnTheListAfterwards) {
  PutList({"300", "200", "100"});
  // Entry 0 ends with points at 1750; the pause holds the game until 2750.
  const SimRun run = RunSim(data_.Path(), std::string(kToBestList) + "wait 1400\nkey Down\nwait 1000\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  const int points = run.Find("1500 " + Play("score\\say_points.vgz"));
  ASSERT_GE(points, 0) << run.Text();
  ASSERT_GT(run.lines.size(), static_cast<std::size_t>(points) + 1);
  const std::string next = run.lines[static_cast<std::size_t>(points) + 1];
  EXPECT_EQ(next.substr(next.find(' ') + 1), Play("score\\2.vgz")) << run.Text();
  const int at = std::stoi(next);
  EXPECT_GE(at, 2750);
  EXPECT_LE(at, 2800);
}

TEST_F(ScoreScreen, UnreadableListIsHeardAsZero) {
  TempFolder data;
  MakeGameData(data.Path(), {}, {}, false);
  const SimRun run = RunSim(data.Path(), std::string(kToBestList) + "wait 3000\nkey Down\nwait 500\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  const std::vector<std::string> said = Untimed(run.Matching(" play "));
  EXPECT_EQ(std::vector<std::string>(std::find(said.begin(), said.end(), Play("score\\score_arrows.vgz")),
                                     said.end()),
            (std::vector<std::string>{Play("score\\score_arrows.vgz"), Play("score\\0.vgz"),
                                      Play("score\\say_points.vgz"), Play("game\\return_to_menu.vgz")}));
  EXPECT_FALSE(std::filesystem::exists(data.Path() / "best.dat"));
}

}  // namespace
}  // namespace vesquin::testing
