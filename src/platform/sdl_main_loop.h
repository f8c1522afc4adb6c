#pragma once
// The program on SDL2: SDL's events as the main window's events for the game's event pump,
// and the whole program from SDL's start to its end.

#include <SDL.h>

#include <cstdint>
#include <functional>
#include <optional>

#include "machine/platform_window.h"
#include "platform/sdl_window.h"
#include "shell/event_pump.h"

namespace vesquin {

// SDL's event queue. Keys go to the About box alone while it is open; the About box, the
// mouse and the sound devices' events are handled here and never reach the game.
class SdlEvents final : public EventSource {
 public:
  explicit SdlEvents(SdlWindow& window) : window_(window) {}

  std::optional<WindowEvent> PollEvent() override;
  std::optional<WindowEvent> WaitEvent(std::optional<std::uint64_t> deadlineMs) override;
  void Ticked(std::uint64_t takenMs) override;

 private:
  WindowEvent Translate(const SDL_Event& event);
  WindowEvent FromWindow(const SDL_Event& event);
  WindowEvent KeyDown(const SDL_Keysym& key);
  bool AboutShown() const;
  void EndAboutUnless(bool open);

  SdlWindow& window_;
};

// What a program that drives the game as `vesquin` does may add (the latency benchmark).
struct ProgramHooks {
  // After start-up, before the first paint.
  std::function<void(SdlWindow&, EventPump&)> started;
};

// The whole program: SDL, the window, start-up, the event pump until the window closes,
// shutdown. Returns the process's exit code.
int RunProgram(const ProgramHooks& hooks = {});

}  // namespace vesquin
