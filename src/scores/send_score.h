#pragma once
// Sending the last score to the on-line score table (state 8) and speaking the place.

#include <array>
#include <string>
#include <string_view>

#include "scores/player_details.h"
#include "sound/sound.h"

namespace vesquin {

struct Game;

struct SendScoreState {
  std::array<SoundClip, 3> sendScoreClips;
  std::string scoreRequest;
};

// Each byte outside the unreserved set of URLs as %XX with upper-case hex digits.
std::string PercentEncode(std::string_view text);
// "http://host[:port]" or "https://host[:port]": where this build sends, from its setting.
std::string ScoreServerOrigin();
// The request for the given script ("top1.php" or "top2.php") up to and including "score=".
std::string ScoreRequestPrefix(std::string_view script, const PlayerDetails& details);
// The same for the score server at `origin`.
std::string ScoreRequestPrefix(std::string_view origin, std::string_view script,
                               const PlayerDetails& details);

bool EnterSendScore(Game& game);
void SendScoreKey(Game& game, int key);
void SendScore(Game& game);
void BuildScoreRequest(Game& game, const PlayerDetails& details);
bool AppendScore(Game& game);
bool SubmitScore(Game& game, const PlayerDetails& details);
void FetchPlace(Game& game, const PlayerDetails& details);
void AnnouncePlace(Game& game, std::string_view reply);
void SpeakPlace(Game& game, int place);
void SpeakNotEnough(Game& game);

}  // namespace vesquin
