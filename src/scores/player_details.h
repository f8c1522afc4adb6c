#pragma once
// The player's details for the on-line score table, read from "config.dat".

#include <cstdint>
#include <span>
#include <string>

namespace vesquin {

class FileSystem;

inline constexpr std::size_t kPlayerDetailsReadLimit = 10'000;
inline constexpr std::size_t kPlayerTextLimit = 999;
inline constexpr std::size_t kPlayerFieldLimit = 99;

struct PlayerDetails {
  std::string firstName;
  std::string lastName;
  std::string address;
  std::string country;
};

// The four fields of the file's bytes; false when they hold no text.
bool ParsePlayerDetails(std::span<const std::uint8_t> bytes, PlayerDetails& details);
// False when the file is missing, cannot be read, or holds no text.
bool ReadPlayerDetails(FileSystem& files, const std::string& dataFolder, PlayerDetails& details);

}  // namespace vesquin
