#pragma once
// The one seam between the mixer and a sample-rate conversion library: a stream of
// interleaved 16-bit frames in, the same at another rate out. A build without libsoxr
// supplies its own RateConverter::Make.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vesquin {

class RateConverter {
 public:
  // Null when the rates or the channel count are refused. Output frame j sounds at input
  // time j * inRate / outRate: the converter's own delay is already taken out.
  static std::unique_ptr<RateConverter> Make(double inRate, double outRate, unsigned channels);
  virtual ~RateConverter() = default;

  // Takes up to `frames` input frames (`in` null: the input has ended, flush what is held) and
  // writes up to `capacity` frames to `out`. `used` and `written` receive the frames taken and
  // given; false when the converter fails.
  virtual bool Process(const std::int16_t* in, std::size_t frames, std::size_t& used, std::int16_t* out,
                       std::size_t capacity, std::size_t& written) = 0;
};

}  // namespace vesquin
