#include "admin_sqlite.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

#include "new_file.h"
#include "platform/unique_fd.h"
#include "sqlite_store.h"

namespace vesquin::scored {
namespace {

// A thousand entries a transaction, so that the writer never waits long for the lock.
constexpr const char* kForgetAddresses =
    "UPDATE submissions SET client = '', addr = x'' WHERE id IN (SELECT id FROM submissions "
    "WHERE received_at < ?1 AND (client <> '' OR length(addr) > 0) LIMIT 1000)";

// Long enough to outlast the server's group commits, which are bounded to 2 s.
constexpr int kBusyTimeoutMs = 5000;

constexpr const char* kLineColumns =
    "id, first_name, last_name, addr, country, best_score, reached_at, reached_submission";
constexpr const char* kLogColumns =
    "id, received_at, client, first_name, last_name, addr, country, score, player_id, removed_at";

LineRecord ReadLine(const sqlite::Statement& s, int first) {
  LineRecord l;
  l.id = s.ColumnInt(first);
  l.player = {s.ColumnBytes(first + 1), s.ColumnBytes(first + 2), s.ColumnBytes(first + 3),
              s.ColumnBytes(first + 4)};
  l.bestScore = static_cast<int>(s.ColumnInt(first + 5));
  l.reachedAtMs = s.ColumnInt(first + 6);
  l.reachedSubmission = s.ColumnInt(first + 7);
  return l;
}

std::optional<std::int64_t> OptionalInt(const sqlite::Statement& s, int column) {
  if (sqlite3_column_type(s.Get(), column) == SQLITE_NULL) return std::nullopt;
  return s.ColumnInt(column);
}

LogRecord ReadLog(const sqlite::Statement& s) {
  LogRecord r;
  r.id = s.ColumnInt(0);
  r.receivedAtMs = s.ColumnInt(1);
  r.client = s.ColumnBytes(2);
  r.player = {s.ColumnBytes(3), s.ColumnBytes(4), s.ColumnBytes(5), s.ColumnBytes(6)};
  r.score = static_cast<int>(s.ColumnInt(7));
  r.playerId = OptionalInt(s, 8);
  r.removedAtMs = OptionalInt(s, 9);
  return r;
}

void BindOptional(sqlite::Statement& s, int index, const std::optional<std::int64_t>& v) {
  if (v)
    s.BindInt(index, *v);
  else
    sqlite3_bind_null(s.Get(), index);
}

// Steps a statement to its end, handing each row to `row`.
template <class F>
Status EachRow(sqlite::Database& db, sqlite::Statement& s, F&& row) {
  for (;;) {
    int rc = s.Step();
    if (rc == SQLITE_DONE) return Status::Ok();
    if (rc != SQLITE_ROW) return Status::Fail(db.LastError());
    row(s);
  }
}

Status StepDone(sqlite::Database& db, sqlite::Statement& s) {
  if (s.Step() != SQLITE_DONE) return Status::Fail(db.LastError());
  return Status::Ok();
}

struct RollbackUnlessCommitted {
  sqlite::Database& db;
  ~RollbackUnlessCommitted() {
    if (!sqlite3_get_autocommit(db.Get())) db.Exec("ROLLBACK");
  }
};

}  // namespace

Result<std::unique_ptr<SqliteAdminStore>> SqliteAdminStore::Open(const std::string& path) {
  using R = Result<std::unique_ptr<SqliteAdminStore>>;
  auto db = sqlite::Database::Open(path);
  if (!db) return R::Fail(db.Error());
  sqlite3_busy_timeout(db->Get(), kBusyTimeoutMs);
  {
    auto s = sqlite::Statement::Prepare(*db, "PRAGMA journal_mode=WAL");
    if (!s) return R::Fail(path + ": " + s.Error());
    if (s->Step() != SQLITE_ROW || s->ColumnBytes(0) != "wal")
      return R::Fail(path + ": cannot switch to WAL mode: " + db->LastError());
  }
  if (auto st = db->Exec("PRAGMA synchronous=FULL"); !st) return R::Fail(path + ": " + st.error);
  if (auto st = SqliteStore::Migrate(*db); !st) return R::Fail(path + ": " + st.error);
  return R::Ok(std::unique_ptr<SqliteAdminStore>(new SqliteAdminStore(std::move(*db))));
}

template <class F>
Status SqliteAdminStore::InWriteTransaction(F&& body) {
  if (auto st = db_.Exec("BEGIN IMMEDIATE"); !st) return st;
  RollbackUnlessCommitted guard{db_};
  if (Status st = body(); !st) return st;
  return db_.Exec("COMMIT");
}

Result<std::vector<PlacedLine>> SqliteAdminStore::ListTable(const TableQuery& query) {
  using R = Result<std::vector<PlacedLine>>;
  std::string sql =
      std::string("SELECT place, ") + kLineColumns +
      " FROM (SELECT row_number() OVER (ORDER BY best_score DESC, reached_submission ASC) AS place, "
      "* FROM players)";
  if (!query.name.empty()) sql += " WHERE instr(first_name, ?3) > 0 OR instr(last_name, ?3) > 0";
  sql += " ORDER BY place LIMIT ?1 OFFSET ?2";
  auto s = sqlite::Statement::Prepare(db_, sql);
  if (!s) return R::Fail(s.Error());
  s->BindInt(1, query.limit);
  s->BindInt(2, query.offset);
  if (!query.name.empty()) s->BindBlob(3, query.name);
  std::vector<PlacedLine> lines;
  if (auto st = EachRow(db_, *s,
                        [&](sqlite::Statement& row) {
                          lines.push_back({row.ColumnInt(0), ReadLine(row, 1)});
                        });
      !st)
    return R::Fail(st.error);
  return R::Ok(std::move(lines));
}

Result<std::vector<LogRecord>> SqliteAdminStore::ListLog(const LogQuery& query) {
  using R = Result<std::vector<LogRecord>>;
  std::string sql = std::string("SELECT ") + kLogColumns + " FROM submissions WHERE id > ?1";
  if (query.playerId) sql += " AND player_id = ?3";
  if (!query.client.empty()) sql += " AND client = ?4";
  if (!query.name.empty()) sql += " AND (instr(first_name, ?5) > 0 OR instr(last_name, ?5) > 0)";
  if (query.sinceMs) sql += " AND received_at >= ?6";
  if (query.untilMs) sql += " AND received_at < ?7";
  sql += " ORDER BY id LIMIT ?2";
  auto s = sqlite::Statement::Prepare(db_, sql);
  if (!s) return R::Fail(s.Error());
  s->BindInt(1, query.afterId);
  s->BindInt(2, query.limit);
  if (query.playerId) s->BindInt(3, *query.playerId);
  if (!query.client.empty()) s->BindText(4, query.client);
  if (!query.name.empty()) s->BindBlob(5, query.name);
  if (query.sinceMs) s->BindInt(6, *query.sinceMs);
  if (query.untilMs) s->BindInt(7, *query.untilMs);
  std::vector<LogRecord> log;
  if (auto st = EachRow(db_, *s, [&](sqlite::Statement& row) { log.push_back(ReadLog(row)); }); !st)
    return R::Fail(st.error);
  return R::Ok(std::move(log));
}

Result<Removal> SqliteAdminStore::RemoveWhere(const std::string& where,
                                              const std::function<void(sqlite::Statement&)>& bind,
                                              std::int64_t nowMs) {
  Removal removal;
  Status st = InWriteTransaction([&]() -> Status {
    // The log stays; its entries only lose their tie to the line, since the line's id may be
    // handed to a new line later.
    auto mark = sqlite::Statement::Prepare(db_,
                                           "UPDATE submissions SET removed_at = ?1, player_id = NULL WHERE "
                                           "player_id IN (SELECT id FROM players WHERE " +
                                               where + ")");
    if (!mark) return Status::Fail(mark.Error());
    bind(*mark);
    mark->BindInt(1, nowMs);
    if (auto st = StepDone(db_, *mark); !st) return st;
    removal.logEntries = sqlite3_changes64(db_.Get());
    auto drop = sqlite::Statement::Prepare(db_, "DELETE FROM players WHERE " + where);
    if (!drop) return Status::Fail(drop.Error());
    bind(*drop);
    if (auto st = StepDone(db_, *drop); !st) return st;
    removal.lines = sqlite3_changes64(db_.Get());
    return Status::Ok();
  });
  if (!st) return Result<Removal>::Fail(st.error);
  return Result<Removal>::Ok(removal);
}

Result<Removal> SqliteAdminStore::RemoveLine(std::int64_t lineId, std::int64_t nowMs) {
  auto removal = RemoveWhere(
      "id = ?2", [lineId](sqlite::Statement& s) { s.BindInt(2, lineId); }, nowMs);
  // Nothing was changed when no line had that id, so failing afterwards leaves nothing half-done.
  if (removal && removal->lines == 0) return Result<Removal>::Fail("no line " + std::to_string(lineId));
  return removal;
}

Result<Removal> SqliteAdminStore::RemovePlayer(const PlayerMatch& match, std::int64_t nowMs) {
  std::string where = "first_name = ?2 AND last_name = ?3";
  if (match.addr) where += " AND addr = ?4";
  if (match.country) where += " AND country = ?5";
  return RemoveWhere(
      where,
      [&match](sqlite::Statement& s) {
        s.BindBlob(2, match.firstName);
        s.BindBlob(3, match.lastName);
        if (match.addr) s.BindBlob(4, *match.addr);
        if (match.country) s.BindBlob(5, *match.country);
      },
      nowMs);
}

Result<bool> SqliteAdminStore::Ban(const BanRecord& ban) {
  auto s = sqlite::Statement::Prepare(
      db_,
      "INSERT INTO bans(network, reason, created_at) VALUES(?1, ?2, ?3) ON CONFLICT(network) DO NOTHING");
  if (!s) return Result<bool>::Fail(s.Error());
  s->BindText(1, ban.network);
  s->BindText(2, ban.reason);
  s->BindInt(3, ban.createdAtMs);
  if (auto st = StepDone(db_, *s); !st) return Result<bool>::Fail(st.error);
  return Result<bool>::Ok(sqlite3_changes64(db_.Get()) > 0);
}

Result<bool> SqliteAdminStore::Unban(std::string_view network) {
  auto s = sqlite::Statement::Prepare(db_, "DELETE FROM bans WHERE network = ?1");
  if (!s) return Result<bool>::Fail(s.Error());
  s->BindText(1, network);
  if (auto st = StepDone(db_, *s); !st) return Result<bool>::Fail(st.error);
  return Result<bool>::Ok(sqlite3_changes64(db_.Get()) > 0);
}

Result<std::int64_t> SqliteAdminStore::ForgetAddresses(std::int64_t receivedBeforeMs) {
  std::int64_t total = 0;
  for (;;) {
    std::int64_t changed = 0;
    Status st = InWriteTransaction([&]() -> Status {
      auto s = sqlite::Statement::Prepare(db_, kForgetAddresses);
      if (!s) return Status::Fail(s.Error());
      s->BindInt(1, receivedBeforeMs);
      if (auto done = StepDone(db_, *s); !done) return done;
      changed = sqlite3_changes64(db_.Get());
      return Status::Ok();
    });
    if (!st) return Result<std::int64_t>::Fail(st.error);
    total += changed;
    if (changed == 0) return Result<std::int64_t>::Ok(total);
  }
}

Result<std::vector<BanRecord>> SqliteAdminStore::ListBans() {
  using R = Result<std::vector<BanRecord>>;
  auto s = sqlite::Statement::Prepare(db_, "SELECT network, reason, created_at FROM bans ORDER BY network");
  if (!s) return R::Fail(s.Error());
  std::vector<BanRecord> bans;
  if (auto st = EachRow(db_, *s,
                        [&](sqlite::Statement& row) {
                          bans.push_back({row.ColumnBytes(0), row.ColumnBytes(1), row.ColumnInt(2)});
                        });
      !st)
    return R::Fail(st.error);
  return R::Ok(std::move(bans));
}

Result<Dump> SqliteAdminStore::Export() {
  using R = Result<Dump>;
  // One read transaction: in WAL mode every statement in it sees the same instant.
  if (auto st = db_.Exec("BEGIN"); !st) return R::Fail(st.error);
  RollbackUnlessCommitted guard{db_};
  Dump dump;
  {
    auto s =
        sqlite::Statement::Prepare(db_, std::string("SELECT ") + kLineColumns + " FROM players ORDER BY id");
    if (!s) return R::Fail(s.Error());
    if (auto st = EachRow(db_, *s, [&](sqlite::Statement& row) { dump.lines.push_back(ReadLine(row, 0)); });
        !st)
      return R::Fail(st.error);
  }
  {
    auto s = sqlite::Statement::Prepare(
        db_, std::string("SELECT ") + kLogColumns + " FROM submissions ORDER BY id");
    if (!s) return R::Fail(s.Error());
    if (auto st = EachRow(db_, *s, [&](sqlite::Statement& row) { dump.log.push_back(ReadLog(row)); }); !st)
      return R::Fail(st.error);
  }
  auto bans = ListBans();
  if (!bans) return R::Fail(bans.Error());
  dump.bans = std::move(*bans);
  if (auto st = db_.Exec("COMMIT"); !st) return R::Fail(st.error);
  return R::Ok(std::move(dump));
}

Status SqliteAdminStore::Import(const Dump& dump, bool replace) {
  // Replacing a served table would delete what its servers answered meanwhile.
  UniqueFd unserved;
  if (replace) {
    auto held = sqlite::HoldUnserved(sqlite3_db_filename(db_.Get(), "main"));
    if (!held) return Status::Fail(held.Error());
    unserved = std::move(*held);
  }
  return InWriteTransaction([&]() -> Status {
    if (replace) {
      for (const char* sql : {"DELETE FROM players", "DELETE FROM submissions", "DELETE FROM bans"})
        if (auto st = db_.Exec(sql); !st) return st;
    } else {
      auto s = sqlite::Statement::Prepare(
          db_,
          "SELECT EXISTS(SELECT 1 FROM players) OR EXISTS(SELECT 1 FROM submissions) "
          "OR EXISTS(SELECT 1 FROM bans)");
      if (!s) return Status::Fail(s.Error());
      if (s->Step() != SQLITE_ROW) return Status::Fail(db_.LastError());
      if (s->ColumnInt(0) != 0)
        return Status::Fail("the store is not empty (replace its contents to import)");
    }
    auto line = sqlite::Statement::Prepare(
        db_, std::string("INSERT INTO players(") + kLineColumns + ") VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    auto entry = sqlite::Statement::Prepare(db_, std::string("INSERT INTO submissions(") + kLogColumns +
                                                     ") VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
    auto ban =
        sqlite::Statement::Prepare(db_, "INSERT INTO bans(network, reason, created_at) VALUES(?1, ?2, ?3)");
    if (!line) return Status::Fail(line.Error());
    if (!entry) return Status::Fail(entry.Error());
    if (!ban) return Status::Fail(ban.Error());
    for (const LineRecord& l : dump.lines) {
      sqlite::ResetOnExit reset(*line);
      line->BindInt(1, l.id);
      line->BindBlob(2, l.player.firstName);
      line->BindBlob(3, l.player.lastName);
      line->BindBlob(4, l.player.addr);
      line->BindBlob(5, l.player.country);
      line->BindInt(6, l.bestScore);
      line->BindInt(7, l.reachedAtMs);
      line->BindInt(8, l.reachedSubmission);
      if (auto st = StepDone(db_, *line); !st)
        return Status::Fail("line " + std::to_string(l.id) + ": " + st.error);
    }
    for (const LogRecord& r : dump.log) {
      sqlite::ResetOnExit reset(*entry);
      entry->BindInt(1, r.id);
      entry->BindInt(2, r.receivedAtMs);
      entry->BindText(3, r.client);
      entry->BindBlob(4, r.player.firstName);
      entry->BindBlob(5, r.player.lastName);
      entry->BindBlob(6, r.player.addr);
      entry->BindBlob(7, r.player.country);
      entry->BindInt(8, r.score);
      BindOptional(*entry, 9, r.playerId);
      BindOptional(*entry, 10, r.removedAtMs);
      if (auto st = StepDone(db_, *entry); !st)
        return Status::Fail("log entry " + std::to_string(r.id) + ": " + st.error);
    }
    for (const BanRecord& b : dump.bans) {
      sqlite::ResetOnExit reset(*ban);
      ban->BindText(1, b.network);
      ban->BindText(2, b.reason);
      ban->BindInt(3, b.createdAtMs);
      if (auto st = StepDone(db_, *ban); !st) return Status::Fail("ban " + b.network + ": " + st.error);
    }
    return Status::Ok();
  });
}

Status SqliteAdminStore::Backup(const std::string& target) {
  if (::access(target.c_str(), F_OK) == 0) return Status::Fail(target + " already exists");
  auto file = NewFile::Create(target);
  if (!file) return Status::Fail(file.Error());
  {
    auto copy = sqlite::Database::Open(file->Path());
    if (!copy) return Status::Fail(copy.Error());
    sqlite3_backup* b = sqlite3_backup_init(copy->Get(), "main", db_.Get(), "main");
    if (!b) return Status::Fail("cannot start the backup: " + copy->LastError());
    // All pages in one step: a single read transaction on the source, so the copy is one instant
    // even while the server commits.
    int rc = sqlite3_backup_step(b, -1);
    sqlite3_backup_finish(b);
    if (rc != SQLITE_DONE) return Status::Fail(std::string("backup failed: ") + sqlite3_errstr(rc));
    // A single self-contained file, whatever journal the source used; the server turns WAL back on.
    if (auto st = copy->Exec("PRAGMA journal_mode=DELETE"); !st) return st;
    auto check = sqlite::Statement::Prepare(*copy, "PRAGMA integrity_check");
    if (!check) return Status::Fail(check.Error());
    if (check->Step() != SQLITE_ROW || check->ColumnBytes(0) != "ok")
      return Status::Fail("the copy failed its integrity check: " + check->ColumnBytes(0));
  }
  return file->Commit();
}

}  // namespace vesquin::scored
