#include "service.h"

#include <chrono>

#include "page.h"
#include "play_files.h"
#include "query.h"

namespace vesquin::scored {
namespace {

HttpResponse Text(unsigned status, std::string body, std::string note = {}) {
  HttpResponse r;
  r.status = status;
  r.body = std::move(body);
  r.note = std::move(note);
  return r;
}

// Any error body of top2 must not start with a digit: the game would read it as a place.
HttpResponse Unavailable(const std::string& why) {
  return Text(503, "storage unavailable\n", "store: " + why);
}

// The game asks for its place 6 s after its submission was answered; a place is told only to the
// address that sent the same submission within this, so guessing a player's details learns nothing.
constexpr std::int64_t kPlaceWindowMs = 60'000;

HttpResponse RateLimited() {
  HttpResponse r = Text(429, "too many requests from this address; try again in a minute\n", "rate limited");
  r.headers.emplace_back("Retry-After", "60");
  return r;
}

void ReplaceAll(std::string& s, std::string_view from, std::string_view to) {
  for (std::size_t pos = s.find(from); pos != std::string::npos; pos = s.find(from, pos + to.size()))
    s.replace(pos, from.size(), to);
}

}  // namespace

Service::Service(Store& store, ServiceOptions options)
    : store_(store),
      options_(std::move(options)),
      limiter_(options_.rateLimitPerMinute),
      placeLimiter_(options_.rateLimitPerMinute) {
  if (!options_.nowMs)
    options_.nowMs = [] {
      return std::chrono::duration_cast<std::chrono::milliseconds>(
                 std::chrono::system_clock::now().time_since_epoch())
          .count();
    };
  if (!options_.steadyNow) options_.steadyNow = [] { return RateLimiter::Clock::now(); };
}

void Service::Handle(const HttpRequest& request, Reply reply) noexcept {
  // Cheap hardening on every answer, not only the page.
  auto send = [](Reply& to, HttpResponse r) {
    r.headers.emplace_back("X-Content-Type-Options", "nosniff");
    r.headers.emplace_back("Referrer-Policy", "no-referrer");
    bool hasPolicy = false;
    for (const auto& header : r.headers) hasPolicy = hasPolicy || header.first == "Content-Security-Policy";
    if (!hasPolicy)
      r.headers.emplace_back("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'");
    to(std::move(r));
  };
  Reply later = [reply, send](HttpResponse r) mutable { send(reply, std::move(r)); };
  std::optional<HttpResponse> now;
  try {
    now = Route(request, later);
  } catch (const std::exception& e) {
    now = Text(500, "internal error\n", e.what());
  } catch (...) {
    now = Text(500, "internal error\n", "unknown exception");
  }
  if (now) send(reply, std::move(*now));
}

std::optional<HttpResponse> Service::Route(const HttpRequest& request, Reply& reply) {
  if (request.rawUri.size() > kMaxUriBytes) return Text(414, "URL longer than 4096 bytes\n", "uri too long");
  if (request.headersTooLarge) return Text(431, "request headers too large\n", "headers too large");
  if (!request.malformed.empty())
    return Text(400, std::string(request.malformed) + "\n", "malformed: " + std::string(request.malformed));
  if (request.method != "GET" && request.method != "HEAD") {
    HttpResponse r = Text(405, "only GET is served\n", "method");
    r.headers.emplace_back("Allow", "GET, HEAD");
    return r;
  }
  if (request.hasBody) return Text(413, "requests must not carry a body\n", "body");

  std::string_view path = request.rawUri;
  std::string_view query;
  if (auto q = path.find('?'); q != std::string_view::npos) {
    query = path.substr(q + 1);
    path = path.substr(0, q);
  }
  if (path == "/vesquin/top1.php") {
    // HEAD asks what a GET would answer; it must not store anything.
    if (request.method == "HEAD") {
      HttpResponse r = Text(200, "", "HEAD: nothing stored");
      r.headers.emplace_back("Cache-Control", "no-store");
      return r;
    }
    return SubmitScore(query, request.client, reply);
  }
  if (path == "/vesquin/top2.php") return AnswerPlace(query, request.client);
  if (path == "/vesquin/") return Page(false);
  if (path == "/vesquin/top.json") return Page(true);
  if (auto play = ServePlayFile(options_.playFolder, path, request.conditions)) return std::move(*play);
  if (path == "/vesquin" || path == "/") {
    HttpResponse r = Text(301, "", "redirect");
    r.headers.emplace_back("Location", "/vesquin/");
    return r;
  }
  return Text(404, "not found\n", "not found");
}

std::optional<HttpResponse> Service::SubmitScore(std::string_view query, std::string_view client,
                                                 Reply& reply) {
  auto submission = ParseSubmission(query);
  if (!submission) return Text(400, submission.Error() + "\n", "rejected: " + submission.Error());
  // Before the rate limit, so that a banned sender's attempts do not count against its neighbours.
  std::string key = RateLimitKey(client);
  auto banned = store_.IsBanned(key);
  if (!banned) return Unavailable(banned.Error());
  if (*banned) return Text(403, "scores from this address are not accepted\n", "banned " + key);
  if (!limiter_.Allow(key, options_.steadyNow())) return RateLimited();
  int score = submission->score;
  store_.SubmitAsync(std::move(*submission), std::string(client), options_.nowMs(),
                     [reply = std::move(reply), score](Status st) {
                       if (!st) {
                         reply(Unavailable(st.error));
                         return;
                       }
                       HttpResponse r = Text(200, "", "stored score " + std::to_string(score));
                       r.headers.emplace_back("Cache-Control", "no-store");
                       reply(std::move(r));
                     });
  return std::nullopt;
}

HttpResponse Service::AnswerPlace(std::string_view query, std::string_view client) {
  if (!placeLimiter_.Allow(RateLimitKey(client), options_.steadyNow())) return RateLimited();
  HttpResponse r = Text(200, "");
  r.headers.emplace_back("Cache-Control", "no-store");
  auto submission = ParseSubmission(query);
  // The game reads an empty body as "no place"; that is all an invalid query can get.
  if (!submission) {
    r.note = "invalid: " + submission.Error();
    return r;
  }
  const PlaceAsker asker{client, submission->score, options_.nowMs() - kPlaceWindowMs};
  auto place = store_.PlaceInTopTen(submission->player, &asker);
  if (!place) return Unavailable(place.Error());
  if (!*place) {
    // A client that swaps every "top1.php" in its URL for "top2.php" also changes such text
    // inside the details; look for the line under the details as they were first sent.
    Player original = submission->player;
    for (std::string* f : {&original.firstName, &original.lastName, &original.addr, &original.country})
      ReplaceAll(*f, "top2.php", "top1.php");
    if (!(original == submission->player)) {
      place = store_.PlaceInTopTen(original, &asker);
      if (!place) return Unavailable(place.Error());
    }
  }
  if (*place) {
    r.body = std::to_string(**place);
    r.note = "place " + r.body;
  } else {
    r.note = "no place";
  }
  return r;
}

HttpResponse Service::Page(bool json) {
  auto rows = store_.Top(kPageRows);
  if (!rows) return Unavailable(rows.Error());
  HttpResponse r;
  if (json) {
    r.contentType = "application/json";
    r.body = RenderJson(*rows);
  } else {
    r.contentType = "text/html; charset=utf-8";
    r.body = RenderHtml(*rows);
  }
  r.headers.emplace_back("Cache-Control", "no-cache");
  r.note = std::to_string(rows->size()) + " rows";
  return r;
}

}  // namespace vesquin::scored
