#pragma once
// Clips made in the tests themselves: canonical WAVE bytes, clip files, and rendered output.

#include <cmath>
#include <cstdint>
#include <numbers>
#include <optional>
#include <vector>

#include "sound/clip_file.h"
#include "sound/wave_header.h"

namespace vesquin::testclips {

inline void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A canonical 44-byte-header PCM WAVE file. `samples` are interleaved on the 16-bit scale;
// 8-bit files store them as unsigned bytes.
inline std::vector<std::uint8_t> WaveBytes(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                                           const std::vector<std::int16_t>& samples) {
  const std::uint32_t bytesPerSample = bits / 8;
  const auto dataLength = static_cast<std::uint32_t>(samples.size() * bytesPerSample);
  std::vector<std::uint8_t> b = WaveHeader(kWavePcm, channels, rate, bits, dataLength);
  b.resize(44 + dataLength);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (bits == 8) {
      b[44 + i] = static_cast<std::uint8_t>((samples[i] >> 8) + 128);
    } else {
      Put16(b, 44 + 2 * i, static_cast<std::uint16_t>(samples[i]));
    }
  }
  return b;
}

// The clip file of those samples (header reversed), restored as the loader restores it.
inline ClipImage MakeClip(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                          const std::vector<std::int16_t>& samples) {
  std::vector<std::uint8_t> file = WaveBytes(channels, rate, bits, samples);
  ReverseClipHeader(file);
  return *RestoreClipImage(std::move(file));
}

inline std::vector<std::int16_t> Sine(double hz, std::uint32_t rate, std::size_t frames, double amplitude,
                                      int channels = 1) {
  std::vector<std::int16_t> s;
  for (std::size_t i = 0; i < frames; ++i) {
    const auto v = static_cast<std::int16_t>(
        std::lround(amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / rate)));
    for (int c = 0; c < channels; ++c) s.push_back(v);
  }
  return s;
}

// Root mean square of one channel of interleaved frames [from, to).
inline double Rms(const std::vector<std::int16_t>& frames, int channels, int channel, std::size_t from,
                  std::size_t to) {
  double sum = 0.0;
  for (std::size_t i = from; i < to; ++i) {
    const double v = frames[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(channel)];
    sum += v * v;
  }
  return std::sqrt(sum / static_cast<double>(to - from));
}

inline double Db(double ratio) { return 20.0 * std::log10(ratio); }

}  // namespace vesquin::testclips
