#include "platform/sdl_audio.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace vesquin {
namespace {

constexpr std::uint32_t kRetryMs = 1'000;

// The widest layout the mixer knows that SDL's default output has: 2, 4 or 6 channels.
int DefaultOutputChannels() {
  SDL_AudioSpec spec{};
  char* name = nullptr;
  if (SDL_GetDefaultAudioInfo(&name, &spec, 0) != 0) return 2;
  SDL_free(name);
  if (spec.channels >= 6) return 6;
  if (spec.channels >= 4) return 4;
  return 2;
}

// Our own PulseAudio stream, unless the player has chosen another of SDL's drivers.
bool WantsPulseAudio() {
  const char* driver = std::getenv("SDL_AUDIODRIVER");
  return driver == nullptr || *driver == '\0' || std::strcmp(driver, "pulseaudio") == 0 ||
         std::strcmp(driver, "pulse") == 0;
}

}  // namespace

void SdlAudioOutput::Device::Close() {
  if (id != 0) SDL_CloseAudioDevice(id);
  id = 0;
}

SdlAudioOutput::AudioSubsystem::~AudioSubsystem() {
  if (initialised) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

std::unique_ptr<SdlAudioOutput> SdlAudioOutput::Open() {
  std::unique_ptr<SdlAudioOutput> output;
  try {
    output.reset(new SdlAudioOutput());
    // How the stream is named in the player's sound settings.
    SDL_SetHint(SDL_HINT_APP_NAME, "Vesquin");
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Vesquin");
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, "Vesquin");
    output->mixer_ = std::make_unique<Mixer>(2);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  output->lastAttemptMs_ = output->lastAdvanceMs_ = SDL_GetTicks();
  if (WantsPulseAudio()) {
    output->pulse_ = PulseOutput::Open(*output->mixer_);
    if (output->pulse_) {
      // The intro is heard from its first sample where the server answers in time.
      output->pulse_->WaitOpened();
      if (output->pulse_->Ready()) {
        output->StartStream();
        return output;
      }
      if (output->pulse_->ServerFound()) {
        output->serverSeen_ = true;
        output->CloseOutput();
        return output;
      }
    }
    output->pulse_.reset();
  }
  if (!output->OpenSdlDevice()) return nullptr;
  return output;
}

SdlAudioOutput::~SdlAudioOutput() = default;

void SDLCALL SdlAudioOutput::Fill(void* self, Uint8* stream, int bytes) {
  auto* output = static_cast<SdlAudioOutput*>(self);
  const auto frames =
      static_cast<std::size_t>(bytes) / (sizeof(std::int16_t) * static_cast<std::size_t>(output->channels_));
  output->mixer_->Render(reinterpret_cast<std::int16_t*>(stream), frames);
}

void SdlAudioOutput::CloseOutput() {
  device_.Close();
  pulse_.reset();
  bufferFrames_ = 0;
  lastAttemptMs_ = SDL_GetTicks();
  // The renderer moved the mixer on until now; otherwise Maintain has.
  if (rendering_) lastAdvanceMs_ = lastAttemptMs_;
  rendering_ = false;
}

void SdlAudioOutput::OpenOutput() {
  CloseOutput();
  deviceAdded_ = false;
  if (WantsPulseAudio()) {
    pulse_ = PulseOutput::Open(*mixer_);
    if (pulse_) return;
  }
  OpenSdlDevice();
}

void SdlAudioOutput::StartStream() {
  serverSeen_ = true;
  channels_ = pulse_->Channels();
  // The layout reaches the mixer before the stream's first rendered request does.
  mixer_->SetOutputChannels(channels_);
  pulse_->StartRendering();
  bufferFrames_ = static_cast<std::uint16_t>(pulse_->RequestFrames());
  rendering_ = true;
}

bool SdlAudioOutput::OpenSdlDevice() {
  // Where a sound server has answered, only our own stream plays through it: SDL's PulseAudio
  // driver waits without end for a server that takes the connection and never makes the stream
  // ready, and on a desktop SDL's ALSA output reaches the same server. SDL's audio therefore
  // starts only where no server has answered.
  if (serverSeen_) return false;
  if (!subsystem_.initialised) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    subsystem_.initialised = true;
  }
  // A server has come up since our stream found none: it is tried again instead.
  const char* driver = SDL_GetCurrentAudioDriver();
  if (WantsPulseAudio() && driver != nullptr && std::strcmp(driver, "pulseaudio") == 0) return false;

  SDL_AudioSpec want{};
  want.freq = static_cast<int>(Mixer::kSampleRate);
  want.format = AUDIO_S16SYS;
  want.channels = static_cast<Uint8>(DefaultOutputChannels());
  want.callback = &SdlAudioOutput::Fill;
  want.userdata = this;
  for (const std::uint16_t frames : {kBufferFrames, kFallbackBufferFrames}) {
    want.samples = frames;
    SDL_AudioSpec have{};
    SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_CHANNELS_CHANGE);
    if (id != 0 && have.channels != 2 && have.channels != 4 && have.channels != 6) {
      // A layout the mixer does not know: let SDL fold stereo into it instead.
      SDL_CloseAudioDevice(id);
      want.channels = 2;
      id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    }
    if (id == 0) continue;
    device_.id = id;
    bufferFrames_ = have.samples;
    channels_ = have.channels;
    mixer_->SetOutputChannels(channels_);  // the callback is still paused
    rendering_ = true;
    SDL_PauseAudioDevice(id, 0);
    return true;
  }
  return false;
}

std::unique_ptr<SoundVoice> SdlAudioOutput::CreateVoice(const ClipImage& clip, bool threeD) {
  return mixer_->CreateVoice(clip, threeD);
}

std::unique_ptr<SoundListener> SdlAudioOutput::CreateListener() { return mixer_->CreateListener(); }

void SdlAudioOutput::HandleEvent(const SDL_Event& event) {
  if (event.type == SDL_AUDIODEVICEREMOVED && event.adevice.iscapture == 0 &&
      event.adevice.which == device_.id && device_.id != 0) {
    CloseOutput();
  } else if (event.type == SDL_AUDIODEVICEADDED && event.adevice.iscapture == 0) {
    deviceAdded_ = true;
  }
}

void SdlAudioOutput::Maintain() {
  if (pulse_ != nullptr && pulse_->Failed()) {
    serverSeen_ = serverSeen_ || pulse_->ServerFound();
    CloseOutput();  // the server went away, or never made the stream ready: try again later
    // Where no server has ever answered, SDL's own outputs may play instead.
    if (OpenSdlDevice()) return;
  } else if (device_.id != 0 && SDL_GetAudioDeviceStatus(device_.id) == SDL_AUDIO_STOPPED) {
    CloseOutput();  // lost without an event reaching us: give it up and try again later
  }
  if (rendering_) return;
  // Nothing renders: the clips' time goes on here, so that a clip still ends when it should
  // and commands do not pile up for a renderer that is not there.
  const std::uint32_t now = SDL_GetTicks();
  mixer_->Advance(static_cast<std::size_t>(now - lastAdvanceMs_) * (Mixer::kSampleRate / 1'000));
  lastAdvanceMs_ = now;
  if (pulse_ != nullptr) {
    if (pulse_->Ready()) StartStream();
  } else if (deviceAdded_ || now - lastAttemptMs_ >= kRetryMs) {
    OpenOutput();
  }
}

}  // namespace vesquin
