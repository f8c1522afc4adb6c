// The main menu as the player hears it: the opening prompt, the ring of items, Enter's
// hand-overs, the way back from other screens and the way out of the program.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sim_harness.h"
#include "support/test_data.h"

namespace vesquin::testing {
namespace {

// The menu's first item is named at 1500: the intro lasts 1000 ms, the opening prompt 500 ms.
class MainMenu : public ::testing::Test {
 protected:
  void SetUp() override { MakeGameData(data_.Path(), kLengths); }

  static inline const std::map<std::string, std::uint32_t> kLengths = {{"game/game_intro.vgz", 1000},
                                                                       {"menu/arrows.vgz", 500},
                                                                       {"game/exit_game.vgz", 300},
                                                                       {"game/not_enough.vgz", 400}};
  TempFolder data_;
};

// The lines from the first one equal to `from` to the end.
std::vector<std::string> From(const SimRun& run, const std::string& from) {
  const int at = run.Find(from);
  if (at < 0) return {};
  return {run.lines.begin() + at, run.lines.end()};
}

TEST_F(MainMenu, OpeningPromptThenTheFirstItemByItself) {
  const SimRun run = RunSim(data_.Path(), "wait 3000\nshow\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  ASSERT_EQ(run.lines.size(), 7u) << run.Text();
  EXPECT_EQ(run.lines[2], "1000 state 1");
  EXPECT_EQ(run.lines[3], "1000 loop menu\\bgrn.vgz pan=0 vol=0");
  EXPECT_EQ(run.lines[4], "1000 " + Play("menu\\arrows.vgz"));
  EXPECT_EQ(run.lines[5], "1500 " + Play("menu\\start_game.vgz"));
  // Named once; the menu takes no more ticks.
  EXPECT_EQ(Field(run.lines[6], "gameState"), 1);
  EXPECT_EQ(Field(run.lines[6], "ticksEnabled"), 0);
  EXPECT_EQ(Field(run.lines[6], "menuIndex"), 1);
}

TEST_F(MainMenu, UpAndDownGoRoundTheRingOfSevenItems) {
  std::string script = "wait 1600\n";
  for (int i = 0; i < 8; ++i) script += "key Down\nshow\n";
  for (int i = 0; i < 8; ++i) script += "key Up\nshow\n";
  const SimRun run = RunSim(data_.Path(), script);
  ASSERT_EQ(run.status, 0) << run.errors;

  std::vector<int> indices;
  for (const std::string& line : run.Matching(" show ")) indices.push_back(Field(line, "menuIndex"));
  // Slots 2 and 3 are never current.
  EXPECT_EQ(indices, (std::vector<int>{4, 5, 6, 7, 8, 9, 1, 4, 1, 9, 8, 7, 6, 5, 4, 1}));

  const std::vector<std::string> named = Untimed(run.Matching(" play menu\\"));
  const std::vector<std::string> expected = {
      Play("menu\\arrows.vgz"),        Play("menu\\start_game.vgz"),
      Play("menu\\test_speakers.vgz"), Play("menu\\learn_game_sounds.vgz"),
      Play("menu\\final_score.vgz"),   Play("menu\\view_top_10.vgz"),
      Play("menu\\send_score.vgz"),    Play("menu\\quit.vgz"),
      Play("menu\\start_game.vgz"),    Play("menu\\test_speakers.vgz"),
      Play("menu\\start_game.vgz"),    Play("menu\\quit.vgz"),
      Play("menu\\send_score.vgz"),    Play("menu\\view_top_10.vgz"),
      Play("menu\\final_score.vgz"),   Play("menu\\learn_game_sounds.vgz"),
      Play("menu\\test_speakers.vgz"), Play("menu\\start_game.vgz")};
  EXPECT_EQ(named, expected);
  // Each move cuts the item before it; the background loops on, started once.
  EXPECT_EQ(run.Matching("1600 stop menu\\").size(), 16u) << run.Text();
  EXPECT_TRUE(run.Matching("stop menu\\bgrn.vgz").empty());
  EXPECT_EQ(run.Matching("loop menu\\bgrn.vgz").size(), 1u);
}

TEST_F(MainMenu, UpOrDownDuringThePromptCutsItAndNamesTheFirstItem) {
  for (const char* key : {"Down", "Up"}) {
    const SimRun run = RunSim(data_.Path(), std::string("wait 1200\nkey ") + key + "\nshow\nwait 1000\n");
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(From(run, "1200 stop menu\\arrows.vgz"),
              (std::vector<std::string>{"1200 stop menu\\arrows.vgz", "1200 " + Play("menu\\start_game.vgz"),
                                        run.Matching(" show ").at(0)}))
        << key << "\n"
        << run.Text();
    EXPECT_EQ(Field(run.Matching(" show ").at(0), "menuIndex"), 1) << key;
  }
}

TEST_F(MainMenu, EnterDuringThePromptStartsTheGame) {
  const SimRun run = RunSim(data_.Path(), "wait 1200\nkey Enter\nshow\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  const std::vector<std::string> after = From(run, "1200 stop menu\\arrows.vgz");
  ASSERT_GE(after.size(), 4u) << run.Text();
  EXPECT_EQ(after[1], "1200 stop menu\\bgrn.vgz");
  EXPECT_EQ(after[2], "1200 state 100");
  EXPECT_EQ(after[3], "1200 loop level1\\bgrn.vgz pan=0 vol=0");
  EXPECT_EQ(Field(run.Matching(" show ").at(0), "gameState"), 100);
  EXPECT_EQ(Field(run.Matching(" show ").at(0), "score"), 100);
}

TEST_F(MainMenu, EscapePlaysTheExitClipToItsEndThenCloses) {
  // The key pressed while the exit clip plays is never handled.
  const SimRun run = RunSim(data_.Path(), "wait 2000\nkey Escape\nwait 100\nkey Down\nwait 1000\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(From(run, "2000 stop menu\\bgrn.vgz"),
            (std::vector<std::string>{"2000 stop menu\\bgrn.vgz", "2000 " + Play("game\\exit_game.vgz"),
                                      "2300 close"}))
      << run.Text();
}

TEST_F(MainMenu, QuitItemPlaysTheExitClipToItsEndThenCloses) {
  const SimRun run = RunSim(data_.Path(), "wait 1600\nkey Up\nkey Enter\nwait 1000\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(From(run, "1600 " + Play("menu\\quit.vgz")),
            (std::vector<std::string>{"1600 " + Play("menu\\quit.vgz"), "1600 stop menu\\quit.vgz",
                                      "1600 stop menu\\bgrn.vgz", "1600 " + Play("game\\exit_game.vgz"),
                                      "1900 close"}))
      << run.Text();
}

TEST_F(MainMenu, MissingExitClipClosesAtOnce) {
  TempFolder data;
  MakeGameData(data.Path(), kLengths, {"game/exit_game.vgz"});
  const SimRun run = RunSim(data.Path(), "wait 2000\nkey Escape\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(From(run, "2000 stop menu\\bgrn.vgz"),
            (std::vector<std::string>{"2000 stop menu\\bgrn.vgz", "2000 close"}));
}

TEST_F(MainMenu, ArrowsAcrossCtrlAndLettersDoNothing) {
  const SimRun run = RunSim(data_.Path(),
                            "wait 1600\nkey Left\nkey Right\nkey Ctrl\nkey Space\nkey D\nkey N\nkey Y\n"
                            "key 65\nkey 112\nwait 100\nshow\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  const std::vector<std::string> after = From(run, "1500 " + Play("menu\\start_game.vgz"));
  ASSERT_EQ(after.size(), 2u) << run.Text();
  EXPECT_EQ(Field(after[1], "gameState"), 1);
  EXPECT_EQ(Field(after[1], "menuIndex"), 1);
}

TEST_F(MainMenu, FailedLevelStartRestoresTheLoopAndRepeatsTheItem) {
  TempFolder data;
  MakeGameData(data.Path(), kLengths, {"level1/dog.vgz"});
  const SimRun run = RunSim(data.Path(), "wait 1600\nkey Enter\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(From(run, "1600 stop menu\\bgrn.vgz"),
            (std::vector<std::string>{"1600 stop menu\\bgrn.vgz", "1600 state 100", "1600 state 1",
                                      "1600 loop menu\\bgrn.vgz pan=0 vol=0",
                                      "1600 " + Play("menu\\start_game.vgz")}))
      << run.Text();
}

TEST_F(MainMenu, AfterAGameTheLoopComesBackWithTheSameItem) {
  const SimRun run = RunSim(data_.Path(), "wait 1600\nkey Enter\nkey Escape\nwait 3000\nshow\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  const std::vector<std::string> states = Untimed(run.Matching(" state "));
  EXPECT_EQ(states,
            (std::vector<std::string>{"state 0", "state 1", "state 100", "state 10", "state 6", "state 1"}));
  const std::size_t n = run.lines.size();
  ASSERT_GE(n, 4u);
  EXPECT_EQ(
      Untimed({run.lines[n - 4], run.lines[n - 3], run.lines[n - 2]}),
      (std::vector<std::string>{"state 1", "loop menu\\bgrn.vgz pan=0 vol=0", Play("menu\\start_game.vgz")}))
      << run.Text();
  EXPECT_EQ(Field(run.lines[n - 1], "menuIndex"), 1);
}

TEST_F(MainMenu, SendingAScoreOfZeroSaysNotEnoughAndStays) {
  // Down five times reaches the send item; the Down pressed during the answer moves on after it.
  const SimRun run = RunSim(
      data_.Path(),
      "wait 1600\nkey Down\nkey Down\nkey Down\nkey Down\nkey Down\nkey Enter\nwait 100\nkey Down\nshow\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(From(run, "1600 " + Play("menu\\send_score.vgz")),
            (std::vector<std::string>{"1600 " + Play("menu\\send_score.vgz"),
                                      "1600 " + Play("game\\not_enough.vgz"),
                                      "2000 " + Play("menu\\quit.vgz"), run.Matching(" show ").at(0)}))
      << run.Text();
  EXPECT_EQ(Field(run.Matching(" show ").at(0), "gameState"), 1);
  EXPECT_EQ(Field(run.Matching(" show ").at(0), "menuIndex"), 9);
}

}  // namespace
}  // namespace vesquin::testing
