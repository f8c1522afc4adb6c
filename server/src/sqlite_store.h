#pragma once
// The score table in one SQLite file. One writer thread commits whatever submissions have
// queued in a single transaction (see commit_queue.h); readers use connections of their own
// and, thanks to WAL, never wait for it.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <span>
#include <thread>

#include <sqlite3.h>

#include "commit_queue.h"
#include "connection_pool.h"
#include "sqlite.h"
#include "store.h"

namespace vesquin::scored {

class SqliteStore final : public Store {
 public:
  static constexpr int kSchemaVersion = 3;

  // Creates or migrates the file forward. Refuses a file of a newer schema.
  static Result<std::unique_ptr<SqliteStore>> Open(const std::string& path);
  ~SqliteStore() override;
  SqliteStore(const SqliteStore&) = delete;
  SqliteStore& operator=(const SqliteStore&) = delete;

  void SubmitAsync(Submission submission, std::string client, std::int64_t nowMs, Done done) override;
  // Many submissions in one transaction (bulk imports, benchmarks); waits for the commit.
  Status SubmitBatch(std::span<const Submission> submissions, std::string_view client, std::int64_t nowMs);

  using Store::PlaceInTopTen;
  Result<std::optional<int>> PlaceInTopTen(const Player& player, const PlaceAsker* asker) override;
  Result<std::vector<TableRow>> Top(int limit) override;
  Result<StoreCounts> Counts() override;
  Result<bool> IsBanned(std::string_view key) override;
  Result<int> SchemaVersion();
  // Takes a file's schema forward to this server's version inside one transaction; refuses a
  // newer one. Open does it; the admin commands, which need no writer thread, call it themselves.
  static Status Migrate(sqlite::Database& db);
  // The query plans of the read paths, to check that they go through indexes.
  Result<std::string> ExplainReads();

 private:
  struct Connection;

  explicit SqliteStore(std::string path);
  Result<std::unique_ptr<Connection>> OpenConnection(int busyTimeoutMs);
  Status Commit(const std::vector<CommitQueue::Job>& jobs);
  void CheckpointLoop();
  static int OnWalCommit(void* self, sqlite3* db, const char* name, int frames);

  std::string path_;
  UniqueFd servingLock_;  // see sqlite::HoldWhileServing
  // Read connections; the writer never touches this pool.
  ConnectionPool<Connection> readers_;

  std::unique_ptr<Connection> writerConnection_;  // writer thread only

  // Checkpoints run on a thread of their own, so that no commit ever waits for one.
  std::unique_ptr<Connection> checkpointConnection_;
  std::mutex checkpointMutex_;
  std::condition_variable checkpointWanted_;
  bool walGrown_ = false;              // under checkpointMutex_; set from the writer's commits
  bool checkpointerStopping_ = false;  // under checkpointMutex_
  // Held by the writer for each commit, and by the checkpointer for its short last pass.
  std::mutex commitGate_;
  std::thread checkpointer_;

  // Its writer uses everything above, so it is declared last, to be destroyed first.
  std::unique_ptr<CommitQueue> queue_;
};

}  // namespace vesquin::scored
