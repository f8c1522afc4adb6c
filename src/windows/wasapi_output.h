#pragma once
// The sound card side on Windows: the game's own Mixer rendered into a WASAPI shared-mode,
// event-driven stream on a thread registered with MMCSS ("Pro Audio"). Where the engine mixes
// at the mixer's rate in 32-bit float stereo, IAudioClient3 gives the engine's smallest
// period; otherwise the stream asks the engine to convert (AUTOCONVERTPCM with its
// default-quality resampler), since every clip is at the mixer's rate and Windows' own
// converter does the rest. What is kept queued grows after the engine nearly ran dry and comes
// back down after a quiet stretch, as on Linux. When the default output changes or goes (headphones
// unplugged) the stream reopens on the new one; while there is none, the clips' time goes on.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "platform/mixer.h"
#include "windows/handles.h"

namespace vesquin::windows {

// How the render thread has fared (read on any thread).
struct OutputStats {
  std::uint32_t periodFrames = 0;  // frames per engine period of the open stream, 0 while closed
  std::uint32_t bufferFrames = 0;
  std::uint32_t targetFrames = 0;         // what is kept queued now
  std::uint32_t longestTargetFrames = 0;  // the most since the output was made
  std::uint32_t sampleRate = 0;           // the rate the stream was opened at
  bool lowLatency = false;                // opened through IAudioClient3 at the engine's smallest period
  bool converted = false;                 // the engine converts the stream to its own format
  std::uint64_t opens = 0;                // streams opened since the output was made
  std::uint64_t emptyWakes = 0;           // wake-ups that found the engine's queue empty: a gap
  bool hrtf = false;                      // 3-D voices are heard through the prepared filter table
};

class WasapiOutput : public SoundDevice {
 public:
  // Opens the default output device and starts rendering; null when there is no output or it
  // refuses every stream. `hrtfPath` is the prepared filter table.
  static std::unique_ptr<WasapiOutput> Open(const std::string& hrtfPath);
  ~WasapiOutput() override;
  WasapiOutput(const WasapiOutput&) = delete;
  WasapiOutput& operator=(const WasapiOutput&) = delete;

  std::unique_ptr<SoundVoice> CreateVoice(const ClipImage& clip, bool threeD) override {
    return mixer_.CreateVoice(clip, threeD);
  }
  std::unique_ptr<SoundListener> CreateListener() override { return mixer_.CreateListener(); }

  OutputStats Stats() const;

 private:
  class Stream;
  class DeviceWatch;
  explicit WasapiOutput(const std::string& hrtfPath);
  void Run();

  Mixer mixer_;
  UniqueHandle stop_;
  UniqueHandle defaultChanged_;
  UniqueHandle firstOpen_;
  std::atomic<bool> opened_{false};
  std::thread thread_;
  std::atomic<std::uint32_t> periodFrames_{0}, bufferFrames_{0}, targetFrames_{0}, longestTargetFrames_{0},
      sampleRate_{0};
  std::atomic<bool> lowLatency_{false}, converted_{false};
  std::atomic<std::uint64_t> opens_{0}, emptyWakes_{0};
};

}  // namespace vesquin::windows
