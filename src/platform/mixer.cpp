#include "platform/mixer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>
#include <new>
#include <numbers>
#include <utility>
#include <vector>

namespace vesquin {
namespace {

constexpr std::size_t kBlockFrames = 256;
constexpr std::size_t kMaxChannels = kMaxOutputChannels;
constexpr std::size_t kMaxFilterTaps = 2048;  // longer filter sets fall back to speaker gains

int NormalisedChannels(int channels) { return channels == 4 || channels == 6 ? channels : 2; }

// ---------------------------------------------------------------------------------------
// Conversion to the mixer's rate, done once per clip.

// Reads one channel of the clip as floats on the 16-bit scale.
std::vector<float> DecodeChannel(const ClipImage& clip, std::size_t frames, int channel) {
  std::vector<float> out(frames);
  const std::uint8_t* p = clip.data.data();
  const std::size_t block = clip.format.blockAlign;
  if (clip.format.bitsPerSample == 8) {
    for (std::size_t i = 0; i < frames; ++i) {
      out[i] = (static_cast<float>(p[i * block + static_cast<std::size_t>(channel)]) - 128.0F) * 256.0F;
    }
  } else {
    for (std::size_t i = 0; i < frames; ++i) {
      const std::uint8_t* s = p + i * block + static_cast<std::size_t>(channel) * 2;
      out[i] = static_cast<float>(static_cast<std::int16_t>(static_cast<std::uint16_t>(s[0] | (s[1] << 8))));
    }
  }
  return out;
}

double BesselI0(double x) {
  double sum = 1.0;
  double term = 1.0;
  for (int k = 1; k < 50; ++k) {
    term *= (x / (2.0 * k)) * (x / (2.0 * k));
    sum += term;
    if (term < sum * 1e-12) break;
  }
  return sum;
}

float Dot(const float* a, const float* b, std::size_t n) {
  // Eight independent sums, so that the compiler may keep them in vector lanes.
  float s[8] = {};
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    for (std::size_t k = 0; k < 8; ++k) s[k] += a[i + k] * b[i + k];
  }
  float total = ((s[0] + s[4]) + (s[1] + s[5])) + ((s[2] + s[6]) + (s[3] + s[7]));
  for (; i < n; ++i) total += a[i] * b[i];
  return total;
}

// Band-limited interpolation with a Kaiser-windowed sinc, tabulated at kPhases fractional
// positions and interpolated linearly between them. The input is read as one period of a
// cycle, and stretched so that exactly `outFrames` frames cover it: a clip that loops stays
// seamless at its seam, and one that plays once differs only by a pitch change of less than
// one part in its length.
class Resampler {
 public:
  static constexpr int kPhases = 256;
  static constexpr double kZeroCrossings = 16.0;
  static constexpr double kBeta = 9.0;  // about 90 dB of stop-band rejection

  explicit Resampler(double step) {
    // Cut-off in cycles per input frame, just below the lower of the two Nyquist rates.
    cutoff_ = 0.5 * std::min(1.0, 1.0 / step) * 0.94;
    const double halfWidth = kZeroCrossings / (2.0 * cutoff_);
    half_ = static_cast<int>(std::ceil(halfWidth));
    taps_ = 2 * half_;
    table_.resize(static_cast<std::size_t>((kPhases + 1) * taps_));
    const double i0Beta = BesselI0(kBeta);
    for (int p = 0; p <= kPhases; ++p) {
      const double frac = static_cast<double>(p) / kPhases;
      for (int k = 0; k < taps_; ++k) {
        const double d = static_cast<double>(k - half_ + 1) - frac;
        double h = 0.0;
        if (std::fabs(d) < halfWidth) {
          const double x = 2.0 * cutoff_ * d;
          const double sinc = std::fabs(x) < 1e-12 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
          const double r = d / halfWidth;
          h = 2.0 * cutoff_ * sinc * BesselI0(kBeta * std::sqrt(1.0 - r * r)) / i0Beta;
        }
        table_[static_cast<std::size_t>(p * taps_ + k)] = static_cast<float>(h);
      }
    }
  }

