#pragma once
// Where a 3-D voice is heard from: head-related filters for headphones and stereo speakers,
// and speaker gains for quad and 5.1 outputs or when no filter set can be opened.

#include <array>
#include <cstddef>
#include <memory>
#include <vector>

struct MYSOFA_EASY;

namespace vesquin {

inline constexpr const char* kDefaultHrtfPath = "/usr/share/libmysofa/default.sofa";
inline constexpr int kMaxOutputChannels = 6;

// A head-related filter set resampled to the mixer's rate. Owns its libmysofa handle.
class HrtfSet {
 public:
  // Null when the file cannot be opened or read; opening takes a few tenths of a second.
  static std::unique_ptr<HrtfSet> Open(const char* path, float sampleRate);
  ~HrtfSet();
  HrtfSet(const HrtfSet&) = delete;
  HrtfSet& operator=(const HrtfSet&) = delete;

  // Taps of every filter pair this set hands out.
  std::size_t Taps() const { return taps_; }

  // Fills `reversed` with 2 * Taps() coefficients: the left ear's filter, then the right
  // ear's, each stored last tap first so that convolving is a straight dot product with the
  // most recent input frames. The direction is in listener axes (x right, y up, z ahead);
  // a source straight ahead comes out at its own level.
  void Filter(float x, float y, float z, std::vector<float>& reversed) const;

 private:
  struct Closer {
    void operator()(MYSOFA_EASY* easy) const;
  };
  HrtfSet(MYSOFA_EASY* easy, int rawTaps);
  void RawFilter(float x, float y, float z, std::vector<float>& left, std::vector<float>& right) const;

  std::unique_ptr<MYSOFA_EASY, Closer> easy_;
  std::size_t rawTaps_ = 0;
  std::size_t taps_ = 0;
  float scale_ = 1.0F;
  // libmysofa's look-up keeps scratch space in the handle; one filter at a time.
  mutable std::vector<float> left_, right_;
};

// Azimuth in radians of a direction in listener axes: 0 ahead, positive to the right,
// +-pi behind. A source at the listener counts as straight ahead.
float AzimuthOf(float x, float z);

// Gains per output channel for a mono source heard from `azimuth`, placed between the two
// nearest real speakers of the layout (2: left, right; 4: front left, front right, back left,
// back right; 6: front left, front right, centre, LFE, back left, back right). The total power
// is always 2, that of a mono 2-D voice at pan 0, so a source straight ahead on two channels
// plays at full level on both. On 2 channels, sources behind are a little softer so that front
// and back still differ without filters.
std::array<float, kMaxOutputChannels> SpeakerGains(float azimuth, int channels);

// Full level up to the minimum distance, then falling as minimum distance / distance.
float DistanceGain(float x, float y, float z, float minDistance);

}  // namespace vesquin
