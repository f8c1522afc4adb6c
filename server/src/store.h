#pragma once
// The score table as the service sees it: every submission is logged, and one line per player
// holds that player's best score. Implementations are safe to use from many threads at once.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "query.h"
#include "result.h"

namespace vesquin::scored {

// A line of the public table. The address is left out on purpose: it is never shown.
struct TableRow {
  int place = 0;
  std::string firstName;
  std::string lastName;
  std::string country;
  int score = 0;
  std::int64_t reachedAtMs = 0;  // Unix time when the player first reached this score
};

struct StoreCounts {
  std::int64_t players = 0;
  std::int64_t submissions = 0;
  std::int64_t unlinkedSubmissions = 0;  // log entries not tied to a table line
};

// Who asks for a place: it is told only to the address that sent the same submission lately.
struct PlaceAsker {
  std::string_view client;  // as the submission's log entry holds it
  int score = 0;
  std::int64_t sinceMs = 0;  // the submission must have been received at or after this
};

class Store {
 public:
  static constexpr int kTopTen = 10;
  // A write that cannot be committed within this is refused, unstored, rather than left waiting.
  static constexpr std::chrono::milliseconds kWriteBound{2000};

  using Done = std::function<void(Status)>;

  virtual ~Store() = default;

  // Logs the submission and raises the player's line if the score beats its best. `done` is
  // called once, from another thread, after the change is durably committed or with the reason
  // it was not stored; it must return quickly.
  virtual void SubmitAsync(Submission submission, std::string client, std::int64_t nowMs, Done done) = 0;
  // The same, waiting for the outcome.
  Status Submit(const Submission& submission, std::string_view client, std::int64_t nowMs);

  // The place 1..10 of the player's line, or nothing when it is lower or absent, or when `asker`
  // is given and the log holds no submission of this player and score from it since then.
  virtual Result<std::optional<int>> PlaceInTopTen(const Player& player, const PlaceAsker* asker) = 0;
  Result<std::optional<int>> PlaceInTopTen(const Player& player) { return PlaceInTopTen(player, nullptr); }
  virtual Result<std::vector<TableRow>> Top(int limit) = 0;
  virtual Result<StoreCounts> Counts() = 0;
  // Whether submissions from this sender are refused. `key` is BanKey() of the client address;
  // a ban committed before the call is seen, whichever process committed it.
  virtual Result<bool> IsBanned(std::string_view key) = 0;
};

}  // namespace vesquin::scored