  void Run(const float* in, std::size_t inFrames, float* out, std::size_t outFrames) const {
    const double step = static_cast<double>(inFrames) / static_cast<double>(outFrames);
    const auto n = static_cast<std::ptrdiff_t>(inFrames);
    std::vector<float> window(static_cast<std::size_t>(taps_));
    for (std::size_t j = 0; j < outFrames; ++j) {
      const double t = static_cast<double>(j) * step;
      const double whole = std::floor(t);
      const double phase = (t - whole) * kPhases;
      const int p = std::min(static_cast<int>(phase), kPhases - 1);
      const auto a = static_cast<float>(phase - p);
      const std::ptrdiff_t start = static_cast<std::ptrdiff_t>(whole) - half_ + 1;
      const float* x;
      if (start >= 0 && start + taps_ <= n) {
        x = in + start;
      } else {
        for (int k = 0; k < taps_; ++k) {
          std::ptrdiff_t i = (start + k) % n;
          if (i < 0) i += n;
          window[static_cast<std::size_t>(k)] = in[i];
        }
        x = window.data();
      }
      const float* row = table_.data() + static_cast<std::size_t>(p * taps_);
      const float y0 = Dot(row, x, static_cast<std::size_t>(taps_));
      const float y1 = Dot(row + taps_, x, static_cast<std::size_t>(taps_));
      out[j] = y0 + (y1 - y0) * a;
    }
  }

 private:
  double cutoff_ = 0.5;
  int half_ = 0;
  int taps_ = 0;
  std::vector<float> table_;
};

// The clip's channels at the mixer's rate, each exactly `frames` long.
std::vector<std::vector<float>> ConvertClip(const ClipImage& clip, std::uint32_t& frames) {
  const ClipFormat& f = clip.format;
  const std::uint64_t bytes = clip.data.size();
  // The sounding length is data bytes / byte rate; the last frame is the one that ends after it.
  frames = static_cast<std::uint32_t>((bytes * Mixer::kSampleRate + f.avgBytesPerSec - 1) / f.avgBytesPerSec);
  const std::size_t inFrames = static_cast<std::size_t>(bytes / f.blockAlign);
  std::vector<std::vector<float>> channels;
  for (int c = 0; c < f.channels; ++c) {
    std::vector<float> in = DecodeChannel(clip, inFrames, c);
    if (f.samplesPerSec == Mixer::kSampleRate || inFrames == 0) {
      in.resize(frames, 0.0F);  // a trailing part of a frame sounds as silence
      channels.push_back(std::move(in));
      continue;
    }
    std::vector<float> out(frames);
    Resampler(static_cast<double>(inFrames) / frames).Run(in.data(), inFrames, out.data(), frames);
    channels.push_back(std::move(out));
  }
  return channels;
}

std::int16_t ToSample(float v) {
  if (v >= 32767.0F) return 32767;
  if (v <= -32768.0F) return -32768;
  return static_cast<std::int16_t>(std::lrint(v));
}

// Gain of one channel attenuated by `hundredths` of a decibel; 10,000 is silence.
float Attenuation(std::int32_t hundredths) {
  if (hundredths <= 0) return 1.0F;
  if (hundredths >= 10'000) return 0.0F;
  return static_cast<float>(std::pow(10.0, -static_cast<double>(hundredths) / 2000.0));
}

// ---------------------------------------------------------------------------------------
// Voices.

struct Voice {
  Voice* prev = nullptr;
  Voice* next = nullptr;

  // Fixed once made.
  bool threeD = false;
  int sourceChannels = 1;
  std::uint32_t frames = 0;
  std::uint32_t lengthMs = 0;
  std::vector<std::int16_t> pcm;  // 2-D voices: interleaved source channels
  std::vector<float> mono;        // 3-D voices

  // Settings, guarded by the mixer's lock.
  std::int32_t pan = 0;
  std::int32_t volume = 0;
  float x = 0.0F, y = 0.0F, z = 0.0F;
  float minDistance = 1.0F;

  // Playing state, guarded by the mixer's lock.
  std::uint32_t position = 0;
  bool playing = false;
  bool looping = false;
  bool announceStart = false;

  // Per output channel: the gain in force, the one being ramped to, and the ramp's step.
  std::array<float, kMaxChannels> gain{};
  std::array<float, kMaxChannels> target{};
  std::array<float, kMaxChannels> step{};
  std::uint32_t rampLeft = 0;

  // Head-related filters (left then right, reversed); a new pair fades in over a ramp.
  std::vector<float> filter;
  std::vector<float> pendingFilter;
  std::size_t taps = 0;
  bool hasFilter = false;
  bool hasPending = false;
  std::uint32_t fadeLeft = 0;
};

}  // namespace

struct Mixer::Core {
  std::mutex lock;  // guards the voice list, every voice's settings and state, and channels
  Voice* first = nullptr;
  int channels = 2;
  std::uint64_t rendered = 0;
  FirstFrameHook hook = nullptr;
  void* hookContext = nullptr;
  std::array<float, kBlockFrames * kMaxChannels> mix{};  // Render's own
  std::array<float, kMaxFilterTaps> window{};                  // Render's own: filter input at the edges

