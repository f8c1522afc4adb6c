#pragma once
// Files through POSIX calls: existing files only, never created, never truncated.

#include "shell/services.h"

namespace vesquin {

class PosixFileSystem final : public FileSystem {
 public:
  std::optional<std::vector<std::uint8_t>> ReadExisting(const std::string& path, std::size_t maxBytes) override;
  bool WriteExisting(const std::string& path, std::span<const std::uint8_t> bytes) override;
  std::vector<std::string> ListFolder(const std::string& folder) override;
};

}  // namespace vesquin
