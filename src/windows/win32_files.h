#pragma once
// Files through the wide Windows calls, so that a game folder may have any name
// ("C:\Users\Åsa\Spiele für Åsa\Vesquin"). Existing files only: the game never creates one
// (a replace's copy beside the file only ever takes its place), and a link or any other
// reparse point is never followed when a file is replaced.

#include "machine/services.h"

namespace vesquin::windows {

class Win32FileSystem final : public FileSystem {
 public:
  // Up to maxBytes from the start of an existing file on a disk; nothing for a folder, a
  // pipe, a device or a file that cannot be opened.
  std::optional<std::vector<std::uint8_t>> ReadExisting(const std::string& path,
                                                        std::size_t maxBytes) override;
  // A new copy beside the file takes the new bytes and the old file's rest, is written
  // through to the disk and moved over the file in one step; a failure at any step leaves
  // the old file whole and removes the copy. A reparse point (a link, a junction) is refused.
  bool ReplaceExisting(const std::string& path, std::span<const std::uint8_t> bytes) override;
  std::vector<std::string> ListFolder(const std::string& folder) override;
};

}  // namespace vesquin::windows
