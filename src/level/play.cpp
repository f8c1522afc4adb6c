#include <algorithm>

#include "level/level.h"
#include "shell/game.h"

namespace vesquin {
namespace {

constexpr int kQuarryCallTicks = 41;  // the quarry calls every 2,050 ms

SoundClip& Clip(Game& game, int slot) { return game.level.levelClips[static_cast<std::size_t>(slot)]; }

bool OnField(int coordinate) { return coordinate >= 0 && coordinate <= kFieldMax; }

void ReplaceQuarryCall(Game& game) {
  UpdateQuarrySound(game.level);
  game.sound.ResumeClip(Clip(game, Quarry), game.level.quarryPan, game.level.quarryVolume);
}

}  // namespace

int LevelKeyDown(Game& game, int key) {
  try {
    LevelState& level = game.level;
    if (level.won) return 1;  // once cornered, only the victory clip counts
    switch (key) {
      case vk::Enter:
        game.sound.PlayClip(Clip(game, Search), 0, 0);
        break;
      // Ctrl says "west" whatever the heading; D names the real heading.
      case vk::Ctrl:
        game.sound.PlayClip(Clip(game, WestWord), 0, 0);
        break;
      case vk::Escape:
        level.score = 0;
        EndLevel(game);
        break;
      case vk::Space:
        SpeakPosition(game);
        break;
      case vk::Left:
      case vk::Right:
        level.speakingPosition = false;
        StopNumberClips(game);
        Turn(game, key);
        break;
      case vk::Up:
        StepForward(game);
        break;
      case vk::D:
        AnnounceHeading(game);
        break;
      default:
        break;  // there is no step backwards
    }
  } catch (...) {
  }
  return 1;
}

void StepForward(Game& game) {
  LevelState& level = game.level;
  switch (level.heading) {
    case North:
      if (level.chaserNorth < kFieldMax) ++level.chaserNorth;
      break;
    case East:
      if (level.chaserEast < kFieldMax) ++level.chaserEast;
      break;
    case South:
      if (level.chaserNorth > 0) --level.chaserNorth;
      break;
    default:
      if (level.chaserEast > 0) --level.chaserEast;
      break;
  }
  // Every step costs a point, even one blocked by the edge of the field.
  --level.score;
  if (level.score < 0) {
    // The overspending step is silent; the next tick ends the game.
    level.lives = 0;
    return;
  }
  if (level.chaserEast == level.quarryEast && level.chaserNorth == level.quarryNorth) PushQuarry(game);
  ReplaceQuarryCall(game);
  game.sound.PlayClip(Clip(game, Search), 0, 0);
}

void PushQuarry(Game& game) {
  LevelState& level = game.level;
  game.sound.StopClip(Clip(game, Chaser));
  game.sound.PlayClip(Clip(game, Chaser), 0, 0);
  const int drift = game.sys.random.Next() % 3 - 1;
  // Across the heading the quarry stays on the field; forward it can be pushed off it.
  switch (level.heading) {
    case North:
      level.quarryNorth += 1;
      level.quarryEast = std::clamp(level.quarryEast + drift, 0, kFieldMax);
      break;
    case East:
      level.quarryEast += 1;
      level.quarryNorth = std::clamp(level.quarryNorth + drift, 0, kFieldMax);
      break;
    case South:
      level.quarryNorth -= 1;
      level.quarryEast = std::clamp(level.quarryEast + drift, 0, kFieldMax);
      break;
    default:
      level.quarryEast -= 1;
      level.quarryNorth = std::clamp(level.quarryNorth + drift, 0, kFieldMax);
      break;
  }
  const bool cornered = (level.quarryEast == 0 || level.quarryEast == kFieldMax) &&
                        (level.quarryNorth == 0 || level.quarryNorth == kFieldMax);
  if (cornered) {
    game.sound.PlayClip(Clip(game, Victory), 0, 0);
    level.won = true;
    return;
  }
  if (!OnField(level.quarryEast) || !OnField(level.quarryNorth)) level.lives = 0;  // pushed off the field
}

void Turn(Game& game, int key) {
  LevelState& level = game.level;
  if (key == vk::Left) {
    level.heading = level.heading == North ? West : level.heading - 1;
  } else if (key == vk::Right) {
    level.heading = level.heading == West ? North : level.heading + 1;
  }
  AnnounceHeading(game);
  ReplaceQuarryCall(game);
}

void AnnounceHeading(Game& game) {
  for (int slot = NorthWord; slot <= WestWord; ++slot) game.sound.StopClip(Clip(game, slot));
  game.sound.PlayClip(Clip(game, NorthWord + game.level.heading), 0, 0);
}

void SpeakPosition(Game& game) {
  LevelState& level = game.level;
  level.speakingPosition = false;
  StopNumberClips(game);
  for (int slot = NorthWord; slot <= WestWord; ++slot) game.sound.StopClip(Clip(game, slot));
  SpeakNumberPair(game, level.chaserEast, level.chaserNorth);
  level.speakingPosition = true;
}

void LevelTick(Game& game) {
  try {
    LevelState& level = game.level;
    if (level.won) {
      if (game.sound.IsClipPlaying(Clip(game, Victory))) return;
      EndLevel(game);
      return;
    }
    if (level.speakingPosition) level.speakingPosition = AdvanceNumberPair(game);
    if (level.lives < 1) {
      level.score = 0;
      EndLevel(game);
      return;
    }
    if (++level.quarryCallTimer >= kQuarryCallTicks) {
      level.quarryCallTimer = 0;
      game.sound.PlayClip(Clip(game, Quarry), level.quarryPan, level.quarryVolume);
    }
  } catch (...) {
  }
}

}  // namespace vesquin
