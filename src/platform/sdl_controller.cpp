#include "platform/sdl_controller.h"

#include <cstring>

namespace vesquin {

int SdlController::Create() {
  if (!subsystem_) {
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) return -1;
    subsystem_ = true;
  }
  // The first attached controller that can be opened is the one.
  for (int i = 0; i < SDL_NumJoysticks() && joystick_ == nullptr; ++i) joystick_ = SDL_JoystickOpen(i);
  if (joystick_ == nullptr) return -1;
  guid_ = SDL_JoystickGetGUID(joystick_);
  return 0;
}

void SdlController::Reacquire() {
  for (int i = 0; i < SDL_NumJoysticks(); ++i) {
    const SDL_JoystickGUID guid = SDL_JoystickGetDeviceGUID(i);
    if (std::memcmp(guid.data, guid_.data, sizeof guid.data) != 0) continue;
    SDL_Joystick* again = SDL_JoystickOpen(i);
    if (again == nullptr) return;
    SDL_JoystickClose(joystick_);
    joystick_ = again;
    return;
  }
}

int SdlController::Poll() {
  if (joystick_ == nullptr) return 0;
  SDL_JoystickUpdate();
  if (!SDL_JoystickGetAttached(joystick_)) {
    // Unplugged: nothing is read on this tick; the device is taken again once it is back.
    Reacquire();
    return 0;
  }
  const int axes = SDL_JoystickNumAxes(joystick_);
  const int buttons = SDL_JoystickNumButtons(joystick_);
  const int hats = SDL_JoystickNumHats(joystick_);
  if (axes < 0 || buttons < 0 || hats < 0) return -1;
  // The state is read and not used: no game action is bound to the controller.
  for (int i = 0; i < axes; ++i) static_cast<void>(SDL_JoystickGetAxis(joystick_, i));
  for (int i = 0; i < buttons; ++i) static_cast<void>(SDL_JoystickGetButton(joystick_, i));
  for (int i = 0; i < hats; ++i) static_cast<void>(SDL_JoystickGetHat(joystick_, i));
  return 0;
}

void SdlController::Release() {
  if (joystick_ != nullptr) SDL_JoystickClose(joystick_);
  joystick_ = nullptr;
  if (subsystem_) SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
  subsystem_ = false;
}

}  // namespace vesquin
