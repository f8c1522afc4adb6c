#pragma once
// Files through POSIX calls: existing files only; the game never creates one (a replace's
// copy beside the file only ever takes its place). Opening never blocks (a named pipe in a
// file's place is refused, not waited on), and only regular files are read or replaced.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "machine/services.h"
#include "platform/unique_fd.h"

namespace vesquin {

// An existing regular file, open for reading.
class RegularFile {
 public:
  // Nothing when the path cannot be opened or names anything but a regular file; with
  // `followLink` false, a symbolic link is refused too.
  static std::optional<RegularFile> Open(const std::string& path, bool followLink = true);
  std::uint64_t Size() const { return size_; }
  // Up to bytes.size() bytes from `offset`, fewer only at the end of the file; nothing on a
  // read error.
  std::optional<std::size_t> ReadAt(std::uint64_t offset, std::span<std::uint8_t> bytes) const;
  // Whether `path`, the name this file was opened by, may be opened for writing and still
  // names this file.
  bool Writable(const std::string& path) const;
  // Ownership and permission bits.
  uid_t Owner() const { return owner_; }
  gid_t Group() const { return group_; }
  mode_t Mode() const { return mode_; }

 private:
  RegularFile(UniqueFd fd, std::uint64_t size, uid_t owner, gid_t group, mode_t mode)
      : fd_(std::move(fd)), size_(size), owner_(owner), group_(group), mode_(mode) {}
  UniqueFd fd_;
  std::uint64_t size_;
  uid_t owner_;
  gid_t group_;
  mode_t mode_;
};

// The system calls by which a file is replaced, each one a seam where a test can make it fail
// or fall short, as a full disk, an I/O error or a signal would.
class FileCalls {
 public:
  virtual ~FileCalls() = default;
  // mkostemp: a new file of a unique name made from the template, never through a link.
  virtual int MakeTemporary(char* pathTemplate);
  virtual ssize_t Write(int fd, const void* bytes, std::size_t count);
  virtual int Sync(int fd);
  virtual int Close(int fd);
  virtual int Rename(const char* from, const char* to);
  virtual int Unlink(const char* path);
};

class PosixFileSystem final : public FileSystem {
 public:
  PosixFileSystem() = default;
  explicit PosixFileSystem(FileCalls& calls) : calls_(&calls) {}

  std::optional<std::vector<std::uint8_t>> ReadExisting(const std::string& path,
                                                        std::size_t maxBytes) override;
  // A copy beside the file takes the new bytes, is flushed to the disk and renamed over it,
  // and the folder is flushed: a failure at any step leaves the old file whole and removes
  // the copy. The copy keeps the file's permissions and, where it may, its owner.
  bool ReplaceExisting(const std::string& path, std::span<const std::uint8_t> bytes) override;
  std::vector<std::string> ListFolder(const std::string& folder) override;

 private:
  FileCalls ownCalls_;
  FileCalls* calls_ = &ownCalls_;
};

}  // namespace vesquin
