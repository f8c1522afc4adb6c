#include "sqlite_store.h"

#include <array>

#include "sqlite.h"

namespace vesquin::scored {
namespace {

// Readers only meet a lock in rare WAL recoveries; the writer waits no longer than its bound.
constexpr int kReadBusyTimeoutMs = 5000;
// Enough for any burst that queues during one commit, small enough to keep a transaction short.
constexpr std::size_t kMaxEntriesPerCommit = 4096;

// Each entry takes the schema from version N to N+1. Never edit a released entry; append.
constexpr std::array<const char*, SqliteStore::kSchemaVersion> kMigrations = {
    // 1: the submission log and one line per player.
    R"sql(
CREATE TABLE submissions(
  id INTEGER PRIMARY KEY,
  received_at INTEGER NOT NULL,
  client TEXT NOT NULL,
  first_name BLOB NOT NULL,
  last_name BLOB NOT NULL,
  addr BLOB NOT NULL,
  country BLOB NOT NULL,
  score INTEGER NOT NULL);
CREATE TABLE players(
  id INTEGER PRIMARY KEY,
  first_name BLOB NOT NULL,
  last_name BLOB NOT NULL,
  addr BLOB NOT NULL,
  country BLOB NOT NULL,
  best_score INTEGER NOT NULL,
  reached_at INTEGER NOT NULL,
  reached_submission INTEGER NOT NULL,
  UNIQUE(first_name, last_name, addr, country));
CREATE INDEX players_rank ON players(best_score DESC, reached_submission ASC);
)sql",
    // 2: tie each log entry to its table line, so moderators can find a player's history.
    R"sql(
ALTER TABLE submissions ADD COLUMN player_id INTEGER;
UPDATE submissions SET player_id = (
  SELECT p.id FROM players p
  WHERE p.first_name = submissions.first_name AND p.last_name = submissions.last_name
    AND p.addr = submissions.addr AND p.country = submissions.country);
CREATE INDEX submissions_player ON submissions(player_id);
CREATE INDEX submissions_received ON submissions(received_at);
)sql",
    // 3: moderation: banned senders, and log entries whose line an operator removed.
    R"sql(
CREATE TABLE bans(
  network TEXT PRIMARY KEY,
  reason TEXT NOT NULL,
  created_at BIGINT NOT NULL);
ALTER TABLE submissions ADD COLUMN removed_at BIGINT;
)sql",
};

constexpr const char* kInsertSubmission =
    "INSERT INTO submissions(received_at, client, first_name, last_name, addr, country, score) "
    "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)";
// Strictly greater: a repeat or a worse score leaves the line, and its time, alone.
constexpr const char* kUpsertPlayer =
    "INSERT INTO players(first_name, last_name, addr, country, best_score, reached_at, reached_submission) "
    "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7) "
    "ON CONFLICT(first_name, last_name, addr, country) DO UPDATE SET "
    "best_score = excluded.best_score, reached_at = excluded.reached_at, "
    "reached_submission = excluded.reached_submission "
    "WHERE excluded.best_score > players.best_score";
constexpr const char* kLinkSubmission =
    "UPDATE submissions SET player_id = (SELECT id FROM players WHERE first_name = ?1 AND last_name = ?2 "
    "AND addr = ?3 AND country = ?4) WHERE id = ?5";
// Ten rows off the rank index, each flagged whether it is the player's: one snapshot, no scan.
constexpr const char* kPlaceQuery =
    "SELECT id = (SELECT p.id FROM players p WHERE p.first_name = ?1 AND p.last_name = ?2 AND p.addr = ?3 "
    "AND p.country = ?4 AND (?5 IS NULL OR EXISTS (SELECT 1 FROM submissions s WHERE s.player_id = p.id "
    "AND s.client = ?5 AND s.score = ?6 AND s.received_at >= ?7))) "
    "FROM players ORDER BY best_score DESC, reached_submission ASC LIMIT 10";
constexpr const char* kBannedQuery = "SELECT 1 FROM bans WHERE network = ?1";
constexpr const char* kTopQuery =
    "SELECT first_name, last_name, country, best_score, reached_at FROM players "
    "ORDER BY best_score DESC, reached_submission ASC LIMIT ?1";

void BindPlayer(sqlite::Statement& s, const Player& p, int firstIndex) {
  s.BindBlob(firstIndex, p.firstName);
  s.BindBlob(firstIndex + 1, p.lastName);
  s.BindBlob(firstIndex + 2, p.addr);
  s.BindBlob(firstIndex + 3, p.country);
}

