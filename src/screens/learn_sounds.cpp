#include "screens/learn_sounds.h"

#include "shell/game.h"

namespace vesquin {
namespace {

// Prompts of items 0..4, then the sounds of items 0..3. The screen loads its own copies of
// the level's sounds.
constexpr const char* kLearnClipNames[kLearnClipCount] = {
    "learn\\1.vgz",
    "learn\\2.vgz",
    "learn\\3.vgz",
    "learn\\4.vgz",
    "game\\return_to_menu.vgz",
    "Level1\\cat.vgz",
    "Level1\\search.vgz",
    "Level1\\dog.vgz",
    "Level1\\vict.vgz",
};
constexpr int kReturnItem = 4;
constexpr int kFirstSoundSlot = 5;

SoundClip& Slot(Game& game, int slot) { return game.learn.learnClips[static_cast<std::size_t>(slot)]; }

void LeaveLearnSounds(Game& game) {
  StopLearnClips(game);
  ReleaseLearnClips(game);
  ReturnToMenu(game);
}

}  // namespace

bool EnterLearnSounds(Game& game) {
  try {
    game.learn.learnIndex = 0;
    for (int slot = 0; slot < kLearnClipCount; ++slot) {
      Slot(game, slot) = game.sound.LoadClip(kLearnClipNames[slot]);
      if (!Slot(game, slot)) {
        ReleaseLearnClips(game);
        return false;
      }
    }
    game.sound.PlayClip(Slot(game, 0), 0, 0);
    return true;
  } catch (...) {
    ReleaseLearnClips(game);
    return false;
  }
}

void StopLearnClips(Game& game) {
  for (SoundClip& clip : game.learn.learnClips) game.sound.StopClip(clip);
}

void ReleaseLearnClips(Game& game) {
  for (SoundClip& clip : game.learn.learnClips) game.sound.ReleaseClip(clip);
}

void AnnounceLearnItem(Game& game) {
  StopLearnClips(game);
  game.sound.PlayClip(Slot(game, game.learn.learnIndex), 0, 0);
}

void LearnKey(Game& game, int key) {
  try {
    int& index = game.learn.learnIndex;
    switch (key) {
      case vk::Enter:
        if (index == kReturnItem) {
          LeaveLearnSounds(game);
        } else {
          StopLearnClips(game);
          game.sound.PlayClip(Slot(game, index + kFirstSoundSlot), 0, 0);
        }
        break;
      case vk::Escape:
        LeaveLearnSounds(game);
        break;
      case vk::Up:
        index = index - 1 < 0 ? kLearnItemCount - 1 : index - 1;
        AnnounceLearnItem(game);
        break;
      case vk::Down:
        index = index + 1 >= kLearnItemCount ? 0 : index + 1;
        AnnounceLearnItem(game);
        break;
      default:
        break;
    }
  } catch (...) {
  }
}

}  // namespace vesquin
