#pragma once
// Command-line settings of vesquin-scored.

#include <string>
#include <vector>

#include "admin_store.h"
#include "http_server.h"
#include "result.h"

namespace vesquin::scored {

struct Options {
  std::string db = "scores.db";
  ServerOptions server;
  unsigned rateLimitPerMinute = 10;
  unsigned keepAddressesDays = kDefaultKeepAddressesDays;
  std::string play;  // folder of the game's browser build
  bool help = false;
  bool version = false;
};

std::string Usage();
Result<Options> ParseOptions(const std::vector<std::string>& args);

}  // namespace vesquin::scored
