// The simulator's clock: what happens to keys and ticks while the game is held.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <sstream>

#include "clip_builder.h"
#include "machine/random.h"
#include "shell/game.h"
#include "support/sim_harness.h"
#include "support/test_data.h"

namespace vesquin::testing {
namespace {

class SimClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeGameData(data_.Path(), {{"game/game_intro.vgz", 1000}, {"menu/arrows.vgz", 500}});
  }
  TempFolder data_;
};

TEST_F(SimClockTest, IntroEndsOnTheFirstTickAfterItsLength) {
  const SimRun run = RunSim(data_.Path(), "wait 1100\n");
  ASSERT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(run.lines.at(0), "0 state 0");
  EXPECT_EQ(run.lines.at(1), "0 play game\\game_intro.vgz pan=0 vol=0");
  // Playing at every time before 1000; the tick at 1000 finds it ended.
  EXPECT_EQ(run.lines.at(2), "1000 state 1");
  EXPECT_EQ(run.lines.at(3), "1000 loop menu\\bgrn.vgz pan=0 vol=0");
  EXPECT_EQ(run.lines.at(4), "1000 play menu\\arrows.vgz pan=0 vol=0");
}

// A simulation run step by step from script text, so that the machine can be looked at.
class SimSteps : public ::testing::Test {
 protected:
  void Start(const std::map<std::string, std::uint32_t>& lengths = {}) {
    MakeGameData(data_.Path(), lengths);
    SimOptions options;
    options.dataFolder = data_.Str();
    sim_ = std::make_unique<Simulation>(options, out_);
    sim_->Start();
  }
  void Run(const std::string& script) {
    std::ostringstream errors;
    ASSERT_TRUE(RunScriptOn(*sim_, script, errors)) << errors.str();
  }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream stream(out_.str());
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
  }
  // The lines after the first `from`, or the last `-from` when it is negative.
  std::vector<std::string> From(int from) const {
    const std::vector<std::string> lines = Lines();
    const std::size_t skip =
        from >= 0 ? static_cast<std::size_t>(from) : lines.size() - static_cast<std::size_t>(-from);
    return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(skip), lines.end());
  }
  bool Has(const std::string& line) const {
    const std::vector<std::string> lines = Lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  TempFolder data_;
  std::ostringstream out_;
  std::unique_ptr<Simulation> sim_;
};

using SimBlockTest = SimSteps;

TEST_F(SimBlockTest, AKeyPressedDuringTheSpeakerTestIsHandledAfterItByTheMenu) {
  // Four clips of 230 ms, each followed by 1,000 ms of silence: the test holds the game
  // from 20 to 4940.
  Start({{"TestSpk/f_left.vgz", 230},
         {"TestSpk/f_right.vgz", 230},
         {"TestSpk/f_left1.vgz", 230},
         {"TestSpk/f_right1.vgz", 230}});
  Run("key Ctrl\nkey Down\nkey Down\nwait 20\nkey Enter\n"
      "wait 1000\nkey Down\nkey Up\nkey Down\n");
  const std::vector<std::string> lines = Lines();
  const auto end = std::find(lines.begin(), lines.end(), "4940 state 1");
  ASSERT_NE(end, lines.end()) << out_.str();
  EXPECT_TRUE(Has("20 state 4"));
  EXPECT_TRUE(Has("3710 play TestSpk\\f_right1.vgz pan=0 vol=0"));
  // The keys come in script order after the block, in the menu (state 4 would ignore them).
  EXPECT_EQ(std::vector<std::string>(end, lines.end()),
            (std::vector<std::string>{
                "4940 state 1", "4940 play menu\\test_speakers.vgz pan=0 vol=0",
                "4940 stop menu\\test_speakers.vgz", "4940 play menu\\learn_game_sounds.vgz pan=0 vol=0",
                "4940 stop menu\\learn_game_sounds.vgz", "4940 play menu\\test_speakers.vgz pan=0 vol=0",
                "4940 stop menu\\test_speakers.vgz", "4940 play menu\\learn_game_sounds.vgz pan=0 vol=0"}));
  EXPECT_EQ(sim_->RunningGame().menu.menuIndex, 5);
  // The timer events that fell due meanwhile come as one, right after the block, and then
  // the timer is back on its grid.
  EXPECT_TRUE(sim_->TimerEvents().empty());
  Run("wait 3920\nwait 110\n");
  EXPECT_EQ(sim_->TimerEvents(), (std::vector<std::uint64_t>{4940, 4950, 5000, 5050}));
}

