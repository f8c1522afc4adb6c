#pragma once
// The main window on Win32 and its events for the game's event pump: the picture (bitmap
// 130) stretched over the client area of the Linux build's size, the icon (128), the About
// entry at the end of the system menu, the modal "Error!" boxes, keys as virtual-key codes
// taken before any default handling, and the wait for the next event or the next tick's
// deadline. It lends the game the sound output, which it owns.

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "machine/platform_window.h"
#include "windows/about_box.h"
#include "windows/directinput_controller.h"
#include "windows/wasapi_output.h"
#include "windows/win32_clock.h"

namespace vesquin::windows {

inline constexpr int kClientWidth = 215;
inline constexpr int kClientHeight = 228;
inline constexpr int kPictureBitmap = 130;
inline constexpr int kIconResource = 128;
inline constexpr int kAboutMenuText = 101;
inline constexpr UINT kAboutCommand = 0x0010;

class Win32Window final : public PlatformWindow, public EventSource {
 public:
  // The window, made hidden; null when none can be made.
  static std::unique_ptr<Win32Window> Create(HINSTANCE instance, Win32Clock& clock);
  ~Win32Window() override;
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  HWND Handle() const { return window_; }
  // The controller that the window takes again when it comes to the front.
  void SetController(DirectInputController& controller) { controller_ = &controller; }
  // Shows the window once start-up is done.
  void Show();
  // When the 50 ms timer first started, on the clock's time.
  std::optional<std::uint64_t> TimerOrigin() const { return timerOrigin_; }
  // How the sound output fared, up to now or up to its end; nothing when none opened.
  std::optional<OutputStats> OutputFigures() const { return audio_ ? audio_->Stats() : lastStats_; }

  // PlatformWindow
  std::optional<std::string> ExecutablePath() override;
  std::unique_ptr<SoundDevice> CreateSoundDevice() override;
  void ShowError(const std::string& text) override;
  void Paint() override;

  // EventSource
  std::optional<WindowEvent> PollEvent() override;
  std::optional<WindowEvent> WaitEvent(std::optional<std::uint64_t> deadlineMs) override;
  void TimerStarted(std::uint64_t startMs) override;
  void Ticked(std::uint64_t takenMs) override;
  // Test mode: `report` hears of every tick the game takes, with the clock's time of it.
  void ReportTicks(std::function<void(std::uint64_t)> report) { reportTick_ = std::move(report); }

 private:
  Win32Window(HINSTANCE instance, Win32Clock& clock);
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  // Dispatches waiting messages until one gives the game an event or none is left.
  std::optional<WindowEvent> Dispatch();
  void AddAboutEntry();

  HINSTANCE instance_;
  Win32Clock& clock_;
  HWND window_ = nullptr;
  HICON icon_ = nullptr;
  std::unique_ptr<AboutBox> about_;
  DirectInputController* controller_ = nullptr;
  std::unique_ptr<WasapiOutput> audio_;
  std::optional<OutputStats> lastStats_;
  std::deque<WindowEvent> events_;
  std::optional<std::uint64_t> timerOrigin_;
  std::function<void(std::uint64_t)> reportTick_;
};

}  // namespace vesquin::windows
