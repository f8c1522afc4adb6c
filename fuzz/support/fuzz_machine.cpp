#include "support/fuzz_machine.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <stdexcept>

#include "support/test_data.h"

namespace vesquin::fuzzing {
namespace {

constexpr std::uint32_t kShortClipMs = 20;

// A fresh folder in memory where there is one: targets write files on every run.
std::string MakeFolder() {
  std::string pattern = (std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp");
  pattern += "/vesquin-fuzz-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("cannot make a folder for the fuzz data");
  std::map<std::string, std::uint32_t> lengths;
  for (const std::string& path : testing::GameClipPaths()) lengths[path] = kShortClipMs;
  testing::MakeGameData(pattern, lengths);
  return pattern + "/";
}

SimOptions Options(const std::string& folder) {
  SimOptions options;
  options.dataFolder = folder;
  return options;
}

}  // namespace

void WriteBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

void WriteText(const std::filesystem::path& path, const std::string& text) {
  WriteBytes(path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

FuzzMachine& FuzzMachine::Get() {
  static FuzzMachine machine;
  return machine;
}

FuzzMachine::FuzzMachine() : folder_(MakeFolder()), sim_(Options(folder_), transcript_) { sim_.Start(); }

FuzzMachine::~FuzzMachine() {
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::unique_ptr<Game> FuzzMachine::NewGame() {
  auto game = std::make_unique<Game>(MachineServices());
  game->dataFolder = folder_;
  game->sound.SetDevice(sim_.RunningGame().soundDevice.get());
  return game;
}

std::string FuzzMachine::TakeTranscript() {
  std::string text = transcript_.str();
  transcript_.str(std::string());
  return text;
}

}  // namespace vesquin::fuzzing
