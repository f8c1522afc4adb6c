#pragma once
// The player's ten best scores, kept lightly coded in "best.dat" beside the executable.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace vesquin {

struct Game;

inline constexpr int kBestScoreSlots = 11;
inline constexpr int kBestRecordSize = 7;
inline constexpr int kEmptyBestSlot = -1;
inline constexpr std::size_t kBestFileCodedBytes = 100;  // only this much of the file is coded

struct BestScoreState {
  std::array<int, kBestScoreSlots> bestScores{};
  int bestScoreLast = 0;
};

// Adds (coding) or subtracts (decoding) the ten-value key, by position from the file's start.
void EncodeBestBytes(std::span<std::uint8_t> bytes);
void DecodeBestBytes(std::span<std::uint8_t> bytes);

bool LoadBestScores(Game& game);
void RecordBestScore(Game& game);
void SortBestScores(Game& game);
void SaveBestScores(Game& game);

}  // namespace vesquin
