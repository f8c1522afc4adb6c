// The main window: start-up and its two messages, paint, shutdown order, the controller.

#include <gtest/gtest.h>

#include <sstream>

#include "shell/game.h"
#include "shell/main_window.h"
#include "sim/simulation.h"
#include "support/test_data.h"

namespace vesquin::testing {
namespace {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

// A simulation driven step by step, so that a test can look at the machine between steps.
class UnstartedSim {
 public:
  explicit UnstartedSim(SimOptions options) : sim_(std::move(options), out_) {}
  Simulation& operator*() { return sim_; }
  Simulation* operator->() { return &sim_; }
  std::vector<std::string> Lines() const { return SplitLines(out_.str()); }
  // The lines printed after the first `from` lines.
  std::vector<std::string> LinesFrom(std::size_t from) const {
    const std::vector<std::string> all = Lines();
    return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())),
                                    all.end());
  }

 private:
  std::ostringstream out_;
  Simulation sim_;
};

// A window whose executable path and whose requests a test sets and reads.
class FakeWindow final : public Window {
 public:
  std::optional<std::string> path;
  std::vector<std::string> errors;
  int closes = 0;

  std::optional<std::string> ExecutablePath() override { return path; }
  std::unique_ptr<SoundDevice> CreateSoundDevice() override { return nullptr; }
  bool StartTimer(std::uint32_t, std::uint32_t) override { return true; }
  void KillTimer(std::uint32_t) override {}
  void ShowError(const std::string& text) override { errors.push_back(text); }
  void Close() override { ++closes; }
};

class MainWindowTest : public ::testing::Test {
 protected:
  SimOptions Options() const {
    SimOptions options;
    options.dataFolder = data_.Str();
    return options;
  }
  TempFolder data_;
};

TEST_F(MainWindowTest, WithoutSoundOutputBothMessagesComeAndTheWindowStaysOpenWithoutTicks) {
  MakeGameData(data_.Path());
  SimOptions options = Options();
  options.soundOutput = false;
  options.controllerAttached = true;
  UnstartedSim sim(options);
  sim->Start();
  EXPECT_EQ(sim.Lines(), (std::vector<std::string>{"0 message DSound not created",
                                                   "0 message Error in second initialisation"}));
  sim->Wait(1000);
  EXPECT_TRUE(sim->TimerEvents().empty());
  EXPECT_EQ(sim->ControllerPolls(), 0);  // the controller is opened only after the timer
  EXPECT_FALSE(sim->Ended());
  EXPECT_EQ(sim.Lines().size(), 2u);
  // Keys are still routed from state 0: Ctrl leads on to a silent menu.
  sim->Key(vk::Escape);
  sim->Key(vk::Ctrl);
  EXPECT_EQ(sim.LinesFrom(2), (std::vector<std::string>{"1000 state 1"}));
  sim->Close();
  EXPECT_EQ(sim.LinesFrom(3), (std::vector<std::string>{"1000 close"}));
  EXPECT_TRUE(sim->Ended());
  EXPECT_EQ(sim->ShutdownSteps(), (std::vector<std::string>{"timer", "controller"}));
}

TEST_F(MainWindowTest, AMissingMenuClipGivesOneMessageAndNoTickReachesAnyState) {
  MakeGameData(data_.Path(), {}, {"menu/quit.vgz"});
  SimOptions options = Options();
  options.controllerAttached = true;
  UnstartedSim sim(options);
  sim->Start();
  // No "state 0" line: start-up stopped before it set the state. The first paint still
  // starts the intro.
  EXPECT_EQ(sim.Lines(), (std::vector<std::string>{"0 message Error in second initialisation",
                                                   "0 play game\\game_intro.vgz pan=0 vol=0"}));
  sim->Wait(1000);
  EXPECT_EQ(sim->TimerEvents().size(), 20u);  // the timer runs
  EXPECT_EQ(sim->ControllerPolls(), 20);
  EXPECT_EQ(sim.Lines().size(), 2u);  // but the intro's end reaches no state
  EXPECT_EQ(sim->RunningGame().gameState, state::Intro);
  sim->Key(vk::Ctrl);
  EXPECT_EQ(sim.LinesFrom(2), (std::vector<std::string>{"1000 state 1"}));
  sim->Wait(1000);
  sim->Key(vk::Down);
  EXPECT_EQ(sim.Lines().size(), 3u);
}

TEST_F(MainWindowTest, AMissingNumberClipKeepsTheMenuClipsUntilShutdown) {
  MakeGameData(data_.Path(), {{"game/game_intro.vgz", 100}}, {"score/7.vgz"});
  UnstartedSim sim(Options());
  sim->Start();
  EXPECT_EQ(sim.Lines(), (std::vector<std::string>{"0 message Error in second initialisation",
                                                   "0 play game\\game_intro.vgz pan=0 vol=0"}));
  sim->Key(vk::Ctrl);
  // The menu clips stayed loaded: the menu is heard, though no tick reaches it.
  EXPECT_EQ(sim.LinesFrom(2), (std::vector<std::string>{"0 stop game\\game_intro.vgz", "0 state 1",
                                                        "0 loop menu\\bgrn.vgz pan=0 vol=0",
                                                        "0 play menu\\arrows.vgz pan=0 vol=0"}));
  sim->Close();
  EXPECT_EQ(sim->ShutdownSteps(),
            (std::vector<std::string>{"menu clips", "timer", "controller", "sound device"}));
}

