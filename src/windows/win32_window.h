#pragma once
// The main window on Win32: the picture (bitmap 130) stretched over the client area of the
// Linux build's size, the icon (128), the About entry at the end of the system menu, the
// modal "Error!" boxes, keys as virtual-key codes before any default handling, and the 50 ms
// timer's deadlines. It lends the game the sound output, which it owns.

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "shell/services.h"
#include "shell/tick_timer.h"
#include "sim/transcript_format.h"
#include "windows/about_box.h"
#include "windows/directinput_controller.h"
#include "windows/wasapi_output.h"

namespace vesquin {
struct Game;
}

namespace vesquin::windows {

inline constexpr int kClientWidth = 215;
inline constexpr int kClientHeight = 228;
inline constexpr int kPictureBitmap = 130;
inline constexpr int kIconResource = 128;
inline constexpr int kAboutMenuText = 101;
inline constexpr UINT kAboutCommand = 0x0010;

class Win32Window final : public Window {
 public:
  // The window, made hidden; null when none can be made.
  static std::unique_ptr<Win32Window> Create(HINSTANCE instance, Clock& clock);
  ~Win32Window() override;
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  HWND handle() const { return window_; }
  // From now on the window's events reach the game; `transcript` (test mode) hears of the
  // window's own events too.
  void Attach(Game& game, DirectInputController& controller, TranscriptObserver* transcript);
  // Shows the window: its first paint follows.
  void Show();
  // Gives a message to the About box when it is the box's; true when the box took it.
  bool TakeForAbout(MSG& message) { return about_ && about_->Take(message); }
  bool closeRequested() const { return closeRequested_; }
  TickTimer& timer() { return timer_; }
  // When the 50 ms timer first started, on the clock's time.
  std::optional<std::uint64_t> timerOrigin() const { return timerOrigin_; }
  WasapiOutput* audio() const { return audio_.get(); }

  std::optional<std::string> ExecutablePath() override;
  std::unique_ptr<SoundDevice> CreateSoundDevice() override;
  bool StartTimer(std::uint32_t id, std::uint32_t periodMs) override;
  void KillTimer(std::uint32_t id) override;
  void ShowError(const std::string& text) override;
  void Close() override;

 private:
  Win32Window(HINSTANCE instance, Clock& clock);
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void Paint();
  void AddAboutEntry();

  HINSTANCE instance_;
  Clock& clock_;
  HWND window_ = nullptr;
  HICON icon_ = nullptr;
  std::unique_ptr<AboutBox> about_;
  Game* game_ = nullptr;
  DirectInputController* controller_ = nullptr;
  TranscriptObserver* transcript_ = nullptr;
  std::unique_ptr<WasapiOutput> audio_;
  TickTimer timer_;
  std::optional<std::uint64_t> timerOrigin_;
  bool closeRequested_ = false;
};

}  // namespace vesquin::windows
