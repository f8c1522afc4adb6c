#pragma once
// Data folders made by the tests: every clip the game loads, as tones of known lengths, so
// that transcripts have times a test can state.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace vesquin::testing {

// The bytes of a clip file (a WAVE image with its first 50 bytes reversed).
std::vector<std::uint8_t> MakeClipFile(std::uint32_t lengthMs, std::uint16_t channels = 1,
                                       std::uint32_t rate = 48'000, std::uint16_t bits = 16,
                                       double frequency = 440.0, double amplitude = 0.25);
// A WAVE image with its header in order, as MakeClipFile's before the reversal.
std::vector<std::uint8_t> MakeWaveImage(std::uint32_t lengthMs, std::uint16_t channels = 1,
                                        std::uint32_t rate = 48'000, std::uint16_t bits = 16,
                                        double frequency = 440.0, double amplitude = 0.25);

void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path);

// A fresh folder below the system's temporary folder, removed when the object goes.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::string Str() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

// The lengths the game's clips get in a test data folder, by clip path relative to the
// folder ("menu/arrows.vgz"); every clip not named lasts kDefaultClipMs.
inline constexpr std::uint32_t kDefaultClipMs = 200;

// Every clip the game loads. `lengths` overrides single clips; `missing` leaves clips out.
// With `bestDat`, an empty best.dat is made too.
void MakeGameData(const std::filesystem::path& folder,
                  const std::map<std::string, std::uint32_t>& lengths = {},
                  const std::vector<std::string>& missing = {}, bool bestDat = true);

// Whether this build's mixer converts clips at other rates than its own; the browser's and
// Windows' builds carry no rate conversion and refuse such clips.
bool MixerConvertsRates();
#define SKIP_UNLESS_RATES_CONVERT() \
  if (!::vesquin::testing::MixerConvertsRates()) GTEST_SKIP() << "this build has no rate conversion"

// Every clip path the game loads, relative to the data folder, with "/" separators.
std::vector<std::string> GameClipPaths();

}  // namespace vesquin::testing
