#pragma once
// The game controller on SDL's joystick layer.

#include <SDL.h>

#include "machine/services.h"

namespace vesquin {

// The first attached joystick or gamepad, read on every timer event; the readings are not used.
// An unplugged controller is read no more but kept: each poll looks for the same device (same
// GUID) and opens it again when it is back. A read fails only when SDL no longer knows the
// opened device; the game then releases it for good.
class SdlController final : public Controller {
 public:
  SdlController() = default;
  ~SdlController() override { Release(); }
  SdlController(const SdlController&) = delete;
  SdlController& operator=(const SdlController&) = delete;

  int Create() override;
  int Poll() override;
  void Release() override;

  bool Opened() const { return joystick_ != nullptr; }
  // Whether the opened device is plugged in.
  bool Attached() const { return joystick_ != nullptr && SDL_JoystickGetAttached(joystick_) == SDL_TRUE; }

 private:
  void Reacquire();

  bool subsystem_ = false;
  SDL_Joystick* joystick_ = nullptr;
  SDL_JoystickGUID guid_{};
};

}  // namespace vesquin
