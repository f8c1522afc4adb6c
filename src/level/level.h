#pragma once
// The level: a 25 x 25 field, the chaser the player steers, the quarry to be pushed into a
// corner, and the hearing model that places the quarry's call.

#include <array>
#include <memory>

#include "sound/sound.h"

namespace vesquin {

struct Game;

inline constexpr int kFieldSize = 25;
inline constexpr int kFieldMax = kFieldSize - 1;

enum Heading : int { North = 0, East = 1, South = 2, West = 3 };

// Slots of the level's clip table; the heading h is spoken by slot 4 + h.
enum LevelClip : int {
  Background = 0,
  Quarry = 1,
  Chaser = 2,
  Victory = 3,
  NorthWord = 4,
  EastWord = 5,
  SouthWord = 6,
  WestWord = 7,
  Search = 8,
};
inline constexpr int kLevelClipCount = 9;

struct LevelState {
  int chaserNorth = 0;
  int chaserEast = 0;
  int heading = North;
  int quarryNorth = 0;
  int quarryEast = 0;
  int quarryDistance = 0;
  int quarryPan = 0;
  int quarryVolume = 0;
  int quarryCallTimer = 0;  // carried from one game to the next
  bool speakingPosition = false;
  bool won = false;
  int lives = 0;
  int score = 0;  // the last game's result once it is over
  std::array<SoundClip, kLevelClipCount> levelClips;
  std::unique_ptr<SoundListener> levelListener;
};

bool StartLevel(Game& game);
bool LoadLevelClips(Game& game);
void PlaceEntities(Game& game);
void UpdateQuarrySound(LevelState& level);
void StopLevelClips(Game& game);
void ReleaseLevelClips(Game& game);

int LevelKeyDown(Game& game, int key);
void LevelTick(Game& game);
void StepForward(Game& game);
void PushQuarry(Game& game);
void Turn(Game& game, int key);
void AnnounceHeading(Game& game);
void SpeakPosition(Game& game);

void EndLevel(Game& game);
void GameOver(Game& game);
int GameOverKeyDown(Game& game, int key);
void GameOverTick(Game& game);

}  // namespace vesquin
