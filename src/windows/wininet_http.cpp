#include "windows/wininet_http.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cctype>

#include "windows/handles.h"

namespace vesquin::windows {
namespace {

constexpr std::size_t kBodyLimit = 100'000;  // the game reads no more of a reply
constexpr int kMaxRedirects = 5;
// A score must never come from a cache, nor go into one; no cookies, no dialogue boxes.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_COOKIES |
                                INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTO_REDIRECT;

bool HasScheme(const std::string& url, const char* scheme) {
  const std::size_t n = std::char_traits<char>::length(scheme);
  return url.size() >= n &&
         std::equal(url.begin(), url.begin() + static_cast<std::ptrdiff_t>(n), scheme,
                    [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

bool IsWebAddress(const std::string& url) { return HasScheme(url, "http://") || HasScheme(url, "https://"); }

void SetTimeout(HINTERNET handle, DWORD option, DWORD ms) {
  InternetSetOptionA(handle, option, &ms, sizeof ms);
}

std::optional<DWORD> Status(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof status;
  if (HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) ==
      FALSE) {
    return std::nullopt;
  }
  return status;
}

std::optional<std::string> Location(HINTERNET request) {
  std::string location(2048, '\0');
  DWORD size = static_cast<DWORD>(location.size());
  if (HttpQueryInfoA(request, HTTP_QUERY_LOCATION, location.data(), &size, nullptr) == FALSE)
    return std::nullopt;
  location.resize(size);
  return location;
}

}  // namespace

std::optional<std::string> RedirectTarget(const std::string& base, const std::string& location) {
  if (location.empty()) return std::nullopt;
  if (location.find("://") != std::string::npos) {
    if (!IsWebAddress(location)) return std::nullopt;
    return location;
  }
  const std::size_t hostStart = base.find("://");
  if (hostStart == std::string::npos) return std::nullopt;
  const std::size_t pathStart = base.find('/', hostStart + 3);
  const std::string origin = base.substr(0, pathStart);
  if (location.rfind("//", 0) == 0) return base.substr(0, hostStart + 1) + location;
  if (location.front() == '/') return origin + location;
  if (pathStart == std::string::npos) return origin + "/" + location;
  const std::string path = base.substr(pathStart, base.find_first_of("?#", pathStart) - pathStart);
  return origin + path.substr(0, path.rfind('/') + 1) + location;
}

std::optional<HttpReply> WinInetHttp::Get(const std::string& url) {
  try {
    if (!IsWebAddress(url)) return std::nullopt;
    const ULONGLONG deadline = GetTickCount64() + timeouts_.totalMs;
    const auto left = [&]() -> DWORD {
      const ULONGLONG now = GetTickCount64();
      return now >= deadline ? 1 : static_cast<DWORD>(deadline - now);
    };
    // The system's own connection and proxy settings.
    InternetHandle session(InternetOpenA("Vesquin", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session) return std::nullopt;
    SetTimeout(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT, timeouts_.connectMs);
    std::string address = url;
    for (int redirects = 0;; ++redirects) {
      SetTimeout(session.get(), INTERNET_OPTION_SEND_TIMEOUT, left());
      SetTimeout(session.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, left());
      InternetHandle request(InternetOpenUrlA(session.get(), address.c_str(), nullptr, 0, kRequestFlags, 0));
      if (!request) return std::nullopt;
      const std::optional<DWORD> status = Status(request.get());
      if (!status) return std::nullopt;
      const bool redirect =
          *status == 301 || *status == 302 || *status == 303 || *status == 307 || *status == 308;
      if (redirect && redirects < kMaxRedirects) {
        const std::optional<std::string> location = Location(request.get());
        const std::optional<std::string> next = location ? RedirectTarget(address, *location) : std::nullopt;
        // A redirect that cannot be followed is the answer itself, as with curl.
        if (next) {
          address = *next;
          continue;
        }
      }
      HttpReply reply{true, {}};
      char chunk[16384];
      for (;;) {
        SetTimeout(request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, left());
        DWORD got = 0;
        if (InternetReadFile(request.get(), chunk, sizeof chunk, &got) == FALSE) {
          // A time-out is a request that could not be made; a body that broke off was an answer.
          if (GetLastError() == ERROR_INTERNET_TIMEOUT) return std::nullopt;
          return HttpReply{false, {}};
        }
        if (got == 0) break;
        const std::size_t room = kBodyLimit - std::min(kBodyLimit, reply.body.size());
        reply.body.append(chunk, std::min<std::size_t>(got, room));
        if (GetTickCount64() >= deadline) return std::nullopt;
      }
      return reply;
    }
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace vesquin::windows
