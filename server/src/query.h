#pragma once
// Parsing of the raw query string that the game sends to top1.php and top2.php.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "result.h"

namespace vesquin::scored {

inline constexpr std::size_t kMaxFieldBytes = 99;
inline constexpr int kMinScore = 1;
inline constexpr int kMaxScore = 100;

// The four details that identify a player, byte for byte as sent.
struct Player {
  std::string firstName;
  std::string lastName;
  std::string addr;
  std::string country;
  bool operator==(const Player&) const = default;
};

struct Submission {
  Player player;
  int score = 0;
};

struct QueryPair {
  std::string key;
  std::string value;
};

// Decodes one query component: %XX (either case) to its byte, '+' to a space.
// A '%' not followed by two hex digits makes the component malformed.
std::optional<std::string> PercentDecode(std::string_view text);

// The game's encoding: RFC 3986 unreserved bytes as they are, every other byte as %XX (upper case).
std::string PercentEncode(std::string_view bytes);

// Splits "k=v&k2=v2" into decoded pairs, in order. Empty pieces ("&&") are skipped;
// a piece without '=' is a key with an empty value.
std::optional<std::vector<QueryPair>> ParseQuery(std::string_view raw);

// Checks a query as the game builds it. The error is a one-line reason fit for a client.
Result<Submission> ParseSubmission(std::string_view rawQuery);

}  // namespace vesquin::scored
