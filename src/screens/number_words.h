#pragma once
// Numbers spoken as recorded words, and the one sequence of words being spoken.

#include <array>

#include "sound/sound.h"

namespace vesquin {

struct Game;

inline constexpr int kNumberClipCount = 38;
inline constexpr int kSpeechLength = 20;
inline constexpr int kEndOfSpeech = -1;

// Slots of the number table besides the number words.
inline constexpr int kSlotHundred = 28;
inline constexpr int kSlotThousand = 29;
inline constexpr int kSlotSayFinalScore = 30;
inline constexpr int kSlotScoreArrows = 31;
inline constexpr int kSlotSayPoints = 33;
inline constexpr int kSlotReturnToMenu = 35;
inline constexpr int kSlotMadeIt = 36;
inline constexpr int kSlotNotEnough = 37;

// The largest value that has words.
inline constexpr int kLargestSpokenNumber = 2'099'999;

using SpeechSequence = std::array<int, kSpeechLength>;

struct NumberState {
  std::array<SoundClip, kNumberClipCount> numberClips;
  SpeechSequence speechSequence{};
  int speechCursor = 0;
};

bool LoadNumberClips(Game& game);
void ReleaseNumberClips(Game& game);
void StopNumberClips(Game& game);
// Writes the word slots of value from entry `first` on; returns the entry after the last word.
int AppendNumberWords(SpeechSequence& sequence, int value, int first);
void SpeakNumberPair(Game& game, int first, int second);
// True while words of the pair remain.
bool AdvanceNumberPair(Game& game);

}  // namespace vesquin
