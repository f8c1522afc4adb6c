// Clip files: the reversed header is restored, and every image the mixer could not play
// faithfully is refused with a reason.

#include "sound/clip_file.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "clip_builder.h"

namespace vesquin {
namespace {

using testclips::Put16;
using testclips::Put32;
using testclips::WaveBytes;

TEST(ClipFile, ReversingTheHeaderTwiceGivesTheWaveBackAndLoadsItsSamples) {
  const std::vector<std::int16_t> samples = {1, -2, 300, -400, 5'000, -6'000, 7, 8};
  const std::vector<std::uint8_t> wave = WaveBytes(2, 22'050, 16, samples);
  std::vector<std::uint8_t> file = wave;
  ReverseClipHeader(file);
  EXPECT_EQ(file[49], 'R');  // the RIFF tag ends the reversed stretch
  EXPECT_EQ(file[6], 0);     // data length (16), most significant byte first
  EXPECT_EQ(file[9], 16);
  auto clip = ParseClipImage(file);
  ASSERT_TRUE(clip.has_value());
  EXPECT_EQ(clip->format.channels, 2);
  EXPECT_EQ(clip->format.samplesPerSec, 22'050U);
  EXPECT_EQ(std::vector<std::uint8_t>(clip->data.begin(), clip->data.end()),
            std::vector<std::uint8_t>(wave.begin() + 44, wave.end()));
  EXPECT_STREQ(ClipImageProblem(file), "");
  ReverseClipHeader(file);
  EXPECT_EQ(file, wave);
}

TEST(ClipFile, RefusesEveryImageOutsideWhatTheMixerPlays) {
  using Edit = std::function<void(std::vector<std::uint8_t>&)>;
  const struct {
    const char* what;
    Edit edit;
  } cases[] = {
      {"short file", [](auto& b) { b.resize(49); }},
      {"header only, cut", [](auto& b) { b.resize(43); }},
      {"not PCM", [](auto& b) { Put16(b, 20, 3); }},
      {"three channels", [](auto& b) { Put16(b, 22, 3), Put16(b, 32, 6), Put32(b, 28, 22'050 * 6); }},
      {"no channel", [](auto& b) { Put16(b, 22, 0), Put16(b, 32, 0), Put32(b, 28, 0); }},
      {"24 bits", [](auto& b) { Put16(b, 34, 24), Put16(b, 32, 3), Put32(b, 28, 22'050 * 3); }},
      {"rate 3,999", [](auto& b) { Put32(b, 24, 3'999), Put32(b, 28, 3'999 * 2); }},
      {"rate 192,001", [](auto& b) { Put32(b, 24, 192'001), Put32(b, 28, 192'001 * 2); }},
      {"block alignment", [](auto& b) { Put16(b, 32, 4); }},
      {"byte rate", [](auto& b) { Put32(b, 28, 22'050 * 2 + 1); }},
      {"three data bytes", [](auto& b) { Put32(b, 40, 3); }},
      {"data length past the end", [](auto& b) { Put32(b, 40, static_cast<std::uint32_t>(b.size() - 43)); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> image = WaveBytes(1, 22'050, 16, std::vector<std::int16_t>(20, 100));
    c.edit(image);
    ReverseClipHeader(image);
    EXPECT_FALSE(ParseClipImage(image).has_value());
    EXPECT_STRNE(ClipImageProblem(image), "");
  }
  // The limits themselves are clips: 4,000 and 192,000 Hz, 8 bits, a data length that ends
  // exactly at the file's end, and one shorter than the bytes after the header.
  for (const std::uint32_t rate : {4'000U, 192'000U}) {
    auto b = WaveBytes(1, rate, 8, std::vector<std::int16_t>(7));
    ReverseClipHeader(b);
    EXPECT_TRUE(ParseClipImage(b).has_value()) << rate;
  }
  for (const std::uint32_t length : {4U, 10U}) {
    auto b = WaveBytes(1, 22'050, 16, std::vector<std::int16_t>(20));
    Put32(b, 40, length);
    ReverseClipHeader(b);
    auto clip = ParseClipImage(b);
    ASSERT_TRUE(clip.has_value()) << length;
    EXPECT_EQ(clip->data.size(), length);
  }
}

}  // namespace
}  // namespace vesquin
