#include "scores/best_scores.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "shell/game.h"

namespace vesquin {
namespace {

constexpr int kBestFileKey[10] = {7, 19, 4, 12, 22, 9, 15, 3, 25, 11};
constexpr int kGameListLimit = 10;  // the game fills at most ten entries; a file may hold eleven

std::string BestFilePath(const Game& game) { return game.dataFolder + "best.dat"; }

void Code(std::span<std::uint8_t> bytes, int sign) {
  for (std::size_t j = 0; j < bytes.size() && j < kBestFileCodedBytes; ++j) {
    bytes[j] = static_cast<std::uint8_t>(bytes[j] + sign * kBestFileKey[j % 10]);
  }
}

// A record's value: its first six characters read as the C library's atoi reads them.
int RecordValue(std::span<const std::uint8_t> record) {
  char text[kBestRecordSize + 1] = {};
  std::copy(record.begin(), record.begin() + kBestRecordSize - 1, text);
  text[kBestRecordSize - 1] = '\n';
  return std::atoi(text);
}

}  // namespace

void EncodeBestBytes(std::span<std::uint8_t> bytes) { Code(bytes, +1); }
void DecodeBestBytes(std::span<std::uint8_t> bytes) { Code(bytes, -1); }

bool LoadBestScores(Game& game) {
  BestScoreState& best = game.best;
  try {
    best.bestScores.fill(kEmptyBestSlot);
    // Decoded in memory: the file on disk stays coded, and a load never writes it.
    std::optional<std::vector<std::uint8_t>> bytes =
        game.sys.files.ReadExisting(BestFilePath(game), kBestFileCodedBytes);
    // No file: the list is emptied but keeps its last length, so the best list says that
    // many entries of zero.
    if (!bytes) return false;
    DecodeBestBytes(*bytes);
    int count = 0;
    for (std::size_t at = 0; count < kBestScoreSlots && at + kBestRecordSize <= bytes->size();
         at += kBestRecordSize) {
      best.bestScores[static_cast<std::size_t>(count++)] =
          RecordValue(std::span<const std::uint8_t>(bytes->data() + at, kBestRecordSize));
    }
    // A trailing piece shorter than a record is ignored here and left in the file.
    best.bestScoreLast = count - 1;
    if (best.bestScoreLast == -1) {
      // An empty file is a list with the single entry 0.
      best.bestScoreLast = 0;
      best.bestScores[0] = 0;
    }
    return true;
  } catch (...) {
    return false;
  }
}

void SortBestScores(Game& game) {
  auto& scores = game.best.bestScores;
  for (std::size_t i = 0; i < scores.size(); ++i) {
    for (std::size_t j = i; j < scores.size(); ++j) {
      if (scores[i] < scores[j]) std::swap(scores[i], scores[j]);
    }
  }
}

void SaveBestScores(Game& game) {
  try {
    const std::string path = BestFilePath(game);
    // What lies beyond the records written now (a trailing piece) is coded once more, as
    // every save has always done with it: the file is never truncated.
    std::optional<std::vector<std::uint8_t>> existing =
        game.sys.files.ReadExisting(path, kBestFileCodedBytes);
    if (!existing) return;
    std::vector<std::uint8_t> plain;
    // One text buffer serves every record: the bytes after a record's zero byte are what the
    // longer numbers before it left there. Files have always been written this way.
    char text[kBestRecordSize + 1] = {};
    for (int i = 0;
         i < kBestScoreSlots && game.best.bestScores[static_cast<std::size_t>(i)] != kEmptyBestSlot; ++i) {
      std::snprintf(text, sizeof text, "%d", game.best.bestScores[static_cast<std::size_t>(i)]);
      plain.insert(plain.end(), text, text + kBestRecordSize);
    }
    std::vector<std::uint8_t> file = *existing;
    if (file.size() < plain.size()) file.resize(plain.size());
    std::copy(plain.begin(), plain.end(), file.begin());
    EncodeBestBytes(file);
    // Written beside the file and renamed over it: a cut write never leaves a mixed list.
    game.sys.files.ReplaceExisting(path, file);
  } catch (...) {
  }
}

void RecordBestScore(Game& game) {
  try {
    const int finalScore = game.level.score;
    if (!LoadBestScores(game)) return;  // no file: nothing is kept, and none is created
    BestScoreState& best = game.best;
    if (best.bestScoreLast < kGameListLimit - 1) ++best.bestScoreLast;
    // Strictly greater: a score equal to the lowest of a full list does not get in.
    int& slot = best.bestScores[static_cast<std::size_t>(best.bestScoreLast)];
    if (finalScore > slot) slot = finalScore;
    SortBestScores(game);
    SaveBestScores(game);  // rewritten even when nothing changed
  } catch (...) {
  }
}

}  // namespace vesquin
