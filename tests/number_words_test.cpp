// Numbers said as recorded words: the word order of every value, the coordinate pairs, and the
// table of number clips.

#include <gtest/gtest.h>

#include <climits>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "shell/game.h"
#include "support/sim_harness.h"
#include "support/test_data.h"

namespace vesquin::testing {
namespace {

std::vector<int> Words(int value) {
  SpeechSequence sequence;
  sequence.fill(kEndOfSpeech);
  const int end = AppendNumberWords(sequence, value, 0);
  return {sequence.begin(), sequence.begin() + end};
}

// Reads words back into the value they say: hundred multiplies what has been said since the
// last thousand, thousand closes it.
long long Said(std::span<const int> words) {
  long long total = 0;
  long long current = 0;
  for (int slot : words) {
    if (slot <= 20) {
      current += slot;
    } else if (slot <= 27) {
      current += (slot - 18) * 10;
    } else if (slot == kSlotHundred) {
      current *= 100;
    } else if (slot == kSlotThousand) {
      total += current * 1000;
      current = 0;
    } else {
      return -1;
    }
  }
  return total + current;
}

TEST(NumberWords, ExamplesInTheirWordOrder) {
  const int forty = 22;
  const int twenty = 20;
  EXPECT_EQ(Words(0), (std::vector<int>{0}));
  EXPECT_EQ(Words(7), (std::vector<int>{7}));
  EXPECT_EQ(Words(20), (std::vector<int>{twenty}));
  EXPECT_EQ(Words(45), (std::vector<int>{forty, 5}));
  EXPECT_EQ(Words(100), (std::vector<int>{1, kSlotHundred}));
  EXPECT_EQ(Words(1'000), (std::vector<int>{1, kSlotThousand}));
  EXPECT_EQ(Words(12'345), (std::vector<int>{12, kSlotThousand, 3, kSlotHundred, forty, 5}));
  EXPECT_EQ(Words(20'500), (std::vector<int>{twenty, kSlotThousand, 5, kSlotHundred}));
  EXPECT_EQ(Words(25'000), (std::vector<int>{twenty, 5, kSlotThousand}));
  EXPECT_EQ(Words(100'005), (std::vector<int>{1, kSlotHundred, kSlotThousand, 5}));
  EXPECT_EQ(Words(300'500), (std::vector<int>{3, kSlotHundred, kSlotThousand, 5, kSlotHundred}));
  EXPECT_EQ(Words(1'500'000), (std::vector<int>{15, kSlotHundred, kSlotThousand}));
}

TEST(NumberWords, EveryValueIsSaidAsItselfWithinTheTable) {
  int wrong = 0;
  int firstWrong = -1;
  std::size_t longest = 0;
  SpeechSequence sequence;
  // Every value below 200,000, where each form of the words arises, then a sample of the rest.
  for (int value = 0; value <= kLargestSpokenNumber; value += value < 200'000 ? 1 : 37) {
    const std::span<const int> words(sequence.data(),
                                     static_cast<std::size_t>(AppendNumberWords(sequence, value, 0)));
    longest = std::max(longest, words.size());
    // Zero is a word of its own only for the value 0: no "one hundred zero".
    const bool zeroOnlyAlone = value == 0 || std::find(words.begin(), words.end(), 0) == words.end();
    if (Said(words) != value || !zeroOnlyAlone) {
      if (wrong++ == 0) firstWrong = value;
    }
  }
  EXPECT_EQ(wrong, 0) << "first wrong value " << firstWrong;
  const std::vector<int> top = Words(kLargestSpokenNumber);
  EXPECT_EQ(Said(top), kLargestSpokenNumber);
  EXPECT_LE(longest, 9u);  // with the opening phrase and points, at least one end mark follows
}

TEST(NumberWords, ValuesOutsideTheWordsAreClampedIntoRange) {
  EXPECT_EQ(Words(-1), Words(0));
  EXPECT_EQ(Words(INT_MIN), Words(0));
  EXPECT_EQ(Words(2'100'000), Words(kLargestSpokenNumber));
  EXPECT_EQ(Words(INT_MAX), Words(kLargestSpokenNumber));
  EXPECT_EQ(Words(kLargestSpokenNumber),
            (std::vector<int>{20, kSlotHundred, 27, 9, kSlotThousand, 9, kSlotHundred, 27, 9}));
}

TEST(NumberWords, AppendsFromTheGivenEntryAndNeverPastTheEnd) {
  SpeechSequence sequence;
  sequence.fill(kEndOfSpeech);
  sequence[0] = kSlotSayFinalScore;
  EXPECT_EQ(AppendNumberWords(sequence, 57, 1), 3);
  EXPECT_EQ(std::vector<int>(sequence.begin(), sequence.begin() + 4),
            (std::vector<int>{kSlotSayFinalScore, 23, 7, kEndOfSpeech}));

  sequence.fill(kEndOfSpeech);
  EXPECT_EQ(AppendNumberWords(sequence, kLargestSpokenNumber, 15), kSpeechLength);
  EXPECT_EQ(std::vector<int>(sequence.begin() + 14, sequence.end()),
            (std::vector<int>{kEndOfSpeech, 20, kSlotHundred, 27, 9, kSlotThousand}));
}

TEST(NumberPairs, EachNumberIsOneWordUpToTwentyAndTensAndUnitAbove) {
  TempFolder data;
  MakeGameData(data.Path());
  LiveSim live(data.Path());
  const auto pair = [&](int first, int second) {
    SpeakNumberPair(live.RunningGame(), first, second);
    const SpeechSequence& s = live.RunningGame().numbers.speechSequence;
    const auto end = std::find(s.begin(), s.end(), kEndOfSpeech);
    EXPECT_TRUE(std::all_of(end, s.end(), [](int e) { return e == kEndOfSpeech; }));
    return std::vector<int>(s.begin(), end);
  };
  EXPECT_EQ(pair(12, 1), (std::vector<int>{12, 1}));
  EXPECT_EQ(pair(24, 0), (std::vector<int>{20, 4, 0}));
  EXPECT_EQ(pair(20, 21), (std::vector<int>{20, 20, 1}));
  EXPECT_EQ(pair(99, 30), (std::vector<int>{27, 9, 21}));
  EXPECT_EQ(pair(-3, 150), (std::vector<int>{0, 27, 9}));  // clamped into 0..99
}

TEST(NumberPairs, EachWordFollowsOnTheFirstTickAfterTheLastOneEnded) {
  TempFolder data;
  MakeGameData(data.Path(), {{"score/4.vgz", 120}});
  LiveSim live(data.Path());
  live.Sim().Wait(1000);
  SpeakNumberPair(live.RunningGame(), 24, 0);
  std::vector<std::string> advanced;
  for (int tick = 0; tick < 20; ++tick) {
    live.Sim().Wait(50);
    if (!AdvanceNumberPair(live.RunningGame())) {
      advanced.push_back(std::to_string(live.Sim().Now()) + " done");
      break;
    }
  }
  const std::vector<std::string> lines = live.Lines();
  const std::vector<std::string> words(lines.end() - 3, lines.end());
  EXPECT_EQ(words, (std::vector<std::string>{"1000 play score\\20.vgz pan=0 vol=0",
                                             "1200 play score\\4.vgz pan=0 vol=0",
                                             "1350 play score\\0.vgz pan=0 vol=0"}));
  EXPECT_EQ(advanced, std::vector<std::string>{"1550 done"});
}

TEST(NumberClips, AMissingClipFailsStartUpAndLeavesEverySlotEmpty) {
  TempFolder data;
  MakeGameData(data.Path(), {}, {"score/SayLivesRemaining.vgz"});
  LiveSim live(data.Path());
  live.Sim().Wait(100);
  const std::vector<std::string> lines = live.Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "0 message Error in second initialisation"), lines.end());
  for (const SoundClip& clip : live.RunningGame().numbers.numberClips) EXPECT_FALSE(clip);
  for (const SoundClip& clip : live.RunningGame().menu.menuClips) EXPECT_TRUE(clip);
}

}  // namespace
}  // namespace vesquin::testing
