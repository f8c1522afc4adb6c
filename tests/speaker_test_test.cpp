// The speaker test: four placed clips, each to its end and then a second of silence, the
// game held throughout; keys wait for the menu.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "shell/game.h"
#include "support/sim_harness.h"
#include "support/test_data.h"

namespace vesquin::testing {
namespace {

bool NoTestClips(Game& game) {
  const auto& clips = game.speakerTest.speakerTestClips;
  return std::none_of(clips.begin(), clips.end(), [](const SoundClip& c) { return bool(c); });
}

// The first menu item is named at 400; Down once reaches the speaker test.
class SpeakerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeGameData(data_.Path(), {{"TestSpk/f_left.vgz", 300},
                                {"TestSpk/f_right.vgz", 400},
                                {"TestSpk/f_left1.vgz", 500},
                                {"TestSpk/f_right1.vgz", 600}});
  }
  static constexpr const char* kStart = "wait 500\nkey Down\nkey Enter\n";
  // Started at 500: each clip to its end, then a second.
  static inline const std::vector<std::string> kHeard = {
      "500 state 4",
      "500 stop menu\\test_speakers.vgz",
      "500 place TestSpk\\f_left.vgz x=-1 y=0 z=5 min=10",
      "500 " + Play("TestSpk\\f_left.vgz"),
      "1800 place TestSpk\\f_right.vgz x=1 y=0 z=5 min=10",
      "1800 " + Play("TestSpk\\f_right.vgz"),
      "3200 place TestSpk\\f_left1.vgz x=-8 y=0 z=-5 min=10",
      "3200 " + Play("TestSpk\\f_left1.vgz"),
      "4700 place TestSpk\\f_right1.vgz x=8 y=0 z=-5 min=10",
      "4700 " + Play("TestSpk\\f_right1.vgz"),
      "6300 state 1",
      "6300 " + Play("menu\\test_speakers.vgz"),
  };
  TempFolder data_;
};

// Opening the head-related filters takes the mixer about a second, once per simulator: the
// cases share as few simulators as they can.
TEST_F(SpeakerTest, FourPlacesInOrderEachFollowedByASecondThenKeysPressedMeanwhile) {
  // Escape included: state 4 ignores keys, and these arrive only once the menu is back.
  const SimRun run =
      RunSim(data_.Path(), std::string(kStart) + "wait 100\nkey Down\nwait 3000\nkey Down\nwait 5000\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  std::vector<std::string> expected = kHeard;
  for (const char* line :
       {"6300 stop menu\\test_speakers.vgz", "6300 play menu\\learn_game_sounds.vgz pan=0 vol=0",
        "6300 stop menu\\learn_game_sounds.vgz", "6300 play menu\\final_score.vgz pan=0 vol=0"}) {
    expected.push_back(line);
  }
  EXPECT_EQ(From(run.lines, "500 state 4"), expected) << run.Text();
}

TEST_F(SpeakerTest, ClipsAreReleasedAfterEveryRunAndABadClipEndsItSilently) {
  LiveSim live(data_.Path());
  live.Sim().Wait(500);
  live.Sim().Key(40);
  for (int run = 0; run < 2; ++run) {
    live.Sim().Key(13);
    EXPECT_EQ(live.RunningGame().gameState, 1);
    EXPECT_TRUE(NoTestClips(live.RunningGame())) << "run " << run;
  }
  std::vector<std::string> lines = live.Lines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.find(" place ") != std::string::npos; }),
            8);

  // A stereo clip cannot be placed; a missing one cannot be loaded. Either way the test stops
  // before a sound, releases what it had loaded, and the menu stays silent in control.
  WriteFile(data_.Path() / "TestSpk" / "f_right1.vgz", MakeClipFile(300, 2));
  const std::uint64_t stereoAt = live.Sim().Now();
  live.Sim().Key(13);
  EXPECT_TRUE(NoTestClips(live.RunningGame()));
  std::filesystem::remove(data_.Path() / "TestSpk" / "f_left1.vgz");
  live.Sim().Key(13);
  EXPECT_TRUE(NoTestClips(live.RunningGame()));
  EXPECT_EQ(live.Sim().Now(), stereoAt);
  live.Sim().Key(40);
  const std::string t = std::to_string(stereoAt) + " ";
  lines = live.Lines();
  EXPECT_EQ(std::vector<std::string>(lines.end() - 7, lines.end()),
            (std::vector<std::string>{t + Play("menu\\test_speakers.vgz"), t + "state 4",
                                      t + "stop menu\\test_speakers.vgz", t + "state 1", t + "state 4",
                                      t + "state 1", t + Play("menu\\learn_game_sounds.vgz")}));
}

}  // namespace
}  // namespace vesquin::testing