TEST_F(MainWindowTest, ShutdownReleasesInOrderAndTheCloseCommandPlaysNoExitClip) {
  MakeGameData(data_.Path());
  UnstartedSim sim(Options());
  sim->Start();
  sim->Wait(1000);  // intro over, menu prompt heard, the background loops
  const std::size_t before = sim.Lines().size();
  sim->Close();
  EXPECT_EQ(sim.LinesFrom(before), (std::vector<std::string>{"1000 close", "1000 stop menu\\bgrn.vgz"}));
  EXPECT_EQ(sim->ShutdownSteps(),
            (std::vector<std::string>{"menu clips", "number clips", "timer", "controller", "sound device"}));
  EXPECT_FALSE(sim->TimerRunning());
  // Nothing happens after the close.
  sim->Key(vk::Down);
  sim->Wait(1000);
  EXPECT_EQ(sim.LinesFrom(before).size(), 2u);
}

TEST_F(MainWindowTest, ClosingDuringTheIntroLeavesTheIntroClipToItsScreen) {
  MakeGameData(data_.Path(), {{"game/game_intro.vgz", 2000}});
  UnstartedSim sim(Options());
  sim->Start();
  sim->Wait(500);
  sim->Close();
  // Only the menu and number clips are the window's to release; the intro is not stopped.
  EXPECT_EQ(sim.LinesFrom(2), (std::vector<std::string>{"500 close"}));
  EXPECT_EQ(sim->ShutdownSteps(),
            (std::vector<std::string>{"menu clips", "number clips", "timer", "controller", "sound device"}));
}

TEST_F(MainWindowTest, RepeatedPaintsStartTheIntroOnce) {
  MakeGameData(data_.Path());
  UnstartedSim sim(Options());
  sim->Start();
  PaintWindow(sim->RunningGame());
  sim->Wait(100);
  PaintWindow(sim->RunningGame());
  EXPECT_EQ(sim.Lines(), (std::vector<std::string>{"0 state 0", "0 play game\\game_intro.vgz pan=0 vol=0"}));
}

TEST_F(MainWindowTest, DataFolderIsTheExecutablesFolderAndAnUnreadablePathClosesSilently) {
  MakeGameData(data_.Path());
  UnstartedSim sim(Options());
  sim->Start();
  Services& machine = sim->MachineServices();
  FakeWindow window;
  Services services{machine.clock,      machine.files,  machine.http,    window,
                    machine.controller, machine.random, machine.observer};
  Game game(services);

  window.path = "/opt/vesquin/bin/vesquin";
  EXPECT_TRUE(InitFolders(game));
  EXPECT_EQ(game.dataFolder, "/opt/vesquin/bin/");
  window.path = "vesquin";  // no separator: clips are looked up in the current folder
  EXPECT_TRUE(InitFolders(game));
  EXPECT_EQ(game.dataFolder, "");

  window.path = std::nullopt;
  const std::size_t before = sim.Lines().size();
  InitialiseWindow(game);
  EXPECT_EQ(window.closes, 1);
  EXPECT_TRUE(window.errors.empty());
  EXPECT_FALSE(game.windowReady);
  PaintWindow(game);  // a paint before the close arrives starts nothing
  EXPECT_EQ(sim.LinesFrom(before), std::vector<std::string>{});
}

class ControllerTest : public MainWindowTest {
 protected:
  void SetUp() override { MakeGameData(data_.Path()); }
};

TEST_F(ControllerTest, WithoutAControllerNothingIsPolled) {
  UnstartedSim sim(Options());
  sim->Start();
  sim->Wait(1000);
  EXPECT_EQ(sim->TimerEvents().size(), 20u);
  EXPECT_EQ(sim->ControllerPolls(), 0);
  EXPECT_EQ(sim->RunningGame().gameState, state::Menu);  // the game runs as usual
}

TEST_F(ControllerTest, AnAttachedControllerIsPolledOnEveryTimerEventEvenWithTicksOff) {
  SimOptions options = Options();
  options.controllerAttached = true;
  UnstartedSim sim(options);
  sim->Start();
  sim->Wait(1000);
  // The intro ended at 200 and the prompt at 400: the menu turned its ticks off since.
  EXPECT_FALSE(sim->RunningGame().ticksEnabled);
  EXPECT_EQ(sim->ControllerPolls(), 20);
  sim->Wait(1000);
  EXPECT_EQ(sim->ControllerPolls(), 40);
  EXPECT_FALSE(sim->ControllerReleased());
}

TEST_F(ControllerTest, AFailedReadReleasesTheControllerForGood) {
  SimOptions options = Options();
  options.controllerAttached = true;
  options.controllerReadsBeforeFailure = 3;
  UnstartedSim sim(options);
  sim->Start();
  sim->Wait(1000);
  EXPECT_EQ(sim->ControllerPolls(), 4);  // three reads, then the one that failed
  EXPECT_TRUE(sim->ControllerReleased());
  EXPECT_EQ(sim->ShutdownSteps(), std::vector<std::string>{"controller"});
  // Play goes on as before.
  EXPECT_EQ(sim->RunningGame().gameState, state::Menu);
  EXPECT_EQ(sim->TimerEvents().size(), 20u);
  sim->Wait(1000);
  EXPECT_EQ(sim->ControllerPolls(), 4);
  sim->Close();
  EXPECT_EQ(sim->ShutdownSteps(), (std::vector<std::string>{"controller", "menu clips", "number clips",
                                                            "timer", "controller", "sound device"}));
}

}  // namespace
}  // namespace vesquin::testing
