// The body of the second reply of the score table, as the game hears it: the place it speaks
// is checked against the reply table (empty: not enough; "1" alone: first; "1" and more:
// tenth; a first digit 2 to 9: that place; anything else: nothing), the text ending at the
// first zero byte.
//
// Input: the reply's body.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "support/fuzz_machine.h"

using namespace vesquin;
using vesquin::fuzzing::Require;

namespace {

// The clips the reply should make the game say, in order.
std::vector<std::string> ModelSpoken(const std::string& body) {
  if (body.empty()) return {"game\\not_enough.vgz"};
  const std::string text = body.substr(0, std::min<std::size_t>(body.size(), 100'000)).c_str();
  if (text.empty()) return {};
  int place = 0;
  if (text[0] == '1') {
    place = text.size() == 1 ? 1 : 10;
  } else if (text[0] >= '2' && text[0] <= '9') {
    place = text[0] - '0';
  } else {
    return {};
  }
  return {"game\\made_it.vgz", "score\\" + std::to_string(place) + ".vgz"};
}

// The clips the transcript says were started, in order.
std::vector<std::string> Spoken(const std::string& transcript) {
  std::vector<std::string> clips;
  std::istringstream lines(transcript);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string time, event, name;
    words >> time >> event >> name;
    if (event == "play") clips.push_back(name);
  }
  return clips;
}

Game& TheGame() {
  static std::unique_ptr<Game> game = [] {
    std::unique_ptr<Game> g = fuzzing::FuzzMachine::Get().NewGame();
    Require(LoadNumberClips(*g));
    g->level.score = 42;
    return g;
  }();
  return *game;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::FuzzMachine& machine = fuzzing::FuzzMachine::Get();
  Game& game = TheGame();
  machine.TakeTranscript();
  const std::string body = fuzzing::AsText(data, size);
  machine.Sim().QueueReply(body);
  const PlayerDetails details{"Ada", "Lovelace", "12 St James's Square", "England"};
  FetchPlace(game, details);
  Require(Spoken(machine.TakeTranscript()) == ModelSpoken(body));
  return 0;
}
