#include "shell/game.h"
#include "shell/main_window.h"

namespace vesquin {

int RouteKeyDown(Game& game, int key) {
  switch (game.gameState) {
    case state::Intro:
      IntroKey(game, key);
      return 1;
    case state::Menu:
      if (MenuKey(game, key) == 0) {
        PlayExitClip(game);
        return 0;
      }
      return 1;
    case state::SpeakerTest:
      IgnoreKey(game, key);
      return 1;
    case state::LearnSounds:
      LearnKey(game, key);
      return 1;
    case state::FinalScore:
    case state::BestList:
      ScoreScreenKey(game, key);
      return 1;
    case state::SendScore:
      SendScoreKey(game, key);
      return 1;
    case state::GameOver:
      GameOverKeyDown(game, key);
      return 1;
    case state::Level:
      LevelKeyDown(game, key);
      return 1;
    default:
      return 1;  // a state nobody sets: keys do nothing
  }
}

void RouteTick(Game& game) {
  switch (game.gameState) {
    case state::Intro:
      IntroTick(game);
      break;
    case state::Menu:
      MenuTick(game);
      break;
    case state::FinalScore:
    case state::BestList:
      ScoreScreenTick(game);
      break;
    case state::GameOver:
      GameOverTick(game);
      break;
    case state::Level:
      LevelTick(game);
      break;
    default:
      break;  // no tick handler
  }
}

}  // namespace vesquin
