#include "play_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <utility>

#include "platform/unique_fd.h"

namespace vesquin::scored {
namespace {

// The game and nothing else: its own scripts and wasm, its own styles, fetches of its own
// files and of the score table, its app manifest, no frames, no forms sent anywhere.
constexpr const char* kPlayPolicy =
    "default-src 'none'; script-src 'self' 'wasm-unsafe-eval'; connect-src 'self'; style-src 'self'; "
    "img-src 'self'; manifest-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

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

// Opens the file one segment at a time, never following a symbolic link, and without
// blocking: a named pipe or a device is refused, not waited on.
UniqueFd OpenBeneath(const std::string& folder, std::string_view relative) {
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  while (dir) {
    const std::size_t slash = relative.find('/');
    const std::string segment(relative.substr(0, slash));
    if (slash == std::string_view::npos)
      return UniqueFd(
          ::openat(dir.Get(), segment.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    dir = UniqueFd(::openat(dir.Get(), segment.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    relative.remove_prefix(slash + 1);
  }
  return UniqueFd();
}

std::string HttpDate(std::time_t seconds) {
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S GMT", &tm);
  return buf;
}

std::optional<std::time_t> ParseHttpDate(std::string_view text) {
  std::tm tm{};
  const std::string copy(text);
  const char* end = ::strptime(copy.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &tm);
  if (end == nullptr || *end != '\0') return std::nullopt;
  return ::timegm(&tm);
}

bool EtagListed(std::string_view list, std::string_view etag) {
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    std::string_view item = list.substr(0, comma);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    if (item.substr(0, 2) == "W/") item.remove_prefix(2);
    if (item == "*" || item == etag) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

std::optional<std::uint64_t> Number(std::string_view digits) {
  if (digits.empty() || digits.size() > 18 ||
      digits.find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  std::uint64_t n = 0;
  for (char c : digits) n = n * 10 + static_cast<std::uint64_t>(c - '0');
  return n;
}

struct ByteRange {
  std::uint64_t first = 0;
  std::uint64_t length = 0;
};
// One range of "bytes=": the range, nothing when the header is to be ignored (several ranges, a
// syntax of its own), a range of length 0 when none of it lies in the file.
std::optional<ByteRange> ParseRange(std::string_view header, std::uint64_t size) {
  if (header.substr(0, 6) != "bytes=") return std::nullopt;
  header.remove_prefix(6);
  const std::size_t dash = header.find('-');
  if (dash == std::string_view::npos || header.find(',') != std::string_view::npos) return std::nullopt;
  const std::string_view from = header.substr(0, dash), to = header.substr(dash + 1);
  if (from.empty()) {
    const auto suffix = Number(to);
    if (!suffix) return std::nullopt;
    const std::uint64_t length = std::min(*suffix, size);
    return ByteRange{size - length, length};
  }
  const auto first = Number(from);
  const auto last = to.empty() ? std::optional<std::uint64_t>(UINT64_MAX) : Number(to);
  if (!first || !last || *last < *first) return std::nullopt;
  if (*first >= size) return ByteRange{0, 0};
  return ByteRange{*first, std::min(*last, size - 1) - *first + 1};
}

}  // namespace

std::optional<HttpResponse> ServePlayFile(const std::string& folder, std::string_view path,
                                          const RequestConditions& conditions) {
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
  UniqueFd file = OpenBeneath(folder, relative);
  struct stat st {};
  if (!file || ::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return Answer(404, "not found\n");
  const auto size = static_cast<std::uint64_t>(st.st_size);
  char etag[96];
  std::snprintf(etag, sizeof etag, "\"%llx-%llx-%llx\"", static_cast<unsigned long long>(st.st_ino),
                static_cast<unsigned long long>(size),
                static_cast<unsigned long long>(st.st_mtim.tv_sec) * 1'000'000'000ULL +
                    static_cast<unsigned long long>(st.st_mtim.tv_nsec));
  const std::string lastModified = HttpDate(st.st_mtim.tv_sec);

  bool unchanged = false;
  if (!conditions.ifNoneMatch.empty()) {
    unchanged = EtagListed(conditions.ifNoneMatch, etag);
  } else if (auto since = ParseHttpDate(conditions.ifModifiedSince)) {
    unchanged = st.st_mtim.tv_sec <= *since;
  }
  HttpResponse r = Answer(unchanged ? 304 : 200, "");
  if (!unchanged) {
    r.fileLength = size;
    const bool rangeApplies =
        !conditions.range.empty() &&
        (conditions.ifRange.empty() || conditions.ifRange == etag || conditions.ifRange == lastModified);
    if (auto range = rangeApplies ? ParseRange(conditions.range, size) : std::nullopt) {
      if (range->length == 0) {
        r = Answer(416, "");
        r.headers.emplace_back("Content-Range", "bytes */" + std::to_string(size));
      } else {
        r.status = 206;
        r.note = "play: 206";
        r.fileOffset = range->first;
        r.fileLength = range->length;
        r.headers.emplace_back("Content-Range", "bytes " + std::to_string(range->first) + "-" +
                                                    std::to_string(range->first + range->length - 1) + "/" +
                                                    std::to_string(size));
      }
    }
    if (r.status != 416) r.file = std::move(file);
  }
  r.contentType = type->contentType;
  r.headers.emplace_back("ETag", etag);
  r.headers.emplace_back("Last-Modified", lastModified);
  r.headers.emplace_back("Accept-Ranges", "bytes");
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
