#pragma once
// Runs scripts through the simulator in-process and reads back the transcript.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/simulation.h"

namespace vesquin::testing {

struct SimRun {
  int status = 0;
  std::vector<std::string> lines;  // the transcript, one event a line, times included
  std::string errors;

  // The lines that contain `text`, in order.
  std::vector<std::string> Matching(const std::string& text) const;
  bool Has(const std::string& line) const;
  // Index of the first line equal to `line` at or after `from`; -1 when there is none.
  int Find(const std::string& line, int from = 0) const;
  std::string Text() const;
};

SimRun RunSim(const std::filesystem::path& dataFolder, const std::string& script, std::uint32_t seed = 1);
SimRun RunSim(SimOptions options, const std::string& script);

}  // namespace vesquin::testing
