// 3-D voices heard through the mixer: direction, level straight ahead, distance, and the
// fall-backs when no filter set can be opened or when the output has more speakers.

#include <gtest/gtest.h>

#include <random>

#include "clip_builder.h"
#include "platform/mixer.h"

namespace vesquin {
namespace {

using testclips::Db;
using testclips::MakeClip;
using testclips::Rms;

constexpr std::size_t kFrames = 24'000;

// Half a second of white noise: every band of the filters counts.
ClipImage Noise() {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> value(-6'000, 6'000);
  std::vector<std::int16_t> s(kFrames);
  for (auto& v : s) v = static_cast<std::int16_t>(value(random));
  return MakeClip(1, 48'000, 16, s);
}

double NoiseRms() {
  const ClipImage clip = Noise();
  double sum = 0.0;
  for (std::size_t i = 0; i + 1 < clip.data.size(); i += 2) {
    const double v = static_cast<std::int16_t>(clip.data[i] | (clip.data[i + 1] << 8));
    sum += v * v;
  }
  return std::sqrt(sum / kFrames);
}

// Output of one play of the noise from (x, y, z) with the given minimum distance.
std::vector<std::int16_t> Heard(Mixer& mixer, float x, float y, float z, float minDistance = 10.0F) {
  auto voice = mixer.CreateVoice(Noise(), true);
  EXPECT_NE(voice, nullptr);
  EXPECT_TRUE(voice->SetMinDistance(minDistance));
  EXPECT_TRUE(voice->SetPosition(x, y, z));
  voice->Play(false);
  std::vector<std::int16_t> out(kFrames * static_cast<std::size_t>(mixer.OutputChannels()));
  mixer.Render(out.data(), kFrames);
  return out;
}

class Hrtf : public ::testing::Test {
 protected:
  // Opening the filter set takes a noticeable time: one mixer serves every case.
  static void SetUpTestSuite() { mixer = new Mixer(); }
  static void TearDownTestSuite() {
    delete mixer;
    mixer = nullptr;
  }
  static Mixer* mixer;
};
Mixer* Hrtf::mixer = nullptr;

TEST_F(Hrtf, FilterSetOpensAtTheFirst3DVoiceOnly) {
  Mixer fresh;
  EXPECT_FALSE(fresh.HasHrtf());
  auto flat = fresh.CreateVoice(Noise(), false);
  EXPECT_FALSE(fresh.HasHrtf());
  auto spatial = fresh.CreateVoice(Noise(), true);
  EXPECT_TRUE(fresh.HasHrtf()) << "is /usr/share/libmysofa/default.sofa installed?";
}

TEST_F(Hrtf, DirectionsAreHeardFromTheirSide) {
  const auto left = Heard(*mixer, -1.0F, 0.0F, 5.0F);
  ASSERT_TRUE(mixer->HasHrtf());
  EXPECT_GT(Db(Rms(left, 2, 0, 0, kFrames) / Rms(left, 2, 1, 0, kFrames)), 1.0);
  const auto right = Heard(*mixer, 1.0F, 0.0F, 5.0F);
  EXPECT_GT(Db(Rms(right, 2, 1, 0, kFrames) / Rms(right, 2, 0, 0, kFrames)), 1.0);
  const auto farLeft = Heard(*mixer, -8.0F, 0.0F, -5.0F);
  EXPECT_GT(Db(Rms(farLeft, 2, 0, 0, kFrames) / Rms(farLeft, 2, 1, 0, kFrames)), 6.0);

  // Ahead and behind give the two ears the same level, but not the same sound.
  const auto ahead = Heard(*mixer, 0.0F, 0.0F, 5.0F);
  const auto behind = Heard(*mixer, 0.0F, 0.0F, -5.0F);
  double difference = 0.0;
  double total = 0.0;
  for (std::size_t i = 0; i < ahead.size(); ++i) {
    const double d = ahead[i] - behind[i];
    difference += d * d;
    total += static_cast<double>(ahead[i]) * ahead[i];
  }
  EXPECT_GT(10.0 * std::log10(difference / total), -15.0);
}

TEST_F(Hrtf, StraightAheadKeepsTheClipLevelAndDistanceLowersIt) {
  const auto ahead = Heard(*mixer, 0.0F, 0.0F, 5.0F);
  EXPECT_NEAR(Db(Rms(ahead, 2, 0, 0, kFrames) / NoiseRms()), 0.0, 0.5);
  EXPECT_NEAR(Db(Rms(ahead, 2, 1, 0, kFrames) / NoiseRms()), 0.0, 0.5);
  // Within the minimum distance the level holds; beyond it, it falls as min / distance.
  const auto near = Heard(*mixer, 0.0F, 0.0F, 9.0F);
  const auto twice = Heard(*mixer, 0.0F, 0.0F, 20.0F);
  EXPECT_NEAR(Db(Rms(near, 2, 0, 0, kFrames) / Rms(ahead, 2, 0, 0, kFrames)), 0.0, 0.01);
  EXPECT_NEAR(Db(Rms(twice, 2, 0, 0, kFrames) / Rms(ahead, 2, 0, 0, kFrames)), -6.02, 0.05);
}

TEST(HrtfFallback, WithoutFiltersSpeakersStillPlaceTheSource) {
  Mixer stereo(2, "/nonexistent/filters.sofa");
  const auto left = Heard(stereo, -1.0F, 0.0F, 5.0F);
  EXPECT_FALSE(stereo.HasHrtf());
  EXPECT_GT(Db(Rms(left, 2, 0, 0, kFrames) / Rms(left, 2, 1, 0, kFrames)), 1.0);
  const auto ahead = Heard(stereo, 0.0F, 0.0F, 5.0F);
  const auto behind = Heard(stereo, 0.0F, 0.0F, -5.0F);
  EXPECT_NEAR(Db(Rms(ahead, 2, 0, 0, kFrames) / NoiseRms()), 0.0, 0.05);
  EXPECT_LT(Db(Rms(behind, 2, 0, 0, kFrames) / Rms(ahead, 2, 0, 0, kFrames)), -1.0);

  // Quad: behind to the left is the back-left speaker's; 5.1: straight ahead is the centre's.
  Mixer quad(4, "/nonexistent/filters.sofa");
  const auto backLeft = Heard(quad, -8.0F, 0.0F, -8.0F);
  const double bl = Rms(backLeft, 4, 2, 0, kFrames);
  for (int c : {0, 1, 3}) EXPECT_LT(Rms(backLeft, 4, c, 0, kFrames), bl * 0.01) << c;
  Mixer surround(6, "/nonexistent/filters.sofa");
  const auto centre = Heard(surround, 0.0F, 0.0F, 5.0F);
  for (int c : {0, 1, 3, 4, 5}) EXPECT_EQ(Rms(centre, 6, c, 0, kFrames), 0.0) << c;
  EXPECT_GT(Rms(centre, 6, 2, 0, kFrames), NoiseRms());
}

}  // namespace
}  // namespace vesquin
