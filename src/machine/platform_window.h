#pragma once
// What each platform supplies for the main window: the window itself, and its events with a
// wait for them. The event pump (shell/event_pump.h) makes the game's window of these and
// keeps the rules of the loop (key order, the 50 ms deadlines, close and shutdown) itself.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "machine/sound_device.h"

namespace vesquin {

// An event of the main window, as the game hears of it.
struct WindowEvent {
  enum class Kind {
    KeyDown,     // `key` is the virtual-key code
    KeyUp,       // `key` is the virtual-key code
    Paint,       // the window is to be painted again
    Close,       // the window's close command (Alt+F4, the close box)
    Handled,     // one the platform handled itself (the About box, a sound device): none for the game
    InputEnded,  // no more input for now: the pump returns and may be run again
  };
  Kind kind;
  int key = 0;
};

// The platform's window.
class PlatformWindow {
 public:
  virtual ~PlatformWindow() = default;
  // The running executable's full path; nothing when it cannot be read.
  virtual std::optional<std::string> ExecutablePath() = 0;
  // The default sound output; null when none can be opened.
  virtual std::unique_ptr<SoundDevice> CreateSoundDevice() = 0;
  // A modal box with the caption "Error!" and an OK button.
  virtual void ShowError(const std::string& text) = 0;
  // Draws the window's picture; the game's part of the paint follows.
  virtual void Paint() {}
};

// The platform's events, on the clock of the game's Clock service.
class EventSource {
 public:
  virtual ~EventSource() = default;
  // An event that came in while the game was busy and waits to be handled; nothing when none
  // waits.
  virtual std::optional<WindowEvent> PollEvent() = 0;
  // Holds the thread until the clock reaches `deadlineMs` or an event comes, and returns the
  // event, or nothing at the deadline (or on a wake-up that brought the game nothing). With no
  // deadline, the wait is for an event alone.
  virtual std::optional<WindowEvent> WaitEvent(std::optional<std::uint64_t> deadlineMs) = 0;
  // The game started its 50 ms timer at `startMs`, or stopped it.
  virtual void TimerStarted(std::uint64_t /*startMs*/) {}
  virtual void TimerStopped() {}
  // The game has handled a tick, taken at `takenMs`: room for the machine's upkeep.
  virtual void Ticked(std::uint64_t /*takenMs*/) {}
};

}  // namespace vesquin
