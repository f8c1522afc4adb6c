#include "platform/mixer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <mutex>
#include <new>
#include <numbers>
#include <numeric>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/rate_converter.h"
#include "platform/spsc_queue.h"

namespace vesquin {
namespace {

constexpr std::size_t kBlockFrames = 256;
constexpr std::size_t kMaxChannels = kMaxOutputChannels;
constexpr std::size_t kMaxFilterTaps = 2048;  // longer filter sets fall back to speaker gains
constexpr std::size_t kCommandSlots = 4096;

int NormalisedChannels(int channels) { return channels == 4 || channels == 6 ? channels : 2; }

// ---------------------------------------------------------------------------------------
// Conversion to the mixer's rate, done once per clip.

// Reads source frames [first, first + count) as interleaved 16-bit samples.
void DecodeFrames(const ClipImage& clip, std::size_t first, std::size_t count, std::int16_t* out) {
  const std::size_t block = clip.format.blockAlign;
  const std::size_t channels = clip.format.channels;
  const std::uint8_t* p = clip.data.data() + first * block;
  for (std::size_t i = 0; i < count; ++i, p += block) {
    for (std::size_t c = 0; c < channels; ++c) {
      if (clip.format.bitsPerSample == 8) {
        out[i * channels + c] = static_cast<std::int16_t>((static_cast<int>(p[c]) - 128) * 256);
      } else {
        out[i * channels + c] =
            static_cast<std::int16_t>(static_cast<std::uint16_t>(p[2 * c] | (p[2 * c + 1] << 8)));
      }
    }
  }
}

// Converts the clip's `inFrames` frames so that exactly `outFrames` frames at the mixer's
// rate cover them, into `out` (interleaved). The clip is read as one period of a cycle: a
// clip that loops stays seamless at its seam, and one that plays once differs only by a
// pitch change of less than one part in its length. The converter runs over a stretch of
// the cycle that starts early enough for its filter to settle and ends late enough for its
// look-ahead; that lead-in is a whole number of output frames, so nothing is shifted.
bool ConvertCycle(const ClipImage& clip, std::size_t inFrames, std::size_t outFrames, std::int16_t* out) {
  constexpr std::size_t kSettleFrames = 4'096;  // input frames: past the longest filter
  constexpr std::size_t kChunkFrames = 8'192;
  const unsigned channels = clip.format.channels;
  auto converter =
      RateConverter::Make(static_cast<double>(inFrames), static_cast<double>(outFrames), channels);
  if (!converter) return false;

  // The lead-in: a multiple of the cycle's smallest stretch that maps to whole output frames.
  const std::size_t whole = inFrames / std::gcd(inFrames, outFrames);
  const std::size_t leadIn = (kSettleFrames + whole - 1) / whole * whole;
  const std::size_t leadOut = leadIn / whole * (outFrames / std::gcd(inFrames, outFrames));
  const std::size_t total = leadIn + inFrames + kSettleFrames;

  std::vector<std::int16_t> chunk(kChunkFrames * channels);
  std::vector<std::int16_t> spill(kChunkFrames * channels);
  std::size_t fed = 0;   // frames of the stretch given to the converter
  std::size_t made = 0;  // frames the converter has given back
  auto take = [&](const std::int16_t* from, std::size_t frames) {
    // Keeps output frames [leadOut, leadOut + outFrames) of the stretch.
    const std::size_t begin = std::max(made, leadOut);
    const std::size_t end = std::min(made + frames, leadOut + outFrames);
    if (begin < end) {
      std::copy_n(from + (begin - made) * channels, (end - begin) * channels,
                  out + (begin - leadOut) * channels);
    }
    made += frames;
  };
  while (fed < total && made < leadOut + outFrames) {
    const std::size_t count = std::min(kChunkFrames, total - fed);
    // Stretch frame k is clip frame (k - leadIn) taken round the cycle.
    std::size_t filled = 0;
    while (filled < count) {
      const std::size_t at = (fed + filled + inFrames - leadIn % inFrames) % inFrames;
      const std::size_t run = std::min(count - filled, inFrames - at);
      DecodeFrames(clip, at, run, chunk.data() + filled * channels);
      filled += run;
    }
    std::size_t offset = 0;
    while (offset < count) {
      std::size_t used = 0;
      std::size_t written = 0;
      if (!converter->Process(chunk.data() + offset * channels, count - offset, used, spill.data(),
                              kChunkFrames, written)) {
        return false;
      }
      take(spill.data(), written);
      offset += used;
      if (used == 0 && written == 0) return false;
    }
    fed += count;
  }
  while (made < leadOut + outFrames) {
    std::size_t used = 0;
    std::size_t written = 0;
    if (!converter->Process(nullptr, 0, used, spill.data(), kChunkFrames, written)) return false;
    if (written == 0) break;
    take(spill.data(), written);
  }
  // A converter that gave back fewer frames than asked leaves silence, never old memory.
  if (made < leadOut + outFrames) {
    const std::size_t have = made > leadOut ? made - leadOut : 0;
    std::fill(out + have * channels, out + outFrames * channels, std::int16_t{0});
  }
  return true;
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

// Gain of frame k of a fade-out: half a cosine from 1 down to 0, so that the last frame that
// still sounds is already close to silence.
std::array<float, Mixer::kFadeFrames> MakeFadeCurve() {
  std::array<float, Mixer::kFadeFrames> curve{};
  for (std::size_t k = 0; k < curve.size(); ++k) {
    curve[k] = static_cast<float>(0.5 * (1.0 + std::cos(std::numbers::pi * static_cast<double>(k + 1) /
                                                        static_cast<double>(Mixer::kFadeFrames))));
  }
  return curve;
}
const std::array<float, Mixer::kFadeFrames> kFadeCurve = MakeFadeCurve();

// State words published by the renderer: the sequence number of the last command it applied
// for the voice (high half) and the status it leaves (low half).
constexpr std::uint64_t Published(std::uint32_t seq, std::uint32_t status) {
  return (static_cast<std::uint64_t>(seq) << 32) | status;
}

// ---------------------------------------------------------------------------------------
// Voices.

using Filter = std::vector<float>;  // left then right, each reversed

struct Voice {
  Voice* prev = nullptr;
  Voice* next = nullptr;

  // Fixed once made.
  bool threeD = false;
  int sourceChannels = 1;
  std::uint32_t frames = 0;
  std::vector<std::int16_t> pcm;  // 2-D voices: interleaved source channels
  std::vector<float> mono;        // 3-D voices
  std::size_t taps = 0;

  // What the renderer tells the game thread.
  std::atomic<std::uint64_t> published{0};

  // Everything below belongs to the renderer once the voice is added.
  std::uint32_t appliedSeq = 0;
  std::int32_t pan = 0;
  std::int32_t volume = 0;
  float x = 0.0F, y = 0.0F, z = 0.0F;
  float minDistance = 1.0F;

  std::uint32_t position = 0;
  bool playing = false;
  bool looping = false;
  bool announceStart = false;
  bool sounded = false;   // frames have been mixed since the last start from silence
  bool released = false;  // the game has let go: freed once silent

  // Per output channel: the gain in force, the one being ramped to, and the ramp's step.
  std::array<float, kMaxChannels> gain{};
  std::array<float, kMaxChannels> target{};
  std::array<float, kMaxChannels> step{};
  std::uint32_t rampLeft = 0;

  // Head-related filters; a new one fades in over a ramp.
  Filter* filter = nullptr;
  Filter* pendingFilter = nullptr;
  std::uint32_t fadeLeft = 0;

  // The fade-out of what was sounding when the voice was stopped or restarted.
  std::uint32_t tailPosition = 0;
  std::uint32_t tailLeft = 0;
  bool tailLoops = false;
  std::array<float, kMaxChannels> tailGain{};

  ~Voice() {
    delete filter;
    delete pendingFilter;
  }

  std::uint32_t Status() const {
    if (!playing) return 0;
    return looping ? kStatusLooping : kStatusPlaying;
  }
};

enum class Op : std::uint8_t {
  Add,
  Release,
  Rewind,
  Pan,
  Volume,
  Play,
  Stop,
  Place,
  MinDistance,
  Channels,
  Hook
};

struct Command {
  Op op = Op::Add;
  Voice* voice = nullptr;
  std::uint32_t seq = 0;
  std::int32_t value = 0;
  bool looping = false;
  float x = 0.0F, y = 0.0F, z = 0.0F;
  Filter* filter = nullptr;
  Mixer::FirstFrameHook hook = nullptr;
  void* hookContext = nullptr;
};

// What the renderer hands back for the game thread to free.
struct Freed {
  Voice* voice = nullptr;
  Filter* filter = nullptr;
};

}  // namespace

struct Mixer::Core {
  // Game thread to renderer, and back. Every command frees at most one item, and the game
  // thread empties `freed` before each command, so `freed` never fills.
  SpscQueue<Command, kCommandSlots> commands;
  SpscQueue<Freed, 2 * kCommandSlots> freed;
  // Who may touch the renderer's state: nobody, the renderer, or the game thread catching up
  // on a full queue itself. A renderer never waits for it: it renders silence for that call.
  enum : int { kIdle, kRendering, kCatchingUp };
  std::atomic<int> rendererState{kIdle};
  std::atomic<int> renderedChannels{2};  // the layout of the last rendered call
  bool detached = false;                 // the Mixer is gone: nothing renders, handles free their own voices