Result<std::int64_t> QueryInt(sqlite::Database& db, const char* sql) {
  auto s = sqlite::Statement::Prepare(db, sql);
  if (!s) return Result<std::int64_t>::Fail(s.Error());
  if (s->Step() != SQLITE_ROW) return Result<std::int64_t>::Fail(db.LastError());
  return Result<std::int64_t>::Ok(s->ColumnInt(0));
}

}  // namespace

Status SqliteStore::Migrate(sqlite::Database& db) {
  if (auto st = db.Exec("BEGIN IMMEDIATE"); !st) return st;
  auto fail = [&db](std::string why) {
    db.Exec("ROLLBACK");
    return Status::Fail(std::move(why));
  };
  auto version = QueryInt(db, "PRAGMA user_version");
  if (!version) return fail(version.Error());
  if (*version > SqliteStore::kSchemaVersion)
    return fail("the database has schema version " + std::to_string(*version) +
                ", newer than this server's " + std::to_string(SqliteStore::kSchemaVersion));
  for (auto v = *version; v < SqliteStore::kSchemaVersion; ++v) {
    if (auto st = db.Exec(kMigrations[static_cast<std::size_t>(v)]); !st)
      return fail("migration to schema version " + std::to_string(v + 1) + " failed: " + st.error);
  }
  if (*version != SqliteStore::kSchemaVersion) {
    std::string pragma = "PRAGMA user_version = " + std::to_string(SqliteStore::kSchemaVersion);
    if (auto st = db.Exec(pragma.c_str()); !st) return fail(st.error);
  }
  if (auto st = db.Exec("COMMIT"); !st) return fail(st.error);
  return Status::Ok();
}

struct SqliteStore::Connection {
  sqlite::Database db;
  sqlite::Statement insertSubmission, upsertPlayer, linkSubmission, place, top, banned;
};

SqliteStore::SqliteStore(std::string path)
    : path_(std::move(path)),
      readers_([this] { return OpenConnection(kReadBusyTimeoutMs); },
               [](Connection& c) {
                 // A connection left inside a transaction by a failure is rolled back before reuse.
                 if (!sqlite3_get_autocommit(c.db.Get())) c.db.Exec("ROLLBACK");
                 return true;
               }) {}

SqliteStore::~SqliteStore() {
  {
    std::lock_guard lock(checkpointMutex_);
    checkpointerStopping_ = true;
  }
  checkpointWanted_.notify_all();
  // Commits what is still queued, so nothing accepted is dropped; its writer is gone before the
  // connection and the gate it uses.
  queue_.reset();
  if (checkpointer_.joinable()) checkpointer_.join();
}

Result<std::unique_ptr<SqliteStore>> SqliteStore::Open(const std::string& path) {
  using R = Result<std::unique_ptr<SqliteStore>>;
  std::unique_ptr<SqliteStore> store(new SqliteStore(path));
  {
    auto db = sqlite::Database::Open(path);
    if (!db) return R::Fail(db.Error());
    sqlite3_busy_timeout(db->Get(), kReadBusyTimeoutMs);
    // WAL lets readers (top2, the page) run while a submission commits.
    {
      auto s = sqlite::Statement::Prepare(*db, "PRAGMA journal_mode=WAL");
      if (!s) return R::Fail(path + ": " + s.Error());
      if (s->Step() != SQLITE_ROW || s->ColumnBytes(0) != "wal")
        return R::Fail(path + ": cannot switch to WAL mode: " + db->LastError());
    }
    if (auto st = Migrate(*db); !st) return R::Fail(path + ": " + st.error);
  }
  auto serving = sqlite::HoldWhileServing(path);
  if (!serving) return R::Fail(serving.Error());
  store->servingLock_ = std::move(*serving);
  // Both kinds of connection open now, so that a bad file fails at start-up, not at the first request.
  auto writer = store->OpenConnection(static_cast<int>(kWriteBound.count()));
  if (!writer) return R::Fail(path + ": " + writer.Error());
  store->writerConnection_ = std::move(*writer);
  auto checkpointer = store->OpenConnection(kReadBusyTimeoutMs);
  if (!checkpointer) return R::Fail(path + ": " + checkpointer.Error());
  store->checkpointConnection_ = std::move(*checkpointer);
  // Replaces SQLite's automatic checkpoint, which would run inside a commit.
  sqlite3_wal_hook(store->writerConnection_->db.Get(), &SqliteStore::OnWalCommit, store.get());
  auto reader = store->OpenConnection(kReadBusyTimeoutMs);
  if (!reader) return R::Fail(path + ": " + reader.Error());
  store->readers_.Release(std::move(*reader));
  store->checkpointer_ = std::thread([s = store.get()] { s->CheckpointLoop(); });
  store->queue_ = std::make_unique<CommitQueue>(kMaxEntriesPerCommit, kWriteBound,
                                                [s = store.get()](const std::vector<CommitQueue::Job>& jobs) {
                                                  std::lock_guard gate(s->commitGate_);
                                                  return s->Commit(jobs);
                                                });
  return R::Ok(std::move(store));
}

