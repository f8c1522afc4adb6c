#include "windows/directinput_controller.h"

namespace vesquin::windows {
namespace {

constexpr LONG kAxisRange = 1000;
// An acquisition that keeps reporting lost input is given up for this tick.
constexpr int kAcquireTries = 8;

struct Enumeration {
  IDirectInput8W* input;
  ComPtr<IDirectInputDevice8W>* device;
};

BOOL CALLBACK TakeFirstController(const DIDEVICEINSTANCEW* instance, void* context) {
  auto* e = static_cast<Enumeration*>(context);
  if (FAILED(e->input->CreateDevice(instance->guidInstance, e->device->ReleaseAndGetAddressOf(), nullptr))) {
    return DIENUM_CONTINUE;
  }
  return DIENUM_STOP;
}

BOOL CALLBACK ScaleAxis(const DIDEVICEOBJECTINSTANCEW* axis, void* context) {
  auto* device = static_cast<IDirectInputDevice8W*>(context);
  DIPROPRANGE range{};
  range.diph.dwSize = sizeof range;
  range.diph.dwHeaderSize = sizeof range.diph;
  range.diph.dwHow = DIPH_BYID;
  range.diph.dwObj = axis->dwType;
  range.lMin = -kAxisRange;
  range.lMax = kAxisRange;
  return FAILED(device->SetProperty(DIPROP_RANGE, &range.diph)) ? DIENUM_STOP : DIENUM_CONTINUE;
}

}  // namespace

int DirectInputController::Create() {
  try {
    HRESULT hr = DirectInput8Create(GetModuleHandleW(nullptr), DIRECTINPUT_VERSION, IID_IDirectInput8W,
                                    reinterpret_cast<void**>(input_.ReleaseAndGetAddressOf()), nullptr);
    if (FAILED(hr)) return hr;
    Enumeration e{input_.Get(), &device_};
    hr = input_->EnumDevices(DI8DEVCLASS_GAMECTRL, TakeFirstController, &e, DIEDFL_ATTACHEDONLY);
    if (FAILED(hr)) return hr;
    if (!device_) return -1;
    if (FAILED(hr = device_->SetDataFormat(&c_dfDIJoystick2))) return hr;
    if (FAILED(hr = device_->SetCooperativeLevel(window_, DISCL_EXCLUSIVE | DISCL_FOREGROUND))) return hr;
    DIDEVCAPS capabilities{};
    capabilities.dwSize = sizeof capabilities;
    if (FAILED(hr = device_->GetCapabilities(&capabilities))) return hr;
    if (FAILED(hr = device_->EnumObjects(ScaleAxis, device_.Get(), DIDFT_AXIS))) return hr;
    return 0;
  } catch (...) {
    return -1;
  }
}

int DirectInputController::Poll() {
  try {
    if (!device_) return 0;
    if (FAILED(device_->Poll())) {
      // Not held (another window in front, or unplugged): try to take it, read nothing now.
      HRESULT hr = device_->Acquire();
      for (int i = 1; hr == DIERR_INPUTLOST && i < kAcquireTries; ++i) hr = device_->Acquire();
      return 0;
    }
    DIJOYSTATE2 state{};  // read, and not used: no game action is bound to the controller
    const HRESULT hr = device_->GetDeviceState(sizeof state, &state);
    return FAILED(hr) ? hr : 0;
  } catch (...) {
    return 0;
  }
}

void DirectInputController::Release() {
  if (device_) device_->Unacquire();
  device_.Reset();
  input_.Reset();
}

void DirectInputController::Activated() {
  if (device_) device_->Acquire();
}

}  // namespace vesquin::windows
