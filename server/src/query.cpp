#include "query.h"

#include <array>

namespace vesquin::scored {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// Only what "%d" of a positive int can print: no sign, no leading zero, no spaces.
std::optional<int> ParseScore(std::string_view text) {
  if (text.empty() || text.size() > 3 || text[0] == '0') return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < kMinScore || value > kMaxScore) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::string> PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      out.push_back(' ');
    } else if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      int hi = HexValue(text[i + 1]);
      int lo = HexValue(text[i + 2]);
      if (hi < 0 || lo < 0) return std::nullopt;
      out.push_back(static_cast<char>(hi * 16 + lo));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string PercentEncode(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (unsigned char c : bytes) {
    bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

std::optional<std::vector<QueryPair>> ParseQuery(std::string_view raw) {
  std::vector<QueryPair> pairs;
  while (!raw.empty()) {
    std::size_t amp = raw.find('&');
    std::string_view piece = raw.substr(0, amp);
    raw = amp == std::string_view::npos ? std::string_view{} : raw.substr(amp + 1);
    if (piece.empty()) continue;
    std::size_t eq = piece.find('=');
    std::string_view key = piece.substr(0, eq);
    std::string_view value = eq == std::string_view::npos ? std::string_view{} : piece.substr(eq + 1);
    auto k = PercentDecode(key);
    auto v = PercentDecode(value);
    if (!k || !v) return std::nullopt;
    pairs.push_back({std::move(*k), std::move(*v)});
  }
  return pairs;
}

Result<Submission> ParseSubmission(std::string_view rawQuery) {
  auto pairs = ParseQuery(rawQuery);
  if (!pairs) return Result<Submission>::Fail("malformed percent-encoding in the query");

  Submission s;
  struct Field {
    const char* key;
    std::string* target;
    bool seen = false;
  };
  std::array<Field, 4> fields{{{"first_name", &s.player.firstName},
                               {"last_name", &s.player.lastName},
                               {"addr", &s.player.addr},
                               {"country", &s.player.country}}};
  std::optional<std::string> scoreText;

  for (auto& [key, value] : *pairs) {
    if (key == "score") {
      if (scoreText) return Result<Submission>::Fail("score is given more than once");
      scoreText = std::move(value);
      continue;
    }
    for (auto& f : fields) {
      if (key != f.key) continue;
      if (f.seen) return Result<Submission>::Fail(std::string(f.key) + " is given more than once");
      f.seen = true;
      *f.target = std::move(value);
    }
    // Unknown keys are ignored: a cache-busting parameter must not lose a score.
  }

  for (const auto& f : fields) {
    if (!f.seen) return Result<Submission>::Fail(std::string("missing ") + f.key);
    // A details file saved with CRLF line ends leaves a carriage return on every field; one is
    // dropped so that such a player is stored and found like any other.
    if (!f.target->empty() && f.target->back() == '\r') f.target->pop_back();
    if (f.target->size() > kMaxFieldBytes)
      return Result<Submission>::Fail(std::string(f.key) + " is longer than 99 bytes");
    for (unsigned char c : *f.target)
      if (IsControl(c)) return Result<Submission>::Fail(std::string(f.key) + " holds a control character");
  }
  if (!scoreText) return Result<Submission>::Fail("missing score");
  auto score = ParseScore(*scoreText);
  if (!score) return Result<Submission>::Fail("score must be a whole number from 1 to 100, plain digits");
  s.score = *score;
  return Result<Submission>::Ok(std::move(s));
}

}  // namespace vesquin::scored
