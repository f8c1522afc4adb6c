#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "details_file.h"
#include "platform/unique_fd.h"
#include "scores/player_details.h"

namespace vesquin::details {
namespace {

std::string Reason(int error) { return std::strerror(error); }

// Holds off Ctrl-C and the like while config.dat is being replaced, so that the file is
// either the old one or the new one and what the tool says about it is true. A signal that
// came meanwhile is dropped when the file was written (the tool is done anyway) and acts
// afterwards when it was not.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigemptyset(&held_);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&held_, signal);
    pthread_sigmask(SIG_BLOCK, &held_, &previous_);
  }
  ~SignalsHeld() {
    if (written_) {
      const timespec now{};
      while (sigtimedwait(&held_, nullptr, &now) > 0) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;
  void Written() { written_ = true; }

 private:
  sigset_t held_;
  sigset_t previous_;
  bool written_ = false;
};

}  // namespace

ReadResult ReadDetailsFile(const std::filesystem::path& folder, Fields& fields, std::string& error) {
  try {
    const std::filesystem::path target = folder / kFileName;
    // Without blocking: a named pipe in its place would hold the open until a writer came.
    UniqueFd file(::open(target.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.Get() < 0) {
      if (errno == ENOENT) return ReadResult::Missing;
      error = "Could not read " + ShownPath(target) + ": " + Reason(errno) + ".";
      return ReadResult::Failed;
    }
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
      error = ShownPath(target) + " is not a regular file, so it is left alone.";
      return ReadResult::Failed;
    }
    std::vector<std::uint8_t> bytes(kPlayerDetailsReadLimit);
    std::size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t n = ::read(file.Get(), bytes.data() + got, bytes.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        error = "Could not read " + ShownPath(target) + ": " + Reason(errno) + ".";
        return ReadResult::Failed;
      }
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return ParseDetailsFile(bytes, fields) ? ReadResult::Read : ReadResult::Missing;
  } catch (...) {
    error = "Could not read " + ShownPath(folder / kFileName) + ".";
    return ReadResult::Failed;
  }
}

bool WriteDetailsFile(const std::filesystem::path& folder, const Fields& fields, std::string& error) {
  const std::filesystem::path target = folder / kFileName;
  try {
    if (std::string problem = FieldsProblem(fields); !problem.empty()) {
      error = std::move(problem);
      return false;
    }
    const auto failed = [&](int reason) {
      error = "Could not write " + ShownPath(target) + ": " + Reason(reason) + ".";
      return false;
    };
    struct stat existing {};
    if (::lstat(target.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
      error = ShownPath(target) + " is not a regular file, so it is left alone.";
      return false;
    }
    const std::string text = FormatDetailsFile(fields);
    SignalsHeld held;
    // A fresh file of a name nobody can have planted (mkstemp creates it exclusively, so a
    // symbolic link in its place is never followed), renamed over the old file, so that a
    // failed write leaves the old details whole.
    std::string part = (folder / (std::string(kFileName) + ".XXXXXX")).string();
    UniqueFd file(::mkstemp(part.data()));
    if (file.Get() < 0) return failed(errno);
    const auto discard = [&](int reason) {
      ::unlink(part.c_str());
      return failed(reason);
    };
    // mkstemp makes it private; the details are no secret from the player's other programs.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(file.Get(), 0666 & ~mask) != 0) return discard(errno);
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::write(file.Get(), text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return discard(errno);
      done += static_cast<std::size_t>(n);
    }
    if (::fsync(file.Get()) != 0) return discard(errno);
    if (const int reason = file.Close(); reason != 0) return discard(reason);
    if (::rename(part.c_str(), target.c_str()) != 0) return discard(errno);
    held.Written();
    return true;
  } catch (...) {
    error = "Could not write " + ShownPath(target) + ".";
    return false;
  }
}

}  // namespace vesquin::details
