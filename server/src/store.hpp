#pragma once
// The score table on SQLite: every submission is logged, and one line per player holds
// that player's best score. Safe to use from many threads at once.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "query.hpp"
#include "result.hpp"

namespace vesquin::scored {

// A line of the public table. The address is left out on purpose: it is never shown.
struct TableRow {
  int place = 0;
  std::string first_name;
  std::string last_name;
  std::string country;
  int score = 0;
  std::int64_t reached_at_ms = 0;  // Unix time when the player first reached this score
};

struct StoreCounts {
  std::int64_t players = 0;
  std::int64_t submissions = 0;
  std::int64_t unlinked_submissions = 0;  // log entries not tied to a table line
};

class Store {
public:
  static constexpr int kSchemaVersion = 2;
  static constexpr int kTopTen = 10;

  // Creates or migrates the file forward. Refuses a file of a newer schema.
  static Result<std::unique_ptr<Store>> Open(const std::string& path);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // Logs the submission and raises the player's line if the score beats its best.
  // Returns only once the change is committed.
  Status Submit(const Submission& submission, std::string_view client, std::int64_t now_ms);
  // Many submissions in one transaction (bulk imports, benchmarks).
  Status SubmitBatch(std::span<const Submission> submissions, std::string_view client, std::int64_t now_ms);

  // The place 1..10 of the player's line, or nothing when it is lower or absent.
  Result<std::optional<int>> PlaceInTopTen(const Player& player);
  Result<std::vector<TableRow>> Top(int limit);
  Result<StoreCounts> Counts();
  Result<int> SchemaVersion();
  // The query plans of the read paths, to check that they go through indexes.
  Result<std::string> ExplainReads();

private:
  struct Connection;
  class Lease;
  explicit Store(std::string path);
  Result<std::unique_ptr<Connection>> OpenConnection();
  Result<Lease> Acquire();
  void Release(std::unique_ptr<Connection> connection);

  std::string path_;
  std::mutex pool_mutex_;
  std::vector<std::unique_ptr<Connection>> idle_;
  // Writers queue here instead of spinning on SQLite's busy handler; BEGIN IMMEDIATE and
  // the busy time-out still guard against other processes (an operator's sqlite3 shell).
  std::mutex write_mutex_;
};

}  // namespace vesquin::scored
