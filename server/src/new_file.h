#pragma once
// A new file written whole under a name of its own beside its target and then linked into
// place: readable by its owner only whatever the umask, never opened through a link planted in
// its way, and never replacing a file that is there, however late that file appeared.

#include <string>

#include "platform/unique_fd.h"
#include "result.h"

namespace vesquin::scored {

class NewFile {
 public:
  static Result<NewFile> Create(const std::string& target);
  ~NewFile();
  NewFile(NewFile&& other) noexcept;
  NewFile& operator=(NewFile&&) = delete;
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  int Fd() const { return fd_.Get(); }
  // Where the file is being written: only this process made it, and nothing else is there.
  const std::string& Path() const { return path_; }
  Status Write(const std::string& bytes);
  // Flushes the file to disk and gives it the target's name; fails if that name is taken.
  Status Commit();

 private:
  NewFile(std::string target, std::string path, UniqueFd fd);
  std::string target_;
  std::string path_;  // empty once committed or moved from
  UniqueFd fd_;
};

// Creates a new database file readable by its owner only, unless one is there: SQLite then gives
// its -wal and -shm files the same mode.
Status CreatePrivateFileIfMissing(const std::string& path);

}  // namespace vesquin::scored
