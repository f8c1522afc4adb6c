// Recipes for every sound of the game that is not speech. Each recipe is
// drawn from sine partials, shaped noise and simple filters, with a fixed
// noise seed, so the same program always writes the same samples.
//
//   vqsynth meow|bark|step|jingle|menuloop|fieldloop OUT.wav
//
// Output is a 48 kHz float WAVE at an arbitrary level; vqlevel sets loudness.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "wav.h"

namespace {

using vqa::Audio;
constexpr double kRate = vqa::kRate;
constexpr double kTwoPi = 2.0 * M_PI;

// Deterministic noise source (xorshift64*), independent of the C library.
class Noise {
 public:
  explicit Noise(std::uint64_t seed) : s_(seed ? seed : 1) {}
  double Uniform() {  // [-1, 1)
    s_ ^= s_ >> 12;
    s_ ^= s_ << 25;
    s_ ^= s_ >> 27;
    return double((s_ * 2685821657736338717ULL) >> 11) / double(1ULL << 52) - 1.0;
  }

 private:
  std::uint64_t s_;
};

// Second-order filter from the usual audio cookbook formulas.
class Biquad {
 public:
  static Biquad LowPass(double f, double q) { return Make(f, q, 0); }
  static Biquad HighPass(double f, double q) { return Make(f, q, 1); }
  static Biquad BandPass(double f, double q) { return Make(f, q, 2); }
  double operator()(double x) {
    double y = b0_ * x + b1_ * x1_ + b2_ * x2_ - a1_ * y1_ - a2_ * y2_;
    x2_ = x1_, x1_ = x, y2_ = y1_, y1_ = y;
    return y;
  }
  // Retunes without clearing the state, for slowly swept filters.
  void Retune(double f, double q, int kind) {
    Biquad n = Make(f, q, kind);
    b0_ = n.b0_, b1_ = n.b1_, b2_ = n.b2_, a1_ = n.a1_, a2_ = n.a2_;
  }

