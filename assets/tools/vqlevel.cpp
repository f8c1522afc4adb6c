// Turns a synthesised sound into a finished clip file: cuts it, trims the
// silence at its ends, brings it to a loudness target (EBU R 128, measured
// with libebur128), keeps its true peak under a ceiling and writes the
// game's clip format.
//
//   vqlevel --target LUFS [--cut START END [--settle OPEN CLOSE]] [--loop] [--tail MS] [--ceiling DBTP]
//           IN.wav OUT.vgz
//   vqlevel --measure CLIP.vgz...
//
// The game answers keys with these clips, so silence at the start is heard
// as latency and is cut down to a few milliseconds. Number words are chained
// one after another by the game, so the silence at their ends is kept short.
#include <ebur128.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "wav.h"

namespace {

using vqa::Audio;

constexpr double kSilenceDb = -45.0;     // below this a frame counts as silence
constexpr double kLeadKeepMs = 8.0;      // kept before the first sound, faded in
constexpr double kMeasureSeconds = 3.0;  // a short clip is measured looped to this length
constexpr double kQuietWindowMs = 5.0;   // window of the search for a quiet place to cut
constexpr double kQuietBelowPeakDb = 45.0;
constexpr double kQuietAboveFloorDb = 6.0;

double DbToGain(double db) { return std::pow(10.0, db / 20.0); }
double GainToDb(double g) { return g > 0 ? 20.0 * std::log10(g) : -HUGE_VAL; }

struct Measure {
  double lufs = -HUGE_VAL;
  double truePeakDb = -HUGE_VAL;
  double samplePeakDb = -HUGE_VAL;
};

// A short clip is measured repeated end to end for a few seconds, so that
// the gating blocks (400 ms, in steps of 100 ms) cover every part of it
// alike: measured over one block only, a word of half a second loses its
// end, and a loud "-teen" goes unheard. Padding with silence instead would
// make a short word like "eight" come out several LU too loud.
Measure MeasureAudio(const Audio& a) {
  Measure m;
  if (a.Frames() == 0) return m;
  ebur128_state* st = ebur128_init(unsigned(a.channels), unsigned(a.rate),
                                   EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK | EBUR128_MODE_SAMPLE_PEAK);
  if (!st) throw std::runtime_error("libebur128 refused the format");
  const std::size_t minFrames = std::size_t(std::ceil(kMeasureSeconds * a.rate));
  std::size_t fed = 0;
  do {
    ebur128_add_frames_float(st, a.samples.data(), a.Frames());
    fed += a.Frames();
  } while (fed < minFrames);
  ebur128_loudness_global(st, &m.lufs);
  double tp = 0, sp = 0;
  for (int c = 0; c < a.channels; ++c) {
    double v = 0;
    ebur128_true_peak(st, unsigned(c), &v);
    tp = std::max(tp, v);
    ebur128_sample_peak(st, unsigned(c), &v);
    sp = std::max(sp, v);
  }
  m.truePeakDb = GainToDb(tp);
  m.samplePeakDb = GainToDb(sp);
  ebur128_destroy(&st);
  return m;
}

float FramePeak(const Audio& a, std::size_t f) {
  float p = 0;
  for (int c = 0; c < a.channels; ++c) p = std::max(p, std::fabs(a.samples[f * a.channels + c]));
  return p;
}

void Scale(Audio& a, double gain) {
  for (float& v : a.samples) v = float(v * gain);
}

// Raised-cosine ramps, so that a cut or trim never clicks.
void FadeIn(Audio& a, std::size_t frames) {
  frames = std::min(frames, a.Frames());
  for (std::size_t f = 0; f < frames; ++f) {
    double g = 0.5 - 0.5 * std::cos(M_PI * (f + 0.5) / frames);
    for (int c = 0; c < a.channels; ++c) a.samples[f * a.channels + c] *= float(g);
  }
}

void FadeOut(Audio& a, std::size_t frames) {
  frames = std::min(frames, a.Frames());
  const std::size_t n = a.Frames();
  for (std::size_t i = 0; i < frames; ++i) {
    double g = 0.5 - 0.5 * std::cos(M_PI * (i + 0.5) / frames);
    std::size_t f = n - 1 - i;
    for (int c = 0; c < a.channels; ++c) a.samples[f * a.channels + c] *= float(g);
  }
}

void KeepFrames(Audio& a, std::size_t from, std::size_t to) {
  to = std::min(to, a.Frames());
  from = std::min(from, to);
  a.samples = std::vector<float>(a.samples.begin() + std::ptrdiff_t(from * a.channels),
                                 a.samples.begin() + std::ptrdiff_t(to * a.channels));
}

void TrimSilence(Audio& a, double tailMs) {
  const float thr = float(DbToGain(kSilenceDb));
  std::size_t first = 0, last = a.Frames();
  while (first < a.Frames() && FramePeak(a, first) <= thr) ++first;
  while (last > first && FramePeak(a, last - 1) <= thr) --last;
  if (first >= last) throw std::runtime_error("the sound is silent");
  const std::size_t lead = std::size_t(kLeadKeepMs * a.rate / 1000);
  const std::size_t tail = std::size_t(tailMs * a.rate / 1000);
  const std::size_t from = first > lead ? first - lead : 0;
  KeepFrames(a, from, last + tail);
  FadeIn(a, first - from);
  FadeOut(a, std::min(tail, a.Frames()));
}

double WindowDb(const Audio& a, std::size_t from, std::size_t frames) {
  double sum = 0;
  const std::size_t to = std::min(a.Frames(), from + frames);
  for (std::size_t i = from * a.channels; i < to * a.channels; ++i)
    sum += double(a.samples[i]) * a.samples[i];
  return 10.0 * std::log10(sum / double(std::max<std::size_t>(1, (to - from) * a.channels)) + 1e-20);
}

// The first window in [from, to) where the sound has died down: within a few
// dB of the quietest window there, or far under the loudest part of the
// sound. Returns `from` when the span is too short to hold a window.
std::size_t FirstQuiet(const Audio& a, std::size_t from, std::size_t to) {
  const std::size_t window = std::size_t(kQuietWindowMs * a.rate / 1000), hop = std::size_t(a.rate / 1000);
  to = std::min(to, a.Frames());
  if (to < from + window) return from;
  double loudest = -HUGE_VAL;
  for (std::size_t f = 0; f + window <= a.Frames(); f += hop)
    loudest = std::max(loudest, WindowDb(a, f, window));
  double floor = HUGE_VAL;
  for (std::size_t f = from; f + window <= to; f += hop) floor = std::min(floor, WindowDb(a, f, window));
  const double quiet = std::max(floor + kQuietAboveFloorDb, loudest - kQuietBelowPeakDb);
  std::size_t f = from;
  while (f + window <= to && WindowDb(a, f, window) > quiet) f += hop;
  return f;
}

// Look-ahead peak limiter: the gain each frame needs is spread over a short
// window on both sides (minimum, then moving average of the same width), so
// it never exceeds what any frame in reach needs and never steps abruptly.
void Limit(Audio& a, double ceilingDb) {
  const double ceiling = DbToGain(ceilingDb);
  const std::size_t n = a.Frames();
  const std::size_t w = std::size_t(0.002 * a.rate);
  std::vector<double> need(n), lowest(n), smooth(n);
  for (std::size_t f = 0; f < n; ++f) {
    double p = FramePeak(a, f);
    need[f] = p > ceiling ? ceiling / p : 1.0;
  }
  for (std::size_t f = 0; f < n; ++f) {
    double g = 1.0;
    for (std::size_t k = f > w ? f - w : 0; k <= std::min(n - 1, f + w); ++k) g = std::min(g, need[k]);
    lowest[f] = g;
  }
  for (std::size_t f = 0; f < n; ++f) {
    double sum = 0;
    std::size_t count = 0;
    for (std::size_t k = f > w ? f - w : 0; k <= std::min(n - 1, f + w); ++k, ++count) sum += lowest[k];
    // Near the ends the window is cut short; 1.0 stands for the frames beyond.
    sum += double(2 * w + 1 - count);
    smooth[f] = std::min(sum / double(2 * w + 1), lowest[f]);
  }
  for (std::size_t f = 0; f < n; ++f)
    for (int c = 0; c < a.channels; ++c) a.samples[f * a.channels + c] *= float(smooth[f]);
}

Audio Quantised(const Audio& a) {
  Audio q = a;
  for (float& v : q.samples) v = float(vqa::ToPcm16(v)) / 32768.0f;
  return q;
}

double LeadMs(const Audio& a) {
  const float thr = float(DbToGain(-45.0));
  std::size_t f = 0;
  while (f < a.Frames() && FramePeak(a, f) <= thr) ++f;
  return 1000.0 * double(f) / a.rate;
}

int MeasureFiles(int argc, char** argv) {
  std::printf("%-32s %8s %8s %8s %8s %8s %3s\n", "clip", "LUFS", "dBTP", "dBFS", "seconds", "lead_ms", "ch");
  for (int i = 0; i < argc; ++i) {
    Audio a = vqa::ReadClip(argv[i]);
    Measure m = MeasureAudio(a);
    std::printf("%-32s %8.2f %8.2f %8.2f %8.3f %8.1f %3d\n", argv[i], m.lufs, m.truePeakDb, m.samplePeakDb,
                a.Seconds(), LeadMs(a), a.channels);
  }
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: vqlevel --target LUFS [--cut START END [--settle OPEN CLOSE]] [--loop] [--tail MS]\n"
               "               [--ceiling DBTP] IN.wav OUT.vgz\n"
               "       vqlevel --measure CLIP.vgz...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) try {
  if (argc >= 2 && std::string(argv[1]) == "--measure") return MeasureFiles(argc - 2, argv + 2);
  double target = 0, cutFrom = -1, cutTo = -1, openLimit = -1, closeLimit = -1, tailMs = 30, ceilingDb = -1.2;
  bool haveTarget = false, loop = false;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto next = [&]() -> double {
      if (i + 1 >= argc) throw std::runtime_error(arg + " needs a value");
      return std::atof(argv[++i]);
    };
    if (arg == "--target")
      target = next(), haveTarget = true;
    else if (arg == "--cut")
      cutFrom = next(), cutTo = next();
    else if (arg == "--settle")
      openLimit = next(), closeLimit = next();
    else if (arg == "--loop")
      loop = true;
    else if (arg == "--tail")
      tailMs = next();
    else if (arg == "--ceiling")
      ceilingDb = next();
    else if (arg.rfind("--", 0) == 0)
      return Usage();
    else
      files.push_back(arg);
  }
  if (!haveTarget || files.size() != 2) return Usage();

