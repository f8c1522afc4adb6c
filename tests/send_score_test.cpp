// Sending a score: the prompt, the two requests with the pause between them, the reply spoken
// as a place, and the way back to the menu, all through the simulator.

#include "scores/send_score.h"

#include "scores/score_server.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "shell/game.h"
#include "sim/simulation.h"
#include "support/sim_harness.h"
#include "support/test_data.h"

namespace vesquin::testing {
namespace {

const std::string kServer = ScoreServerOrigin() + "/vesquin/";

// A won game: the quarry starts at north 14, east 14 (rand 4 4); the chaser walks to it and
// pushes it north ten times, each push drifting it one cell east (rand 2), into the corner at
// 24, 24. 33 steps leave a score of 67. The game, its score and the return to the menu are
// over by 2,700 ms with the test data's clips.
std::string WinGame() {
  std::string script =
      "wait 500\nrand 4 4 2 2 2 2 2 2 2 2 2 2\nkey Enter\nkey Right\nkey Up\nkey Up\nkey Left\n";
  for (int i = 0; i < 13; ++i) script += "key Up\n";
  for (int i = 0; i < 9; ++i) script += "key Right\nkey Up\nkey Left\nkey Up\n";
  return script;
}

constexpr int kScore = 67;
const std::string kDownToSendItem = "key Down\nkey Down\nkey Down\nkey Down\nkey Down\n";

// After the game, at 10,000 ms, the menu stands on the send-score item.
std::string ToSendItem() { return WinGame() + "wait 9500\n" + kDownToSendItem; }

// The prompt is entered at 10,000 ms and Y pressed at 10,300, while the prompt still plays.
std::string SendWith(const std::string& replies) {
  return ToSendItem() + replies + "key Enter\nwait 300\nkey Y\n";
}

std::string Request(const std::string& script, const std::string& query) {
  return kServer + script + "?" + query + "&score=" + std::to_string(kScore);
}

const std::string kPlainQuery = "first_name=Ann&last_name=Lee&addr=Street&country=Norway";

// The transcript from the first request on.
std::vector<std::string> FromFirstRequest(const SimRun& run) {
  std::vector<std::string> tail;
  bool seen = false;
  for (const std::string& line : run.lines) {
    seen = seen || line.find(" get ") != std::string::npos;
    if (seen) tail.push_back(line);
  }
  return tail;
}

class SendScoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeGameData(data_.Path(), {{"game/check_connected.vgz", 2000},
                                {"game/sending_score.vgz", 1000},
                                {"game/made_it.vgz", 300},
                                {"game/not_enough.vgz", 400},
                                {"game/say_config_first.vgz", 500}});
    WriteConfig("Ann\nLee\nStreet\nNorway\n");
  }
  void WriteConfig(const std::string& text) {
    WriteFile(data_.Path() / "config.dat", std::vector<std::uint8_t>(text.begin(), text.end()));
  }
  SimRun Run(const std::string& script) {
    SimRun run = RunSim(data_.Path(), script);
    EXPECT_EQ(run.status, 0) << run.errors;
    return run;
  }
  TempFolder data_;
};

TEST(ScoreServerSetting, NamesItsSchemeOrMeansPlainHttpAndRefusesAnythingElse) {
  static_assert(ParseScoreServer("localhost:8480")->origin.empty(), "the old form has no scheme");
  auto tls = ParseScoreServer("https://scores.example.org");
  ASSERT_TRUE(tls);
  EXPECT_TRUE(tls->tls);
  EXPECT_EQ(tls->origin, "https://scores.example.org");
  for (const char* good :
       {"scores.example.org", "http://127.0.0.1:8480", "https://[::1]:8443", "page-origin"})
    EXPECT_TRUE(ParseScoreServer(good)) << good;
  for (const char* bad : {"", "ftp://host", "https://", "host:0", "host:65536", "host:", "host/path",
                          "https://user@host", "[::1", "https://host:08", "-host", "host name"})
    EXPECT_FALSE(ParseScoreServer(bad)) << bad;
  EXPECT_EQ(kServer.substr(0, 7) == "http://" || kServer.substr(0, 8) == "https://", true);
}

TEST_F(SendScoreTest, TheGameBeforeLeavesTheMenuOnTheSendItemWithAScore) {
  const SimRun run = Run(ToSendItem() + "show\n");
  EXPECT_TRUE(
      run.Has("10000 show gameState=1 ticksEnabled=1 menuIndex=8 score=67 lives=3 won=1 heading=0 "
              "chaserNorth=23 chaserEast=23 quarryNorth=24 quarryEast=24"))
      << run.Text();
}