Result<std::unique_ptr<SqliteStore::Connection>> SqliteStore::OpenConnection(int busyTimeoutMs) {
  using R = Result<std::unique_ptr<Connection>>;
  auto db = sqlite::Database::Open(path_);
  if (!db) return R::Fail(db.Error());
  auto c = std::make_unique<Connection>();
  c->db = std::move(*db);
  sqlite3_busy_timeout(c->db.Get(), busyTimeoutMs);
  // FULL: a submission answered 200 survives even a power cut, not only a crash of this process.
  if (auto st = c->db.Exec("PRAGMA synchronous=FULL"); !st) return R::Fail(st.error);
  struct {
    sqlite::Statement* target;
    const char* sql;
  } statements[] = {{&c->insertSubmission, kInsertSubmission},
                    {&c->upsertPlayer, kUpsertPlayer},
                    {&c->linkSubmission, kLinkSubmission},
                    {&c->place, kPlaceQuery},
                    {&c->top, kTopQuery},
                    {&c->banned, kBannedQuery}};
  for (auto& [target, sql] : statements) {
    auto s = sqlite::Statement::Prepare(c->db, sql);
    if (!s) return R::Fail(s.Error());
    *target = std::move(*s);
  }
  return R::Ok(std::move(c));
}

void SqliteStore::SubmitAsync(Submission submission, std::string client, std::int64_t nowMs, Done done) {
  queue_->SubmitAsync(std::move(submission), std::move(client), nowMs, std::move(done));
}

Status SqliteStore::SubmitBatch(std::span<const Submission> submissions, std::string_view client,
                                std::int64_t nowMs) {
  return queue_->SubmitBatch(submissions, client, nowMs);
}

int SqliteStore::OnWalCommit(void* self, sqlite3*, const char*, int frames) {
  // SQLite's own threshold for an automatic checkpoint.
  constexpr int kCheckpointFrames = 1000;
  if (frames >= kCheckpointFrames) {
    auto* store = static_cast<SqliteStore*>(self);
    {
      std::lock_guard lock(store->checkpointMutex_);
      store->walGrown_ = true;
    }
    store->checkpointWanted_.notify_one();
  }
  return SQLITE_OK;
}

void SqliteStore::CheckpointLoop() {
  for (;;) {
    {
      std::unique_lock lock(checkpointMutex_);
      checkpointWanted_.wait(lock, [this] { return checkpointerStopping_ || walGrown_; });
      if (checkpointerStopping_) return;
      walGrown_ = false;
    }
    // PASSIVE copies what no reader still needs and never blocks the writer. The log only starts
    // over once everything in it is copied, which a busy writer would never let happen; so a
    // second pass, between two commits, copies the little that was added meanwhile.
    sqlite3* db = checkpointConnection_->db.Get();
    sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    std::lock_guard gate(commitGate_);
    sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  }
}

Status SqliteStore::Commit(const std::vector<CommitQueue::Job>& jobs) {
  Connection& c = *writerConnection_;
  if (auto st = c.db.Exec("BEGIN IMMEDIATE"); !st) return st;
  // Rolls back on any early return.
  struct RollbackUnlessCommitted {
    sqlite::Database& db;
    ~RollbackUnlessCommitted() {
      if (!sqlite3_get_autocommit(db.Get())) db.Exec("ROLLBACK");
    }
  } guard{c.db};

  for (const CommitQueue::Job& job : jobs) {
    for (const CommitQueue::Entry& e : job.entries) {
      const Submission& s = e.submission;
      std::int64_t submissionId;
      {
        sqlite::ResetOnExit reset(c.insertSubmission);
        c.insertSubmission.BindInt(1, e.receivedAtMs);
        c.insertSubmission.BindText(2, e.client);
        BindPlayer(c.insertSubmission, s.player, 3);
        c.insertSubmission.BindInt(7, s.score);
        if (c.insertSubmission.Step() != SQLITE_DONE) return Status::Fail(c.db.LastError());
        submissionId = sqlite3_last_insert_rowid(c.db.Get());
      }
      {
        sqlite::ResetOnExit reset(c.upsertPlayer);
        BindPlayer(c.upsertPlayer, s.player, 1);
        c.upsertPlayer.BindInt(5, s.score);
        c.upsertPlayer.BindInt(6, e.receivedAtMs);
        c.upsertPlayer.BindInt(7, submissionId);
        if (c.upsertPlayer.Step() != SQLITE_DONE) return Status::Fail(c.db.LastError());
      }
      {
        sqlite::ResetOnExit reset(c.linkSubmission);
        BindPlayer(c.linkSubmission, s.player, 1);
        c.linkSubmission.BindInt(5, submissionId);
        if (c.linkSubmission.Step() != SQLITE_DONE) return Status::Fail(c.db.LastError());
      }
    }
  }
  // Only a successful COMMIT is reported as stored.
  if (auto st = c.db.Exec("COMMIT"); !st) return st;
  return Status::Ok();
}

