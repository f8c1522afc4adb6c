#include <soxr.h>

#include <new>

#include "platform/rate_converter.h"

namespace vesquin {
namespace {

class SoxrConverter final : public RateConverter {
 public:
  explicit SoxrConverter(soxr_t soxr) : soxr_(soxr) {}
  ~SoxrConverter() override { soxr_delete(soxr_); }
  SoxrConverter(const SoxrConverter&) = delete;
  SoxrConverter& operator=(const SoxrConverter&) = delete;

  bool Process(const std::int16_t* in, std::size_t frames, std::size_t& used, std::int16_t* out,
               std::size_t capacity, std::size_t& written) override {
    used = 0;
    written = 0;
    return soxr_process(soxr_, in, in == nullptr ? 0 : frames, in == nullptr ? nullptr : &used, out, capacity,
                        &written) == nullptr;
  }

 private:
  soxr_t soxr_;
};

}  // namespace

std::unique_ptr<RateConverter> RateConverter::Make(double inRate, double outRate, unsigned channels) {
  soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
  io.flags |= SOXR_NO_DITHER;  // the same clip always converts to the same samples
  // High quality (20-bit): well past what 16-bit clips carry, at a fraction of a second per
  // minute of audio.
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  soxr_error_t error = nullptr;
  soxr_t soxr = soxr_create(inRate, outRate, channels, &error, &io, &quality, nullptr);
  if (error != nullptr) return nullptr;
  try {
    return std::make_unique<SoxrConverter>(soxr);
  } catch (const std::bad_alloc&) {
    soxr_delete(soxr);
    return nullptr;
  }
}

}  // namespace vesquin
