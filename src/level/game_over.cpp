#include "level/level.h"
#include "shell/game.h"

namespace vesquin {

void EndLevel(Game& game) {
  StopLevelClips(game);
  game.sound.StopClip(game.level.levelClips[Background]);
  ReleaseLevelClips(game);
  game.SetGameState(state::GameOver);
  GameOver(game);
}

void GameOver(Game& game) {
  try {
    if (game.level.score > 0) RecordBestScore(game);  // a lost game is never offered
    game.closingClip = game.sound.LoadClip("game\\say_game_over.vgz");
    if (game.closingClip) {
      game.sound.PlayClip(game.closingClip, 0, 0);
      game.ticksEnabled = true;
    }
  } catch (...) {
  }
}

int GameOverKeyDown(Game& game, int key) {
  try {
    if (key != vk::Ctrl) return 1;  // only Ctrl cuts the game-over clip short
    game.sound.ReleaseClip(game.closingClip);
    game.SetGameState(state::FinalScore);
    StartScoreAnnouncement(game, ScoreKind::FinalScore);
  } catch (...) {
  }
  return 1;
}

void GameOverTick(Game& game) {
  try {
    if (game.sound.IsClipPlaying(game.closingClip)) return;
    game.ticksEnabled = false;
    game.sound.ReleaseClip(game.closingClip);
    game.SetGameState(state::FinalScore);
    StartScoreAnnouncement(game, ScoreKind::FinalScore);
  } catch (...) {
  }
}

}  // namespace vesquin
