#include "new_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace vesquin::scored {
namespace {

constexpr mode_t kPrivate = 0600;

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

NewFile::NewFile(std::string target, std::string path, UniqueFd fd)
    : target_(std::move(target)), path_(std::move(path)), fd_(std::move(fd)) {}

NewFile::NewFile(NewFile&& other) noexcept
    : target_(std::move(other.target_)), path_(std::exchange(other.path_, {})), fd_(std::move(other.fd_)) {}

NewFile::~NewFile() {
  if (!path_.empty()) ::unlink(path_.c_str());
}

Result<NewFile> NewFile::Create(const std::string& target) {
  // mkostemp creates the name exclusively: whatever stands there already, a link too, is never
  // opened, and nothing of anyone else's is removed.
  std::string path = target + ".partial-XXXXXX";
  UniqueFd fd(::mkostemp(path.data(), O_CLOEXEC));
  if (!fd)
    return Result<NewFile>::Fail("cannot create a file beside " + target + ": " + std::strerror(errno));
  NewFile file(target, path, std::move(fd));
  if (::fchmod(file.Fd(), kPrivate) != 0)
    return Result<NewFile>::Fail("cannot set the mode of " + path + ": " + std::strerror(errno));
  return Result<NewFile>::Ok(std::move(file));
}

Status NewFile::Write(const std::string& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd_.Get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Status::Fail("cannot write " + path_ + ": " + std::strerror(errno));
    done += static_cast<std::size_t>(n);
  }
  return Status::Ok();
}

Status NewFile::Commit() {
  if (::fsync(fd_.Get()) != 0) return Status::Fail("cannot flush " + path_ + ": " + std::strerror(errno));
  // link() refuses a name that is taken, where rename() would replace it.
  if (::link(path_.c_str(), target_.c_str()) != 0) {
    if (errno == EEXIST) return Status::Fail(target_ + " already exists");
    return Status::Fail("cannot create " + target_ + ": " + std::strerror(errno));
  }
  ::unlink(path_.c_str());
  path_.clear();
  UniqueFd folder(::open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder) ::fsync(folder.Get());
  return Status::Ok();
}

Status CreatePrivateFileIfMissing(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kPrivate));
  if (!fd) {
    if (errno == EEXIST) return Status::Ok();
    return Status::Fail("cannot open " + path + ": " + std::strerror(errno));
  }
  if (::fchmod(fd.Get(), kPrivate) != 0) return Status::Fail("cannot set the mode of " + path);
  return Status::Ok();
}

}  // namespace vesquin::scored
