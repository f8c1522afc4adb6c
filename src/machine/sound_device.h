#pragma once
// What the game asks of the machine's sound output: voices that hold one whole clip each,
// with the classic pan and volume controls, and 3-D voices heard from a position.

#include <cstdint>
#include <memory>

#include "machine/clip_image.h"

namespace vesquin {

// Status words of a voice. Only these two exact values count as sounding.
inline constexpr std::uint32_t kStatusPlaying = 1;
inline constexpr std::uint32_t kStatusLooping = 5;

inline constexpr std::int32_t kPanLeft = -10'000;
inline constexpr std::int32_t kPanRight = 10'000;
inline constexpr std::int32_t kVolumeSilent = -10'000;
inline constexpr std::int32_t kVolumeFull = 0;

// One loaded clip in the device. Destroying it silences and frees it.
class SoundVoice {
 public:
  virtual ~SoundVoice() = default;
  // Frame position from which the next Play starts (only 0 is used: rewind).
  virtual void SetCurrentPosition(std::uint32_t frame) = 0;
  // Pan in hundredths of a decibel of attenuation of the other channel. Outside
  // -10,000..10,000 the value is refused (false) and the previous one stays.
  virtual bool SetPan(std::int32_t pan) = 0;
  // Volume in hundredths of a decibel, -10,000..0; outside it, refused and kept as before.
  virtual bool SetVolume(std::int32_t volume) = 0;
  // Starts from the current position, once or looping.
  virtual void Play(bool looping) = 0;
  // Stops and keeps the position where it stopped.
  virtual void Stop() = 0;
  // kStatusPlaying, kStatusLooping, or 0 when silent. A one-shot voice that reached its end
  // stands at its start again.
  virtual std::uint32_t Status() = 0;
  // Sounding length of the clip in whole milliseconds (rounded up).
  virtual std::uint32_t LengthMs() const = 0;
  // 3-D voices only (x right, y up, z ahead of the listener); false on a 2-D voice.
  virtual bool SetPosition(float x, float y, float z) = 0;
  virtual bool SetMinDistance(float distance) = 0;
};

// The listener from which 3-D voices are heard; the game only holds it.
class SoundListener {
 public:
  virtual ~SoundListener() = default;
};

class SoundDevice {
 public:
  virtual ~SoundDevice() = default;
  // A voice for the clip, converted once to the device's format; null when refused
  // (a 3-D voice needs a mono clip).
  virtual std::unique_ptr<SoundVoice> CreateVoice(const ClipImage& clip, bool threeD) = 0;
  // Null when the device has no 3-D rendering.
  virtual std::unique_ptr<SoundListener> CreateListener() = 0;
};

}  // namespace vesquin
