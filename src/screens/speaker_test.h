#pragma once
// The speaker test (state 4): four clips from four places around the listener.

#include <array>

#include "sound/sound.h"

namespace vesquin {

struct Game;

struct SpeakerTestState {
  std::array<SoundClip, 4> speakerTestClips;
};

// Holds the game's thread until the test has played; true when it ran to its end.
bool RunSpeakerTest(Game& game);

}  // namespace vesquin
