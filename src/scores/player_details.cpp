#include "scores/player_details.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "machine/services.h"

namespace vesquin {

bool ParsePlayerDetails(std::span<const std::uint8_t> bytes, PlayerDetails& details) {
  if (bytes.empty()) return false;
  // The last byte is never part of the text: a file written for the game ends with the
  // country's line feed. A zero byte ends the text early.
  std::string text(bytes.begin(), bytes.end() - 1);
  if (const std::size_t zero = text.find('\0'); zero != std::string::npos) text.resize(zero);
  if (text.size() > kPlayerTextLimit) text.resize(kPlayerTextLimit);
  if (text.empty()) return false;
  // Line feeds and grave accents both end a field; carriage returns stay in the field.
  std::string* fields[4] = {&details.firstName, &details.lastName, &details.address, &details.country};
  std::size_t start = 0;
  for (std::string* field : fields) {
    field->clear();
    if (start >= text.size()) continue;
    std::size_t end = text.find_first_of("\n`", start);
    if (end == std::string::npos) end = text.size();
    *field = text.substr(start, std::min(end - start, kPlayerFieldLimit));
    start = end + 1;
  }
  return true;
}

bool ReadPlayerDetails(FileSystem& files, const std::string& dataFolder, PlayerDetails& details) {
  try {
    std::optional<std::vector<std::uint8_t>> bytes =
        files.ReadExisting(dataFolder + "config.dat", kPlayerDetailsReadLimit);
    if (!bytes) return false;
    return ParsePlayerDetails(*bytes, details);
  } catch (...) {
    return false;
  }
}

}  // namespace vesquin
