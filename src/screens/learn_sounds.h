#pragma once
// The sound-learning screen (state 5): the four sounds of the game, each heard on Enter.

#include <array>

#include "sound/sound.h"

namespace vesquin {

struct Game;

inline constexpr int kLearnClipCount = 9;
inline constexpr int kLearnItemCount = 5;  // four sounds and the return to the menu

struct LearnState {
  std::array<SoundClip, kLearnClipCount> learnClips;
  int learnIndex = 0;
};

bool EnterLearnSounds(Game& game);
void LearnKey(Game& game, int key);
void AnnounceLearnItem(Game& game);
void StopLearnClips(Game& game);
void ReleaseLearnClips(Game& game);

}  // namespace vesquin