TEST_F(SendScoreTest, AConfirmedSendPlaysTheClipThenRequestsWaitsSixSecondsAndSpeaksThePlace) {
  const SimRun run = Run(SendWith("reply ok\nreply 3\n"));
  const int entered = run.Find("10000 state 8");
  ASSERT_GE(entered, 0) << run.Text();
  const std::vector<std::string> expected = {
      "10000 state 8",
      "10000 stop menu\\send_score.vgz",
      "10000 play game\\check_connected.vgz pan=0 vol=0",
      "10300 stop game\\check_connected.vgz",
      "10300 play game\\sending_score.vgz pan=0 vol=0",
      "11300 get " + Request("top1.php", kPlainQuery),
      "17300 get " + Request("top2.php", kPlainQuery),
      "17300 play game\\made_it.vgz pan=0 vol=0",
      "17600 play score\\3.vgz pan=0 vol=0",
      "17800 state 1",
      "17800 play menu\\send_score.vgz pan=0 vol=0",
  };
  EXPECT_EQ(std::vector<std::string>(run.lines.begin() + entered, run.lines.end()), expected);
}

struct ReplyCase {
  const char* script;               // the reply line for the second request
  std::vector<std::string> spoken;  // lines after the second request, before the menu
  int menuAt;
};

void PrintTo(const ReplyCase& c, std::ostream* out) { *out << '"' << c.script << '"'; }

class SendScoreReplyTest : public SendScoreTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(SendScoreReplyTest, TheSecondReplyIsSpokenAsAPlace) {
  const ReplyCase& c = GetParam();
  const SimRun run = Run(SendWith(std::string("reply -\n") + c.script + "\n"));
  std::vector<std::string> expected = {"11300 get " + Request("top1.php", kPlainQuery),
                                       "17300 get " + Request("top2.php", kPlainQuery)};
  expected.insert(expected.end(), c.spoken.begin(), c.spoken.end());
  expected.push_back(std::to_string(c.menuAt) + " state 1");
  expected.push_back(std::to_string(c.menuAt) + " play menu\\send_score.vgz pan=0 vol=0");
  EXPECT_EQ(FromFirstRequest(run), expected) << c.script;
}

std::vector<std::string> Place(int place) {
  return {"17300 play game\\made_it.vgz pan=0 vol=0",
          "17600 play score\\" + std::to_string(place) + ".vgz pan=0 vol=0"};
}
const std::vector<std::string> kNothing;
const std::vector<std::string> kNotEnough = {"17300 play game\\not_enough.vgz pan=0 vol=0"};

INSTANTIATE_TEST_SUITE_P(
    Replies, SendScoreReplyTest,
    ::testing::Values(ReplyCase{"reply 1", Place(1), 17800}, ReplyCase{"reply 10", Place(10), 17800},
                      ReplyCase{"reply 1\\n", Place(10), 17800}, ReplyCase{"reply 2", Place(2), 17800},
                      ReplyCase{"reply 7 and text", Place(7), 17800},
                      ReplyCase{"reply 9\\n", Place(9), 17800}, ReplyCase{"reply 0", kNothing, 17300},
                      ReplyCase{"reply -", kNotEnough, 17700},
                      ReplyCase{"reply <html><body>Server error</body></html>", kNothing, 17300},
                      ReplyCase{"reply  1", kNothing, 17300}, ReplyCase{"reply fail", kNothing, 17300}));

TEST_F(SendScoreTest, AFailedFirstRequestEndsSilentlyWithoutTheSecondOrThePause) {
  const SimRun run = Run(SendWith("reply fail\nreply 1\n"));
  const std::vector<std::string> expected = {"11300 get " + Request("top1.php", kPlainQuery), "11300 state 1",
                                             "11300 play menu\\send_score.vgz pan=0 vol=0"};
  EXPECT_EQ(FromFirstRequest(run), expected);
}

TEST_F(SendScoreTest, EveryDetailIsPercentEncodedAndTheSecondRequestDiffersOnlyInItsPath) {
  WriteConfig("Ann Marie\nO'Neil & Sons\nGate 5, top1.php?x=1\nNorge \xC3\xA6 Jean-Luc_x.y~z\n");
  const SimRun run = Run(SendWith("reply -\nreply 4\n"));
  const std::string query =
      "first_name=Ann%20Marie&last_name=O%27Neil%20%26%20Sons&addr=Gate%205%2C%20top1.php%3Fx%3D1"
      "&country=Norge%20%C3%A6%20Jean-Luc_x.y~z";
  const std::vector<std::string> gets = run.Matching(" get ");
  ASSERT_EQ(gets.size(), 2u) << run.Text();
  EXPECT_EQ(gets[0], "11300 get " + Request("top1.php", query));
  // The detail that names the first script goes to the second one unchanged.
  EXPECT_EQ(gets[1], "17300 get " + Request("top2.php", query));
  EXPECT_TRUE(run.Has("17600 play score\\4.vgz pan=0 vol=0"));
}

