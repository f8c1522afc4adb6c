#include "support/test_data.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numbers>
#include <random>
#include <stdexcept>

#include "platform/rate_converter.h"
#include "sound/wave_header.h"

namespace vesquin::testing {

std::vector<std::uint8_t> MakeWaveImage(std::uint32_t lengthMs, std::uint16_t channels, std::uint32_t rate,
                                        std::uint16_t bits, double frequency, double amplitude) {
  const std::uint32_t frames = static_cast<std::uint32_t>(static_cast<std::uint64_t>(rate) * lengthMs / 1000);
  const std::uint16_t blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
  const std::uint32_t dataBytes = frames * blockAlign;
  std::vector<std::uint8_t> out = WaveHeader(kWavePcm, channels, rate, bits, dataBytes);
  for (std::uint32_t i = 0; i < frames; ++i) {
    const double v = amplitude * std::sin(2.0 * std::numbers::pi * frequency * i / rate);
    for (std::uint16_t c = 0; c < channels; ++c) {
      if (bits == 16) {
        PutLittleEndian(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(v * 32767.0))),
                        2);
      } else {
        out.push_back(static_cast<std::uint8_t>(std::lround(128.0 + v * 127.0)));
      }
    }
  }
  return out;
}

std::vector<std::uint8_t> MakeClipFile(std::uint32_t lengthMs, std::uint16_t channels, std::uint32_t rate,
                                       std::uint16_t bits, double frequency, double amplitude) {
  std::vector<std::uint8_t> bytes = MakeWaveImage(lengthMs, channels, rate, bits, frequency, amplitude);
  std::reverse(bytes.begin(), bytes.begin() + 50);
  return bytes;
}

void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TempFolder::TempFolder() {
  static std::mt19937_64 random{std::random_device{}()};
  for (;;) {
    path_ = std::filesystem::temp_directory_path() / ("vesquin-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(path_)) break;
  }
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> GameClipPaths() {
  std::vector<std::string> paths;
  for (const char* name : {"arrows", "start_game", "test_speakers", "learn_game_sounds", "final_score",
                           "view_top_10", "send_score", "quit", "bgrn"}) {
    paths.push_back(std::string("menu/") + name + ".vgz");
  }
  for (const char* name : {"game_intro", "exit_game", "say_game_over", "return_to_menu", "made_it",
                           "not_enough", "check_connected", "sending_score", "say_config_first"}) {
    paths.push_back(std::string("game/") + name + ".vgz");
  }
  for (const char* name : {"bgrn", "cat", "dog", "vict", "north", "east", "south", "west", "search"}) {
    paths.push_back(std::string("level1/") + name + ".vgz");
  }
  for (int i = 1; i <= 4; ++i) paths.push_back("learn/" + std::to_string(i) + ".vgz");
  for (int i = 0; i <= 20; ++i) paths.push_back("score/" + std::to_string(i) + ".vgz");
  for (int i = 30; i <= 90; i += 10) paths.push_back("score/" + std::to_string(i) + ".vgz");
  for (const char* name : {"hundred", "thousand", "say_final_score", "score_arrows", "your_current_score",
                           "say_points", "SayLivesRemaining"}) {
    paths.push_back(std::string("score/") + name + ".vgz");
  }
  for (const char* name : {"f_left", "f_right", "f_left1", "f_right1"}) {
    paths.push_back(std::string("TestSpk/") + name + ".vgz");
  }
  return paths;
}

void MakeGameData(const std::filesystem::path& folder, const std::map<std::string, std::uint32_t>& lengths,
                  const std::vector<std::string>& missing, bool bestDat) {
  std::filesystem::create_directories(folder);
  for (const std::string& path : GameClipPaths()) {
    if (std::find(missing.begin(), missing.end(), path) != missing.end()) continue;
    const auto length = lengths.find(path);
    WriteFile(folder / path, MakeClipFile(length == lengths.end() ? kDefaultClipMs : length->second));
  }
  if (bestDat) WriteFile(folder / "best.dat", {});
}

bool MixerConvertsRates() { return RateConverter::Make(22'050, 48'000, 1) != nullptr; }

}  // namespace vesquin::testing