  std::mutex hrtfLock;  // the filter set is opened and read on the game thread
  std::string hrtfPath;
  bool hrtfTried = false;
  std::unique_ptr<HrtfSet> hrtf;

  // Sets the voice's target gains from its settings. Under `lock`.
  void UpdateTargets(Voice& v) const {
    const float volumeGain = Attenuation(-v.volume);
    std::array<float, kMaxChannels> t{};
    if (!v.threeD) {
      t[0] = volumeGain * Attenuation(v.pan);
      t[1] = volumeGain * Attenuation(-v.pan);
    } else {
      const float base = volumeGain * DistanceGain(v.x, v.y, v.z, v.minDistance);
      if (channels == 2 && v.hasFilter) {
        t[0] = t[1] = base;
      } else {
        t = SpeakerGains(AzimuthOf(v.x, v.z), channels);
        for (float& g : t) g *= base;
      }
    }
    v.target = t;
    if (!v.playing) {
      v.gain = t;
      v.rampLeft = 0;
      return;
    }
    for (std::size_t c = 0; c < kMaxChannels; ++c) v.step[c] = (t[c] - v.gain[c]) / static_cast<float>(kRampFrames);
    v.rampLeft = kRampFrames;
  }

  void AdvanceRamp(Voice& v) const {
    if (--v.rampLeft == 0) {
      v.gain = v.target;  // the ramp ends on the exact value
    } else {
      for (std::size_t c = 0; c < kMaxChannels; ++c) v.gain[c] += v.step[c];
    }
  }

  void MixFlat(Voice& v, float* out, std::size_t count) {
    const std::size_t stride = static_cast<std::size_t>(channels);
    const std::int16_t* s = v.pcm.data() + static_cast<std::size_t>(v.position) * v.sourceChannels;
    std::size_t i = 0;
    for (; i < count && v.rampLeft > 0; ++i) {
      AdvanceRamp(v);
      const float l = s[i * v.sourceChannels];
      const float r = s[i * v.sourceChannels + v.sourceChannels - 1];
      out[i * stride] += l * v.gain[0];
      out[i * stride + 1] += r * v.gain[1];
    }
    const float g0 = v.gain[0];
    const float g1 = v.gain[1];
    if (g0 == 0.0F && g1 == 0.0F) return;
    if (v.sourceChannels == 1) {
      for (; i < count; ++i) {
        const float m = s[i];
        out[i * stride] += m * g0;
        out[i * stride + 1] += m * g1;
      }
    } else {
      for (; i < count; ++i) {
        out[i * stride] += s[2 * i] * g0;
        out[i * stride + 1] += s[2 * i + 1] * g1;
      }
    }
  }

  void MixSpeakers(Voice& v, float* out, std::size_t count) {
    const std::size_t stride = static_cast<std::size_t>(channels);
    const float* s = v.mono.data() + v.position;
    for (std::size_t i = 0; i < count; ++i) {
      if (v.rampLeft > 0) AdvanceRamp(v);
      for (std::size_t c = 0; c < stride; ++c) out[i * stride + c] += s[i] * v.gain[c];
    }
  }

  // The clip's frames that a filter of v.taps taps needs for output frame `at`.
  const float* FilterInput(const Voice& v, std::uint32_t at) {
    const std::size_t taps = v.taps;
    if (at + 1 >= taps) return v.mono.data() + (at + 1 - taps);
    // Before the clip's start: silence, or the clip's end when it loops.
    const auto n = static_cast<std::ptrdiff_t>(v.frames);
    for (std::size_t k = 0; k < taps; ++k) {
      const std::ptrdiff_t i = static_cast<std::ptrdiff_t>(at + 1 + k) - static_cast<std::ptrdiff_t>(taps);
      float value = 0.0F;
      if (i >= 0) {
        value = v.mono[static_cast<std::size_t>(i)];
      } else if (v.looping) {
        std::ptrdiff_t w = i % n;
        if (w < 0) w += n;
        value = v.mono[static_cast<std::size_t>(w)];
      }
      window[k] = value;
    }
    return window.data();
  }