  // The renderer's own.
  Voice* first = nullptr;
  int channels = 2;
  FirstFrameHook hook = nullptr;
  void* hookContext = nullptr;
  std::array<float, kBlockFrames * kMaxChannels> mix{};
  std::array<float, kMaxFilterTaps> window{};  // filter input at the clip's edges
  std::atomic<std::uint64_t> rendered{0};

  // The game thread's own.
  int gameChannels = 2;
  std::mutex hrtfLock;  // never taken by the renderer
  std::string hrtfPath;
  bool hrtfTried = false;
  std::unique_ptr<HrtfSet> hrtf;

  // ---- game thread ----

  void Drain() {
    Freed item;
    while (freed.Pop(item)) {
      delete item.voice;
      delete item.filter;
    }
  }

  void Send(const Command& command) {
    Drain();
    // Full only when nothing has rendered for thousands of commands: no output is running, or
    // the one thread that both plays and renders has not rendered yet. Waiting could then last
    // for ever, so the game thread applies the queued commands itself while no render runs.
    while (!commands.Push(command)) {
      int idle = kIdle;
      if (rendererState.compare_exchange_strong(idle, kCatchingUp, std::memory_order_acq_rel)) {
        ApplyCommands();
        rendererState.store(kIdle, std::memory_order_release);
      } else {
        std::this_thread::yield();
      }
      Drain();
    }
  }

