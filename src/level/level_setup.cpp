#include <algorithm>
#include <cstdlib>

#include "level/level.h"
#include "shell/game.h"

namespace vesquin {
namespace {

constexpr const char* kLevelClipNames[kLevelClipCount] = {
    "level1\\bgrn.vgz", "level1\\cat.vgz",   "level1\\dog.vgz",  "level1\\vict.vgz",   "level1\\north.vgz",
    "level1\\east.vgz", "level1\\south.vgz", "level1\\west.vgz", "level1\\search.vgz",
};

constexpr int kPanPerCell = 400;
constexpr int kVolumePerCellAhead = -200;
constexpr int kVolumePerCellBehind = -600;

}  // namespace

bool LoadLevelClips(Game& game) {
  LevelState& level = game.level;
  level.levelListener = game.sound.CreateListener();
  if (!level.levelListener) return false;
  for (int slot = 0; slot < kLevelClipCount; ++slot) {
    level.levelClips[static_cast<std::size_t>(slot)] = game.sound.LoadClip(kLevelClipNames[slot]);
    if (!level.levelClips[static_cast<std::size_t>(slot)]) {
      ReleaseLevelClips(game);
      return false;
    }
  }
  return true;
}

void PlaceEntities(Game& game) {
  LevelState& level = game.level;
  level.quarryEast = 10 + game.sys.random.Next() % 5;
  level.quarryNorth = 10 + game.sys.random.Next() % 5;
  level.chaserEast = 12;
  level.chaserNorth = 1;
  level.heading = North;
  UpdateQuarrySound(level);
}

void UpdateQuarrySound(LevelState& level) {
  level.quarryDistance = std::max(std::abs(level.quarryEast - level.chaserEast),
                                  std::abs(level.chaserNorth - level.quarryNorth));
  bool behind = false;
  switch (level.heading) {
    case North:
      level.quarryPan = (level.quarryEast - level.chaserEast) * kPanPerCell;
      behind = level.quarryNorth < level.chaserNorth;
      break;
    case East:
      level.quarryPan = (level.chaserNorth - level.quarryNorth) * kPanPerCell;
      behind = level.quarryEast < level.chaserEast;
      break;
    case South:
      level.quarryPan = (level.chaserEast - level.quarryEast) * kPanPerCell;
      behind = level.quarryNorth > level.chaserNorth;
      break;
    default:
      level.quarryPan = (level.quarryNorth - level.chaserNorth) * kPanPerCell;
      behind = level.quarryEast > level.chaserEast;
      break;
  }
  // Nothing is clamped: a value beyond the sound layer's range is refused there, and the
  // call keeps the pan or volume it had. The hearing model was tuned with that.
  if (behind) {
    level.quarryVolume = kVolumePerCellBehind * level.quarryDistance;
    level.quarryPan *= 2;
  } else {
    level.quarryVolume = kVolumePerCellAhead * level.quarryDistance;
  }
}

bool StartLevel(Game& game) {
  try {
    if (!LoadLevelClips(game)) return false;
    PlaceEntities(game);
    LevelState& level = game.level;
    level.heading = North;
    level.speakingPosition = false;
    level.won = false;
    level.lives = 3;
    game.ticksEnabled = true;
    level.score = 100;
    // quarryCallTimer is carried over from the last game.
    game.sound.LoopClip(level.levelClips[Background], 0, 0);
    return true;
  } catch (...) {
    // The menu comes back: nothing of the level may stay held or sounding.
    ReleaseLevelClips(game);
    return false;
  }
}

void StopLevelClips(Game& game) {
  for (int slot = Quarry; slot < kLevelClipCount; ++slot)
    game.sound.StopClip(game.level.levelClips[static_cast<std::size_t>(slot)]);
}

void ReleaseLevelClips(Game& game) {
  for (SoundClip& clip : game.level.levelClips) game.sound.ReleaseClip(clip);
  game.level.levelListener.reset();
}

}  // namespace vesquin
