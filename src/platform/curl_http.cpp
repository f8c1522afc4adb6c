#include "platform/curl_http.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>

namespace vesquin {
namespace {

constexpr std::size_t kBodyLimit = 100'000;  // the game reads no more of a reply
constexpr long kMaxRedirects = 5;

struct CurlEasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

struct Body {
  std::string text;
};

size_t AppendBody(char* data, size_t size, size_t count, void* user) {
  const size_t bytes = size * count;
  try {
    auto* body = static_cast<Body*>(user);
    const size_t room = kBodyLimit - std::min(kBodyLimit, body->text.size());
    body->text.append(data, std::min(bytes, room));
    return bytes;  // the rest is read and dropped, so the transfer still ends cleanly
  } catch (...) {
    return 0;  // libcurl ends the transfer with a write error
  }
}

}  // namespace

CurlHttp::CurlHttp(HttpTimeouts timeouts) : timeouts_(timeouts) {
  globalReady_ = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
}

CurlHttp::~CurlHttp() {
  if (globalReady_) curl_global_cleanup();
}

std::optional<HttpReply> CurlHttp::Get(const std::string& url) {
  try {
    if (!globalReady_) return std::nullopt;
    CurlEasy handle(curl_easy_init());
    if (!handle) return std::nullopt;
    Body body;
    CURL* h = handle.get();
    // No proxy is set here: libcurl then takes it from http_proxy, https_proxy, all_proxy and
    // no_proxy, the system's proxy settings on Linux.
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, timeouts_.connectMs);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, timeouts_.totalMs);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    // A redirect is followed, as any web client does; a few at most, and never from https back
    // to plain http, which would send the player's details in clear.
    const bool tls = url.rfind("https://", 0) == 0;
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, tls ? "https" : "http,https");
    // Certificates are verified against the system's store (libcurl's default), or against the
    // bundle that SSL_CERT_FILE or CURL_CA_BUNDLE names, as for the curl program.
    for (const char* name : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
      if (const char* bundle = std::getenv(name); bundle && *bundle) {
        curl_easy_setopt(h, CURLOPT_CAINFO, bundle);
        break;
      }
    }
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, AppendBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
    const CURLcode result = curl_easy_perform(h);
    if (result == CURLE_OK) return HttpReply{true, std::move(body.text)};
    // A time-out is a request that could not be made, even when the status line had come.
    if (result == CURLE_OPERATION_TIMEDOUT) return std::nullopt;
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    // An answer whose body broke off was still an answer: the request was made.
    if (status != 0) return HttpReply{false, {}};
    return std::nullopt;
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace vesquin
