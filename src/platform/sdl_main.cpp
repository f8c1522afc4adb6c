// vesquin: the game in its window. One thread; the window's own loop is the only loop.

#include <SDL.h>

#include "platform/curl_http.h"
#include "platform/posix_files.h"
#include "platform/sdl_audio.h"
#include "platform/sdl_window.h"
#include "shell/game.h"
#include "shell/main_window.h"

namespace {

using vesquin::Game;
using vesquin::SdlWindow;

// The next timer deadline after `now` on the grid start + k * period: a late tick never
// pushes the later ones back, and ticks missed while the game was held are merged into one.
std::uint64_t NextDeadline(std::uint64_t start, std::uint64_t period, std::uint64_t now) {
  return start + ((now - start) / period + 1) * period;
}

class MainLoop {
 public:
  MainLoop(SdlWindow& window, vesquin::Clock& clock, Game& game) : window_(window), clock_(clock), game_(game) {}

  void Run() {
    start_ = clock_.NowMs();
    nextTick_ = start_ + vesquin::kTickMs;
    while (!window_.closeRequested()) {
      SDL_Event event;
      // Every queued event is handled before the next tick, so keys pressed while the game
      // was held come first, in the order they were pressed.
      if (SDL_PollEvent(&event)) {
        Handle(event);
        continue;
      }
      const std::uint64_t now = clock_.NowMs();
      if (window_.timerRunning() && now >= nextTick_) {
        Tick();
        continue;
      }
      const int timeout = window_.timerRunning() ? static_cast<int>(nextTick_ - now) : 100;
      if (SDL_WaitEventTimeout(&event, timeout)) Handle(event);
    }
  }

 private:
  void Tick() {
    vesquin::TimerEvent(game_, vesquin::tickTimerId);
    if (window_.audio() != nullptr) window_.audio()->Maintain();
    nextTick_ = NextDeadline(start_, vesquin::kTickMs, clock_.NowMs());
  }

  void Handle(const SDL_Event& event) {
    switch (event.type) {
      case SDL_QUIT: window_.Close(); break;
      case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_CLOSE) window_.Close();
        if (event.window.event == SDL_WINDOWEVENT_EXPOSED) {
          window_.Paint();
          vesquin::PaintWindow(game_);
        }
        break;
      case SDL_KEYDOWN: KeyDown(event.key); break;
      case SDL_KEYUP:
        if (const std::optional<int> key = vesquin::VirtualKeyOf(event.key.keysym.sym)) vesquin::KeyUpEvent(game_, *key);
        break;
      case SDL_AUDIODEVICEADDED:
      case SDL_AUDIODEVICEREMOVED:
        if (window_.audio() != nullptr) window_.audio()->HandleEvent(event);
        break;
      default: break;
    }
  }

  void KeyDown(const SDL_KeyboardEvent& key) {
    if ((key.keysym.mod & KMOD_ALT) != 0) {
      // System chords never reach the game: Alt+F4 closes without the exit clip, Alt+A
      // shows the About box while the game's ticks go on.
      if (key.keysym.sym == SDLK_F4) window_.Close();
      if (key.keysym.sym == SDLK_a) {
        window_.ShowAbout([this] {
          if (window_.timerRunning() && clock_.NowMs() >= nextTick_) Tick();
        });
      }
      return;
    }
    if (key.keysym.sym == SDLK_F10) return;  // a system key, as the Alt chords are
    if (const std::optional<int> code = vesquin::VirtualKeyOf(key.keysym.sym)) vesquin::KeyDownEvent(game_, *code);
  }

  SdlWindow& window_;
  vesquin::Clock& clock_;
  Game& game_;
  std::uint64_t start_ = 0;
  std::uint64_t nextTick_ = 0;
};

}  // namespace

int main(int, char**) {
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
    SDL_Log("vesquin: no window can be opened: %s", SDL_GetError());
    return 1;
  }
  {
    SdlWindow window;
    if (!window.Open()) {
      SDL_Log("vesquin: no window can be opened: %s", SDL_GetError());
      SDL_Quit();
      return 1;
    }
    vesquin::SdlClock clock;
    vesquin::PosixFileSystem files;
    vesquin::CurlHttp http;
    vesquin::SdlController controller;
    vesquin::StandardRandom random;
    vesquin::GameObserver quiet;
    vesquin::Services services{clock, files, http, window, controller, random, quiet};
    Game game(services);

    vesquin::InitialiseWindow(game);
    if (!window.closeRequested()) {
      window.Paint();
      vesquin::PaintWindow(game);
      MainLoop(window, clock, game).Run();
    }
    vesquin::ShutdownWindow(game);
  }
  SDL_Quit();
  return 0;
}
