#pragma once
// The game's own mixer: every loaded clip becomes a voice converted once to 48 kHz, and
// Render mixes the sounding voices into interleaved 16-bit frames. No audio API here: the
// SDL output, the simulator and the tests all drive the same Render.
//
// Two threads meet here and never wait for each other. The game thread (every voice
// operation, CreateVoice, the queries) sends commands through a lock-free queue; the thread
// that renders (the audio callback) applies them at the start of each Render and publishes
// each voice's status through an atomic. Clip memory is freed only on the game thread, once
// the renderer has handed it back.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "machine/sound_device.h"
#include "platform/hrtf.h"

namespace vesquin {

class Mixer : public SoundDevice {
 public:
  static constexpr std::uint32_t kSampleRate = 48'000;
  // Longest gain ramp after a pan, volume or position change of a sounding voice.
  static constexpr std::uint32_t kRampFrames = 192;  // 4 ms
  // A stopped, released or restarted voice fades out over this many frames instead of
  // being cut: no click.
  static constexpr std::uint32_t kFadeFrames = 128;  // 2.7 ms

  // `outputChannels` is 2, 4 or 6 (anything else counts as 2). `hrtfPath` names the filter
  // set opened when the first 3-D voice is created.
  explicit Mixer(int outputChannels = 2, std::string hrtfPath = kDefaultHrtfPath);
  ~Mixer() override;
  Mixer(const Mixer&) = delete;
  Mixer& operator=(const Mixer&) = delete;

  std::unique_ptr<SoundVoice> CreateVoice(const ClipImage& clip, bool threeD) override;
  std::unique_ptr<SoundListener> CreateListener() override;

  // Mixes the next `frames` frames into `interleaved` (frames * OutputChannels() samples).
  // Called by one thread at a time (the audio callback); takes no lock, never allocates and
  // makes no system call.
  void Render(std::int16_t* interleaved, std::size_t frames);
  // Moves every voice on by `frames` exactly as Render would, without mixing. Same thread
  // rule as Render.
  void Advance(std::size_t frames);

  int OutputChannels() const;
  // For an output reopened with another speaker layout; voices keep playing. Render writes
  // the new layout from its next call on.
  void SetOutputChannels(int channels);

  // Whether 3-D voices are rendered with head-related filters (false before the first 3-D
  // voice, and when the filter set could not be opened).
  bool HasHrtf() const;

  // Frames rendered since the mixer was made.
  std::uint64_t FramesRendered() const;

  // Called from Render, on the rendering thread, when a voice that was started from its first
  // frame writes that frame: `frameIndex` is its place in the output (counted as
  // FramesRendered). For measuring latency; must not block or allocate.
  using FirstFrameHook = void (*)(void* context, std::uint64_t frameIndex);
  void SetFirstFrameHook(FirstFrameHook hook, void* context);

  struct Core;

 private:
  std::shared_ptr<Core> core_;
};

}  // namespace vesquin
