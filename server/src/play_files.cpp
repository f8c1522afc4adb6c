#include "play_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <utility>

namespace vesquin::scored {
namespace {

// The game and nothing else: its own scripts and wasm, its own styles, fetches of its own
// files and of the score table, its app manifest, no frames, no forms sent anywhere.
constexpr const char* kPlayPolicy =
    "default-src 'none'; script-src 'self' 'wasm-unsafe-eval'; connect-src 'self'; style-src 'self'; "
    "img-src 'self'; manifest-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;

struct FileType {
  std::string_view extension;
  const char* contentType;
  bool immutable;  // named with a content version by the page: cached for good
};

constexpr std::array<FileType, 12> kTypes{{
    {".html", "text/html; charset=utf-8", false},
    {".js", "text/javascript; charset=utf-8", false},
    {".css", "text/css; charset=utf-8", false},
    {".json", "application/json", false},
    {".wasm", "application/wasm", false},
    {".opus", "audio/ogg", true},
    {".table", "application/octet-stream", true},
    {".dat", "application/octet-stream", false},
    {".ico", "image/x-icon", false},
    {".png", "image/png", false},
    {".svg", "image/svg+xml", false},
    {".webmanifest", "application/manifest+json", false},
}};

HttpResponse Answer(unsigned status, std::string body) {
  HttpResponse r;
  r.status = status;
  r.body = std::move(body);
  r.note = "play: " + std::to_string(status);
  return r;
}

// Plain names of the page's own files only: no dot files, no "..", nothing odd.
bool SafeRelativePath(std::string_view path) {
  if (path.empty() || path.size() > 200) return false;
  bool segmentStart = true;
  for (char c : path) {
    if (c == '/') {
      if (segmentStart) return false;
      segmentStart = true;
      continue;
    }
    if (segmentStart && c == '.') return false;
    segmentStart = false;
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '_' || c == '-' || c == '.';
    if (!plain) return false;
  }
  return !segmentStart;
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

std::optional<std::string> ReadRegularFile(const std::string& path) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (fd.get() < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::size_t>(st.st_size) > kMaxFileBytes) {
    return std::nullopt;
  }
  std::string body(static_cast<std::size_t>(st.st_size), '\0');
  std::size_t done = 0;
  while (done < body.size()) {
    const ssize_t n = ::read(fd.get(), body.data() + done, body.size() - done);
    if (n <= 0) return std::nullopt;
    done += static_cast<std::size_t>(n);
  }
  return body;
}

}  // namespace

std::optional<HttpResponse> ServePlayFile(const std::string& folder, std::string_view path) {
  if (path == "/vesquin/play") {
    HttpResponse r = Answer(301, "");
    r.headers.emplace_back("Location", std::string(kPlayPrefix));
    return r;
  }
  if (path.substr(0, kPlayPrefix.size()) != kPlayPrefix) return std::nullopt;
  if (folder.empty()) return Answer(404, "not found\n");
  std::string_view relative = path.substr(kPlayPrefix.size());
  if (relative.empty()) relative = "index.html";
  if (!SafeRelativePath(relative)) return Answer(404, "not found\n");
  const FileType* type = nullptr;
  for (const FileType& t : kTypes) {
    if (relative.size() > t.extension.size() &&
        relative.substr(relative.size() - t.extension.size()) == t.extension) {
      type = &t;
    }
  }
  if (type == nullptr) return Answer(404, "not found\n");
  std::optional<std::string> body = ReadRegularFile(folder + "/" + std::string(relative));
  if (!body) return Answer(404, "not found\n");

  HttpResponse r = Answer(200, std::move(*body));
  r.content_type = type->contentType;
  // Everything else is checked again on every load, so a new build is never mixed with an old one.
  r.headers.emplace_back("Cache-Control",
                         type->immutable ? "public, max-age=31536000, immutable" : "no-cache");
  r.headers.emplace_back("Content-Security-Policy", kPlayPolicy);
  r.headers.emplace_back("X-Frame-Options", "DENY");
  r.headers.emplace_back("Cross-Origin-Opener-Policy", "same-origin");
  // With the opener policy, makes the page cross-origin isolated: the game's memory is shared
  // with the sound output's thread.
  r.headers.emplace_back("Cross-Origin-Embedder-Policy", "require-corp");
  r.headers.emplace_back("Cross-Origin-Resource-Policy", "same-origin");
  r.headers.emplace_back("Permissions-Policy", "camera=(), microphone=(), geolocation=()");
  return r;
}

}  // namespace vesquin::scored