TEST_F(SimBlockTest, AClipPlayedToItsEndHoldsTheGameForExactlyItsLength) {
  SKIP_UNLESS_RATES_CONVERT();
  // Lengths that are no whole number of milliseconds (22,050 Hz): 300.091, 400.908, 500.681
  // and 600.908 ms. Rounding each block up would put every later time a little later.
  Start();
  const std::pair<const char*, std::size_t> clips[] = {
      {"f_left.vgz", 6'617}, {"f_right.vgz", 8'840}, {"f_left1.vgz", 11'040}, {"f_right1.vgz", 13'250}};
  for (const auto& [name, frames] : clips) {
    std::vector<std::uint8_t> file =
        testclips::WaveBytes(1, 22'050, 16, std::vector<std::int16_t>(frames, 500));
    ReverseClipHeader(file);
    WriteFile(data_.Path() / "TestSpk" / name, file);
  }
  Run("key Ctrl\nkey Down\nkey Down\nwait 20\nkey Enter\nwait 6000\n");
  for (const char* line : {"20 place TestSpk\\f_left.vgz x=-1 y=0 z=5 min=10",
                           "1320 place TestSpk\\f_right.vgz x=1 y=0 z=5 min=10",
                           "2720 place TestSpk\\f_left1.vgz x=-8 y=0 z=-5 min=10",
                           "4221 place TestSpk\\f_right1.vgz x=8 y=0 z=-5 min=10", "5822 state 1"}) {
    EXPECT_TRUE(Has(line)) << line << "\n" << out_.str();
  }
}

// The best list speaks its one entry and then pauses 1,000 ms inside a tick: from 600 to 1600.
constexpr const char* kBestListPause =
    "key Ctrl\nkey Down\nkey Down\nkey Down\nkey Down\nkey Down\nkey Enter\n";

TEST_F(SimBlockTest, KeysQueuedDuringABlockComeBeforeTheMergedTick) {
  Start();
  Run(std::string(kBestListPause) + "wait 1000\nkey Space\nwait 1000\n");
  ASSERT_TRUE(Has("400 play score\\say_points.vgz pan=0 vol=0")) << out_.str();
  // Space speaks the entry again and turns ticks on; the merged tick at once starts its word.
  EXPECT_TRUE(Has("1600 play score\\0.vgz pan=0 vol=0")) << out_.str();
  const std::vector<std::uint64_t>& ticks = sim_->TimerEvents();
  ASSERT_GE(ticks.size(), 14u);
  EXPECT_EQ(std::vector<std::uint64_t>(ticks.begin() + 10, ticks.begin() + 14),
            (std::vector<std::uint64_t>{550, 600, 1600, 1650}));
}

TEST_F(SimBlockTest, AKeyAtTheEndOfABlockComesAfterTheMergedTick) {
  Start();
  Run(std::string(kBestListPause) + "wait 1600\nkey Space\nwait 1000\n");
  // The merged tick found the entry said and turned ticks off; Space turned them on again,
  // and the next tick on the grid starts the word.
  EXPECT_FALSE(Has("1600 play score\\0.vgz pan=0 vol=0")) << out_.str();
  EXPECT_TRUE(Has("1650 play score\\0.vgz pan=0 vol=0")) << out_.str();
}

TEST_F(SimBlockTest, AKeyComesAfterTheTimerEventsDueAtItsTime) {
  Start({{"game/game_intro.vgz", 1000}});
  Run("wait 1000\nkey Down\n");
  // The tick at 1000 ends the intro first, so Down reaches the menu.
  EXPECT_EQ(From(2),
            (std::vector<std::string>{"1000 state 1", "1000 loop menu\\bgrn.vgz pan=0 vol=0",
                                      "1000 play menu\\arrows.vgz pan=0 vol=0", "1000 stop menu\\arrows.vgz",
                                      "1000 play menu\\start_game.vgz pan=0 vol=0"}));
}

TEST_F(SimBlockTest, ShowAndPlaceLinesHaveTheirFormat) {
  Start();
  Run("show\n");
  EXPECT_EQ(Lines().back(),
            "0 show gameState=0 ticksEnabled=1 menuIndex=0 score=0 lives=0 won=0 heading=0 chaserNorth=0 "
            "chaserEast=0 quarryNorth=0 quarryEast=0");
  Sound& sound = sim_->RunningGame().sound;
  SoundClip clip = sound.LoadClip("TestSpk\\f_left.vgz");  // the line comes whatever the clip
  sound.PlaceClip(clip, -0.5f, 1.25f, 1000.0f / 3.0f, 10.0f);
  sound.PlaceClip(clip, -0.0001f, 2.0005f, -7.12f, 0.0f);
  EXPECT_EQ(From(-2), (std::vector<std::string>{"0 place TestSpk\\f_left.vgz x=-0.5 y=1.25 z=333.333 min=10",
                                                "0 place TestSpk\\f_left.vgz x=0 y=2 z=-7.12 min=0"}));
}

class SimScriptTest : public SimSteps {};

TEST_F(SimScriptTest, BadLinesAreNamedAndNothingRuns) {
  MakeGameData(data_.Path());
  for (const char* bad :
       {"wait", "wait -5", "wait 5 6", "wait x", "key", "key Foo", "key 256", "key -1", "keyup Shift",
        "close now", "show all", "rand", "rand 32768", "rand 1 x", "reply", "jump 5"}) {
    SCOPED_TRACE(bad);
    const SimRun run = RunSim(data_.Path(), std::string("# a comment\n\nwait 10\n") + bad + "\nwait 10\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.errors.find("line 4"), std::string::npos) << run.errors;
    EXPECT_TRUE(run.lines.empty());
  }
}

TEST_F(SimScriptTest, KeyNamesIgnoreCaseAndCodesAreDecimal) {
  MakeGameData(data_.Path());
  const SimRun named =
      RunSim(data_.Path(), "key CTRL\nkey down\nKey DOWN\nkey Down\nkey Enter\nkey escape\nkey ESCAPE\n");
  const SimRun coded =
      RunSim(data_.Path(), "  key 17\r\nkey 40\n\t\nkey 40\nkey 40\nkey 13\nkey 27\nkey 27\n");
  ASSERT_EQ(named.status, 0) << named.errors;
  ASSERT_EQ(coded.status, 0) << coded.errors;
  EXPECT_EQ(named.lines, coded.lines);
  EXPECT_TRUE(named.Has("0 state 5"));  // the learning screen, left with Escape
  EXPECT_TRUE(named.Has("200 close"));  // and Escape in the menu quits after the exit clip
}

TEST_F(SimScriptTest, RepliesAreQueuedForTheNextRequests) {
  Start();
  Run("reply 1\\n2  x \nreply -\nreply fail\nreply fail me\n");
  Http& http = sim_->MachineServices().http;
  const std::optional<HttpReply> first = http.Get("http://a/1");
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->body, "1\n2  x ");  // the rest of the line, spaces kept
  const std::optional<HttpReply> second = http.Get("http://a/2");
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(second->body, "");
  EXPECT_FALSE(http.Get("http://a/3").has_value());
  const std::optional<HttpReply> fourth = http.Get("http://a/4");
  ASSERT_TRUE(fourth.has_value());
  EXPECT_EQ(fourth->body, "fail me");
  EXPECT_FALSE(http.Get("http://a/5").has_value());  // nothing queued: no connection
  EXPECT_EQ(From(-5), (std::vector<std::string>{"0 get http://a/1", "0 get http://a/2", "0 get http://a/3",
                                                "0 get http://a/4", "0 get http://a/5"}));
}

TEST_F(SimScriptTest, ForcedDrawsComeFirstAndThenTheSeededSequenceGoesOn) {
  Start();
  Run("rand 5 32767 0\n");
  Random& random = sim_->MachineServices().random;
  EXPECT_EQ(random.Next(), 5);
  EXPECT_EQ(random.Next(), 32767);
  EXPECT_EQ(random.Next(), 0);
  StandardRandom seeded;
  seeded.Seed(1);
  EXPECT_EQ(random.Next(), seeded.Next());
  EXPECT_EQ(random.Next(), seeded.Next());
}

}  // namespace
}  // namespace vesquin::testing
