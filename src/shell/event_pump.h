#pragma once
// The main window's event loop, the only loop of the game on every platform. The platform
// supplies its clock, its events and a wait for them; the pump keeps the rules the player
// hears: keys that came while the game was busy are handled first, in the order they came,
// then one tick for all the ticks that fell due meanwhile; a key waits for the ticks due by
// its time; a close ends the loop after the handler that asked for it, and shutdown follows.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "machine/platform_window.h"
#include "machine/services.h"
#include "machine/tick_timer.h"

namespace vesquin {

struct Game;

// The game's main window: the platform's window, with the timer and the close kept here.
class EventPump final : public Window {
 public:
  EventPump(Clock& clock, PlatformWindow& window, EventSource& events, GameObserver& observer)
      : clock_(clock), window_(window), events_(events), observer_(observer) {}
  EventPump(const EventPump&) = delete;
  EventPump& operator=(const EventPump&) = delete;

  // Window initialisation.
  void Start(Game& game);
  // The first paint, then events until the window closes and shutdown has run. Returns early
  // when the platform's input ends for now; running it again goes on where it stopped.
  void Run(Game& game);

  bool IsClosing() const { return closing_; }
  // Shutdown has run: nothing more happens.
  bool HasEnded() const { return ended_; }
  bool TimerRunning() const { return timer_.Running(); }
  // When the next tick falls due; nothing while the timer is stopped.
  std::optional<std::uint64_t> NextTick() const;

  // Window
  std::optional<std::string> ExecutablePath() override { return window_.ExecutablePath(); }
  std::unique_ptr<SoundDevice> CreateSoundDevice() override { return window_.CreateSoundDevice(); }
  bool StartTimer(std::uint32_t id, std::uint32_t periodMs) override;
  void KillTimer(std::uint32_t id) override;
  void ShowError(const std::string& text) override;
  void Close() override;

 private:
  void Handle(Game& game, const WindowEvent& event);
  void Paint(Game& game);

  Clock& clock_;
  PlatformWindow& window_;
  EventSource& events_;
  GameObserver& observer_;
  TickTimer timer_;
  bool painted_ = false;
  bool closing_ = false;
  bool ended_ = false;
};

}  // namespace vesquin
