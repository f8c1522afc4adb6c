// vesquin-bench-sound: what the sound layer costs, without any device. Prints
// `name: value unit` lines (notes start with '#'), each value the median of several runs:
//   - mixing: microseconds of work per voice per second of audio rendered, 256-frame blocks;
//   - HRTF: the same for 3-D voices on stereo output, and that as a share of one core;
//   - conversion at load of clips recorded at other rates;
//   - the largest clip the format allows at its slowest common rate (10,000,000 bytes, 4 kHz,
//     8-bit) loaded by a fresh process: the load's time and the process's peak memory;
//   - opening the HRTF filter set (done when the first 3-D clip is loaded);
//   - loading the whole data folder through the game's own loader (name look-up, one read,
//     checks, conversion), with the files in the page cache.
//
//   vesquin-bench-sound [DATA_FOLDER]
//
// DATA_FOLDER defaults to the folder of this program (the build's bin folder, where the game's
// data folder lies); when it holds no clip files, generated clips stand in for it.

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "machine/random.h"
#include "machine/services.h"
#include "platform/mixer.h"
#include "platform/posix_files.h"
#include "sound/clip_file.h"
#include "sound/sound.h"
#include "sound/wave_header.h"
#include "support/idle_machine.h"

extern char** environ;

namespace {

using vesquin::ClipImage;
using vesquin::Mixer;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

// Runs `once` `runs` times and returns the median of the values it reports.
double MedianOf(int runs, const std::function<double()>& once) {
  std::vector<double> values;
  for (int i = 0; i < runs; ++i) values.push_back(once());
  return Median(values);
}

void Print(const char* name, double value, const char* unit) {
  std::printf("%s: %.3f %s\n", name, value, unit);
}

std::vector<std::uint8_t> ClipFileBytes(std::uint16_t channels, std::uint32_t rate, std::size_t frames,
                                        std::uint32_t seed) {
  const auto length = static_cast<std::uint32_t>(frames * channels * 2U);
  std::vector<std::uint8_t> b = vesquin::WaveHeader(vesquin::kWavePcm, channels, rate, 16, length);
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> noise(-2'000, 2'000);
  for (std::size_t i = 0; i < frames * channels; ++i) {
    const double tone =
        8'000.0 * std::sin(2.0 * std::numbers::pi * 330.0 * static_cast<double>(i / channels) / rate);
    vesquin::PutLittleEndian(b, static_cast<std::uint16_t>(static_cast<std::int16_t>(tone + noise(random))),
                             2);
  }
  vesquin::ReverseClipHeader(b);
  return b;
}

ClipImage MakeClip(std::uint16_t channels, std::uint32_t rate, std::size_t frames, std::uint32_t seed) {
  return *vesquin::RestoreClipImage(ClipFileBytes(channels, rate, frames, seed));
}

// Microseconds of rendering per second of audio with `voices` voices sounding at once, in
// 256-frame blocks as the audio callback asks for them.
double RenderCost(int voices, bool threeD, int runs) {
  Mixer mixer;
  std::vector<std::unique_ptr<vesquin::SoundVoice>> playing;
  for (int i = 0; i < voices; ++i) {
    const std::uint16_t channels = threeD ? 1 : static_cast<std::uint16_t>(1 + i % 2);
    playing.push_back(
        mixer.CreateVoice(MakeClip(channels, 48'000, 48'000 * 3, static_cast<std::uint32_t>(i)), threeD));
    if (threeD) {
      playing.back()->SetMinDistance(10.0F);
      playing.back()->SetPosition(static_cast<float>(i % 3) - 1.0F, 0.0F, i % 2 == 0 ? 5.0F : -5.0F);
    } else {
      playing.back()->SetPan(static_cast<std::int32_t>(i * 700 - 3'000));
      playing.back()->SetVolume(-static_cast<std::int32_t>(i * 100));
    }
    playing.back()->Play(true);
  }
  const std::size_t seconds = threeD ? 4 : 10;
  std::vector<std::int16_t> buffer(256 * 2);
  return MedianOf(runs, [&] {
    const auto start = Clock::now();
    for (std::size_t b = 0; b < seconds * 48'000 / 256; ++b) mixer.Render(buffer.data(), 256);
    return Seconds(Clock::now() - start) * 1e6 / static_cast<double>(seconds);
  });
}

// Milliseconds to convert one second of audio recorded at `rate`.
double ConversionCost(std::uint32_t rate, std::uint16_t channels, int runs) {
  const ClipImage clip = MakeClip(channels, rate, rate * 4, 1);
  Mixer mixer;
  return MedianOf(runs, [&] {
    const auto start = Clock::now();
    auto voice = mixer.CreateVoice(clip, false);
    return Seconds(Clock::now() - start) * 1e3 / 4.0;
  });
}

// The clip files below `folder`, named as the game names them: relative, with backslashes.
std::vector<std::string> ClipNames(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::string ext = it->path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (!it->is_regular_file() || ext != ".vgz") continue;
    std::string name = it->path().lexically_relative(folder).generic_string();
    std::replace(name.begin(), name.end(), '/', '\\');
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The largest clip file the loader takes: 44 + 9,999,956 bytes, 8-bit mono at 4,000 Hz
// (41 minutes of audio), a tone with some noise.
void WriteWorstClip(const fs::path& file) {
  constexpr std::uint32_t kRate = 4'000;
  constexpr std::uint32_t kLength = 10'000'000 - 44;
  std::vector<std::uint8_t> b = vesquin::WaveHeader(vesquin::kWavePcm, 1, kRate, 8, kLength);
  b.resize(44 + kLength);
  std::mt19937 random(5);
  std::uniform_int_distribution<int> noise(-8, 8);
  for (std::size_t i = 0; i < kLength; ++i) {
    const double tone = 90.0 * std::sin(2.0 * std::numbers::pi * 440.0 * static_cast<double>(i) / kRate);
    b[44 + i] = static_cast<std::uint8_t>(128 + static_cast<int>(tone) + noise(random));
  }
  vesquin::ReverseClipHeader(b);
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// In a fresh process: loads `name` below `dataFolder` through the game's loader and prints
// the load's milliseconds and the process's peak resident memory.
int LoadOne(const std::string& dataFolder, const std::string& name);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--load-one") return LoadOne(argv[2], argv[3]);
  fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::weakly_canonical(fs::absolute(argv[0])).parent_path();
  std::vector<std::string> names = ClipNames(folder);
  fs::path generated;
  if (names.empty()) {
    // No data folder yet: forty clips of typical lengths and formats stand in for it.
    generated = fs::temp_directory_path() / ("vesquin-bench-clips-" + std::to_string(getpid()));
    fs::create_directories(generated);
    for (int i = 0; i < 40; ++i) {
      const auto bytes =
          ClipFileBytes(static_cast<std::uint16_t>(1 + i % 2), 48'000,
                        static_cast<std::size_t>(12'000 + 9'000 * (i % 7)), static_cast<std::uint32_t>(i));
      std::ofstream(generated / ("clip" + std::to_string(i) + ".vgz"), std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    folder = generated;
    names = ClipNames(folder);
    std::printf("# no clip files found; %zu generated clips stand in for the data folder\n", names.size());
  }

  // A voice's cost is what it adds to the output's own: the median with voices minus the
  // median with none, shared out.
  const double empty = RenderCost(0, false, 7);
  Print("mix_output_without_voices_per_audio_second", empty, "us");
  Print("mix_per_voice_per_audio_second", (RenderCost(16, false, 7) - empty) / 16.0, "us");
  {
    Mixer probe;
    probe.CreateVoice(MakeClip(1, 48'000, 480, 1), true);
    if (!probe.HasHrtf())
      std::printf("# no HRTF filter set could be opened: 3-D voices below are panned, not filtered\n");
  }
  const double hrtfPerVoice = (RenderCost(4, true, 5) - empty) / 4.0;
  Print("hrtf_per_3d_voice_per_audio_second", hrtfPerVoice, "us");
  Print("hrtf_share_of_one_core_per_3d_voice", hrtfPerVoice / 1e4, "%");
  Print("convert_8000_mono_per_audio_second", ConversionCost(8'000, 1, 5), "ms");
  Print("convert_22050_mono_per_audio_second", ConversionCost(22'050, 1, 5), "ms");
  Print("convert_44100_stereo_per_audio_second", ConversionCost(44'100, 2, 5), "ms");
  Print("convert_48000_stereo_per_audio_second", ConversionCost(48'000, 2, 5), "ms");
  Print("hrtf_open_at_first_3d_voice",
        MedianOf(3,
                 [] {
                   Mixer mixer;
                   const ClipImage clip = MakeClip(1, 48'000, 480, 1);
                   const auto start = Clock::now();
                   auto voice = mixer.CreateVoice(clip, true);
                   return Seconds(Clock::now() - start) * 1e3;
                 }),
        "ms");

  // The whole data folder through the game's loader, every clip as a flat clip (a 3-D load
  // would add the filter set's opening, measured above).
  vesquin::testing::IdleMachine machine;
  vesquin::PosixFileSystem files;
  vesquin::StandardRandom random;
  vesquin::GameObserver observer;
  vesquin::Services services{machine, files, machine, machine, machine, random, observer};
  const std::string dataFolder = folder.string() + "/";
  std::size_t loadedCount = 0;
  double audioSeconds = 0.0;
  const double loadMs = MedianOf(5, [&] {
    Mixer mixer;
    vesquin::Sound sound(services, dataFolder);
    sound.SetDevice(&mixer);
    std::vector<vesquin::SoundClip> loaded;
    loaded.reserve(names.size());
    const auto start = Clock::now();
    for (const std::string& name : names) loaded.push_back(sound.LoadClip(name));
    const double ms = Seconds(Clock::now() - start) * 1e3;
    loadedCount = 0;
    audioSeconds = 0.0;
    for (vesquin::SoundClip& clip : loaded) {
      if (!clip) continue;
      ++loadedCount;
      audioSeconds += clip.Voice()->LengthMs() / 1e3;
    }
    return ms;
  });
  std::printf("# data folder %s: %zu clip files, %zu loaded, %.1f s of audio\n", folder.c_str(), names.size(),
              loadedCount, audioSeconds);
  Print("load_whole_data_folder", loadMs, "ms");
  if (!generated.empty()) fs::remove_all(generated);

  // The worst case of one load, each time in a fresh process (its peak memory is the load's).
  const fs::path worst = fs::temp_directory_path() / ("vesquin-bench-worst-" + std::to_string(getpid()));
  WriteWorstClip(worst / "big" / "clip.vgz");
  std::vector<double> worstMs;
  std::vector<double> worstMb;
  const std::string self = fs::weakly_canonical(fs::absolute(argv[0])).string();
  const std::string worstFolder = worst.string() + "/";
  for (int run = 0; run < 3; ++run) {
    std::array<int, 2> fds{};
    if (pipe(fds.data()) != 0) break;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    const char* childArgs[] = {self.c_str(), "--load-one", worstFolder.c_str(), "big\\clip.vgz", nullptr};
    pid_t pid = 0;
    const int spawned =
        posix_spawn(&pid, self.c_str(), &actions, nullptr, const_cast<char**>(childArgs), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string out;
    char buffer[256];
    ssize_t got = 0;
    while (spawned == 0 && (got = read(fds[0], buffer, sizeof buffer)) > 0)
      out.append(buffer, static_cast<std::size_t>(got));
    close(fds[0]);
    if (spawned != 0) break;
    waitpid(pid, nullptr, 0);
    double ms = -1.0;
    double mb = -1.0;
    if (std::sscanf(out.c_str(), "%lf %lf", &ms, &mb) == 2 && ms >= 0.0) {
      worstMs.push_back(ms);
      worstMb.push_back(mb);
    }
  }
  fs::remove_all(worst);
  if (worstMs.empty()) {
    std::printf("# the largest clip could not be loaded\n");
    return 1;
  }
  std::printf(
      "# the largest clip: 10,000,000 bytes, 4,000 Hz 8-bit mono, loaded in a fresh process, %zu runs\n",
      worstMs.size());
  Print("load_largest_clip", Median(worstMs), "ms");
  Print("load_largest_clip_peak_memory", Median(worstMb), "MB");
  return 0;
}

namespace {

int LoadOne(const std::string& dataFolder, const std::string& name) {
  vesquin::testing::IdleMachine machine;
  vesquin::PosixFileSystem files;
  vesquin::StandardRandom random;
  vesquin::GameObserver observer;
  vesquin::Services services{machine, files, machine, machine, machine, random, observer};
  Mixer mixer;
  vesquin::Sound sound(services, dataFolder);
  sound.SetDevice(&mixer);
  const auto start = Clock::now();
  vesquin::SoundClip clip = sound.LoadClip(name);
  const double ms = Seconds(Clock::now() - start) * 1e3;
  if (!clip) return 1;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%.3f %.1f\n", ms, static_cast<double>(usage.ru_maxrss) / 1024.0);
  return 0;
}

}  // namespace
