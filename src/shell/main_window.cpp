#include "shell/main_window.h"

#include "shell/game.h"

namespace vesquin {

bool InitFolders(Game& game) {
  try {
    const std::optional<std::string> path = game.sys.window.ExecutablePath();
    if (!path || path->empty()) return false;
    const std::size_t slash = path->find_last_of('/');
    game.dataFolder = slash == std::string::npos ? std::string() : path->substr(0, slash + 1);
    return true;
  } catch (...) {
    return false;
  }
}

bool CreateSoundDevice(Game& game) {
  try {
    game.soundDevice = game.sys.window.CreateSoundDevice();
    game.sound.SetDevice(game.soundDevice.get());
    return game.soundDevice != nullptr;
  } catch (...) {
    return false;
  }
}

void ReleaseSoundDevice(Game& game) {
  try {
    game.sound.SetDevice(nullptr);
    game.soundDevice.reset();
  } catch (...) {
  }
}

bool InitDevices(Game& game) {
  try {
    if (!CreateSoundDevice(game)) {
      game.sys.window.ShowError("DSound not created");
      return false;
    }
    if (!game.sys.window.StartTimer(tickTimerId, kTickMs)) return false;
    game.controllerActive = game.sys.controller.Create() >= 0;
    game.sys.random.Seed(static_cast<std::uint32_t>(game.sys.clock.CalendarSeconds()));
    if (!LoadMenuClips(game)) return false;
    if (!LoadNumberClips(game)) return false;
    game.gameState = state::Intro;
    game.sys.observer.StateChanged(state::Intro);
    game.ticksEnabled = true;
    return true;
  } catch (...) {
    return false;
  }
}

void InitialiseWindow(Game& game) {
  game.windowReady = true;
  if (!InitFolders(game)) {
    game.windowReady = false;
    game.sys.window.Close();
    return;
  }
  // A failure here leaves the window open and silent until the player closes it; nothing
  // created before the failing step is undone.
  if (!InitDevices(game)) game.sys.window.ShowError("Error in second initialisation");
}

void PaintWindow(Game& game) {
  if (game.windowReady && !game.introStarted) {
    game.introStarted = true;
    StartIntro(game);
  }
}

void TimerEvent(Game& game, std::uint32_t timerId) {
  if (game.controllerActive) {
    try {
      if (game.sys.controller.Poll() < 0) {
        game.controllerActive = false;
        game.sys.controller.Release();
      }
    } catch (...) {
      game.controllerActive = false;  // a throwing controller is dropped, not released
    }
  }
  if (!game.ticksEnabled) return;
  if (timerId == tickTimerId) RouteTick(game);
}

void KeyDownEvent(Game& game, int key) {
  if (RouteKeyDown(game, key) == 0) game.sys.window.Close();
}

void KeyUpEvent(Game&, int) {}

void ShutdownWindow(Game& game) {
  try {
    ReleaseMenuClips(game);
  } catch (...) {
  }
  try {
    ReleaseNumberClips(game);
  } catch (...) {
  }
  try {
    game.sys.window.KillTimer(tickTimerId);
  } catch (...) {
  }
  try {
    game.sys.controller.Release();
  } catch (...) {
  }
  ReleaseSoundDevice(game);
}

}  // namespace vesquin
