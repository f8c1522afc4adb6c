#pragma once
// What the server answers, independent of the HTTP library: routing, checks, limits.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/unique_fd.h"
#include "rate_limit.h"
#include "store.h"

namespace vesquin::scored {

inline constexpr std::size_t kMaxUriBytes = 4096;

// The request headers that make a file's answer conditional or partial.
struct RequestConditions {
  std::string_view ifNoneMatch;
  std::string_view ifModifiedSince;
  std::string_view range;
  std::string_view ifRange;
};

struct HttpRequest {
  std::string_view method;
  std::string_view rawUri;  // path and query exactly as received
  std::string_view client;  // numeric address of the client (the peer, or as a trusted proxy says)
  bool hasBody = false;
  bool headersTooLarge = false;
  std::string_view malformed = {};  // why the request cannot be read safely (answered 400), if it cannot
  RequestConditions conditions = {};
};

struct HttpResponse {
  unsigned status = 200;
  std::string contentType = "text/plain; charset=utf-8";
  std::string body;
  // A body read from a file instead, `fileLength` bytes from `fileOffset`, sent without a copy.
  UniqueFd file;
  std::uint64_t fileOffset = 0;
  std::uint64_t fileLength = 0;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string note;  // short outcome for the request log
};

struct ServiceOptions {
  unsigned rateLimitPerMinute = 10;
  std::function<std::int64_t()> nowMs;                        // wall clock; defaults to the system clock
  std::function<RateLimiter::Clock::time_point()> steadyNow;  // for the rate limit; defaults to steady_clock
  std::string playFolder = {};  // the browser build of the game, served at /vesquin/play/; empty: not served
};

class Service {
 public:
  using Reply = std::function<void(HttpResponse)>;

  Service(Store& store, ServiceOptions options);
  // Calls `reply` exactly once: at once, or for a submission from the store's writer thread once
  // it is committed. Never throws: any failure becomes an error status.
  void Handle(const HttpRequest& request, Reply reply) noexcept;

 private:
  // Empty when the answer comes later through `reply`.
  std::optional<HttpResponse> Route(const HttpRequest& request, Reply& reply);
  std::optional<HttpResponse> SubmitScore(std::string_view query, std::string_view client, Reply& reply);
  HttpResponse AnswerPlace(std::string_view query, std::string_view client);
  HttpResponse Page(bool json);

  Store& store_;
  ServiceOptions options_;
  RateLimiter limiter_;
  RateLimiter placeLimiter_;  // top2, so that guesses cost as much as submissions
};

}  // namespace vesquin::scored
