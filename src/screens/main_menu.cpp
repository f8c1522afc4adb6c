#include "screens/main_menu.h"

#include "shell/game.h"

namespace vesquin {
namespace {

// Slots 2, 3 and 11 are never played, but each is loaded as a clip of its own: a missing
// file fails start-up all the same.
constexpr const char* kMenuClipNames[kMenuClipCount] = {
    "menu\\arrows.vgz",      "menu\\start_game.vgz",    "menu\\start_game.vgz",
    "menu\\start_game.vgz",  "menu\\test_speakers.vgz", "menu\\learn_game_sounds.vgz",
    "menu\\final_score.vgz", "menu\\view_top_10.vgz",   "menu\\send_score.vgz",
    "menu\\quit.vgz",        "menu\\bgrn.vgz",          "menu\\bgrn.vgz",
};

SoundClip& Slot(Game& game, int slot) { return game.menu.menuClips[static_cast<std::size_t>(slot)]; }

void StartGame(Game& game) {
  StopMenuItems(game);
  StopMenuBackground(game);
  game.SetGameState(state::Level);
  if (!StartLevel(game)) {
    game.SetGameState(state::Menu);
    ReturnToMenu(game);
  }
}

}  // namespace

bool LoadMenuClips(Game& game) {
  try {
    for (int slot = 0; slot < kMenuClipCount; ++slot) {
      Slot(game, slot) = game.sound.LoadClip(kMenuClipNames[slot]);
      if (!Slot(game, slot)) {
        ReleaseMenuClips(game);
        return false;
      }
    }
    return true;
  } catch (...) {
    return false;
  }
}

void ReleaseMenuClips(Game& game) {
  try {
    for (SoundClip& clip : game.menu.menuClips) game.sound.ReleaseClip(clip);
  } catch (...) {
  }
}

void StopMenuItems(Game& game) {
  for (int slot = 0; slot < kMenuClipCount; ++slot) {
    if (slot != kMenuBackgroundSlot) game.sound.StopClip(Slot(game, slot));
  }
}

void StopMenuBackground(Game& game) { game.sound.StopClip(Slot(game, kMenuBackgroundSlot)); }

void AnnounceMenuItem(Game& game) {
  StopMenuItems(game);
  game.sound.PlayClip(Slot(game, game.menu.menuIndex), 0, 0);
}

bool EnterMenu(Game& game) {
  try {
    game.menu.menuIndex = kMenuPromptSlot;
    game.sound.LoopClip(Slot(game, kMenuBackgroundSlot), 0, 0);
    game.sound.PlayClip(Slot(game, kMenuPromptSlot), 0, 0);
    return true;
  } catch (...) {
    return false;
  }
}

void ReturnToMenu(Game& game) {
  game.SetGameState(state::Menu);
  try {
    SoundClip& background = Slot(game, kMenuBackgroundSlot);
    if (background && !game.sound.IsClipLooping(background)) game.sound.LoopClip(background, 0, 0);
    AnnounceMenuItem(game);
  } catch (...) {
  }
}

void MenuTick(Game& game) {
  try {
    if (game.sound.IsClipPlaying(Slot(game, kMenuPromptSlot))) return;
    if (game.menu.menuIndex == kMenuPromptSlot) {
      // The prompt has been heard: name the first item, and take no more ticks.
      game.ticksEnabled = false;
      game.menu.menuIndex = kMenuStartGame;
      AnnounceMenuItem(game);
    }
  } catch (...) {
  }
}

int MenuKey(Game& game, int key) {
  try {
    int& index = game.menu.menuIndex;
    switch (key) {
      case vk::Up:
        index -= 1;
        if (index > 1 && index < 4) index = 1;
        if (index < 0) index = 1;
        if (index < 1) index = 9;
        AnnounceMenuItem(game);
        return 1;
      case vk::Down:
        index += 1;
        if (index > 1 && index < 4) index = 4;
        if (index > 9) index = 1;
        AnnounceMenuItem(game);
        return 1;
      case vk::Escape:
        StopMenuItems(game);
        StopMenuBackground(game);
        return 0;
      case vk::Enter:
        break;
      default:
        return 1;
    }
    if (index == kMenuPromptSlot) index = kMenuStartGame;  // Enter during the prompt starts the game
    switch (index) {
      case kMenuStartGame:
        StartGame(game);
        return 1;
      // A screen that cannot start leaves the menu silent until the next key; only a failed
      // game start names the item again.
      case kMenuTestSpeakers:
        game.SetGameState(state::SpeakerTest);
        StopMenuItems(game);
        if (!RunSpeakerTest(game)) game.SetGameState(state::Menu);
        return 1;
      case kMenuLearnSounds:
        game.SetGameState(state::LearnSounds);
        StopMenuItems(game);
        if (!EnterLearnSounds(game)) game.SetGameState(state::Menu);
        return 1;
      case kMenuFinalScore:
        game.SetGameState(state::FinalScore);
        StopMenuItems(game);
        StartScoreAnnouncement(game, ScoreKind::FinalScore);
        return 1;
      case kMenuBestList:
        game.SetGameState(state::BestList);
        StopMenuItems(game);
        StartScoreAnnouncement(game, ScoreKind::BestList);
        return 1;
      case kMenuSendScore:
        if (game.level.score == 0) {
          // Nothing to send: the item keeps sounding under the answer.
          SpeakNotEnough(game);
          return 1;
        }
        game.SetGameState(state::SendScore);
        StopMenuItems(game);
        if (!EnterSendScore(game)) game.SetGameState(state::Menu);
        return 1;
      case kMenuQuit:
        StopMenuItems(game);
        StopMenuBackground(game);
        return 0;
      default:
        return 1;
    }
  } catch (...) {
    return 1;
  }
}

void PlayExitClip(Game& game) {
  try {
    game.closingClip = game.sound.LoadClip("game\\exit_game.vgz");
    game.sound.PlayClipAndWait(game.closingClip, 0, 0);
    game.sound.ReleaseClip(game.closingClip);
  } catch (...) {
  }
}

}  // namespace vesquin