Result<std::optional<int>> SqliteStore::PlaceInTopTen(const Player& player, const PlaceAsker* asker) {
  using R = Result<std::optional<int>>;
  auto lease = readers_.Acquire();
  if (!lease) return R::Fail(lease.Error());
  auto& s = (*lease)->place;
  sqlite::ResetOnExit reset(s);
  BindPlayer(s, player, 1);
  if (asker) {
    s.BindText(5, asker->client);
    s.BindInt(6, asker->score);
    s.BindInt(7, asker->sinceMs);
  }
  std::optional<int> place;
  for (int row = 1;; ++row) {
    int rc = s.Step();
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) return R::Fail((*lease)->db.LastError());
    if (s.ColumnInt(0) == 1 && !place) place = row;
  }
  return R::Ok(place);
}

Result<std::vector<TableRow>> SqliteStore::Top(int limit) {
  using R = Result<std::vector<TableRow>>;
  auto lease = readers_.Acquire();
  if (!lease) return R::Fail(lease.Error());
  auto& s = (*lease)->top;
  sqlite::ResetOnExit reset(s);
  s.BindInt(1, limit);
  std::vector<TableRow> rows;
  for (;;) {
    int rc = s.Step();
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) return R::Fail((*lease)->db.LastError());
    TableRow row;
    row.place = static_cast<int>(rows.size()) + 1;
    row.firstName = s.ColumnBytes(0);
    row.lastName = s.ColumnBytes(1);
    row.country = s.ColumnBytes(2);
    row.score = static_cast<int>(s.ColumnInt(3));
    row.reachedAtMs = s.ColumnInt(4);
    rows.push_back(std::move(row));
  }
  return R::Ok(std::move(rows));
}

Result<StoreCounts> SqliteStore::Counts() {
  using R = Result<StoreCounts>;
  auto lease = readers_.Acquire();
  if (!lease) return R::Fail(lease.Error());
  auto s =
      sqlite::Statement::Prepare((*lease)->db,
                                 "SELECT (SELECT count(*) FROM players), (SELECT count(*) FROM submissions), "
                                 "(SELECT count(*) FROM submissions WHERE player_id IS NULL)");
  if (!s) return R::Fail(s.Error());
  if (s->Step() != SQLITE_ROW) return R::Fail((*lease)->db.LastError());
  return R::Ok(StoreCounts{s->ColumnInt(0), s->ColumnInt(1), s->ColumnInt(2)});
}

Result<bool> SqliteStore::IsBanned(std::string_view key) {
  auto lease = readers_.Acquire();
  if (!lease) return Result<bool>::Fail(lease.Error());
  auto& s = (*lease)->banned;
  sqlite::ResetOnExit reset(s);
  s.BindText(1, key);
  int rc = s.Step();
  if (rc == SQLITE_ROW) return Result<bool>::Ok(true);
  if (rc == SQLITE_DONE) return Result<bool>::Ok(false);
  return Result<bool>::Fail((*lease)->db.LastError());
}

Result<int> SqliteStore::SchemaVersion() {
  auto lease = readers_.Acquire();
  if (!lease) return Result<int>::Fail(lease.Error());
  auto v = QueryInt((*lease)->db, "PRAGMA user_version");
  if (!v) return Result<int>::Fail(v.Error());
  return Result<int>::Ok(static_cast<int>(*v));
}

Result<std::string> SqliteStore::ExplainReads() {
  auto lease = readers_.Acquire();
  if (!lease) return Result<std::string>::Fail(lease.Error());
  std::string plans;
  for (const char* sql : {kPlaceQuery, kTopQuery}) {
    auto s = sqlite::Statement::Prepare((*lease)->db, std::string("EXPLAIN QUERY PLAN ") + sql);
    if (!s) return Result<std::string>::Fail(s.Error());
    while (s->Step() == SQLITE_ROW) plans += s->ColumnBytes(3) + "\n";
  }
  return Result<std::string>::Ok(plans);
}

}  // namespace vesquin::scored