  // The renderer's claim on its state; false while the game thread is catching up.
  bool BeginRender() {
    int idle = kIdle;
    return rendererState.compare_exchange_strong(idle, kRendering, std::memory_order_acq_rel);
  }
  void EndRender() { rendererState.store(kIdle, std::memory_order_release); }

  // ---- renderer ----

  void GiveBack(Voice* voice, Filter* filter) {
    if (voice == nullptr && filter == nullptr) return;
    freed.Push(Freed{voice, filter});
  }

  void Publish(Voice& v) {
    v.published.store(Published(v.appliedSeq, v.Status()), std::memory_order_release);
  }

  // Sets the voice's target gains from its settings.
  void UpdateTargets(Voice& v) const {
    const float volumeGain = Attenuation(-v.volume);
    std::array<float, kMaxChannels> t{};
    if (!v.threeD) {
      t[0] = volumeGain * Attenuation(v.pan);
      t[1] = volumeGain * Attenuation(-v.pan);
    } else {
      const float base = volumeGain * DistanceGain(v.x, v.y, v.z, v.minDistance);
      if (channels == 2 && v.filter != nullptr) {
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
    for (std::size_t c = 0; c < kMaxChannels; ++c)
      v.step[c] = (t[c] - v.gain[c]) / static_cast<float>(kRampFrames);
    v.rampLeft = kRampFrames;
  }

  // What is sounding now goes on from where it is as a fading tail. A play that has not yet
  // been heard is simply dropped.
  void StartTail(Voice& v) {
    if (!v.playing || !v.sounded) return;
    v.tailPosition = v.position;
    v.tailLeft = kFadeFrames;
    v.tailLoops = v.looping;
    v.tailGain = v.gain;
  }

  void Unlink(Voice& v) {
    if (v.prev != nullptr) v.prev->next = v.next;
    if (v.next != nullptr) v.next->prev = v.prev;
    if (first == &v) first = v.next;
    v.prev = v.next = nullptr;
  }

  void Apply(const Command& c) {
    Voice* v = c.voice;
    switch (c.op) {
      case Op::Channels:
        channels = c.value;
        for (Voice* w = first; w != nullptr; w = w->next) {
          UpdateTargets(*w);
          w->gain = w->target;  // a new layout starts without a ramp
          w->rampLeft = 0;
        }
        return;
      case Op::Hook:
        hook = c.hook;
        hookContext = c.hookContext;
        return;
      case Op::Add:
        v->next = first;
        if (first != nullptr) first->prev = v;
        first = v;
        UpdateTargets(*v);
        break;
      case Op::Release:
        StartTail(*v);
        v->playing = false;
        v->released = true;
        if (v->tailLeft == 0) {
          Unlink(*v);
          GiveBack(v, nullptr);
          return;  // no one reads its status any more
        }
        break;
      case Op::Rewind:
        if (v->playing && v->position != static_cast<std::uint32_t>(c.value)) StartTail(*v);
        v->position = static_cast<std::uint32_t>(c.value);
        break;
      case Op::Pan:
        v->pan = c.value;
        UpdateTargets(*v);
        break;
      case Op::Volume:
        v->volume = c.value;
        UpdateTargets(*v);
        break;
      case Op::Play:
        if (!v->playing) {
          v->gain = v->target;
          v->rampLeft = 0;
          v->sounded = false;
        }
        v->playing = true;
        v->looping = c.looping;
        v->announceStart = v->position == 0;
        break;
      case Op::Stop:
        StartTail(*v);
        v->playing = false;
        break;
      case Op::Place:
        v->x = c.x;
        v->y = c.y;
        v->z = c.z;
        if (c.filter != nullptr) {
          if (!v->playing || v->filter == nullptr) {
            GiveBack(nullptr, v->filter);
            v->filter = c.filter;
          } else {
            if (v->pendingFilter != nullptr) {
              // A fade still under way ends at once.
              GiveBack(nullptr, v->filter);
              v->filter = v->pendingFilter;
            }
            v->pendingFilter = c.filter;
            v->fadeLeft = kRampFrames;
          }
        }
        UpdateTargets(*v);
        break;
      case Op::MinDistance:
        v->minDistance = c.x;
        UpdateTargets(*v);
        break;
    }
    v->appliedSeq = c.seq;
    Publish(*v);
  }

  void ApplyCommands() {
    Command c;
    while (commands.Pop(c)) Apply(c);
  }

  void AdvanceRamp(Voice& v) const {
    if (--v.rampLeft == 0) {
      v.gain = v.target;  // the ramp ends on the exact value
    } else {
      for (std::size_t c = 0; c < kMaxChannels; ++c) v.gain[c] += v.step[c];
    }
  }

  void SkipRamp(Voice& v, std::size_t count) const {
    if (v.rampLeft == 0) return;
    if (count >= v.rampLeft) {
      v.gain = v.target;
      v.rampLeft = 0;
      return;
    }
    for (std::size_t c = 0; c < kMaxChannels; ++c) v.gain[c] += v.step[c] * static_cast<float>(count);
    v.rampLeft -= static_cast<std::uint32_t>(count);
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
  const float* FilterInput(const Voice& v, std::uint32_t at, bool looping) {
    const std::size_t taps = v.taps;
    if (at + 1 >= taps) return v.mono.data() + (at + 1 - taps);
    // Before the clip's start: silence, or the clip's end when it loops.
    const auto n = static_cast<std::ptrdiff_t>(v.frames);
    for (std::size_t k = 0; k < taps; ++k) {
      const std::ptrdiff_t i = static_cast<std::ptrdiff_t>(at + 1 + k) - static_cast<std::ptrdiff_t>(taps);
      float value = 0.0F;
      if (i >= 0) {
        value = v.mono[static_cast<std::size_t>(i)];
      } else if (looping) {
        std::ptrdiff_t w = i % n;
        if (w < 0) w += n;
        value = v.mono[static_cast<std::size_t>(w)];
      }
      window[k] = value;
    }
    return window.data();
  }

  void EndFilterFade(Voice& v) {
    GiveBack(nullptr, v.filter);
    v.filter = v.pendingFilter;
    v.pendingFilter = nullptr;
  }

  void MixHrtf(Voice& v, float* out, std::size_t count) {
    const std::size_t stride = static_cast<std::size_t>(channels);
    const std::size_t taps = v.taps;
    for (std::size_t i = 0; i < count; ++i) {
      const float* x = FilterInput(v, v.position + static_cast<std::uint32_t>(i), v.looping);
      float l = Dot(v.filter->data(), x, taps);
      float r = Dot(v.filter->data() + taps, x, taps);
      if (v.pendingFilter != nullptr) {
        const float w = static_cast<float>(v.fadeLeft) / static_cast<float>(kRampFrames);
        const float nl = Dot(v.pendingFilter->data(), x, taps);
        const float nr = Dot(v.pendingFilter->data() + taps, x, taps);
        l = nl + (l - nl) * w;
        r = nr + (r - nr) * w;
        if (--v.fadeLeft == 0) EndFilterFade(v);
      }
      if (v.rampLeft > 0) AdvanceRamp(v);
      out[i * stride] += l * v.gain[0];
      out[i * stride + 1] += r * v.gain[1];
    }
  }

  // Moves the voice on by `count` frames without mixing.
  void SkipVoice(Voice& v, std::size_t count) {
    SkipRamp(v, count);
    if (v.pendingFilter != nullptr) {
      if (count >= v.fadeLeft) {
        EndFilterFade(v);
      } else {
        v.fadeLeft -= static_cast<std::uint32_t>(count);
      }
    }
  }

  // The tail's frame `at` on output channel `c`, before its fade.
  float TailSample(Voice& v, std::uint32_t at, std::size_t c) {
    if (!v.threeD) {
      const std::size_t side = c == 0 ? 0 : static_cast<std::size_t>(v.sourceChannels - 1);
      return static_cast<float>(v.pcm[static_cast<std::size_t>(at) * v.sourceChannels + side]) *
             v.tailGain[c];
    }
    if (channels == 2 && v.filter != nullptr) {
      const float* x = FilterInput(v, at, v.tailLoops);
      return Dot(v.filter->data() + c * v.taps, x, v.taps) * v.tailGain[c];
    }
    return v.mono[at] * v.tailGain[c];
  }

  void MixTail(Voice& v, float* out, std::size_t count) {
    const std::size_t stride = static_cast<std::size_t>(channels);
    const std::size_t sounding = v.threeD ? stride : 2;
    for (std::size_t i = 0; i < count && v.tailLeft > 0; ++i) {
      if (out != nullptr) {
        const float fade = kFadeCurve[kFadeFrames - v.tailLeft];
        for (std::size_t c = 0; c < sounding; ++c)
          out[i * stride + c] += TailSample(v, v.tailPosition, c) * fade;
      }
      --v.tailLeft;
      if (++v.tailPosition >= v.frames) {
        v.tailPosition = 0;
        if (!v.tailLoops) v.tailLeft = 0;  // the clip has ended anyway
      }
    }
  }

  // Mixes (or, with `block` null, only moves on) one voice over `count` frames.
  void MixVoice(Voice& v, float* block, std::size_t count) {
    if (v.tailLeft > 0) MixTail(v, block, count);
    std::size_t done = 0;
    while (done < count && v.playing) {
      if (v.announceStart) {
        v.announceStart = false;
        if (hook != nullptr && v.position == 0)
          hook(hookContext, rendered.load(std::memory_order_relaxed) + done);
      }
      const std::size_t take = std::min<std::size_t>(count - done, v.frames - v.position);
      v.sounded = true;
      if (block == nullptr) {
        SkipVoice(v, take);
      } else {
        float* out = block + done * static_cast<std::size_t>(channels);
        if (!v.threeD) {
          MixFlat(v, out, take);
        } else if (channels == 2 && v.filter != nullptr) {
          MixHrtf(v, out, take);
        } else {
          MixSpeakers(v, out, take);
        }
      }
      v.position += static_cast<std::uint32_t>(take);
      done += take;
      if (v.position >= v.frames) {
        v.position = 0;  // a loop starts over; a single play stands at its start again
        if (!v.looping) {
          v.playing = false;
          Publish(v);
        }
      }
    }
  }

  // One block of at most kBlockFrames: `mixOut` null moves the voices on without mixing.
  void Block(float* mixOut, std::size_t count) {
    for (Voice* v = first; v != nullptr;) {
      Voice* next = v->next;
      if (v->playing || v->tailLeft > 0) MixVoice(*v, mixOut, count);
      if (v->released && v->tailLeft == 0) {
        Unlink(*v);
        GiveBack(v, nullptr);
      }
      v = next;
    }
    rendered.fetch_add(count, std::memory_order_relaxed);
  }
};

namespace {

class MixerListener : public SoundListener {};

// The game thread's handle on one voice. It keeps what the game has asked for, so that a
// query made before the renderer has caught up answers as the renderer soon will.
class MixerVoice : public SoundVoice {
 public:
  MixerVoice(std::shared_ptr<Mixer::Core> core, Voice* voice, std::uint32_t lengthMs)
      : core_(std::move(core)), voice_(voice), lengthMs_(lengthMs) {}

  ~MixerVoice() override {
    if (core_->detached) {
      delete voice_;
      return;
    }
    Command c = Make(Op::Release);
    core_->Send(c);
  }
  MixerVoice(const MixerVoice&) = delete;
  MixerVoice& operator=(const MixerVoice&) = delete;

  void SetCurrentPosition(std::uint32_t frame) override {
    Command c = Make(Op::Rewind);
    c.value = static_cast<std::int32_t>(frame < voice_->frames ? frame : 0);
    Send(c);
  }

  bool SetPan(std::int32_t pan) override {
    if (voice_->threeD || pan < kPanLeft || pan > kPanRight) return false;
    Command c = Make(Op::Pan);
    c.value = pan;
    Send(c);
    return true;
  }

  bool SetVolume(std::int32_t volume) override {
    if (volume < kVolumeSilent || volume > kVolumeFull) return false;
    Command c = Make(Op::Volume);
    c.value = volume;
    Send(c);
    return true;
  }

  void Play(bool looping) override {
    if (voice_->frames == 0) return;  // nothing to sound: it has already ended
    Command c = Make(Op::Play);
    c.looping = looping;
    expected_ = looping ? kStatusLooping : kStatusPlaying;
    Send(c);
  }

  void Stop() override {
    expected_ = 0;
    Send(Make(Op::Stop));
  }

  std::uint32_t Status() override {
    const std::uint64_t published = voice_->published.load(std::memory_order_acquire);
    if (published >> 32 != seq_) return expected_;  // the renderer has not seen the last command yet
    expected_ = static_cast<std::uint32_t>(published);
    return expected_;
  }

  std::uint32_t LengthMs() const override { return lengthMs_; }

  bool SetPosition(float x, float y, float z) override {
    if (!voice_->threeD || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) return false;
    Command c = Make(Op::Place);
    c.x = x;
    c.y = y;
    c.z = z;
    c.filter = MakeFilter(x, y, z);
    Send(c);
    return true;
  }

  bool SetMinDistance(float distance) override {
    if (!voice_->threeD || !std::isfinite(distance) || !(distance > 0.0F)) return false;
    Command c = Make(Op::MinDistance);
    c.x = distance;
    Send(c);
    return true;
  }

 private:
  Command Make(Op op) {
    Command c;
    c.op = op;
    c.voice = voice_;
    c.seq = ++seq_;
    return c;
  }

  void Send(const Command& c) {
    if (core_->detached) {
      delete c.filter;
      return;
    }
    core_->Send(c);
  }

  // A fresh filter for the direction, or null without a filter set.
  Filter* MakeFilter(float x, float y, float z) {
    std::lock_guard<std::mutex> hold(core_->hrtfLock);
    if (!core_->hrtf || voice_->taps == 0) return nullptr;
    try {
      auto filter = std::make_unique<Filter>();
      core_->hrtf->Filter(x, y, z, *filter);
      return filter.release();
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }

  std::shared_ptr<Mixer::Core> core_;
  Voice* voice_;  // freed by the renderer's hand-back, or here once the mixer is gone
  std::uint32_t lengthMs_;
  std::uint32_t seq_ = 0;
  std::uint32_t expected_ = 0;
};

}  // namespace

Mixer::Mixer(int outputChannels, std::string hrtfPath) : core_(std::make_shared<Core>()) {
  core_->channels = core_->gameChannels = NormalisedChannels(outputChannels);
  core_->renderedChannels = core_->channels;
  core_->hrtfPath = std::move(hrtfPath);
}

Mixer::~Mixer() {
  // Nothing renders any more: this thread may apply what is left and free what was let go.
  core_->ApplyCommands();
  core_->Drain();
  for (Voice* v = core_->first; v != nullptr;) {
    Voice* next = v->next;
    if (v->released) {
      core_->Unlink(*v);
      delete v;
    }
    v = next;
  }
  core_->first = nullptr;
  core_->detached = true;
}

std::unique_ptr<SoundVoice> Mixer::CreateVoice(const ClipImage& clip, bool threeD) {
  const ClipFormat& f = clip.format;
  if (f.formatTag != 1 || (f.channels != 1 && f.channels != 2) ||
      (f.bitsPerSample != 8 && f.bitsPerSample != 16) || f.blockAlign == 0 || f.avgBytesPerSec == 0 ||
      f.samplesPerSec == 0) {
    return nullptr;
  }
  if (threeD && f.channels != 1) return nullptr;
  core_->Drain();
  try {
    auto v = std::make_unique<Voice>();
    v->threeD = threeD;
    v->sourceChannels = f.channels;
    const std::uint64_t bytes = clip.data.size();
    // Whole milliseconds, rounded up (as ClipImage::LengthMs, kept here so that the mixer
    // library stands on its own).
    const auto lengthMs =
        static_cast<std::uint32_t>((bytes * 1000 + f.avgBytesPerSec - 1) / f.avgBytesPerSec);
    // The sounding length is data bytes / byte rate; the last frame is the one that ends after it.
    v->frames = static_cast<std::uint32_t>((bytes * kSampleRate + f.avgBytesPerSec - 1) / f.avgBytesPerSec);
    const std::size_t inFrames = static_cast<std::size_t>(bytes / f.blockAlign);
    const std::size_t samples = static_cast<std::size_t>(v->frames) * v->sourceChannels;
    // A trailing part of a frame, and a clip at the mixer's rate, are copied: the rest is silence.
    v->pcm.assign(samples, 0);
    if (f.samplesPerSec == kSampleRate || inFrames == 0) {
      DecodeFrames(clip, 0, std::min<std::size_t>(inFrames, v->frames), v->pcm.data());
    } else if (!ConvertCycle(clip, inFrames, v->frames, v->pcm.data())) {
      return nullptr;
    }
    if (threeD) {
      v->mono.assign(v->pcm.begin(), v->pcm.end());
      std::vector<std::int16_t>().swap(v->pcm);
      std::lock_guard<std::mutex> hold(core_->hrtfLock);
      if (!core_->hrtfTried) {
        core_->hrtfTried = true;
        core_->hrtf = HrtfSet::Open(core_->hrtfPath.c_str(), static_cast<float>(kSampleRate));
      }
      if (core_->hrtf && core_->hrtf->Taps() <= kMaxFilterTaps) {
        // Until it is placed, a 3-D voice sits at the listener: heard as straight ahead.
        v->filter = new Filter();
        core_->hrtf->Filter(0.0F, 0.0F, 1.0F, *v->filter);
        v->taps = core_->hrtf->Taps();
      }
    }
    auto handle = std::make_unique<MixerVoice>(core_, v.get(), lengthMs);
    Command add;
    add.op = Op::Add;
    add.voice = v.release();
    core_->Send(add);
    return handle;
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
  if (!c.BeginRender()) {
    const auto layout = static_cast<std::size_t>(c.renderedChannels.load(std::memory_order_relaxed));
    std::fill_n(interleaved, frames * layout, std::int16_t{0});
    return;
  }
  c.ApplyCommands();
  while (frames > 0) {
    const std::size_t count = std::min(frames, kBlockFrames);
    const std::size_t samples = count * static_cast<std::size_t>(c.channels);
    std::fill_n(c.mix.begin(), samples, 0.0F);
    c.Block(c.mix.data(), count);
    for (std::size_t i = 0; i < samples; ++i) interleaved[i] = ToSample(c.mix[i]);
    interleaved += samples;
    frames -= count;
  }
  c.renderedChannels.store(c.channels, std::memory_order_relaxed);
  c.EndRender();
}

void Mixer::Advance(std::size_t frames) {
  Core& c = *core_;
  if (!c.BeginRender()) return;
  c.ApplyCommands();
  while (frames > 0) {
    const std::size_t count = std::min(frames, kBlockFrames);
    c.Block(nullptr, count);
    frames -= count;
  }
  c.EndRender();
}

int Mixer::OutputChannels() const { return core_->gameChannels; }

void Mixer::SetOutputChannels(int channels) {
  core_->gameChannels = NormalisedChannels(channels);
  Command c;
  c.op = Op::Channels;
  c.value = core_->gameChannels;
  core_->Send(c);
}

bool Mixer::HasHrtf() const {
  std::lock_guard<std::mutex> hold(core_->hrtfLock);
  return core_->hrtf != nullptr;
}

std::uint64_t Mixer::FramesRendered() const { return core_->rendered.load(std::memory_order_relaxed); }

void Mixer::SetFirstFrameHook(FirstFrameHook hook, void* context) {
  Command c;
  c.op = Op::Hook;
  c.hook = hook;
  c.hookContext = context;
  core_->Send(c);
}

}  // namespace vesquin
