#include "platform/sdl_main_loop.h"

#include <algorithm>
#include <climits>

#include "machine/random.h"
#include "platform/curl_http.h"
#include "platform/key_map.h"
#include "platform/posix_files.h"
#include "platform/sdl_audio.h"
#include "platform/sdl_clock.h"
#include "platform/sdl_controller.h"
#include "platform/x11_errors.h"
#include "shell/game.h"

namespace vesquin {
namespace {

// While the timer is stopped, the wait for an event looks up now and then all the same.
constexpr int kIdleWaitMs = 100;

constexpr WindowEvent kHandled{WindowEvent::Kind::Handled};

}  // namespace

std::optional<WindowEvent> SdlEvents::PollEvent() {
  SDL_Event event;
  if (SDL_PollEvent(&event) == 0) return std::nullopt;
  return Translate(event);
}

std::optional<WindowEvent> SdlEvents::WaitEvent(std::optional<std::uint64_t> deadlineMs) {
  int waitMs = kIdleWaitMs;
  if (deadlineMs) {
    const std::uint64_t now = MonotonicMs();
    const std::uint64_t left = *deadlineMs > now ? *deadlineMs - now : 0;
    waitMs = static_cast<int>(std::min<std::uint64_t>(left, INT_MAX));
  }
  SDL_Event event;
  if (SDL_WaitEventTimeout(&event, waitMs) == 0) return std::nullopt;
  return Translate(event);
}

void SdlEvents::Ticked(std::uint64_t) {
  if (window_.Audio() != nullptr) window_.Audio()->Maintain();
}

WindowEvent SdlEvents::Translate(const SDL_Event& event) {
  switch (event.type) {
    case SDL_QUIT:
      return {WindowEvent::Kind::Close};
    case SDL_WINDOWEVENT:
      return FromWindow(event);
    case SDL_KEYDOWN:
    case SDL_KEYUP:
      if (AboutShown()) {
        EndAboutUnless(window_.About()->Handle(event));
      } else if (event.type == SDL_KEYDOWN) {
        return KeyDown(event.key.keysym);
      } else if (const std::optional<int> code = VirtualKeyOf(event.key.keysym)) {
        return {WindowEvent::Kind::KeyUp, *code};
      }
      return kHandled;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      if (AboutShown()) EndAboutUnless(window_.About()->Handle(event));
      return kHandled;
    case SDL_AUDIODEVICEADDED:
    case SDL_AUDIODEVICEREMOVED:
      if (window_.Audio() != nullptr) window_.Audio()->HandleEvent(event);
      return kHandled;
    default:
      return kHandled;
  }
}

WindowEvent SdlEvents::FromWindow(const SDL_Event& event) {
  if (AboutBox* about = window_.About(); about != nullptr && event.window.windowID == about->WindowId()) {
    if (about->Shown()) EndAboutUnless(about->Handle(event));
    return kHandled;
  }
  if (event.window.event == SDL_WINDOWEVENT_EXPOSED) return {WindowEvent::Kind::Paint};
  // The close command; while the About box is open its owner takes no commands.
  if (event.window.event == SDL_WINDOWEVENT_CLOSE && !AboutShown()) return {WindowEvent::Kind::Close};
  return kHandled;
}

WindowEvent SdlEvents::KeyDown(const SDL_Keysym& key) {
  if (IsSystemKey(key)) {
    // System keys never reach the game: Alt+F4 is the close command (no exit clip), Alt+A
    // opens the About box.
    const bool alt = (key.mod & KMOD_ALT) != 0;
    if (key.sym == SDLK_a && alt) {
      if (AboutBox* about = window_.MakeAbout()) about->Show();
    }
    if (key.sym == SDLK_F4 && alt) return {WindowEvent::Kind::Close};
    return kHandled;
  }
  // Automatic repeats of a held key are further presses.
  if (const std::optional<int> code = VirtualKeyOf(key)) return {WindowEvent::Kind::KeyDown, *code};
  return kHandled;
}

bool SdlEvents::AboutShown() const { return window_.About() != nullptr && window_.About()->Shown(); }

void SdlEvents::EndAboutUnless(bool open) {
  if (open) return;
  // The keyboard comes back to the main window, as it does when a dialog box ends.
  SDL_RaiseWindow(window_.Handle());
  SDL_SetWindowInputFocus(window_.Handle());
}

int RunProgram(const ProgramHooks& hooks) {
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  KeepRunningOnXErrors();
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
    SDL_Log("vesquin: no window can be opened: %s", SDL_GetError());
    return 1;
  }
  int result = 0;
  {
    SdlWindow window;
    if (window.Open()) {
      SdlClock clock;
      PosixFileSystem files;
      CurlHttp http;
      SdlController controller;
      StandardRandom random;
      GameObserver quiet;
      SdlEvents events(window);
      EventPump pump(clock, window, events, quiet);
      Services services{clock, files, http, pump, controller, random, quiet};
      Game game(services);
      pump.Start(game);
      if (hooks.started) hooks.started(window, pump);
      pump.Run(game);
    } else {
      SDL_Log("vesquin: no window can be opened: %s", SDL_GetError());
      result = 1;
    }
  }
  SDL_Quit();
  return result;
}

}  // namespace vesquin