  void MixHrtf(Voice& v, float* out, std::size_t count) {
    const std::size_t stride = static_cast<std::size_t>(channels);
    const std::size_t taps = v.taps;
    for (std::size_t i = 0; i < count; ++i) {
      const float* x = FilterInput(v, v.position + static_cast<std::uint32_t>(i));
      float l = Dot(v.filter.data(), x, taps);
      float r = Dot(v.filter.data() + taps, x, taps);
      if (v.hasPending) {
        const float w = static_cast<float>(v.fadeLeft) / static_cast<float>(kRampFrames);
        const float nl = Dot(v.pendingFilter.data(), x, taps);
        const float nr = Dot(v.pendingFilter.data() + taps, x, taps);
        l = nl + (l - nl) * w;
        r = nr + (r - nr) * w;
        if (--v.fadeLeft == 0) {
          std::swap(v.filter, v.pendingFilter);  // swaps storage only: nothing is freed here
          v.hasPending = false;
        }
      }
      if (v.rampLeft > 0) AdvanceRamp(v);
      out[i * stride] += l * v.gain[0];
      out[i * stride + 1] += r * v.gain[1];
    }
  }

  // Moves the voice on by `count` frames as MixVoice would, without mixing: position, end,
  // gain ramp and filter fade all land where rendering would leave them.
  void SkipVoice(Voice& v, std::size_t count) {
    std::size_t done = 0;
    while (done < count && v.playing) {
      if (v.announceStart) {
        v.announceStart = false;
        if (hook != nullptr && v.position == 0) hook(hookContext, rendered + done);
      }
      const std::size_t take = std::min<std::size_t>(count - done, v.frames - v.position);
      const bool fades = v.threeD && channels == 2 && v.hasFilter;
      for (std::size_t i = 0; i < take && (v.rampLeft > 0 || (fades && v.hasPending)); ++i) {
        if (fades && v.hasPending && --v.fadeLeft == 0) {
          std::swap(v.filter, v.pendingFilter);
          v.hasPending = false;
        }
        if (v.rampLeft > 0) AdvanceRamp(v);
      }
      v.position += static_cast<std::uint32_t>(take);
      done += take;
      if (v.position >= v.frames) {
        v.position = 0;
        if (!v.looping) v.playing = false;
      }
    }
  }

  void MixVoice(Voice& v, float* block, std::size_t count) {
    std::size_t done = 0;
    while (done < count && v.playing) {
      if (v.announceStart) {
        v.announceStart = false;
        if (hook != nullptr && v.position == 0) hook(hookContext, rendered + done);
      }
      const std::size_t take = std::min<std::size_t>(count - done, v.frames - v.position);
      float* out = block + done * static_cast<std::size_t>(channels);
      if (!v.threeD) {
        MixFlat(v, out, take);
      } else if (channels == 2 && v.hasFilter) {
        MixHrtf(v, out, take);
      } else {
        MixSpeakers(v, out, take);
      }
      v.position += static_cast<std::uint32_t>(take);
      done += take;
      if (v.position >= v.frames) {
        v.position = 0;  // a loop starts over; a single play stands at its start again
        if (!v.looping) v.playing = false;
      }
    }
  }
};

namespace {

class MixerListener : public SoundListener {};

class MixerVoice : public SoundVoice {
 public:
  MixerVoice(std::shared_ptr<Mixer::Core> core, std::unique_ptr<Voice> voice)
      : core_(std::move(core)), voice_(std::move(voice)) {}

  void Adopt(std::unique_ptr<Voice> voice) { voice_ = std::move(voice); }

  ~MixerVoice() override {
    if (!voice_) return;
    std::lock_guard<std::mutex> hold(core_->lock);
    Voice* v = voice_.get();
    if (v->prev != nullptr) v->prev->next = v->next;
    if (v->next != nullptr) v->next->prev = v->prev;
    if (core_->first == v) core_->first = v->next;
  }

  void SetCurrentPosition(std::uint32_t frame) override {
    std::lock_guard<std::mutex> hold(core_->lock);
    voice_->position = frame < voice_->frames ? frame : 0;
  }

  bool SetPan(std::int32_t pan) override {
    if (voice_->threeD || pan < kPanLeft || pan > kPanRight) return false;
    std::lock_guard<std::mutex> hold(core_->lock);
    voice_->pan = pan;
    core_->UpdateTargets(*voice_);
    return true;
  }