TEST_F(SendScoreTest, CarriageReturnsAndEmptyDetailsAreSentAsTheyWereRead) {
  WriteConfig("Ann\r\n\r\n\nNorway\r\n");
  const SimRun run = Run(SendWith("reply -\nreply -\n"));
  EXPECT_TRUE(
      run.Has("11300 get " + Request("top1.php", "first_name=Ann%0D&last_name=%0D&addr=&country=Norway%0D")))
      << run.Text();
}

TEST_F(SendScoreTest, WithoutDetailsTheGameAsksForThemAndSendsNothing) {
  for (const char* config : {"", "\n", "none"}) {
    if (std::string(config) == "none") {
      std::filesystem::remove(data_.Path() / "config.dat");
    } else {
      WriteConfig(config);
    }
    const SimRun run = Run(SendWith("reply -\nreply 1\n"));
    const int at = run.Find("10300 stop game\\check_connected.vgz");
    ASSERT_GE(at, 0) << run.Text();
    const std::vector<std::string> expected = {
        "10300 stop game\\check_connected.vgz",
        "10300 play game\\say_config_first.vgz pan=0 vol=0",
        "10800 state 1",
        "10800 play menu\\send_score.vgz pan=0 vol=0",
    };
    EXPECT_EQ(std::vector<std::string>(run.lines.begin() + at, run.lines.end()), expected) << config;
  }
}

TEST_F(SendScoreTest, EscapeOrNDuringThePromptStopsItAndAnnouncesTheItemAgain) {
  for (const char* key : {"Escape", "N"}) {
    // Other keys do nothing in the prompt.
    const SimRun run = Run(ToSendItem() + "reply 1\nkey Enter\nwait 300\nkey Down\nkey Space\nkey " + key +
                           "\nwait 500\nshow\n");
    const int at = run.Find("10000 play game\\check_connected.vgz pan=0 vol=0");
    ASSERT_GE(at, 0) << run.Text();
    const std::vector<std::string> expected = {
        "10000 play game\\check_connected.vgz pan=0 vol=0",
        "10300 stop game\\check_connected.vgz",
        "10300 state 1",
        "10300 play menu\\send_score.vgz pan=0 vol=0",
        "10800 show gameState=1 ticksEnabled=1 menuIndex=8 score=67 lives=3 won=1 heading=0 chaserNorth=23 "
        "chaserEast=23 quarryNorth=24 quarryEast=24",
    };
    EXPECT_EQ(std::vector<std::string>(run.lines.begin() + at, run.lines.end()), expected) << key;
  }
}

TEST_F(SendScoreTest, WithScoreZeroTheItemSaysNotEnoughAndTheMenuStays) {
  // No game yet: the score is 0. The menu names its first item at 400 ms.
  const SimRun run = Run("wait 500\n" + kDownToSendItem + "key Enter\nkey Down\nshow\n");
  const int at = run.Find("500 play menu\\send_score.vgz pan=0 vol=0");
  ASSERT_GE(at, 0) << run.Text();
  const std::vector<std::string> expected = {
      "500 play menu\\send_score.vgz pan=0 vol=0",
      "500 play game\\not_enough.vgz pan=0 vol=0",
      // Played to its end: the next key comes after it.
      "900 play menu\\quit.vgz pan=0 vol=0",
      "900 show gameState=1 ticksEnabled=0 menuIndex=9 score=0 lives=0 won=0 heading=0 chaserNorth=0 "
      "chaserEast=0 "
      "quarryNorth=0 quarryEast=0",
  };
  EXPECT_EQ(std::vector<std::string>(run.lines.begin() + at, run.lines.end()), expected);
  EXPECT_TRUE(run.Matching(" get ").empty());
}

TEST_F(SendScoreTest, KeysPressedDuringTheSendAreHandledAfterwardsInTheMenu) {
  const SimRun run = Run(SendWith("reply -\nreply 5\n") + "wait 100\nkey Down\nwait 2000\nkey Up\n");
  const int back = run.Find("17800 play menu\\send_score.vgz pan=0 vol=0");
  ASSERT_GE(back, 0) << run.Text();
  const std::vector<std::string> expected = {
      "17800 play menu\\send_score.vgz pan=0 vol=0", "17800 stop menu\\send_score.vgz",
      "17800 play menu\\quit.vgz pan=0 vol=0",       "17800 stop menu\\quit.vgz",
      "17800 play menu\\send_score.vgz pan=0 vol=0",
  };
  EXPECT_EQ(std::vector<std::string>(run.lines.begin() + back, run.lines.end()), expected);
}

