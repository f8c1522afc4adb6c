#pragma once
// The main window on SDL2: one small window showing one picture, the 50 ms timer on a
// monotonic clock, message boxes, the game controller, and keys as virtual-key codes.

#include <SDL.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "shell/services.h"

namespace vesquin {

class SdlAudioOutput;

inline constexpr int kWindowWidth = 215;
inline constexpr int kWindowHeight = 228;

// The virtual-key code of a key, or nothing for a key the game never hears of.
std::optional<int> VirtualKeyOf(SDL_Keycode key);

class SdlClock final : public Clock {
 public:
  std::uint64_t NowMs() override;
  void Sleep(std::uint32_t ms) override;
  std::int64_t CalendarSeconds() override;
};

class SdlController final : public Controller {
 public:
  ~SdlController() override { Release(); }
  int Create() override;
  int Poll() override;
  void Release() override;

 private:
  SDL_GameController* controller_ = nullptr;
  SDL_Joystick* joystick_ = nullptr;
};

class SdlWindow final : public Window {
 public:
  SdlWindow();
  ~SdlWindow() override;
  SdlWindow(const SdlWindow&) = delete;
  SdlWindow& operator=(const SdlWindow&) = delete;

  // False when SDL's video could not give a window.
  bool Open();
  // Draws the picture stretched over the whole client area.
  void Paint();
  SDL_Window* handle() const { return window_; }
  // The About box, modal: Enter, Escape, its OK button or its close command end it. Keys go
  // to it alone; `keepTicking` runs whenever the loop is idle, so the game's ticks go on.
  void ShowAbout(const std::function<void()>& keepTicking);

  std::optional<std::string> ExecutablePath() override;
  std::unique_ptr<SoundDevice> CreateSoundDevice() override;
  bool StartTimer(std::uint32_t id, std::uint32_t periodMs) override;
  void KillTimer(std::uint32_t id) override;
  void ShowError(const std::string& text) override;
  void Close() override { closeRequested_ = true; }

  bool closeRequested() const { return closeRequested_; }
  bool timerRunning() const { return timerRunning_; }
  std::uint32_t timerPeriodMs() const { return timerPeriodMs_; }
  // The machine's sound output, for device events and upkeep; null when none is open.
  SdlAudioOutput* audio() const { return audio_.get(); }

 private:
  std::string OwnFolder();

  SDL_Window* window_ = nullptr;
  SDL_Renderer* renderer_ = nullptr;
  std::unique_ptr<SdlAudioOutput> audio_;
  bool audioLent_ = false;
  bool closeRequested_ = false;
  bool timerRunning_ = false;
  std::uint32_t timerPeriodMs_ = 0;
};

}  // namespace vesquin
