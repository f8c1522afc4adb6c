#pragma once
// How the head-related filters are prepared: the native mixer and the browser's filter table
// fold the interaural delays in and cut the filters alike, so that both render the same 3-D
// sound.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace vesquin {

// Tail energy left out when the filters are cut short: -40 dB of each filter's energy.
// KEMAR's 558 taps at 48 kHz carry little past ~400, and every tap costs two
// multiply-adds per frame of every sounding 3-D voice.
inline constexpr double kHrtfTailEnergy = 1e-4;

inline double FilterEnergy(const std::vector<float>& h) {
  double e = 0.0;
  for (float v : h) e += static_cast<double>(v) * v;
  return e;
}

// Taps needed to keep all but kHrtfTailEnergy of the filter's energy.
inline std::size_t EffectiveLength(const std::vector<float>& h) {
  const double total = FilterEnergy(h);
  double tail = 0.0;
  std::size_t n = h.size();
  while (n > 0) {
    tail += static_cast<double>(h[n - 1]) * h[n - 1];
    if (tail > total * kHrtfTailEnergy) break;
    --n;
  }
  return n;
}

// Delays the filter by `seconds` at `rate`, for data sets that keep the interaural delay apart
// from the filters; what is pushed past the end is dropped.
inline void FoldDelay(std::vector<float>& h, float seconds, float rate) {
  const auto frames = static_cast<std::ptrdiff_t>(std::lround(seconds * rate));
  if (frames <= 0) return;
  const auto n = static_cast<std::ptrdiff_t>(h.size());
  const std::ptrdiff_t keep = std::max<std::ptrdiff_t>(0, n - frames);
  std::move_backward(h.begin(), h.begin() + keep, h.end());
  std::fill(h.begin(), h.begin() + std::min(frames, n), 0.0F);
}

}  // namespace vesquin