  bool SetVolume(std::int32_t volume) override {
    if (volume < kVolumeSilent || volume > kVolumeFull) return false;
    std::lock_guard<std::mutex> hold(core_->lock);
    voice_->volume = volume;
    core_->UpdateTargets(*voice_);
    return true;
  }

  void Play(bool looping) override {
    std::lock_guard<std::mutex> hold(core_->lock);
    Voice& v = *voice_;
    if (v.frames == 0) return;  // nothing to sound: it has already ended
    if (!v.playing) {
      v.gain = v.target;
      v.rampLeft = 0;
    }
    v.playing = true;
    v.looping = looping;
    v.announceStart = v.position == 0;
  }

  void Stop() override {
    std::lock_guard<std::mutex> hold(core_->lock);
    voice_->playing = false;
  }

  std::uint32_t Status() override {
    std::lock_guard<std::mutex> hold(core_->lock);
    if (!voice_->playing) return 0;
    return voice_->looping ? kStatusLooping : kStatusPlaying;
  }

  std::uint32_t LengthMs() const override { return voice_->lengthMs; }

  bool SetPosition(float x, float y, float z) override {
    if (!voice_->threeD || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) return false;
    std::vector<float> fresh;
    const bool filtered = MakeFilter(x, y, z, fresh);
    std::lock_guard<std::mutex> hold(core_->lock);
    Voice& v = *voice_;
    v.x = x;
    v.y = y;
    v.z = z;
    if (filtered) {
      v.taps = fresh.size() / 2;
      if (!v.playing || !v.hasFilter) {
        std::swap(v.filter, fresh);
        v.hasFilter = true;
        v.hasPending = false;
      } else {
        std::swap(v.pendingFilter, fresh);
        v.hasPending = true;
        v.fadeLeft = Mixer::kRampFrames;
      }
    }
    core_->UpdateTargets(v);
    return true;  // `fresh` now holds the replaced filter and is freed after the lock
  }

  bool SetMinDistance(float distance) override {
    if (!voice_->threeD || !std::isfinite(distance) || !(distance > 0.0F)) return false;
    std::lock_guard<std::mutex> hold(core_->lock);
    voice_->minDistance = distance;
    core_->UpdateTargets(*voice_);
    return true;
  }

