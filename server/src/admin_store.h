#pragma once
// What the operator's commands (`vesquin-scored admin ...`) need from a store. Every store
// implements it, so that each command, and a copy from one store to another, works on any of them.
// Each operation is one transaction: it happens completely or not at all.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "query.h"
#include "result.h"

namespace vesquin::scored {

// One line of the table (`players`), with what the public table leaves out.
struct LineRecord {
  std::int64_t id = 0;
  Player player;
  int bestScore = 0;
  std::int64_t reachedAtMs = 0;
  std::int64_t reachedSubmission = 0;  // id of the log entry that reached best_score; orders ties
  bool operator==(const LineRecord&) const = default;
};

// One entry of the submission log (`submissions`).
struct LogRecord {
  std::int64_t id = 0;
  std::int64_t receivedAtMs = 0;
  std::string client;  // numeric address the submission came from
  Player player;
  int score = 0;
  std::optional<std::int64_t> playerId;     // its table line; empty once that line is removed
  std::optional<std::int64_t> removedAtMs;  // when an operator removed the line it belonged to
  bool operator==(const LogRecord&) const = default;
};

// A banned sender: an IPv4 address, or an IPv6 /64 written as BanKey writes it.
struct BanRecord {
  std::string network;
  std::string reason;
  std::int64_t createdAtMs = 0;
  bool operator==(const BanRecord&) const = default;
};

// A line with its place in the whole table (1 = best).
struct PlacedLine {
  std::int64_t place = 0;
  LineRecord line;
};

// Filters combine with AND; an empty/absent filter matches everything.
struct TableQuery {
  std::string name;         // bytes found anywhere in the first name or in the last name (case-sensitive)
  std::int64_t offset = 0;  // lines skipped, in rank order, after filtering
  std::int64_t limit = 100;
};

struct LogQuery {
  std::optional<std::int64_t> playerId;
  std::string client;                   // exact address text as stored; empty: any
  std::string name;                     // as in TableQuery
  std::optional<std::int64_t> sinceMs;  // received_at >= since
  std::optional<std::int64_t> untilMs;  // received_at < until
  std::int64_t afterId = 0;             // only entries with a greater id: the next page
  std::int64_t limit = 100;             // entries in ascending id order
};

// Which lines RemovePlayer takes: first and last name exactly, and addr/country if given.
struct PlayerMatch {
  std::string firstName;
  std::string lastName;
  std::optional<std::string> addr;
  std::optional<std::string> country;
};

struct Removal {
  std::int64_t lines = 0;       // table lines deleted
  std::int64_t logEntries = 0;  // log entries marked removed (none is deleted)
};

// Everything a store holds, as one consistent snapshot: lines by id, log by id, bans by network.
struct Dump {
  std::vector<LineRecord> lines;
  std::vector<LogRecord> log;
  std::vector<BanRecord> bans;
};

class AdminStore {
 public:
  virtual ~AdminStore() = default;

  // Lines in rank order (score descending, then reached_submission ascending), place counted
  // over the whole table before filtering.
  virtual Result<std::vector<PlacedLine>> ListTable(const TableQuery& query) = 0;
  virtual Result<std::vector<LogRecord>> ListLog(const LogQuery& query) = 0;

  // Deletes the line and marks its log entries removed (removed_at = now, player_id = NULL).
  // A line that does not exist is a failure ("no line N"). A later submission from the same
  // player starts a new line.
  virtual Result<Removal> RemoveLine(std::int64_t lineId, std::int64_t nowMs) = 0;
  // The same for every line that matches; matching none is not a failure (lines = 0).
  virtual Result<Removal> RemovePlayer(const PlayerMatch& match, std::int64_t nowMs) = 0;

  // True when the ban is new; false when the network was already banned (its reason is kept).
  virtual Result<bool> Ban(const BanRecord& ban) = 0;
  // True when a ban was lifted; false when there was none.
  virtual Result<bool> Unban(std::string_view network) = 0;
  virtual Result<std::vector<BanRecord>> ListBans() = 0;

  // Empties the client address and the postal address of every log entry received before then,
  // in small transactions so that submissions never wait long; the number of entries emptied.
  virtual Result<std::int64_t> ForgetAddresses(std::int64_t receivedBeforeMs) = 0;

  // Reads everything within one snapshot, consistent while the server keeps writing.
  virtual Result<Dump> Export() = 0;
  // Writes a dump, keeping its ids, in one transaction. Without `replace` it refuses a store that
  // holds any line, log entry or ban; with it, everything there is replaced. Afterwards new ids
  // continue above the greatest imported ones. The dump is checked by the caller (CheckDump).
  virtual Status Import(const Dump& dump, bool replace) = 0;
};

// The key a ban is stored and looked up under: an IPv4 address as it is, any IPv6 address as
// its /64 ("2001:db8:1:2::/64"), IPv4-mapped IPv6 as IPv4; the same keys the rate limit counts
// by. Accepts "ADDR" and, for IPv6, "ADDR/64". Anything else is an error.
Result<std::string> BanKey(std::string_view addressOrNetwork);

// How long the log keeps the addresses of a submission unless told otherwise: long enough for an
// operator to find and ban an abuser.
inline constexpr unsigned kDefaultKeepAddressesDays = 30;
inline constexpr std::int64_t kMsPerDay = 24LL * 60 * 60 * 1000;
// The log entries whose addresses are older than `days` lose them; the number of them.
Result<std::int64_t> ForgetOldAddresses(AdminStore& store, unsigned days, std::int64_t nowMs);

// Refuses a dump that a store could not hold as it stands: a field over 99 bytes, a score out of
// 1..100, a repeated id or player, a log entry tied to a missing line, a line whose
// reached_submission is above every log id (new submissions would rank before it), a bad ban key.
Status CheckDump(const Dump& dump);

// The store named by --db, for the admin commands: a SQLite file that must already exist (unless
// `create`), or a postgresql:// URL.
Result<std::unique_ptr<AdminStore>> OpenAdminStore(const std::string& db, bool create);

}  // namespace vesquin::scored
