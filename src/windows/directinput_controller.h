#pragma once
// The first attached game controller through DirectInput 8, held exclusively while the
// window is in front and read on every tick; its readings are not used.

#include <windows.h>

#define DIRECTINPUT_VERSION 0x0800
#include <dinput.h>

#include "machine/services.h"
#include "windows/handles.h"

namespace vesquin::windows {

class DirectInputController final : public Controller {
 public:
  explicit DirectInputController(HWND window) : window_(window) {}
  int Create() override;
  int Poll() override;
  void Release() override;
  // The window came to the front: take the controller again.
  void Activated();

 private:
  HWND window_;
  ComPtr<IDirectInput8W> input_;
  ComPtr<IDirectInputDevice8W> device_;
};

}  // namespace vesquin::windows
