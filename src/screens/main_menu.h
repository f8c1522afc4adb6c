#pragma once
// The main voice menu (state 1): a ring of seven spoken items over a background loop.

#include <array>

#include "sound/sound.h"

namespace vesquin {

struct Game;

inline constexpr int kMenuClipCount = 12;
inline constexpr int kMenuPromptSlot = 0;
inline constexpr int kMenuStartGame = 1;
inline constexpr int kMenuTestSpeakers = 4;
inline constexpr int kMenuLearnSounds = 5;
inline constexpr int kMenuFinalScore = 6;
inline constexpr int kMenuBestList = 7;
inline constexpr int kMenuSendScore = 8;
inline constexpr int kMenuQuit = 9;
inline constexpr int kMenuBackgroundSlot = 10;

struct MenuState {
  std::array<SoundClip, kMenuClipCount> menuClips;
  int menuIndex = 0;
};

bool LoadMenuClips(Game& game);
void ReleaseMenuClips(Game& game);
bool EnterMenu(Game& game);
void ReturnToMenu(Game& game);
void AnnounceMenuItem(Game& game);
void StopMenuItems(Game& game);
void StopMenuBackground(Game& game);
// 0 quits the program, 1 goes on.
int MenuKey(Game& game, int key);
void MenuTick(Game& game);
void PlayExitClip(Game& game);

}  // namespace vesquin
