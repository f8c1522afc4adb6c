#include "postgres_admin_store.h"

#include "postgres_store.h"

namespace vesquin::scored {
namespace {

using postgres::Connection;
using postgres::Params;
using postgres::RollbackUnlessCommitted;
using postgres::Rows;

struct Prepared {
  const char* name;
  const char* sql;
};

constexpr const char* kLineColumns =
    "id, first_name, last_name, addr, country, best_score, reached_at, reached_submission";
constexpr const char* kLogColumns =
    "id, received_at, client, first_name, last_name, addr, country, score, player_id, removed_at";
// position() of an empty pattern is 1, so an empty name matches every line.
constexpr const char* kNameMatches =
    "(position($1::bytea in first_name) > 0 OR position($1::bytea in last_name) > 0)";

const std::string kListTable =
    std::string("SELECT place, ") + kLineColumns +
    " FROM (SELECT row_number() OVER (ORDER BY best_score DESC, reached_submission ASC) "
    "AS place, * FROM players) ranked WHERE " +
    kNameMatches + " ORDER BY place OFFSET $2::bigint LIMIT $3::bigint";
const std::string kListLog = std::string("SELECT ") + kLogColumns + " FROM submissions WHERE " +
                             kNameMatches +
                             " AND ($2::bigint IS NULL OR player_id = $2::bigint)"
                             " AND ($3::text = '' OR client = $3::text)"
                             " AND ($4::bigint IS NULL OR received_at >= $4::bigint)"
                             " AND ($5::bigint IS NULL OR received_at < $5::bigint)"
                             " AND id > $6::bigint ORDER BY id LIMIT $7::bigint";
const std::string kMatchPlayer =
    "first_name = $1::bytea AND last_name = $2::bytea AND ($3::bytea IS NULL OR addr = $3::bytea) "
    "AND ($4::bytea IS NULL OR country = $4::bytea)";
const std::string kMarkPlayerLog =
    "UPDATE submissions SET removed_at = $5::bigint, player_id = NULL "
    "WHERE player_id IN (SELECT id FROM players WHERE " +
    kMatchPlayer + ")";
const std::string kDeletePlayer = "DELETE FROM players WHERE " + kMatchPlayer;
const std::string kAllLines = std::string("SELECT ") + kLineColumns + " FROM players ORDER BY id";
const std::string kAllLog = std::string("SELECT ") + kLogColumns + " FROM submissions ORDER BY id";
const std::string kInsertLine =
    std::string("INSERT INTO players(") + kLineColumns +
    ") VALUES($1::bigint, $2::bytea, $3::bytea, $4::bytea, $5::bytea, $6::bigint, "
    "$7::bigint, $8::bigint)";
const std::string kInsertLog = std::string("INSERT INTO submissions(") + kLogColumns +
                               ") VALUES($1::bigint, $2::bigint, $3::text, $4::bytea, $5::bytea, $6::bytea, "
                               "$7::bytea, $8::bigint, $9::bigint, $10::bigint)";
// Bytewise order, as SQLite sorts text, whatever the database's collation.
constexpr const char* kAllBans =
    "SELECT network, reason, created_at FROM bans ORDER BY network COLLATE \"C\"";

const Prepared kStatements[] = {
    {"list_table", kListTable.c_str()},
    {"list_log", kListLog.c_str()},
    {"mark_line_log",
     "UPDATE submissions SET removed_at = $2::bigint, player_id = NULL WHERE player_id = $1::bigint"},
    {"delete_line", "DELETE FROM players WHERE id = $1::bigint"},
    {"mark_player_log", kMarkPlayerLog.c_str()},
    {"delete_player", kDeletePlayer.c_str()},
    {"ban",
     "INSERT INTO bans(network, reason, created_at) VALUES($1::text, $2::text, $3::bigint) ON CONFLICT DO "
     "NOTHING"},
    {"unban", "DELETE FROM bans WHERE network = $1::text"},
    // A thousand entries a statement, so that the nodes' commits never wait long for the rows.
    {"forget_addresses",
     "UPDATE submissions SET client = '', addr = ''::bytea WHERE id IN (SELECT id FROM submissions "
     "WHERE received_at < $1::bigint AND (client <> '' OR length(addr) > 0) LIMIT 1000)"},
    {"all_bans", kAllBans},
    {"all_lines", kAllLines.c_str()},
    {"all_log", kAllLog.c_str()},
    {"occupied",
     "SELECT (SELECT count(*) FROM players) + (SELECT count(*) FROM submissions) + "
     "(SELECT count(*) FROM bans)"},
    {"insert_line", kInsertLine.c_str()},
    {"insert_log", kInsertLog.c_str()},
    {"insert_ban", "INSERT INTO bans(network, reason, created_at) VALUES($1::text, $2::text, $3::bigint)"},
    // New ids continue above the greatest one there is (from 1 in an empty table).
    {"renumber_lines",
     "SELECT setval(pg_get_serial_sequence('players', 'id'), COALESCE(max(id), 1), max(id) IS NOT NULL) FROM "
     "players"},
    {"renumber_log",
     "SELECT setval(pg_get_serial_sequence('submissions', 'id'), COALESCE(max(id), 1), "
     "max(id) IS NOT NULL) FROM submissions"},
};

// Every change waits for the servers' commit in progress and holds theirs off until it is done.
constexpr const char* kWriteLock = "LOCK TABLE players IN EXCLUSIVE MODE";

LineRecord LineAt(const Rows& r, int row, int first) {
  LineRecord line;
  line.id = r.Int(row, first);
  line.player = {r.Bytes(row, first + 1), r.Bytes(row, first + 2), r.Bytes(row, first + 3),
                 r.Bytes(row, first + 4)};
  line.bestScore = static_cast<int>(r.Int(row, first + 5));
  line.reachedAtMs = r.Int(row, first + 6);
  line.reachedSubmission = r.Int(row, first + 7);
  return line;
}

LogRecord LogAt(const Rows& r, int row) {
  LogRecord e;
  e.id = r.Int(row, 0);
  e.receivedAtMs = r.Int(row, 1);
  e.client = r.Bytes(row, 2);
  e.player = {r.Bytes(row, 3), r.Bytes(row, 4), r.Bytes(row, 5), r.Bytes(row, 6)};
  e.score = static_cast<int>(r.Int(row, 7));
  if (!r.IsNull(row, 8)) e.playerId = r.Int(row, 8);
  if (!r.IsNull(row, 9)) e.removedAtMs = r.Int(row, 9);
  return e;
}

Params MatchParams(const PlayerMatch& m) {
  Params p;
  p.Bytes(m.firstName).Bytes(m.lastName);
  p.Maybe(m.addr, &Params::Bytes).Maybe(m.country, &Params::Bytes);
  return p;
}

Result<std::vector<BanRecord>> ReadBans(Connection& c) {
  using R = Result<std::vector<BanRecord>>;
  auto rows = c.Run("all_bans");
  if (!rows) return R::Fail(rows.Error());
  std::vector<BanRecord> bans;
  for (int i = 0; i < rows->Size(); ++i)
    bans.push_back({rows->Bytes(i, 0), rows->Bytes(i, 1), rows->Int(i, 2)});
  return R::Ok(std::move(bans));
}

}  // namespace

Result<std::unique_ptr<PostgresAdminStore>> PostgresAdminStore::Open(const std::string& uri) {
  using R = Result<std::unique_ptr<PostgresAdminStore>>;
  auto c = Connection::Open(uri);
  if (!c) return R::Fail(c.Error());
  if (auto st = PostgresStore::Migrate(*c); !st) return R::Fail("PostgreSQL schema: " + st.error);
  for (const Prepared& p : kStatements)
    if (auto st = c->Prepare(p.name, p.sql); !st) return R::Fail(st.error);
  return R::Ok(std::unique_ptr<PostgresAdminStore>(new PostgresAdminStore(std::move(*c))));
}

Result<std::vector<PlacedLine>> PostgresAdminStore::ListTable(const TableQuery& query) {
  using R = Result<std::vector<PlacedLine>>;
  auto rows = c_.Run("list_table", Params().Bytes(query.name).Int(query.offset).Int(query.limit));
  if (!rows) return R::Fail(rows.Error());
  std::vector<PlacedLine> lines;
  for (int i = 0; i < rows->Size(); ++i) lines.push_back({rows->Int(i, 0), LineAt(*rows, i, 1)});
  return R::Ok(std::move(lines));
}

Result<std::vector<LogRecord>> PostgresAdminStore::ListLog(const LogQuery& query) {
  using R = Result<std::vector<LogRecord>>;
  Params p;
  p.Bytes(query.name).Maybe(query.playerId, &Params::Int).Text(query.client);
  p.Maybe(query.sinceMs, &Params::Int).Maybe(query.untilMs, &Params::Int).Int(query.afterId).Int(query.limit);
  auto rows = c_.Run("list_log", p);
  if (!rows) return R::Fail(rows.Error());
  std::vector<LogRecord> log;
  for (int i = 0; i < rows->Size(); ++i) log.push_back(LogAt(*rows, i));
  return R::Ok(std::move(log));
}

Result<Removal> PostgresAdminStore::RemoveLine(std::int64_t lineId, std::int64_t nowMs) {
  using R = Result<Removal>;
  if (auto st = c_.Exec("BEGIN"); !st) return R::Fail(st.error);
  RollbackUnlessCommitted guard(c_);
  if (auto st = c_.Exec(kWriteLock); !st) return R::Fail(st.error);
  auto marked = c_.Run("mark_line_log", Params().Int(lineId).Int(nowMs));
  if (!marked) return R::Fail(marked.Error());
  auto deleted = c_.Run("delete_line", Params().Int(lineId));
  if (!deleted) return R::Fail(deleted.Error());
  if (deleted->Affected() == 0) return R::Fail("no line " + std::to_string(lineId));
  if (auto st = c_.Exec("COMMIT"); !st) return R::Fail(st.error);
  return R::Ok(Removal{deleted->Affected(), marked->Affected()});
}

Result<Removal> PostgresAdminStore::RemovePlayer(const PlayerMatch& match, std::int64_t nowMs) {
  using R = Result<Removal>;
  if (auto st = c_.Exec("BEGIN"); !st) return R::Fail(st.error);
  RollbackUnlessCommitted guard(c_);
  if (auto st = c_.Exec(kWriteLock); !st) return R::Fail(st.error);
  Params mark = MatchParams(match);
  mark.Int(nowMs);
  auto marked = c_.Run("mark_player_log", mark);
  if (!marked) return R::Fail(marked.Error());
  auto deleted = c_.Run("delete_player", MatchParams(match));
  if (!deleted) return R::Fail(deleted.Error());
  if (auto st = c_.Exec("COMMIT"); !st) return R::Fail(st.error);
  return R::Ok(Removal{deleted->Affected(), marked->Affected()});
}

Result<bool> PostgresAdminStore::Ban(const BanRecord& ban) {
  auto r = c_.Run("ban", Params().Text(ban.network).Text(ban.reason).Int(ban.createdAtMs));
  if (!r) return Result<bool>::Fail(r.Error());
  return Result<bool>::Ok(r->Affected() == 1);
}

Result<bool> PostgresAdminStore::Unban(std::string_view network) {
  auto r = c_.Run("unban", Params().Text(network));
  if (!r) return Result<bool>::Fail(r.Error());
  return Result<bool>::Ok(r->Affected() > 0);
}

Result<std::vector<BanRecord>> PostgresAdminStore::ListBans() { return ReadBans(c_); }

Result<std::int64_t> PostgresAdminStore::ForgetAddresses(std::int64_t receivedBeforeMs) {
  std::int64_t total = 0;
  for (;;) {
    auto r = c_.Run("forget_addresses", Params().Int(receivedBeforeMs));
    if (!r) return Result<std::int64_t>::Fail(r.Error());
    total += r->Affected();
    if (r->Affected() == 0) return Result<std::int64_t>::Ok(total);
  }
}

Result<Dump> PostgresAdminStore::Export() {
  using R = Result<Dump>;
  // One snapshot for the three reads, taken without holding off any writer.
  if (auto st = c_.Exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"); !st) return R::Fail(st.error);
  RollbackUnlessCommitted guard(c_);
  Dump dump;
  auto lines = c_.Run("all_lines");
  if (!lines) return R::Fail(lines.Error());
  for (int i = 0; i < lines->Size(); ++i) dump.lines.push_back(LineAt(*lines, i, 0));
  auto log = c_.Run("all_log");
  if (!log) return R::Fail(log.Error());
  for (int i = 0; i < log->Size(); ++i) dump.log.push_back(LogAt(*log, i));
  auto bans = ReadBans(c_);
  if (!bans) return R::Fail(bans.Error());
  dump.bans = std::move(*bans);
  if (auto st = c_.Exec("COMMIT"); !st) return R::Fail(st.error);
  return R::Ok(std::move(dump));
}

Status PostgresAdminStore::Import(const Dump& dump, bool replace) {
  if (auto st = c_.Exec("BEGIN"); !st) return st;
  RollbackUnlessCommitted guard(c_);
  if (auto st = c_.Exec("LOCK TABLE players, submissions, bans IN EXCLUSIVE MODE"); !st) return st;
  if (replace) {
    // Replacing a served table would delete what its nodes answered meanwhile.
    // A node that just stopped may take a moment to leave the database: wait that long for it.
    if (!c_.Exec("SET LOCAL lock_timeout = 2000") ||
        !c_.Exec(std::string("SELECT pg_advisory_xact_lock(") + postgres::kServingLockKey + ")"))
      return Status::Fail("the table is being served by vesquin-scored: stop every node on it first");
    if (auto st = c_.Exec("DELETE FROM submissions; DELETE FROM players; DELETE FROM bans"); !st) return st;
  } else {
    auto occupied = c_.Run("occupied");
    if (!occupied) return Status::Fail(occupied.Error());
    if (occupied->Int(0, 0) != 0)
      return Status::Fail(
          "the store is not empty (it holds lines, log entries or bans); import with replace to overwrite "
          "it");
  }
  for (const LineRecord& l : dump.lines) {
    Params p;
    p.Int(l.id)
        .Bytes(l.player.firstName)
        .Bytes(l.player.lastName)
        .Bytes(l.player.addr)
        .Bytes(l.player.country);
    p.Int(l.bestScore).Int(l.reachedAtMs).Int(l.reachedSubmission);
    if (auto r = c_.Run("insert_line", p); !r)
      return Status::Fail("line " + std::to_string(l.id) + ": " + r.Error());
  }
  for (const LogRecord& e : dump.log) {
    Params p;
    p.Int(e.id).Int(e.receivedAtMs).Text(e.client);
    p.Bytes(e.player.firstName).Bytes(e.player.lastName).Bytes(e.player.addr).Bytes(e.player.country);
    p.Int(e.score).Maybe(e.playerId, &Params::Int).Maybe(e.removedAtMs, &Params::Int);
    if (auto r = c_.Run("insert_log", p); !r)
      return Status::Fail("log entry " + std::to_string(e.id) + ": " + r.Error());
  }
  for (const BanRecord& b : dump.bans) {
    if (auto r = c_.Run("insert_ban", Params().Text(b.network).Text(b.reason).Int(b.createdAtMs)); !r)
      return Status::Fail("ban " + b.network + ": " + r.Error());
  }
  for (const char* renumber : {"renumber_lines", "renumber_log"})
    if (auto r = c_.Run(renumber); !r) return Status::Fail(r.Error());
  return c_.Exec("COMMIT");
}

}  // namespace vesquin::scored
