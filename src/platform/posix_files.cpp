#include "platform/posix_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <vector>

namespace vesquin {
namespace {

class Folder {
 public:
  explicit Folder(const std::string& path) : dir_(::opendir(path.c_str())) {}
  ~Folder() {
    if (dir_ != nullptr) ::closedir(dir_);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  DIR* get() const { return dir_; }

 private:
  DIR* dir_;
};

constexpr std::size_t kCopyChunk = 64 * 1024;

// Every byte, however many calls it takes; false on an error or a write that makes no
// progress (a full disk).
bool WriteAll(FileCalls& calls, int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = calls.Write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return true;
}

bool SyncRetrying(FileCalls& calls, int fd) {
  int result = 0;
  do {
    result = calls.Sync(fd);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

// The new file's temporary name is removed unless it was renamed into place.
class TemporaryName {
 public:
  TemporaryName(FileCalls& calls, std::string name) : calls_(calls), name_(std::move(name)) {}
  ~TemporaryName() {
    if (!kept_) calls_.Unlink(name_.c_str());
  }
  TemporaryName(const TemporaryName&) = delete;
  TemporaryName& operator=(const TemporaryName&) = delete;
  void Keep() { kept_ = true; }

 private:
  FileCalls& calls_;
  std::string name_;
  bool kept_ = false;
};

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

std::optional<RegularFile> RegularFile::Open(const std::string& path, bool followLink) {
  // O_NONBLOCK: a named pipe would otherwise hold open() until a writer comes.
  const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
  UniqueFd fd(::open(path.c_str(), flags));
  if (!fd) return std::nullopt;
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  const int status = ::fcntl(fd.Get(), F_GETFL);
  if (status < 0 || ::fcntl(fd.Get(), F_SETFL, status & ~O_NONBLOCK) != 0) return std::nullopt;
  return RegularFile(std::move(fd), static_cast<std::uint64_t>(info.st_size), info.st_uid, info.st_gid,
                     info.st_mode & 07777);
}

bool RegularFile::Writable(const std::string& path) const {
  // Opening for writing asks the system itself (root, access lists, a read-only mount); the
  // same file must answer, not another that took its name meanwhile.
  const UniqueFd writer(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  struct stat mine {};
  struct stat theirs {};
  return writer && ::fstat(fd_.Get(), &mine) == 0 && ::fstat(writer.Get(), &theirs) == 0 &&
         mine.st_dev == theirs.st_dev && mine.st_ino == theirs.st_ino;
}

std::optional<std::size_t> RegularFile::ReadAt(std::uint64_t offset, std::span<std::uint8_t> bytes) const {
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n =
        ::pread(fd_.Get(), bytes.data() + got, bytes.size() - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

int FileCalls::MakeTemporary(char* pathTemplate) { return ::mkostemp(pathTemplate, O_CLOEXEC); }
ssize_t FileCalls::Write(int fd, const void* bytes, std::size_t count) { return ::write(fd, bytes, count); }
int FileCalls::Sync(int fd) { return ::fsync(fd); }
int FileCalls::Close(int fd) { return ::close(fd); }
int FileCalls::Rename(const char* from, const char* to) { return ::rename(from, to); }
int FileCalls::Unlink(const char* path) { return ::unlink(path); }

std::optional<std::vector<std::uint8_t>> PosixFileSystem::ReadExisting(const std::string& path,
                                                                       std::size_t maxBytes) {
  const std::optional<RegularFile> file = RegularFile::Open(path);
  if (!file) return std::nullopt;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::min<std::uint64_t>(maxBytes, file->Size())));
  const std::optional<std::size_t> got = file->ReadAt(0, bytes);
  if (!got) return std::nullopt;
  bytes.resize(*got);
  return bytes;
}

bool PosixFileSystem::ReplaceExisting(const std::string& path, std::span<const std::uint8_t> bytes) {
  FileCalls& calls = *calls_;
  // Never through a link: the file replaced is the one that stands at this name.
  const std::optional<RegularFile> old = RegularFile::Open(path, false);
  if (!old) return false;
  // A file the player may not write keeps its content, though its folder would allow a rename.
  if (!old->Writable(path)) return false;

  const std::string folder = FolderOf(path);
  const std::size_t slash = path.find_last_of('/');
  std::string name = folder + "/." + (slash == std::string::npos ? path : path.substr(slash + 1)) + ".XXXXXX";
  UniqueFd copy(calls.MakeTemporary(name.data()));
  if (!copy) return false;
  TemporaryName temporary(calls, name);

  if (::fchmod(copy.Get(), old->Mode()) != 0) return false;
  if (old->Owner() != ::geteuid() || old->Group() != ::getegid()) {
    // Only a privileged player can give the copy another owner; the content matters more.
    (void)::fchown(copy.Get(), old->Owner(), old->Group());
  }

  if (!WriteAll(calls, copy.Get(), bytes)) return false;
  // What lies beyond the new bytes stays as it was.
  std::array<std::uint8_t, kCopyChunk> chunk{};
  for (std::uint64_t at = bytes.size(); at < old->Size();) {
    const std::optional<std::size_t> got = old->ReadAt(at, chunk);
    if (!got) return false;
    if (*got == 0) break;
    if (!WriteAll(calls, copy.Get(), std::span<const std::uint8_t>(chunk.data(), *got))) return false;
    at += *got;
  }
  if (!SyncRetrying(calls, copy.Get())) return false;
  if (calls.Close(copy.Release()) != 0) return false;
  if (calls.Rename(name.c_str(), path.c_str()) != 0) return false;
  temporary.Keep();

  // The rename itself reaches the disk only with the folder.
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return dir && SyncRetrying(calls, dir.Get());
}

std::vector<std::string> PosixFileSystem::ListFolder(const std::string& folder) {
  std::vector<std::string> names;
  Folder dir(folder);
  if (dir.get() == nullptr) return names;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  return names;
}

}  // namespace vesquin
