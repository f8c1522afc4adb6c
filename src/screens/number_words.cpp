#include "screens/number_words.h"

#include <algorithm>
#include <string>

#include "shell/game.h"

namespace vesquin {
namespace {

std::string NumberClipName(int slot) {
  if (slot <= 20) return "score\\" + std::to_string(slot) + ".vgz";
  if (slot <= 27) return "score\\" + std::to_string((slot - 18) * 10) + ".vgz";
  switch (slot) {
    case 28:
      return "score\\hundred.vgz";
    case 29:
      return "score\\thousand.vgz";
    case 30:
      return "score\\say_final_score.vgz";
    case 31:
      return "score\\score_arrows.vgz";
    case 32:
      return "score\\your_current_score.vgz";  // loaded, never played
    case 33:
      return "score\\say_points.vgz";
    case 34:
      return "score\\SayLivesRemaining.vgz";  // loaded, never played
    case 35:
      return "game\\return_to_menu.vgz";
    case 36:
      return "game\\made_it.vgz";
    default:
      return "game\\not_enough.vgz";
  }
}

int TensWord(int tens) { return tens + 18; }  // 2 -> twenty (slot 20), 9 -> ninety (slot 27)

// The words of 0..99 as the coordinates use them: up to twenty one word, above it tens and unit.
int AppendSmallNumber(SpeechSequence& sequence, int n, int at) {
  n = std::clamp(n, 0, 99);
  if (n <= 20) {
    sequence[static_cast<std::size_t>(at++)] = n;
  } else {
    sequence[static_cast<std::size_t>(at++)] = TensWord(n / 10);
    if (n % 10 != 0) sequence[static_cast<std::size_t>(at++)] = n % 10;
  }
  return at;
}

SoundClip& Slot(Game& game, int slot) { return game.numbers.numberClips[static_cast<std::size_t>(slot)]; }

}  // namespace

bool LoadNumberClips(Game& game) {
  try {
    for (int slot = 0; slot < kNumberClipCount; ++slot) {
      Slot(game, slot) = game.sound.LoadClip(NumberClipName(slot));
      if (!Slot(game, slot)) {
        ReleaseNumberClips(game);
        return false;
      }
    }
    return true;
  } catch (...) {
    ReleaseNumberClips(game);
    return false;
  }
}

void ReleaseNumberClips(Game& game) {
  try {
    for (SoundClip& clip : game.numbers.numberClips) game.sound.ReleaseClip(clip);
  } catch (...) {
  }
}

void StopNumberClips(Game& game) {
  try {
    for (SoundClip& clip : game.numbers.numberClips) game.sound.StopClip(clip);
  } catch (...) {
  }
}

int AppendNumberWords(SpeechSequence& sequence, int value, int first) {
  // Values beyond the words would index past the table of tens words; none arise in play.
  int v = std::clamp(value, 0, kLargestSpokenNumber);
  int at = first;
  auto append = [&](int slot) {
    if (at >= 0 && at < kSpeechLength) sequence[static_cast<std::size_t>(at)] = slot;
    ++at;
  };
  if (v >= 100'000) {
    append(v / 100'000);
    append(kSlotHundred);
    v %= 100'000;
  }
  if (v >= 20'000) {
    append(TensWord(v / 10'000));
    v %= 10'000;
    if (v < 1'000) {
      append(kSlotThousand);
    } else {
      append(v / 1'000);
      append(kSlotThousand);
      v %= 1'000;
    }
  } else {
    if (v / 1'000 > 0) append(v / 1'000);
    // "one hundred thousand five": the thousand follows any word said so far.
    if (at > first) append(kSlotThousand);
    v %= 1'000;
  }
  if (v >= 100) {
    append(v / 100);
    append(kSlotHundred);
    v %= 100;
  }
  if (v >= 20) {
    append(TensWord(v / 10));
    if (v % 10 > 0) append(v % 10);
  } else if (v > 0) {
    append(v);
  } else if (at == first) {
    append(0);
  }
  return std::min(at, kSpeechLength);
}

void SpeakNumberPair(Game& game, int first, int second) {
  SpeechSequence& sequence = game.numbers.speechSequence;
  sequence.fill(kEndOfSpeech);
  const int at = AppendSmallNumber(sequence, first, 0);
  AppendSmallNumber(sequence, second, at);
  game.numbers.speechCursor = 0;
  game.sound.PlayClip(Slot(game, sequence[0]), 0, 0);
}

bool AdvanceNumberPair(Game& game) {
  NumberState& numbers = game.numbers;
  if (numbers.speechCursor >= kSpeechLength) return false;
  const int current = numbers.speechSequence[static_cast<std::size_t>(numbers.speechCursor)];
  if (current != kEndOfSpeech && game.sound.IsClipPlaying(Slot(game, current))) return true;
  ++numbers.speechCursor;
  if (numbers.speechCursor >= kSpeechLength) return false;
  const int next = numbers.speechSequence[static_cast<std::size_t>(numbers.speechCursor)];
  if (next == kEndOfSpeech) return false;
  game.sound.PlayClip(Slot(game, next), 0, 0);
  return true;
}

}  // namespace vesquin
