#pragma once
// The intro (state 0), played once at start-up and skipped with Ctrl, and the idle key
// handler of the speaker test (state 4).

#include "sound/sound.h"

namespace vesquin {

struct Game;

struct IntroState {
  SoundClip introClip;
};

void StartIntro(Game& game);
void IntroKey(Game& game, int key);
void IntroTick(Game& game);
int IgnoreKey(Game& game, int key);

}  // namespace vesquin
