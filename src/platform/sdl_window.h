#pragma once
// The main window on SDL2: one small window showing one picture, the 50 ms timer on a
// monotonic clock, message boxes, the About box, the game controller, keys as virtual-key
// codes, and the window's own loop that drives the game.

#include <SDL.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "shell/services.h"
#include "shell/tick_timer.h"

namespace vesquin {

class SdlAudioOutput;

inline constexpr int kWindowWidth = 215;
inline constexpr int kWindowHeight = 228;

// The virtual-key code of a key, or nothing for a key the game never hears of. Letters
// follow the keyboard layout; the digit row gives its digits whatever the layout prints on it.
std::optional<int> VirtualKeyOf(const SDL_Keysym& key);

// A system key: Alt held without Ctrl, or F10. These never reach the game's key routing.
bool IsSystemKey(const SDL_Keysym& key);

// Milliseconds on the machine's monotonic clock.
std::uint64_t MonotonicMs();

class SdlClock final : public Clock {
 public:
  std::uint64_t NowMs() override { return MonotonicMs(); }
  void Sleep(std::uint32_t ms) override;
  std::int64_t CalendarSeconds() override;
};

// The first attached joystick or gamepad, read on every timer event; the readings are not used.
// An unplugged controller is read no more but kept: each poll looks for the same device (same
// GUID) and opens it again when it is back. A read fails only when SDL no longer knows the
// opened device; the game then releases it for good.
class SdlController final : public Controller {
 public:
  SdlController() = default;
  ~SdlController() override { Release(); }
  SdlController(const SdlController&) = delete;
  SdlController& operator=(const SdlController&) = delete;

  int Create() override;
  int Poll() override;
  void Release() override;

  bool opened() const { return joystick_ != nullptr; }
  // Whether the opened device is plugged in.
  bool attached() const { return joystick_ != nullptr && SDL_JoystickGetAttached(joystick_) == SDL_TRUE; }

 private:
  void Reacquire();

  bool subsystem_ = false;
  SDL_Joystick* joystick_ = nullptr;
  SDL_JoystickGUID guid_{};
};

// The About box: a small modal window with the game's name, its version and an OK button.
// Its OK button, Enter, Escape or its close command end it. Made once, hidden when it ends:
// SDL 2.26 on X11 may still address its wake-up message to a window just destroyed, and
// Xlib ends the program on that error.
class AboutBox {
 public:
  // Made hidden, to stand over `owner`; null when no window can be made.
  static std::unique_ptr<AboutBox> Create(SDL_Window* owner);
  ~AboutBox();
  AboutBox(const AboutBox&) = delete;
  AboutBox& operator=(const AboutBox&) = delete;

  void Show();
  bool shown() const { return shown_; }
  // An event while the box is shown (keys, the box's own window and mouse events); false once
  // the event has ended the box, which is then hidden.
  bool Handle(const SDL_Event& event);
  std::uint32_t windowId() const { return SDL_GetWindowID(window_); }

 private:
  explicit AboutBox(SDL_Window* window) : window_(window) {}
  void Paint();
  bool End();

  SDL_Window* window_;
  bool shown_ = false;
  bool buttonPressed_ = false;
};

class SdlWindow final : public Window {
 public:
  SdlWindow() = default;
  ~SdlWindow() override;
  SdlWindow(const SdlWindow&) = delete;
  SdlWindow& operator=(const SdlWindow&) = delete;

  // False when SDL's video could not give a window.
  bool Open();
  // Draws the picture stretched over the whole client area.
  void Paint();
  SDL_Window* handle() const { return window_; }
  // The About box, made on first use; null when it cannot be made. It lives as long as the
  // window: a window destroyed at once after an event came in can take SDL's wake-up message
  // with it (see AboutBox).
  AboutBox* MakeAbout();
  // The About box if it was made.
  AboutBox* about() const { return about_.get(); }

  std::optional<std::string> ExecutablePath() override;
  std::unique_ptr<SoundDevice> CreateSoundDevice() override;
  bool StartTimer(std::uint32_t id, std::uint32_t periodMs) override;
  void KillTimer(std::uint32_t id) override;
  void ShowError(const std::string& text) override;
  void Close() override { closeRequested_ = true; }

  bool closeRequested() const { return closeRequested_; }
  TickTimer& timer() { return timer_; }
  // The machine's sound output, for device events and upkeep; null when none is open.
  SdlAudioOutput* audio() const { return audio_.get(); }

 private:
  SDL_Window* window_ = nullptr;
  std::string folder_;  // the executable's folder, where the picture and the icon lie
  std::unique_ptr<SdlAudioOutput> audio_;
  std::unique_ptr<AboutBox> about_;
  bool closeRequested_ = false;
  TickTimer timer_;
};

// What a program that drives the game as `vesquin` does may add (the latency benchmark).
struct ProgramHooks {
  // After start-up, before the first paint.
  std::function<void(SdlWindow&)> started;
};

// The whole program: SDL, the window, start-up, the first paint, the window's loop until the
// window closes, shutdown. Returns the process's exit code.
int RunProgram(const ProgramHooks& hooks = {});

}  // namespace vesquin
