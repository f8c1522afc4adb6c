#pragma once
// The score table in a PostgreSQL database, shared by any number of server processes. Each
// process commits its queued submissions in one transaction, as the SQLite store does; the
// transactions of all processes take one table lock in turn, so that submission numbers (the tie
// rule) follow commit order and no two players ever share a place. Readers never wait for it.

#include <memory>
#include <mutex>
#include <span>

#include "commit_queue.h"
#include "connection_pool.h"
#include "postgres.h"
#include "store.h"

namespace vesquin::scored {

class PostgresStore final : public Store {
 public:
  // The same number, and the same tables, as the SQLite store's.
  static constexpr int kSchemaVersion = 3;

  // Connects (a libpq URI), then creates or migrates the schema forward under a lock, so that
  // nodes starting together migrate once. Refuses a database of a newer schema.
  static Result<std::unique_ptr<PostgresStore>> Open(const std::string& uri);
  ~PostgresStore() override;
  PostgresStore(const PostgresStore&) = delete;
  PostgresStore& operator=(const PostgresStore&) = delete;

  void SubmitAsync(Submission submission, std::string client, std::int64_t nowMs, Done done) override;
  // Many submissions in one transaction (bulk imports, benchmarks); waits for the commit.
  Status SubmitBatch(std::span<const Submission> submissions, std::string_view client, std::int64_t nowMs);

  using Store::PlaceInTopTen;
  Result<std::optional<int>> PlaceInTopTen(const Player& player, const PlaceAsker* asker) override;
  Result<std::vector<TableRow>> Top(int limit) override;
  Result<StoreCounts> Counts() override;
  Result<bool> IsBanned(std::string_view key) override;
  Result<int> SchemaVersion();
  // Takes the database's schema forward to this server's version in one transaction, under a
  // lock that every node takes; refuses a newer one. Open does it, and so do the admin commands.
  static Status Migrate(postgres::Connection& c);

 private:
  explicit PostgresStore(std::string uri);
  Result<std::unique_ptr<postgres::Connection>> OpenConnection(bool writer);
  // Runs `read` on a pooled connection; once more on a fresh one if the first was broken
  // (a database restart drops every connection at once).
  template <class T, class F>
  Result<T> Read(F read);
  Status Commit(const std::vector<CommitQueue::Job>& jobs);

  std::string uri_;
  ConnectionPool<postgres::Connection> readers_;

  std::unique_ptr<postgres::Connection> writerConnection_;  // writer thread only

  // Its writer uses everything above, so it is declared last, to be destroyed first.
  std::unique_ptr<CommitQueue> queue_;
};

}  // namespace vesquin::scored
