#pragma once
// What every fuzz target stands on: a data folder of short clips made once per process, and a
// started simulator whose services (virtual clock, real files, mixer, scripted HTTP) serve the
// fresh Game objects that a target makes for each input.

#include <cstdint>
#include <filesystem>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "shell/game.h"
#include "sim/simulation.h"

namespace vesquin::fuzzing {

// Stops the run where the target's own check fails, so that libFuzzer keeps the input.
inline void Require(bool condition) {
  if (!condition) __builtin_trap();
}

// The bytes of the input as text, unchanged.
inline std::string AsText(const std::uint8_t* data, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

void WriteBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);
void WriteText(const std::filesystem::path& path, const std::string& text);
std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path);

class FuzzMachine {
 public:
  // The one machine of the process, made on first use.
  static FuzzMachine& Get();
  ~FuzzMachine();

  // The data folder, with its trailing separator; every clip the game loads lasts 20 ms.
  const std::string& Folder() const { return folder_; }
  Services& MachineServices() { return sim_.MachineServices(); }
  Simulation& Sim() { return sim_; }
  // A game on the machine's services, with the data folder set and the sound device lent.
  std::unique_ptr<Game> NewGame();
  // What the simulator printed since the last call.
  std::string TakeTranscript();

 private:
  FuzzMachine();
  std::string folder_;
  std::ostringstream transcript_;
  Simulation sim_;
};

}  // namespace vesquin::fuzzing