  Audio a = vqa::ReadWave(files[0]);
  if (a.rate != vqa::kRate) throw std::runtime_error(files[0] + ": expected 48000 Hz");
  if (cutFrom >= 0) {
    auto frameAt = [&](double seconds) { return std::size_t(std::lround(std::max(0.0, seconds) * a.rate)); };
    std::size_t from = frameAt(cutFrom), to = frameAt(cutTo);
    // Settled cuts start where the previous word's vowel has died away in the
    // closure of a stop, and end where this word's own sound has died away,
    // release included. A cut inside a sound fades over 10 ms: a longer fade
    // lets the next word's onset into the tail ("fifty" heard as "fifty eight").
    double fadeOutMs = 10;
    if (openLimit >= 0) {
      from = FirstQuiet(a, from, frameAt(openLimit));
      if (frameAt(closeLimit) > to) {
        to = FirstQuiet(a, to, frameAt(closeLimit)) + std::size_t(kQuietWindowMs * a.rate / 1000);
        fadeOutMs = kQuietWindowMs;
      }
    }
    KeepFrames(a, from, to);
    FadeIn(a, std::size_t(0.004 * a.rate));
    FadeOut(a, std::size_t(fadeOutMs / 1000 * a.rate));
  }
  if (!loop) {
    // Trim at the target level, so that "silence" means the same for every clip.
    Measure m = MeasureAudio(a);
    Scale(a, DbToGain(target - m.lufs));
    TrimSilence(a, tailMs);
  }
  // Limiting lowers the loudness a little, so gain and limit until both hold.
  Measure m;
  for (int round = 0;; ++round) {
    m = MeasureAudio(a);
    Scale(a, DbToGain(target - m.lufs));
    m = MeasureAudio(Quantised(a));
    if (m.truePeakDb > ceilingDb) {
      if (loop) throw std::runtime_error(files[0] + ": a loop must not need limiting");
      Limit(a, ceilingDb - 0.3);
    } else if (std::fabs(m.lufs - target) < 0.05) {
      break;
    }
    if (round == 12) throw std::runtime_error(files[0] + ": loudness and peak did not settle");
  }
  vqa::WriteClip(files[1], a);
  return 0;
} catch (const std::exception& e) {
  std::fprintf(stderr, "vqlevel: %s\n", e.what());
  return 1;
}
