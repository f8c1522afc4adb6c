#pragma once
// The main window on SDL2: one small window showing one picture, message boxes, the About
// box, and the sound output it owns.

#include <SDL.h>

#include <memory>
#include <optional>
#include <string>

#include "machine/platform_window.h"
#include "platform/about_box.h"

namespace vesquin {

class SdlAudioOutput;

inline constexpr int kWindowWidth = 215;
inline constexpr int kWindowHeight = 228;

class SdlWindow final : public PlatformWindow {
 public:
  SdlWindow() = default;
  ~SdlWindow() override;
  SdlWindow(const SdlWindow&) = delete;
  SdlWindow& operator=(const SdlWindow&) = delete;

  // False when SDL's video could not give a window.
  bool Open();
  SDL_Window* Handle() const { return window_; }
  // The About box, made on first use; null when it cannot be made. It lives as long as the
  // window: a window destroyed at once after an event came in can take SDL's wake-up message
  // with it (see AboutBox).
  AboutBox* MakeAbout();
  // The About box if it was made.
  AboutBox* About() const { return about_.get(); }
  // The machine's sound output, for device events and upkeep; null when none is open.
  SdlAudioOutput* Audio() const { return audio_.get(); }

  std::optional<std::string> ExecutablePath() override;
  std::unique_ptr<SoundDevice> CreateSoundDevice() override;
  void ShowError(const std::string& text) override;
  // Draws the picture stretched over the whole client area.
  void Paint() override;

 private:
  SDL_Window* window_ = nullptr;
  std::string folder_;  // the executable's folder, where the picture and the icon lie
  std::unique_ptr<SdlAudioOutput> audio_;
  std::unique_ptr<AboutBox> about_;
};

}  // namespace vesquin
