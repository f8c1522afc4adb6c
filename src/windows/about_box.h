#pragma once
// The About box (dialog resource 100): the game's name, its version and an OK button. It is
// modeless, with its owner disabled while it is open, so that the window's loop goes on
// driving the game's ticks; keys reach the box alone.

#include <windows.h>

namespace vesquin::windows {

inline constexpr int kAboutDialog = 100;

class AboutBox {
 public:
  explicit AboutBox(HWND owner) : owner_(owner) {}
  ~AboutBox() { End(); }
  AboutBox(const AboutBox&) = delete;
  AboutBox& operator=(const AboutBox&) = delete;

  void Show();
  // Gives a message to the box when it is the box's; true when the box took it.
  bool Take(MSG& message);
  // Ends the box; the keyboard comes back to the owner.
  void End();

 private:
  static INT_PTR CALLBACK Proc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);

  HWND owner_;
  HWND box_ = nullptr;
};

}  // namespace vesquin::windows
