#include "support/sim_harness.h"

#include <sstream>

namespace vesquin::testing {

std::vector<std::string> SimRun::Matching(const std::string& text) const {
  std::vector<std::string> out;
  for (const std::string& line : lines) {
    if (line.find(text) != std::string::npos) out.push_back(line);
  }
  return out;
}

bool SimRun::Has(const std::string& line) const { return Find(line) >= 0; }

int SimRun::Find(const std::string& line, int from) const {
  for (std::size_t i = static_cast<std::size_t>(std::max(from, 0)); i < lines.size(); ++i) {
    if (lines[i] == line) return static_cast<int>(i);
  }
  return -1;
}

std::string SimRun::Text() const {
  std::string text;
  for (const std::string& line : lines) text += line + '\n';
  return text;
}

std::vector<std::string> Untimed(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const std::string& line : lines) out.push_back(line.substr(line.find(' ') + 1));
  return out;
}

std::vector<std::string> From(const std::vector<std::string>& lines, const std::string& from) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] == from) return {lines.begin() + static_cast<std::ptrdiff_t>(i), lines.end()};
  }
  return {};
}

std::string Play(const std::string& name) { return "play " + name + " pan=0 vol=0"; }

std::string StartGame(int eastDraw, int northDraw) {
  return "wait 100\nrand " + std::to_string(eastDraw) + " " + std::to_string(northDraw) + "\nkey Enter\n";
}

std::string Repeat(const std::string& line, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += line + "\n";
  return text;
}

std::string StraightPushes(int count) {
  std::string line = "rand";
  for (int i = 0; i < count; ++i) line += " 1";
  return line + "\n";
}

int Field(const std::string& showLine, const std::string& name) {
  const std::string key = " " + name + "=";
  const std::size_t at = showLine.find(key);
  if (at == std::string::npos) return -999'999;
  return std::stoi(showLine.substr(at + key.size()));
}

namespace {
SimOptions OptionsFor(const std::filesystem::path& data) {
  SimOptions options;
  options.dataFolder = data.string();
  return options;
}
}  // namespace

LiveSim::LiveSim(const std::filesystem::path& data) : sim_(OptionsFor(data), out_) { sim_.Start(); }

std::vector<std::string> LiveSim::Lines() const {
  std::vector<std::string> lines;
  std::istringstream in(out_.str());
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

SimRun RunSim(SimOptions options, const std::string& script) {
  std::ostringstream transcript;
  std::ostringstream errors;
  SimRun run;
  run.status = RunScript(script, std::move(options), transcript, errors);
  run.errors = errors.str();
  std::istringstream lines(transcript.str());
  for (std::string line; std::getline(lines, line);) run.lines.push_back(line);
  return run;
}

SimRun RunSim(const std::filesystem::path& dataFolder, const std::string& script, std::uint32_t seed) {
  SimOptions options;
  options.dataFolder = dataFolder.string();
  options.seed = seed;
  return RunSim(std::move(options), script);
}

}  // namespace vesquin::testing
