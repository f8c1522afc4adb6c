#include "platform/hrtf.h"

#include <mysofa.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/hrtf_filters.h"

namespace vesquin {
namespace {

constexpr float kPi = std::numbers::pi_v<float>;

}  // namespace

void HrtfSet::Closer::operator()(MYSOFA_EASY* easy) const { mysofa_close(easy); }

std::unique_ptr<HrtfSet> HrtfSet::Open(const char* path, float sampleRate) {
  int taps = 0;
  int err = 0;
  MYSOFA_EASY* easy = mysofa_open(path, sampleRate, &taps, &err);
  if (easy == nullptr) return nullptr;
  if (err != MYSOFA_OK || taps <= 0) {
    mysofa_close(easy);
    return nullptr;
  }
  return std::unique_ptr<HrtfSet>(new HrtfSet(easy, taps));
}

HrtfSet::HrtfSet(MYSOFA_EASY* easy, int rawTaps)
    : easy_(easy), rawTaps_(static_cast<std::size_t>(rawTaps)), left_(rawTaps_), right_(rawTaps_) {
  // Straight ahead sets the level: its filters are scaled to unit energy per ear.
  RawFilter(0.0F, 0.0F, 1.0F, left_, right_);
  const double front = (FilterEnergy(left_) + FilterEnergy(right_)) / 2.0;
  scale_ = front > 0.0 ? static_cast<float>(1.0 / std::sqrt(front)) : 1.0F;

  // One length for every direction: the longest that a ring of directions needs.
  std::size_t needed = 1;
  for (int elevation = -40; elevation <= 80; elevation += 40) {
    for (int azimuth = 0; azimuth < 360; azimuth += 15) {
      const float el = static_cast<float>(elevation) * kPi / 180.0F;
      const float az = static_cast<float>(azimuth) * kPi / 180.0F;
      RawFilter(std::sin(az) * std::cos(el), std::sin(el), std::cos(az) * std::cos(el), left_, right_);
      needed = std::max({needed, EffectiveLength(left_), EffectiveLength(right_)});
    }
  }
  taps_ = (needed + 7) / 8 * 8;  // whole groups for the dot product's unrolled lanes
  taps_ = std::min(taps_, rawTaps_);
}

HrtfSet::~HrtfSet() = default;

void HrtfSet::RawFilter(float x, float y, float z, std::vector<float>& left,
                        std::vector<float>& right) const {
  // SOFA looks from the listener with x ahead, y to the left and z up.
  float sx = z;
  float sy = -x;
  float sz = y;
  const float length = std::sqrt(sx * sx + sy * sy + sz * sz);
  if (!(length > 1e-6F) || !std::isfinite(length)) {
    sx = 1.0F;
    sy = 0.0F;
    sz = 0.0F;
  } else {
    sx /= length;
    sy /= length;
    sz /= length;
  }
  // The data set was measured at one distance; look up the direction at that distance.
  float radius = 1.0F;
  if (easy_->lookup != nullptr) radius = (easy_->lookup->radius_min + easy_->lookup->radius_max) / 2.0F;
  if (!(radius > 0.0F)) radius = 1.0F;
  float delayLeft = 0.0F;
  float delayRight = 0.0F;
  mysofa_getfilter_float(easy_.get(), sx * radius, sy * radius, sz * radius, left.data(), right.data(),
                         &delayLeft, &delayRight);
  // Data sets that keep the interaural delay apart from the filters: fold it back in.
  const float rate = easy_->hrtf != nullptr ? easy_->hrtf->DataSamplingRate.values[0] : 0.0F;
  FoldDelay(left, delayLeft, rate);
  FoldDelay(right, delayRight, rate);
}

void HrtfSet::Filter(float x, float y, float z, std::vector<float>& reversed) const {
  RawFilter(x, y, z, left_, right_);
  reversed.resize(2 * taps_);
  for (std::size_t k = 0; k < taps_; ++k) {
    reversed[taps_ - 1 - k] = left_[k] * scale_;
    reversed[2 * taps_ - 1 - k] = right_[k] * scale_;
  }
}

float AzimuthOf(float x, float z) {
  if (!(std::fabs(x) > 1e-9F) && !(std::fabs(z) > 1e-9F)) return 0.0F;
  return std::atan2(x, z);
}

std::array<float, kMaxOutputChannels> SpeakerGains(float azimuth, int channels) {
  std::array<float, kMaxOutputChannels> gains{};
  const float root2 = std::numbers::sqrt2_v<float>;
  if (!std::isfinite(azimuth)) azimuth = 0.0F;
  if (channels != 4 && channels != 6) {
    // Two speakers: constant power by how far to the side the source is; front and back
    // mirror each other, so sources behind are made a little softer.
    const float side = std::sin(azimuth);
    const float angle = (side + 1.0F) * kPi / 4.0F;
    const float behind = std::cos(azimuth) < 0.0F ? 1.0F + 0.3F * std::cos(azimuth) : 1.0F;
    gains[0] = root2 * std::cos(angle) * behind;
    gains[1] = root2 * std::sin(angle) * behind;
    return gains;
  }
  struct Speaker {
    float azimuthDegrees;
    int channel;
  };
  // Around the listener, clockwise from behind-left.
  static constexpr Speaker kQuad[] = {{-135.0F, 2}, {-45.0F, 0}, {45.0F, 1}, {135.0F, 3}};
  static constexpr Speaker kSurround[] = {{-110.0F, 4}, {-30.0F, 0}, {0.0F, 2}, {30.0F, 1}, {110.0F, 5}};
  const Speaker* ring = channels == 4 ? kQuad : kSurround;
  const int count = channels == 4 ? 4 : 5;
  float degrees = azimuth * 180.0F / kPi;
  for (int i = 0; i < count; ++i) {
    const Speaker& a = ring[i];
    const Speaker& b = ring[(i + 1) % count];
    float from = a.azimuthDegrees;
    float to = b.azimuthDegrees;
    float at = degrees;
    if (to <= from) {  // the pair that spans the back
      to += 360.0F;
      if (at < from) at += 360.0F;
    }
    if (at >= from && at <= to) {
      const float f = (at - from) / (to - from) * kPi / 2.0F;
      gains[static_cast<std::size_t>(a.channel)] = root2 * std::cos(f);
      gains[static_cast<std::size_t>(b.channel)] += root2 * std::sin(f);
      return gains;
    }
  }
  gains[0] = gains[1] = 1.0F;
  return gains;
}

float DistanceGain(float x, float y, float z, float minDistance) {
  const float distance = std::sqrt(x * x + y * y + z * z);
  if (!std::isfinite(distance) || distance <= minDistance || !(distance > 0.0F)) return 1.0F;
  return minDistance / distance;
}

}  // namespace vesquin
