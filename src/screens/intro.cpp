#include "screens/intro.h"

#include "shell/game.h"

namespace vesquin {

void StartIntro(Game& game) {
  try {
    game.intro.introClip = game.sound.LoadClip("game\\game_intro.vgz");
    game.sound.PlayClip(game.intro.introClip, 0, 0);
  } catch (...) {
  }
}

void IntroKey(Game& game, int key) {
  try {
    if (key != vk::Ctrl) return;
    game.sound.StopClip(game.intro.introClip);
    game.sound.ReleaseClip(game.intro.introClip);
    game.SetGameState(state::Menu);
    EnterMenu(game);
  } catch (...) {
  }
}

void IntroTick(Game& game) {
  try {
    if (game.sound.IsClipPlaying(game.intro.introClip)) return;
    game.sound.ReleaseClip(game.intro.introClip);
    game.SetGameState(state::Menu);
    EnterMenu(game);
  } catch (...) {
  }
}

int IgnoreKey(Game&, int) { return 1; }

}  // namespace vesquin
