// The event pump's rules, on a platform whose events a test lays out on a virtual clock: the
// first paint before any tick, keys that came while the game was busy before the one merged
// tick, a key after the ticks due by its time, and the close and shutdown sequence.

#include "shell/event_pump.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "machine/random.h"
#include "shell/game.h"
#include "support/idle_machine.h"

namespace vesquin::testing {
namespace {

struct TimedEvent {
  std::uint64_t atMs;
  WindowEvent event;
};

WindowEvent Key(int code) { return {WindowEvent::Kind::KeyDown, code}; }

// A platform with no sound output (start-up stops half-way, with no timer), whose events
// come at the times a test sets. Everything the pump and the game do is logged with its time.
class ScriptedPlatform final : public Clock, public PlatformWindow, public EventSource, public GameObserver {
 public:
  std::uint64_t NowMs() override { return now; }
  void Sleep(std::uint32_t ms) override { now += ms; }
  std::int64_t CalendarSeconds() override { return 0; }

  std::optional<std::string> ExecutablePath() override { return path; }
  std::unique_ptr<SoundDevice> CreateSoundDevice() override { return nullptr; }
  void ShowError(const std::string& text) override { Log("box " + text); }
  void Paint() override { Log("paint"); }

  // An event that lies before the clock came while the game was busy.
  std::optional<WindowEvent> PollEvent() override {
    if (events.empty() || events.front().atMs >= now) return std::nullopt;
    return Take();
  }
  std::optional<WindowEvent> WaitEvent(std::optional<std::uint64_t> deadlineMs) override {
    if (events.empty()) return WindowEvent{WindowEvent::Kind::InputEnded};
    if (deadlineMs && *deadlineMs <= events.front().atMs) {
      now = *deadlineMs;
      return std::nullopt;
    }
    now = std::max(now, events.front().atMs);
    return Take();
  }
  void TimerStopped() override { Log("timer stopped"); }
  void Ticked(std::uint64_t takenMs) override { log.push_back(std::to_string(takenMs) + " tick"); }

  void Closing() override { Log("close"); }
  void MessageShown(const std::string& text) override { Log("message " + text); }
  void StateChanged(int gameState) override {
    Log("state " + std::to_string(gameState));
    now += holdNextStateChangeMs;
    holdNextStateChangeMs = 0;
  }

  std::uint64_t now = 0;
  std::optional<std::string> path = "/game/vesquin";
  std::deque<TimedEvent> events;
  std::uint64_t holdNextStateChangeMs = 0;  // the handler that changes the state next is held busy
  std::vector<std::string> log;

 private:
  WindowEvent Take() {
    const WindowEvent event = events.front().event;
    events.pop_front();
    return event;
  }
  void Log(const std::string& what) { log.push_back(std::to_string(now) + " " + what); }
};

class EventPumpTest : public ::testing::Test {
 protected:
  // Start-up, then the 50 ms timer as a full start-up would have started it at time 0.
  void StartWithTimer() {
    pump_.Start(game_);
    ASSERT_TRUE(pump_.StartTimer(tickTimerId, kTickMs));
    platform_.log.clear();
  }

  ScriptedPlatform platform_;
  IdleMachine idle_;
  StandardRandom random_;
  EventPump pump_{platform_, platform_, platform_, platform_};
  Services services_{platform_, idle_, idle_, pump_, idle_, random_, platform_};
  Game game_{services_};
};

TEST_F(EventPumpTest, StartUpMessagesGoToTheListenerAndTheBoxAndTheFirstPaintComesOnce) {
  platform_.events = {{120, {WindowEvent::Kind::Paint}}};
  pump_.Start(game_);
  pump_.Run(game_);
  EXPECT_EQ(platform_.log,
            (std::vector<std::string>{"0 message DSound not created", "0 box DSound not created",
                                      "0 message Error in second initialisation",
                                      "0 box Error in second initialisation", "0 paint", "120 paint"}));
  EXPECT_FALSE(pump_.TimerRunning());
  EXPECT_FALSE(pump_.HasEnded());
}

TEST_F(EventPumpTest, TicksKeepTheirGridAndAKeyComesAfterTheTicksDueByItsTime) {
  StartWithTimer();
  platform_.events = {{100, Key(vk::Ctrl)}, {130, {WindowEvent::Kind::InputEnded}}};
  pump_.Run(game_);
  EXPECT_EQ(platform_.log, (std::vector<std::string>{"0 paint", "50 tick", "100 tick", "100 state 1"}));
  EXPECT_EQ(pump_.NextTick(), 150u);
  // The pump goes on where the input ended.
  platform_.events = {{210, {WindowEvent::Kind::InputEnded}}};
  pump_.Run(game_);
  EXPECT_EQ(platform_.log.back(), "200 tick");
}

TEST_F(EventPumpTest, KeysThatCameWhileTheGameWasBusyComeFirstInOrderThenOneMergedTick) {
  StartWithTimer();
  // Ctrl leaves the intro and holds the game until 310; meanwhile Down, Down and Enter come:
  // from the menu's prompt, two Downs lead to the speaker test, which Enter tries to start.
  platform_.holdNextStateChangeMs = 300;
  platform_.events = {{10, Key(vk::Ctrl)},
                      {100, Key(vk::Down)},
                      {200, Key(vk::Down)},
                      {250, Key(vk::Enter)},
                      {360, {WindowEvent::Kind::InputEnded}}};
  pump_.Run(game_);
  EXPECT_EQ(platform_.log, (std::vector<std::string>{"0 paint", "10 state 1", "310 state 4", "310 state 1",
                                                     "310 tick", "350 tick"}));
}

TEST_F(EventPumpTest, AQuitEndsTheLoopAfterItsHandlerAndShutdownFollowsOnce) {
  StartWithTimer();
  platform_.events = {{20, Key(vk::Ctrl)}, {30, Key(vk::Escape)}, {40, Key(vk::Ctrl)}};
  pump_.Run(game_);
  EXPECT_EQ(platform_.log,
            (std::vector<std::string>{"0 paint", "20 state 1", "30 close", "30 timer stopped"}));
  EXPECT_TRUE(pump_.HasEnded());
  EXPECT_FALSE(pump_.TimerRunning());
  // Nothing happens after shutdown, and a second close is not heard of.
  pump_.Close();
  pump_.Run(game_);
  EXPECT_EQ(platform_.log.size(), 4u);
  EXPECT_EQ(platform_.events.size(), 1u);
}

TEST_F(EventPumpTest, TheCloseCommandEndsTheLoopInAnyState) {
  StartWithTimer();
  platform_.events = {{70, {WindowEvent::Kind::Close}}, {80, {WindowEvent::Kind::Paint}}};
  pump_.Run(game_);
  EXPECT_EQ(platform_.log, (std::vector<std::string>{"0 paint", "50 tick", "70 close", "70 timer stopped"}));
  EXPECT_EQ(game_.gameState, state::Intro);
}

TEST_F(EventPumpTest, AWindowClosedDuringStartUpIsNeverPaintedAndShutsDown) {
  platform_.path.reset();  // the first initialisation step fails
  pump_.Start(game_);
  pump_.Run(game_);
  EXPECT_EQ(platform_.log, (std::vector<std::string>{"0 close", "0 timer stopped"}));
  EXPECT_TRUE(pump_.HasEnded());
}

}  // namespace
}  // namespace vesquin::testing
