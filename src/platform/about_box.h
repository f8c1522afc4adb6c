#pragma once
// The About box, drawn with a bitmap font of its own.

#include <SDL.h>

#include <cstdint>
#include <memory>

namespace vesquin {

// A small modal window with the game's name, its version and an OK button. Its OK button,
// Enter, Escape or its close command end it. Made once, hidden when it ends: SDL 2.26 on X11
// may still address its wake-up message to a window just destroyed, and Xlib ends the program
// on that error.
class AboutBox {
 public:
  // Made hidden, to stand over `owner`; null when no window can be made.
  static std::unique_ptr<AboutBox> Create(SDL_Window* owner);
  ~AboutBox();
  AboutBox(const AboutBox&) = delete;
  AboutBox& operator=(const AboutBox&) = delete;

  void Show();
  bool Shown() const { return shown_; }
  // An event while the box is shown (keys, the box's own window and mouse events); false once
  // the event has ended the box, which is then hidden.
  bool Handle(const SDL_Event& event);
  std::uint32_t WindowId() const { return SDL_GetWindowID(window_); }

 private:
  explicit AboutBox(SDL_Window* window) : window_(window) {}
  void Paint();
  bool End();

  SDL_Window* window_;
  bool shown_ = false;
  bool buttonPressed_ = false;
};

}  // namespace vesquin
