#pragma once
// The sound card side, fed by the game's own Mixer at 48 kHz: a PulseAudio stream of our own
// where a sound server runs (the desktop's case), otherwise SDL's default output with a
// 256-frame buffer. The output may go away (headphones unplugged, sound server restarted):
// the mixer and its voices live on, and the output is reopened when it comes back. Opening
// the stream again never holds the game's loop.

#include <SDL.h>

#include <cstdint>
#include <memory>

#include "platform/mixer.h"
#include "platform/pulse_output.h"

namespace vesquin {

class SdlAudioOutput : public SoundDevice {
 public:
  static constexpr std::uint16_t kBufferFrames = 256;          // 5.3 ms at 48 kHz
  static constexpr std::uint16_t kFallbackBufferFrames = 512;  // for devices that refuse 256

  // Opens the default output, waiting up to about 2 s for a sound server's stream; null when
  // there is neither a sound server nor an output SDL can open. A server that takes the
  // connection but makes no stream ready leaves the output closed, to be tried again.
  static std::unique_ptr<SdlAudioOutput> Open();
  ~SdlAudioOutput() override;
  SdlAudioOutput(const SdlAudioOutput&) = delete;
  SdlAudioOutput& operator=(const SdlAudioOutput&) = delete;

  std::unique_ptr<SoundVoice> CreateVoice(const ClipImage& clip, bool threeD) override;
  std::unique_ptr<SoundListener> CreateListener() override;

  // Notes SDL_AUDIODEVICEREMOVED and SDL_AUDIODEVICEADDED; other events are ignored.
  void HandleEvent(const SDL_Event& event);
  // Called on every tick of the main loop: closes an output that has stopped, hands the mixer
  // to a stream the server has just made ready, and starts reopening the default output when
  // one may be there again (at once after SDL reports a new device, otherwise about once a
  // second). While nothing renders it moves the mixer on by the time that has passed.
  void Maintain();

  // Frames per device buffer (for PulseAudio: per request of the server) as opened, 0 while
  // closed.
  std::uint16_t BufferFrames() const { return bufferFrames_; }
  // How long a sample rendered now takes to leave the sound server, as the server reports
  // it; -1 when the output is not a PulseAudio stream or cannot tell.
  double ServerLatencyMs() const { return rendering_ && pulse_ ? pulse_->LatencyMs() : -1.0; }
  // The audio callback's timing on a PulseAudio stream (all zero otherwise).
  CallbackStats Stats() const { return pulse_ ? pulse_->Stats() : CallbackStats{}; }
  Mixer& GetMixer() { return *mixer_; }

 private:
  // The opened SDL device; closing it waits for a running callback to finish.
  struct Device {
    SDL_AudioDeviceID id = 0;
    Device() = default;
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    ~Device() { Close(); }
    void Close();
  };
  // SDL's audio subsystem, held for as long as the output exists.
  struct AudioSubsystem {
    bool initialised = false;
    AudioSubsystem() = default;
    AudioSubsystem(const AudioSubsystem&) = delete;
    AudioSubsystem& operator=(const AudioSubsystem&) = delete;
    ~AudioSubsystem();
  };

  SdlAudioOutput() = default;
  // Starts our own stream where one is wanted, else opens SDL's device.
  void OpenOutput();
  // Our stream is ready: it renders the mixer from now on.
  void StartStream();
  bool OpenSdlDevice();
  void CloseOutput();
  static void SDLCALL Fill(void* mixer, Uint8* stream, int bytes);

  AudioSubsystem subsystem_;  // first in, last out
  std::unique_ptr<Mixer> mixer_;
  Device device_;
  std::unique_ptr<PulseOutput> pulse_;
  std::uint16_t bufferFrames_ = 0;
  bool rendering_ = false;   // SDL's device, or our stream once handed the mixer, renders it
  bool serverSeen_ = false;  // a sound server has taken our stream's connection
  int channels_ = 2;
  bool deviceAdded_ = false;
  std::uint32_t lastAttemptMs_ = 0;
  std::uint32_t lastAdvanceMs_ = 0;  // while closed: how far the mixer has been moved on
};

}  // namespace vesquin
