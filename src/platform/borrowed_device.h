#pragma once
// Lends a sound device that the machine owns to the game. The game releases its handle at
// shutdown, while screens may still hold voices; the device itself lives until the machine
// goes, so no voice ever outlives it.

#include <functional>

#include "machine/sound_device.h"

namespace vesquin {

class BorrowedSoundDevice final : public SoundDevice {
 public:
  BorrowedSoundDevice(SoundDevice& device, std::function<void()> onRelease)
      : device_(device), onRelease_(std::move(onRelease)) {}
  ~BorrowedSoundDevice() override {
    if (onRelease_) onRelease_();
  }
  std::unique_ptr<SoundVoice> CreateVoice(const ClipImage& clip, bool threeD) override {
    return device_.CreateVoice(clip, threeD);
  }
  std::unique_ptr<SoundListener> CreateListener() override { return device_.CreateListener(); }

 private:
  SoundDevice& device_;
  std::function<void()> onRelease_;
};

}  // namespace vesquin
