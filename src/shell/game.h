#pragma once
// The one game: every program-wide value, owned by one object so that a test can start a
// fresh game.

#include <memory>
#include <string>

#include "level/level.h"
#include "machine/services.h"
#include "scores/best_scores.h"
#include "scores/send_score.h"
#include "screens/intro.h"
#include "screens/learn_sounds.h"
#include "screens/main_menu.h"
#include "screens/number_words.h"
#include "screens/score_screen.h"
#include "screens/speaker_test.h"
#include "sound/sound.h"

namespace vesquin {

// Virtual-key codes, as the keyboard delivers them.
namespace vk {
inline constexpr int Enter = 13;
inline constexpr int Ctrl = 17;
inline constexpr int Escape = 27;
inline constexpr int Space = 32;
inline constexpr int Left = 37;
inline constexpr int Up = 38;
inline constexpr int Right = 39;
inline constexpr int Down = 40;
inline constexpr int D = 68;
inline constexpr int N = 78;
inline constexpr int Y = 89;
}  // namespace vk

// Values of gameState.
namespace state {
inline constexpr int Intro = 0;
inline constexpr int Menu = 1;
inline constexpr int SpeakerTest = 4;
inline constexpr int LearnSounds = 5;
inline constexpr int FinalScore = 6;
inline constexpr int BestList = 7;
inline constexpr int SendScore = 8;
inline constexpr int GameOver = 10;
inline constexpr int Level = 100;
}  // namespace state

inline constexpr std::uint32_t tickTimerId = 1;
inline constexpr std::uint32_t kTickMs = 50;

struct Game {
  explicit Game(Services& services) : sys(services), sound(services, dataFolder) {}
  Game(const Game&) = delete;
  Game& operator=(const Game&) = delete;

  // Changes the current screen; the observer hears of real changes only.
  void SetGameState(int value) {
    if (value == gameState) return;
    gameState = value;
    sys.observer.StateChanged(value);
  }

  Services& sys;
  std::string dataFolder;  // the executable's folder, with its trailing separator
  std::unique_ptr<SoundDevice> soundDevice;
  Sound sound;

  bool windowReady = false;
  bool introStarted = false;
  int gameState = state::Intro;
  bool ticksEnabled = false;
  bool controllerActive = false;

  SoundClip closingClip;  // the exit clip, or the game-over clip during state 10
  IntroState intro;
  MenuState menu;
  NumberState numbers;
  LearnState learn;
  SpeakerTestState speakerTest;
  ScoreScreenState scoreScreen;
  BestScoreState best;
  LevelState level;
  SendScoreState sendScore;
};

}  // namespace vesquin