TEST_F(SendScoreTest, AMissingClipLeavesTheScreenAtOnceWithNothingSaid) {
  TempFolder data;
  MakeGameData(data.Path(), {}, {"game/say_config_first.vgz"});
  const SimRun run = RunSim(data.Path(), ToSendItem() + "key Enter\nkey Y\nshow\n");
  const int at = run.Find("10000 state 8");
  ASSERT_GE(at, 0) << run.Text();
  const std::vector<std::string> expected = {
      "10000 state 8",
      "10000 stop menu\\send_score.vgz",
      "10000 state 1",
      // Y is a menu key no more.
      "10000 show gameState=1 ticksEnabled=1 menuIndex=8 score=67 lives=3 won=1 heading=0 chaserNorth=23 "
      "chaserEast=23 quarryNorth=24 quarryEast=24",
  };
  EXPECT_EQ(std::vector<std::string>(run.lines.begin() + at, run.lines.end()), expected);
}

// Drives the simulator directly, to look at the screen's clip slots after each way out.
TEST_F(SendScoreTest, EveryWayOutReleasesTheClipsAndTheScreenCanBeEnteredAgain) {
  std::ostringstream transcript;
  SimOptions options;
  options.dataFolder = data_.Str();
  Simulation sim(options, transcript);
  sim.Start();
  sim.Wait(500);
  sim.ForceRandom({4, 4, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2});
  std::vector<int> keys = {vk::Enter, vk::Right, vk::Up, vk::Up, vk::Left};
  for (int i = 0; i < 13; ++i) keys.push_back(vk::Up);
  for (int i = 0; i < 9; ++i) keys.insert(keys.end(), {vk::Right, vk::Up, vk::Left, vk::Up});
  for (int key : keys) sim.Key(key);
  sim.Wait(9500);
  for (int i = 0; i < 5; ++i) sim.Key(vk::Down);

  struct Ending {
    std::vector<std::optional<std::string>> replies;
    int key;
    int requests;
  };
  const std::vector<Ending> endings = {
      {{}, vk::N, 0},        {{}, vk::Escape, 0},   {{std::nullopt}, vk::Y, 1},
      {{"", "6"}, vk::Y, 2}, {{"", "6"}, vk::Y, 2},  // the same score can be sent again
  };
  int requests = 0;
  for (const Ending& ending : endings) {
    for (const auto& reply : ending.replies) sim.QueueReply(reply);
    sim.Key(vk::Enter);
    ASSERT_EQ(sim.RunningGame().gameState, state::SendScore);
    for (const SoundClip& clip : sim.RunningGame().sendScore.sendScoreClips)
      EXPECT_TRUE(static_cast<bool>(clip));
    sim.Wait(100);
    sim.Key(ending.key);
    EXPECT_EQ(sim.RunningGame().gameState, state::Menu);
    EXPECT_EQ(sim.RunningGame().menu.menuIndex, 8);
    for (const SoundClip& clip : sim.RunningGame().sendScore.sendScoreClips)
      EXPECT_FALSE(static_cast<bool>(clip));
    requests += ending.requests;
    sim.Wait(1000);
  }
  EXPECT_EQ(sim.RunningGame().level.score, kScore);
  const std::string text = transcript.str();
  std::size_t gets = 0;
  for (std::size_t at = text.find(" get "); at != std::string::npos; at = text.find(" get ", at + 1)) ++gets;
  EXPECT_EQ(gets, static_cast<std::size_t>(requests));
  std::size_t prompts = 0;
  for (std::size_t at = text.find("play game\\check_connected.vgz"); at != std::string::npos;
       at = text.find("play game\\check_connected.vgz", at + 1)) {
    ++prompts;
  }
  EXPECT_EQ(prompts, endings.size());
}

TEST(ScoreRequest, EncodesEveryByteButTheUnreservedOnesWithUpperCaseHex) {
  EXPECT_EQ(PercentEncode("AZaz09-._~"), "AZaz09-._~");
  EXPECT_EQ(PercentEncode(std::string(" &=?/%+#\x00\x7F\x80\xFF\n\r`", 15)),
            "%20%26%3D%3F%2F%25%2B%23%00%7F%80%FF%0A%0D%60");
  EXPECT_EQ(PercentEncode(""), "");
}

}  // namespace
}  // namespace vesquin::testing
