// The sound-learning screen: a ring of five items, each game sound heard on Enter, and its
// clips held only while it is current.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "shell/game.h"
#include "support/sim_harness.h"
#include "support/test_data.h"

namespace vesquin::testing {
namespace {

bool NoLearnClips(Game& game) {
  return std::none_of(game.learn.learnClips.begin(), game.learn.learnClips.end(),
                      [](const SoundClip& c) { return bool(c); });
}

// The first menu item is named at 400; Down twice reaches the learning screen.
class LearnSounds : public ::testing::Test {
 protected:
  void SetUp() override { MakeGameData(data_.Path(), {{"learn/1.vgz", 300}}); }
  static constexpr const char* kEnter = "wait 500\nkey Down\nkey Down\nkey Enter\n";
  TempFolder data_;
};

TEST_F(LearnSounds, EntryNamesTheFirstItemAndEnterPlaysItsSound) {
  const SimRun run = RunSim(data_.Path(), std::string(kEnter) + "wait 100\nkey Enter\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(From(run.lines, "500 state 5"),
            (std::vector<std::string>{"500 state 5", "500 stop menu\\learn_game_sounds.vgz",
                                      "500 " + Play("learn\\1.vgz"), "600 stop learn\\1.vgz",
                                      "600 " + Play("Level1\\cat.vgz")}))
      << run.Text();
}

TEST_F(LearnSounds, ItemsFormARingOfFive) {
  std::string script = std::string(kEnter) + "wait 400\n";
  for (int i = 0; i < 4; ++i) script += "key Enter\nwait 300\nkey Down\nwait 300\n";
  script += "key Down\nwait 300\nkey Up\nwait 300\nkey Up\nwait 300\nshow\n";
  const SimRun run = RunSim(data_.Path(), script);
  ASSERT_EQ(run.status, 0) << run.errors;
  const std::vector<std::string> plays = Untimed(run.Matching(" play "));
  const std::vector<std::string> heard(std::find(plays.begin(), plays.end(), Play("learn\\1.vgz")),
                                       plays.end());
  EXPECT_EQ(heard,
            (std::vector<std::string>{Play("learn\\1.vgz"), Play("Level1\\cat.vgz"), Play("learn\\2.vgz"),
                                      Play("Level1\\search.vgz"), Play("learn\\3.vgz"),
                                      Play("Level1\\dog.vgz"), Play("learn\\4.vgz"), Play("Level1\\vict.vgz"),
                                      Play("game\\return_to_menu.vgz"),  // item 4
                                      Play("learn\\1.vgz"),              // Down from item 4
                                      Play("game\\return_to_menu.vgz"),  // Up from item 0
                                      Play("learn\\4.vgz")}));
  EXPECT_NE(run.Matching(" show ").at(0).find("gameState=5"), std::string::npos);
}

TEST_F(LearnSounds, EnterOnTheLastItemAndEscapeReleaseTheClipsAndReturn) {
  for (const bool escape : {false, true}) {
    LiveSim live(data_.Path());
    live.Sim().Wait(500);
    live.Sim().Key(40);
    live.Sim().Key(40);
    live.Sim().Key(13);
    ASSERT_EQ(live.RunningGame().gameState, 5);
    if (escape) {
      live.Sim().Key(38);
      live.Sim().Key(38);  // item 3, its prompt still sounding
      live.Sim().Key(27);
    } else {
      live.Sim().Key(38);
      live.Sim().Wait(300);
      live.Sim().Key(13);
    }
    EXPECT_TRUE(NoLearnClips(live.RunningGame()));
    const std::vector<std::string> lines = live.Lines();
    const std::vector<std::string> tail(lines.end() - 3, lines.end());
    EXPECT_EQ(Untimed(tail),
              (std::vector<std::string>{escape ? "stop learn\\4.vgz" : Play("game\\return_to_menu.vgz"),
                                        "state 1", Play("menu\\learn_game_sounds.vgz")}))
        << (escape ? "Escape" : "Enter");
    // The background went on under the screen.
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.find("menu\\bgrn") != std::string::npos; }),
              1);

    // Entered again, it loads its clips afresh.
    live.Sim().Key(13);
    EXPECT_EQ(live.RunningGame().gameState, 5);
    EXPECT_EQ(Untimed({live.Lines().back()}), std::vector<std::string>{Play("learn\\1.vgz")});
  }
}

TEST_F(LearnSounds, OtherKeysDoNothing) {
  const SimRun run = RunSim(
      data_.Path(), std::string(kEnter) +
                        "wait 400\nkey Left\nkey Right\nkey Ctrl\nkey Space\nkey D\nkey Y\nkey 65\nshow\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  const std::vector<std::string> after = From(run.lines, "500 " + Play("learn\\1.vgz"));
  ASSERT_EQ(after.size(), 2u) << run.Text();
  EXPECT_NE(after[1].find("gameState=5"), std::string::npos);
}

TEST_F(LearnSounds, MissingClipLeavesTheMenuInControlSilently) {
  TempFolder data;
  MakeGameData(data.Path(), {}, {"level1/vict.vgz"});
  LiveSim live(data.Path());
  live.Sim().Wait(500);
  live.Sim().Key(40);
  live.Sim().Key(40);
  live.Sim().Key(13);
  EXPECT_TRUE(NoLearnClips(live.RunningGame()));
  live.Sim().Key(40);
  EXPECT_EQ(From(live.Lines(), "500 state 5"),
            (std::vector<std::string>{"500 state 5", "500 stop menu\\learn_game_sounds.vgz", "500 state 1",
                                      "500 " + Play("menu\\final_score.vgz")}));
}

}  // namespace
}  // namespace vesquin::testing