 private:
  static Biquad Make(double f, double q, int kind) {
    Biquad b;
    double w = kTwoPi * f / kRate, c = std::cos(w), alpha = std::sin(w) / (2 * q), a0 = 1 + alpha;
    if (kind == 0) b.b0_ = b.b2_ = (1 - c) / 2 / a0, b.b1_ = (1 - c) / a0;
    if (kind == 1) b.b0_ = b.b2_ = (1 + c) / 2 / a0, b.b1_ = -(1 + c) / a0;
    if (kind == 2) b.b0_ = alpha / a0, b.b1_ = 0, b.b2_ = -alpha / a0;
    b.a1_ = -2 * c / a0;
    b.a2_ = (1 - alpha) / a0;
    return b;
  }
  double b0_ = 1, b1_ = 0, b2_ = 0, a1_ = 0, a2_ = 0;
  double x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;
};

Audio Silence(double seconds, int channels = 1) {
  Audio a;
  a.channels = channels;
  a.samples.assign(std::size_t(std::lround(seconds * kRate)) * channels, 0.0f);
  return a;
}

double Lerp(double a, double b, double t) { return a + (b - a) * t; }
double Smooth(double t) { return t <= 0 ? 0 : t >= 1 ? 1 : t * t * (3 - 2 * t); }

// A vowel as its formant frequencies and bandwidths (Hz).
struct Vowel {
  std::array<double, 4> f, bw;
};

Vowel Mix(const Vowel& a, const Vowel& b, double t) {
  Vowel v;
  for (int i = 0; i < 4; ++i) v.f[i] = Lerp(a.f[i], b.f[i], t), v.bw[i] = Lerp(a.bw[i], b.bw[i], t);
  return v;
}

// Vowel at time u (0..1) along key frames (u, vowel).
Vowel VowelAt(const std::vector<std::pair<double, Vowel>>& keys, double u) {
  if (u <= keys.front().first) return keys.front().second;
  for (std::size_t i = 1; i < keys.size(); ++i)
    if (u <= keys[i].first)
      return Mix(keys[i - 1].second, keys[i].second,
                 Smooth((u - keys[i - 1].first) / (keys[i].first - keys[i - 1].first)));
  return keys.back().second;
}

// Gain of a parallel bank of resonances at frequency f.
double FormantGain(const Vowel& v, double f) {
  static constexpr std::array<double, 4> kWeight = {1.0, 0.7, 0.45, 0.3};
  double g = 0;
  for (int i = 0; i < 4; ++i) {
    double formant = v.f[i], bandwidth = v.bw[i];
    g += kWeight[i] * formant * bandwidth /
         std::sqrt((formant * formant - f * f) * (formant * formant - f * f) + bandwidth * bandwidth * f * f);
  }
  return g;
}

// A voiced sound: harmonics of a moving pitch, each weighted by the moving
// formant envelope. `pitch` gives f0 at time t, `vowel` the formants.
Audio Voice(double seconds, const std::function<double(double)>& pitch,
            const std::function<Vowel(double)>& vowel, double tilt, double maxHz) {
  Audio a = Silence(seconds);
  std::vector<double> phase(64, 0.0);
  for (std::size_t n = 0; n < a.Frames(); ++n) {
    double t = n / kRate, f0 = pitch(t);
    Vowel v = vowel(t);
    double s = 0;
    for (std::size_t k = 1; k < phase.size() && k * f0 < maxHz; ++k) {
      phase[k] = std::fmod(phase[k] + kTwoPi * k * f0 / kRate, kTwoPi);
      s += FormantGain(v, k * f0) * std::pow(double(k), -tilt) * std::sin(phase[k]);
    }
    a.samples[n] = float(s);
  }
  return a;
}

void ApplyEnvelope(Audio& a, const std::function<double(double)>& env) {
  for (std::size_t n = 0; n < a.Frames(); ++n)
    for (int c = 0; c < a.channels; ++c) a.samples[n * a.channels + c] *= float(env(n / kRate));
}

// The quarry's call: a short, bright meow whose pitch rises and falls and
// whose mouth opens from "m" through "ee" and "ah" to "ow". Its energy
// reaches up to several kHz, where the ears tell left from right best.
Audio Meow() {
  const double duration = 0.62;
  const Vowel m{{260, 1200, 2600, 3800}, {80, 300, 400, 500}};
  const Vowel ee{{420, 2300, 3300, 4600}, {90, 140, 240, 350}};
  const Vowel ah{{950, 1700, 3000, 4400}, {110, 150, 250, 350}};
  const Vowel ow{{560, 1050, 2700, 4200}, {90, 130, 250, 350}};
  const std::vector<std::pair<double, Vowel>> keys = {{0.0, m}, {0.12, ee}, {0.45, ah}, {0.85, ow}};
  Audio a = Voice(
      duration,
      [&](double t) {
        double u = t / duration;
        return (560 + 300 * std::pow(std::sin(M_PI * std::min(1.0, u / 0.9)), 1.3) - 60 * u) *
               (1 + 0.012 * std::sin(kTwoPi * 6.5 * t));
      },
      [&](double t) { return VowelAt(keys, t / duration); }, 0.6, 12000);
  // A breath of noise through the upper formants makes it crisper.
  Noise noise(0x6d656f77);
  Biquad hiss = Biquad::BandPass(3500, 1.2);
  double peak = 0;
  for (float v : a.samples) peak = std::max(peak, double(std::fabs(v)));
  for (float& v : a.samples) v = float(v / peak + 0.05 * hiss(noise.Uniform()));
  ApplyEnvelope(a, [&](double t) {
    return Smooth(t / 0.035) * (0.55 + 0.45 * Smooth((t - 0.02) / 0.08)) * Smooth((duration - t) / 0.12);
  });
  return a;
}

// The chaser's call: one gruff "woof". Low pitch that drops, a rough voice
// (pitch wobble and noise) and a fast decay.
Audio Bark() {
  const double duration = 0.34;
  const Vowel w{{380, 800, 2400, 3400}, {120, 160, 300, 400}};
  const Vowel o{{720, 1250, 2500, 3500}, {150, 200, 320, 420}};
  Noise jitterSource(0x776f6f66);
  Biquad jitterFilter = Biquad::LowPass(60, 0.7);
  std::vector<double> jitter(std::size_t(duration * kRate) + 1);
  for (double& j : jitter) j = jitterFilter(jitterSource.Uniform());
  Audio a = Voice(
      duration,
      [&](double t) {
        return (240 + 190 * std::exp(-t / 0.07)) * (1 + 0.6 * jitter[std::size_t(t * kRate)]);
      },
      [&](double t) { return Mix(w, o, Smooth(t / 0.05)); }, 0.9, 9000);
  double peak = 0;
  for (float v : a.samples) peak = std::max(peak, double(std::fabs(v)));
  Noise noise(0x67727266);
  Biquad growl = Biquad::BandPass(900, 0.8);
  for (float& v : a.samples) v = float(v / peak + 0.35 * growl(noise.Uniform()));
  ApplyEnvelope(a, [&](double t) { return Smooth(t / 0.01) * std::exp(-std::max(0.0, t - 0.05) / 0.08); });
  return a;
}

// One step in the grass: a soft heel thud, a lighter toe a moment later,
// and the rustle of the grass, all gone within a fifth of a second.
Audio Step() {
  const double duration = 0.2;
  Audio a = Silence(duration);
  Noise noise(0x73746570);
  Biquad body = Biquad::BandPass(420, 0.9), toe = Biquad::BandPass(700, 1.0);
  Biquad rustleHi = Biquad::HighPass(2500, 0.7), rustleLo = Biquad::LowPass(7000, 0.7);
  for (std::size_t n = 0; n < a.Frames(); ++n) {
    double t = n / kRate, x = noise.Uniform();
    double heel = body(x) * Smooth(t / 0.003) * std::exp(-t / 0.025);
    double thud = std::sin(kTwoPi * 85 * t) * Smooth(t / 0.004) * std::exp(-t / 0.03);
    double tt = t - 0.055, toeNoise = toe(x);
    double ball = tt > 0 ? 0.7 * toeNoise * Smooth(tt / 0.003) * std::exp(-tt / 0.02) : 0.0;
    double grass = rustleLo(rustleHi(noise.Uniform())) * Smooth(t / 0.01) * std::exp(-t / 0.05);
    a.samples[n] = float(heel + 0.8 * thud + ball + 0.5 * grass);
  }
  ApplyEnvelope(a, [&](double t) { return Smooth((duration - t) / 0.03); });
  return a;
}

// A bell-like note: a few inharmonic partials, the higher ones dying sooner.
void AddBell(Audio& a, double start, double hz, double gain, double decay) {
  static constexpr std::array<std::pair<double, double>, 5> kPartials = {
      {{1.0, 1.0}, {2.0, 0.45}, {3.0, 0.22}, {4.16, 0.12}, {5.43, 0.06}}};
  for (std::size_t n = std::size_t(start * kRate); n < a.Frames(); ++n) {
    double t = n / kRate - start, s = 0;
    for (auto [ratio, amp] : kPartials)
      s += amp * std::sin(kTwoPi * hz * ratio * t) * std::exp(-t * ratio / decay);
    a.samples[n] += float(gain * s * Smooth(t / 0.004));
  }
}

// Victory: a rising major arpeggio that settles on a bright chord.
Audio Jingle() {
  Audio a = Silence(2.1);
  constexpr double kG4 = 392.00, kC5 = 523.25, kE5 = 659.26, kG5 = 783.99, kC6 = 1046.50;
  const double steps[] = {kG4, kC5, kE5, kG5};
  for (int i = 0; i < 4; ++i) AddBell(a, 0.13 * i, steps[i], 0.8, 0.35);
  for (double hz : {kC5, kE5, kG5}) AddBell(a, 0.55, hz, 0.45, 0.9);
  AddBell(a, 0.55, kC6, 0.8, 0.8);
  ApplyEnvelope(a, [&](double t) { return Smooth((2.1 - t) / 0.3); });
  return a;
}

// Rounds a frequency to a whole number of cycles in `period` seconds, so that
// a loop of that length ends exactly where it begins.
double OnGrid(double hz, double period) { return std::round(hz * period) / period; }

// Menu background: a soft stereo pad that drifts between two chords. Every
// partial and every swell repeats exactly once per loop, so it loops without
// a seam.
Audio MenuLoop() {
  const double duration = 6.0;
  Audio a = Silence(duration, 2);
  struct Tone {
    double hz, pan, phase;
  };
  // Fmaj7 (F A C E) swelling in turn with Cmaj7 (C E G B), low and warm.
  const std::vector<Tone> first = {
      {174.61, -0.5, 0.0}, {220.00, 0.3, 0.0}, {261.63, -0.2, 0.0}, {329.63, 0.6, 0.0}};
  const std::vector<Tone> second = {
      {130.81, 0.4, 0.5}, {196.00, -0.6, 0.5}, {246.94, 0.2, 0.5}, {329.63, -0.3, 0.5}};
  for (const auto* chord : {&first, &second}) {
    for (const Tone& tone : *chord) {
      double f = OnGrid(tone.hz, duration), beat = OnGrid(tone.hz + 0.25, duration);
      for (std::size_t n = 0; n < a.Frames(); ++n) {
        double t = n / kRate;
        double swell = 0.5 - 0.5 * std::cos(kTwoPi * (t / duration + tone.phase));
        double s = std::sin(kTwoPi * f * t) + 0.25 * std::sin(kTwoPi * 2 * f * t) +
                   0.6 * std::sin(kTwoPi * beat * t);
        double l = std::sqrt(0.5 * (1 - tone.pan)), r = std::sqrt(0.5 * (1 + tone.pan));
        a.samples[2 * n] += float(s * swell * swell * l);
        a.samples[2 * n + 1] += float(s * swell * swell * r);
      }
    }
  }
  return a;
}

// Level background: a gentle wind over the field, mostly below 1 kHz so that
// the cat's bright call stays clear. Noise does not repeat by itself, so the
// last second is cross-faded into the first (equal power, as the two are
// unrelated), which makes the end run on into the beginning.
Audio FieldLoop() {
  const double duration = 6.0, fade = 1.0, warmUp = 1.0;
  const std::size_t loop = std::size_t(duration * kRate), over = std::size_t(fade * kRate),
                    skip = std::size_t(warmUp * kRate);
  Noise noise(0x6669656c64);
  Biquad gust = Biquad::BandPass(400, 0.7), rumble = Biquad::LowPass(180, 0.7),
         leaves = Biquad::BandPass(1500, 2.0);
  std::vector<double> x(skip + loop + over);
  for (std::size_t n = 0; n < x.size(); ++n) {
    double t = (double(n) - double(skip)) / kRate;
    // Sweep and strength repeat every loop, so both sides of the seam match.
    double sweep = 0.5 + 0.5 * std::sin(kTwoPi * t / duration) * std::cos(kTwoPi * 2 * t / duration);
    if (n % 64 == 0) gust.Retune(250 + 350 * sweep, 0.8, 2);
    double w = noise.Uniform();
    x[n] = (0.6 + 0.4 * sweep) * gust(w) + 0.8 * rumble(noise.Uniform()) + 0.05 * sweep * leaves(w);
  }
  Audio a = Silence(duration);
  for (std::size_t n = 0; n < loop; ++n) {
    double v = x[skip + n];
    if (n < over) {
      double u = (n + 0.5) / over;
      v = v * std::sin(0.5 * M_PI * u) + x[skip + loop + n] * std::cos(0.5 * M_PI * u);
    }
    a.samples[n] = float(v);
  }
  return a;
}

}  // namespace

int main(int argc, char** argv) try {
  const std::map<std::string, std::function<Audio()>> recipes = {
      {"meow", Meow},     {"bark", Bark},         {"step", Step},
      {"jingle", Jingle}, {"menuloop", MenuLoop}, {"fieldloop", FieldLoop}};
  if (argc != 3 || !recipes.count(argv[1])) {
    std::fprintf(stderr, "usage: vqsynth meow|bark|step|jingle|menuloop|fieldloop OUT.wav\n");
    return 2;
  }
  Audio a = recipes.at(argv[1])();
  // Bring the raw sum into range; the leveller sets the real level.
  float peak = 0;
  for (float v : a.samples) peak = std::max(peak, std::fabs(v));
  if (peak > 0)
    for (float& v : a.samples) v *= 0.5f / peak;
  vqa::WriteFloatWave(argv[2], a);
  return 0;
} catch (const std::exception& e) {
  std::fprintf(stderr, "vqsynth: %s\n", e.what());
  return 1;
}
