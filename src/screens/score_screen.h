#pragma once
// The score announcements: the final score (state 6) and the browsable best list (state 7).

namespace vesquin {

struct Game;

enum class ScoreKind { FinalScore = 1, BestList = 2 };

struct ScoreScreenState {
  int bestListPosition = 0;
};

void ComposeScoreSequence(Game& game, ScoreKind kind);
void StartScoreAnnouncement(Game& game, ScoreKind kind);
void ScoreScreenTick(Game& game);
void ScoreScreenKey(Game& game, int key);

}  // namespace vesquin