  bool MakeFilter(float x, float y, float z, std::vector<float>& out) {
    std::lock_guard<std::mutex> hold(core_->hrtfLock);
    if (!core_->hrtf || core_->hrtf->Taps() > kMaxFilterTaps) return false;
    try {
      core_->hrtf->Filter(x, y, z, out);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

 private:
  std::shared_ptr<Mixer::Core> core_;
  std::unique_ptr<Voice> voice_;
};

// Puts a made voice into the mixer's list and hands out its handle.
std::unique_ptr<SoundVoice> Register(const std::shared_ptr<Mixer::Core>& core, std::unique_ptr<Voice> v) {
  auto voice = std::make_unique<MixerVoice>(core, nullptr);  // allocated before the lock
  std::lock_guard<std::mutex> hold(core->lock);
  core->UpdateTargets(*v);
  v->next = core->first;
  if (core->first != nullptr) core->first->prev = v.get();
  core->first = v.get();
  voice->Adopt(std::move(v));
  return voice;
}

}  // namespace

Mixer::Mixer(int outputChannels, std::string hrtfPath) : core_(std::make_shared<Core>()) {
  core_->channels = NormalisedChannels(outputChannels);
  core_->hrtfPath = std::move(hrtfPath);
}

Mixer::~Mixer() = default;

std::unique_ptr<SoundVoice> Mixer::CreateVoice(const ClipImage& clip, bool threeD) {
  const ClipFormat& f = clip.format;
  if (f.formatTag != 1 || (f.channels != 1 && f.channels != 2) || (f.bitsPerSample != 8 && f.bitsPerSample != 16) ||
      f.blockAlign == 0 || f.avgBytesPerSec == 0 || f.samplesPerSec == 0) {
    return nullptr;
  }
  if (threeD && f.channels != 1) return nullptr;
  try {
    auto v = std::make_unique<Voice>();
    v->threeD = threeD;
    v->sourceChannels = f.channels;
    // Whole milliseconds, rounded up (as ClipImage::LengthMs, kept here so that the mixer
    // library stands on its own).
    v->lengthMs = static_cast<std::uint32_t>((static_cast<std::uint64_t>(clip.data.size()) * 1000 + f.avgBytesPerSec - 1) /
                                             f.avgBytesPerSec);
    if (!threeD && f.bitsPerSample == 16 && f.samplesPerSec == kSampleRate) {
      // Already in the mixer's format: one copy, the case of every clip stored at 48 kHz.
      v->frames = static_cast<std::uint32_t>(
          (static_cast<std::uint64_t>(clip.data.size()) * kSampleRate + f.avgBytesPerSec - 1) / f.avgBytesPerSec);
      v->pcm.assign(static_cast<std::size_t>(v->frames) * v->sourceChannels, 0);
      const std::size_t samples = clip.data.size() / 2;
      const std::uint8_t* p = clip.data.data();
      for (std::size_t i = 0; i < samples; ++i) {
        v->pcm[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(p[2 * i] | (p[2 * i + 1] << 8)));
      }
      return Register(core_, std::move(v));
    }
    std::vector<std::vector<float>> converted = ConvertClip(clip, v->frames);
    if (threeD) {
      v->mono = std::move(converted[0]);
      {
        std::lock_guard<std::mutex> hold(core_->hrtfLock);
        if (!core_->hrtfTried) {
          core_->hrtfTried = true;
          core_->hrtf = HrtfSet::Open(core_->hrtfPath.c_str(), static_cast<float>(kSampleRate));
        }
        if (core_->hrtf && core_->hrtf->Taps() <= kMaxFilterTaps) {
          // Until it is placed, a 3-D voice sits at the listener: heard as straight ahead.
          core_->hrtf->Filter(0.0F, 0.0F, 1.0F, v->filter);
          v->pendingFilter.resize(v->filter.size());
          v->taps = core_->hrtf->Taps();
          v->hasFilter = true;
        }
      }
    } else {
      v->pcm.resize(static_cast<std::size_t>(v->frames) * v->sourceChannels);
      for (std::size_t i = 0; i < v->frames; ++i) {
        for (int c = 0; c < v->sourceChannels; ++c) {
          v->pcm[i * v->sourceChannels + c] = ToSample(converted[static_cast<std::size_t>(c)][i]);
        }
      }
    }
    return Register(core_, std::move(v));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}


std::unique_ptr<SoundListener> Mixer::CreateListener() {
  try {
    return std::make_unique<MixerListener>();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void Mixer::Render(std::int16_t* interleaved, std::size_t frames) {
  Core& c = *core_;
  while (frames > 0) {
    const std::size_t count = std::min(frames, kBlockFrames);
    std::size_t samples = 0;
    {
      std::lock_guard<std::mutex> hold(c.lock);
      samples = count * static_cast<std::size_t>(c.channels);
      std::fill_n(c.mix.begin(), samples, 0.0F);
      for (Voice* v = c.first; v != nullptr; v = v->next) {
        if (v->playing) c.MixVoice(*v, c.mix.data(), count);
      }
      c.rendered += count;
    }
    for (std::size_t i = 0; i < samples; ++i) interleaved[i] = ToSample(c.mix[i]);
    interleaved += samples;
    frames -= count;
  }
}

void Mixer::Advance(std::size_t frames) {
  Core& c = *core_;
  std::lock_guard<std::mutex> hold(c.lock);
  for (Voice* v = c.first; v != nullptr; v = v->next) {
    if (v->playing) c.SkipVoice(*v, frames);
  }
  c.rendered += frames;
}

int Mixer::OutputChannels() const {
  std::lock_guard<std::mutex> hold(core_->lock);
  return core_->channels;
}

void Mixer::SetOutputChannels(int channels) {
  std::lock_guard<std::mutex> hold(core_->lock);
  core_->channels = NormalisedChannels(channels);
  for (Voice* v = core_->first; v != nullptr; v = v->next) {
    core_->UpdateTargets(*v);
    v->gain = v->target;  // a new layout starts without a ramp
    v->rampLeft = 0;
  }
}

bool Mixer::HasHrtf() const {
  std::lock_guard<std::mutex> hold(core_->hrtfLock);
  return core_->hrtf != nullptr;
}

std::uint64_t Mixer::FramesRendered() const {
  std::lock_guard<std::mutex> hold(core_->lock);
  return core_->rendered;
}

void Mixer::SetFirstFrameHook(FirstFrameHook hook, void* context) {
  std::lock_guard<std::mutex> hold(core_->lock);
  core_->hook = hook;
  core_->hookContext = context;
}

}  // namespace vesquin
