#include "screens/score_screen.h"

#include "shell/game.h"

namespace vesquin {
namespace {

constexpr std::uint32_t kPauseAfterScoreMs = 1'000;
constexpr int kHighestWordSlot = kSlotReturnToMenu;  // keys cut every word up to this slot

SoundClip& Slot(Game& game, int slot) { return game.numbers.numberClips[static_cast<std::size_t>(slot)]; }
int Entry(Game& game, int index) { return game.numbers.speechSequence[static_cast<std::size_t>(index)]; }

void SpeakCurrentEntry(Game& game) {
  game.ticksEnabled = false;
  ComposeScoreSequence(game, ScoreKind::BestList);
  game.numbers.speechCursor = 0;
  if (Entry(game, 0) == kSlotReturnToMenu) {
    game.sound.PlayClip(Slot(game, kSlotReturnToMenu), 0, 0);
  } else {
    // The next tick finds the opening phrase silent and starts the first number word.
    game.ticksEnabled = true;
  }
}

}  // namespace

void ComposeScoreSequence(Game& game, ScoreKind kind) {
  SpeechSequence& sequence = game.numbers.speechSequence;
  BestScoreState& best = game.best;
  const int position = game.scoreScreen.bestListPosition;
  if (position > best.bestScoreLast) {
    sequence[0] = kSlotReturnToMenu;
    sequence[1] = kEndOfSpeech;
    game.sound.RewindClip(Slot(game, kSlotReturnToMenu));
    return;
  }
  sequence[0] = kind == ScoreKind::FinalScore ? kSlotSayFinalScore : kSlotScoreArrows;
  int value =
      kind == ScoreKind::FinalScore ? game.level.score : best.bestScores[static_cast<std::size_t>(position)];
  if (value < 0) value = 0;  // an empty list entry is spoken as zero
  int at = AppendNumberWords(sequence, value, 1);
  if (at < kSpeechLength) sequence[static_cast<std::size_t>(at++)] = kSlotSayPoints;
  for (; at < kSpeechLength; ++at) sequence[static_cast<std::size_t>(at)] = kEndOfSpeech;
}

void StartScoreAnnouncement(Game& game, ScoreKind kind) {
  try {
    if (kind == ScoreKind::BestList) LoadBestScores(game);
    game.scoreScreen.bestListPosition = 0;
    ComposeScoreSequence(game, kind);
    game.numbers.speechCursor = 0;
    game.sound.PlayClip(Slot(game, kind == ScoreKind::FinalScore ? kSlotSayFinalScore : kSlotScoreArrows), 0,
                        0);
    game.ticksEnabled = true;
  } catch (...) {
  }
}

void ScoreScreenTick(Game& game) {
  try {
    if (game.sound.IsClipPlaying(Slot(game, kSlotSayFinalScore)) ||
        game.sound.IsClipPlaying(Slot(game, kSlotScoreArrows))) {
      return;
    }
    int& cursor = game.numbers.speechCursor;
    if (cursor >= kSpeechLength || Entry(game, cursor) == kEndOfSpeech) {
      game.ticksEnabled = false;
      return;
    }
    if (game.sound.IsClipPlaying(Slot(game, Entry(game, cursor)))) return;
    ++cursor;
    if (cursor < kSpeechLength && Entry(game, cursor) != kEndOfSpeech) {
      game.sound.PlayClip(Slot(game, Entry(game, cursor)), 0, 0);
      return;
    }
    // The score has been said: a pause in which the whole game waits.
    game.sys.clock.Sleep(kPauseAfterScoreMs);
    // Ticks stay on: back in the menu they find nothing to do; on the list the next tick
    // meets the end mark and turns them off.
    if (game.gameState == state::FinalScore) ReturnToMenu(game);
  } catch (...) {
  }
}

void ScoreScreenKey(Game& game, int key) {
  try {
    if (game.gameState == state::FinalScore) {
      // Only Ctrl leaves a final score early; Escape does nothing here.
      if (key == vk::Ctrl) {
        game.ticksEnabled = false;
        StopNumberClips(game);
        ReturnToMenu(game);
      }
      return;
    }
    // The best list. A key during the opening phrase only cuts it short.
    if (game.sound.IsClipPlaying(Slot(game, kSlotScoreArrows))) {
      game.sound.StopClip(Slot(game, kSlotScoreArrows));
      game.scoreScreen.bestListPosition = 0;
      SpeakCurrentEntry(game);
      return;
    }
    for (int slot = 0; slot <= kHighestWordSlot; ++slot) {
      if (game.sound.IsClipPlaying(Slot(game, slot))) game.sound.StopClip(Slot(game, slot));
    }
    int& position = game.scoreScreen.bestListPosition;
    const int returnEntry = game.best.bestScoreLast + 1;
    switch (key) {
      case vk::Enter:
        // On an entry Enter only cuts the word that was sounding; the tick says the rest.
        if (position > game.best.bestScoreLast) {
          game.ticksEnabled = false;
          ReturnToMenu(game);
        }
        break;
      case vk::Escape:
        game.ticksEnabled = false;
        ReturnToMenu(game);
        break;
      case vk::Up:
        position = position - 1 < 0 ? returnEntry : position - 1;
        SpeakCurrentEntry(game);
        break;
      case vk::Down:
        position = position + 1 > returnEntry ? 0 : position + 1;
        SpeakCurrentEntry(game);
        break;
      default:
        SpeakCurrentEntry(game);
        break;
    }
  } catch (...) {
  }
}

}  // namespace vesquin
