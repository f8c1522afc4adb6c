// best.dat and a final score: the list is loaded and the score recorded through the game's
// own operations on a real file, and the file is checked byte for byte against a model of
// the format written from its description: ten-value key over the first 100 bytes, 7-byte
// records read as atoi reads six characters, exchange sort, records written from one 8-byte
// text buffer, nothing truncated.
//
// Input: 4 bytes (little-endian) that give the final score, then the file's bytes.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/fuzz_machine.h"

using namespace vesquin;
using vesquin::fuzzing::Require;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kKey[10] = {7, 19, 4, 12, 22, 9, 15, 3, 25, 11};
constexpr std::size_t kCodedBytes = 100;
constexpr std::size_t kRecordBytes = 7;
constexpr int kSlots = 11;
constexpr int kEmpty = -1;

struct ModelList {
  std::array<int, kSlots> scores;
  int last = 0;
};

void Code(Bytes& bytes, int sign) {
  for (std::size_t j = 0; j < bytes.size() && j < kCodedBytes; ++j) {
    bytes[j] = static_cast<std::uint8_t>(bytes[j] + sign * kKey[j % 10]);
  }
}

bool CSpace(std::uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// atoi over the record's first six characters, which a line feed and a zero byte end.
int RecordValue(const std::uint8_t* record) {
  std::size_t i = 0;
  while (i < 6 && record[i] != 0 && CSpace(record[i])) ++i;
  bool negative = false;
  if (i < 6 && (record[i] == '+' || record[i] == '-')) negative = record[i++] == '-';
  int value = 0;
  for (; i < 6 && record[i] >= '0' && record[i] <= '9'; ++i) value = value * 10 + (record[i] - '0');
  return negative ? -value : value;
}

ModelList ModelLoad(const Bytes& file) {
  Bytes plain(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(std::min(file.size(), kCodedBytes)));
  Code(plain, -1);
  ModelList list;
  list.scores.fill(kEmpty);
  const std::size_t records = std::min<std::size_t>(kSlots, file.size() / kRecordBytes);
  for (std::size_t i = 0; i < records; ++i) list.scores[i] = RecordValue(plain.data() + i * kRecordBytes);
  list.last = static_cast<int>(records) - 1;
  if (list.last == -1) {
    list.last = 0;
    list.scores[0] = 0;
  }
  return list;
}

// The file after the score is recorded, and the list as it then stands.
Bytes ModelRecord(const Bytes& file, int score, ModelList& list) {
  list = ModelLoad(file);
  if (list.last < 9) ++list.last;
  if (score > list.scores[static_cast<std::size_t>(list.last)])
    list.scores[static_cast<std::size_t>(list.last)] = score;
  std::sort(list.scores.begin(), list.scores.end(), [](int a, int b) { return a > b; });
  Bytes plain;
  std::array<std::uint8_t, 8> text{};
  for (int i = 0; i < kSlots && list.scores[static_cast<std::size_t>(i)] != kEmpty; ++i) {
    const std::string digits = std::to_string(list.scores[static_cast<std::size_t>(i)]);
    const std::size_t kept = std::min<std::size_t>(digits.size(), 7);
    std::copy_n(digits.begin(), kept, text.begin());
    text[kept] = 0;
    plain.insert(plain.end(), text.begin(), text.begin() + kRecordBytes);
  }
  Bytes result = file;
  if (result.size() < plain.size()) result.resize(plain.size());
  std::copy(plain.begin(), plain.end(), result.begin());
  Code(result, +1);
  return result;
}

std::set<std::string> Entries(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

void RequireList(const Game& game, const ModelList& model) {
  Require(game.best.bestScoreLast == model.last);
  Require(std::equal(model.scores.begin(), model.scores.end(), game.best.bestScores.begin()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return -1;
  const std::uint32_t raw =
      data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<std::uint32_t>(data[3]) << 24);
  // Only positive scores are ever recorded.
  const int score = 1 + static_cast<int>(raw % 0x7FFFFFFFu);
  const Bytes file(data + 4, data + size);

  fuzzing::FuzzMachine& machine = fuzzing::FuzzMachine::Get();
  const std::string path = machine.Folder() + "best.dat";
  fuzzing::WriteBytes(path, file);
  const std::set<std::string> before = Entries(machine.Folder());

  std::unique_ptr<Game> game = machine.NewGame();
  game->level.score = score;
  Require(LoadBestScores(*game));
  RequireList(*game, ModelLoad(file));
  // A load leaves the file as it was.
  Require(fuzzing::ReadBytes(path) == file);

  RecordBestScore(*game);
  ModelList after;
  Require(fuzzing::ReadBytes(path) == ModelRecord(file, score, after));
  RequireList(*game, after);
  // Nothing is left beside the file.
  Require(Entries(machine.Folder()) == before);
  return 0;
}
