#include "platform/posix_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vesquin {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_;
};

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

bool IsRegularFile(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

std::optional<std::vector<std::uint8_t>> PosixFileSystem::ReadExisting(const std::string& path, std::size_t maxBytes) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd || !IsRegularFile(fd.get())) return std::nullopt;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return std::nullopt;
  const std::size_t wanted = std::min(maxBytes, static_cast<std::size_t>(info.st_size));
  std::vector<std::uint8_t> bytes(wanted);
  std::size_t got = 0;
  while (got < wanted) {
    const ssize_t n = ::read(fd.get(), bytes.data() + got, wanted - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

bool PosixFileSystem::WriteExisting(const std::string& path, std::span<const std::uint8_t> bytes) {
  FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));  // no O_CREAT, no O_TRUNC
  if (!fd || !IsRegularFile(fd.get())) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return ::fsync(fd.get()) == 0 || errno == EINVAL;
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
