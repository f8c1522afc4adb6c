#pragma once
// Runs scripts through the simulator in-process and reads back the transcript.

#include <cstdint>
#include <filesystem>
#include <sstream>
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

// The lines without their times.
std::vector<std::string> Untimed(const std::vector<std::string>& lines);
// The lines from the first one equal to `from` on; none when there is no such line.
std::vector<std::string> From(const std::vector<std::string>& lines, const std::string& from);
// A clip started centred at full volume, as the transcript says it (without its time).
std::string Play(const std::string& name);

// Script pieces. The intro ends on the tick at 100 ms in a data folder whose intro is short;
// Enter during the menu's prompt then starts a game with the quarry placed by the two draws
// (east, then north: 10 + draw mod 5).
std::string StartGame(int eastDraw, int northDraw);
// The line, `times` times over.
std::string Repeat(const std::string& line, int times);
// Draws for `count` pushes without sideways drift (1 mod 3 - 1 = 0).
std::string StraightPushes(int count);
// The value of one field of a `show` line; -999,999 when it has no such field.
int Field(const std::string& showLine, const std::string& name);

// A started simulator in reach of the test, to call operations and look at the game.
class LiveSim {
 public:
  explicit LiveSim(const std::filesystem::path& data);
  Simulation& Sim() { return sim_; }
  Game& RunningGame() { return sim_.RunningGame(); }
  std::vector<std::string> Lines() const;

 private:
  std::ostringstream out_;
  Simulation sim_;
};

SimRun RunSim(const std::filesystem::path& dataFolder, const std::string& script, std::uint32_t seed = 1);
SimRun RunSim(SimOptions options, const std::string& script);

}  // namespace vesquin::testing
