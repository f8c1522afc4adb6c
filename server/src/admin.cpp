#include "admin.h"

#include <sys/stat.h>

#include <charconv>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "admin_json.h"
#include "admin_sqlite.h"
#include "admin_store.h"
#include "new_file.h"
#include "rate_limit.h"
#include "text.h"
#include "trusted_proxies.h"

namespace vesquin::scored {
namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr std::int64_t kPageSize = 1000;

struct UsageError {
  std::string what;
};

// The words of one command: positionals in order, and --key value / --key=value options.
struct Words {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;
  std::set<std::string> flags;
};

const std::set<std::string> kFlags = {"--replace", "--help"};

Words Split(const std::vector<std::string>& args) {
  Words w;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.rfind("--", 0) != 0 || a == "--") {
      w.positional.push_back(a);
      continue;
    }
    if (kFlags.count(a)) {
      w.flags.insert(a);
      continue;
    }
    std::string key = a, value;
    if (auto eq = a.find('='); eq != std::string::npos) {
      key = a.substr(0, eq);
      value = a.substr(eq + 1);
    } else {
      if (i + 1 >= args.size()) throw UsageError{a + " needs a value"};
      value = args[++i];
    }
    if (w.options.count(key)) throw UsageError{key + " given twice"};
    w.options[key] = value;
  }
  return w;
}

class Command {
 public:
  Command(Words words, std::vector<std::string> allowed, std::size_t minPositional, std::size_t maxPositional)
      : w_(std::move(words)) {
    for (const auto& [key, value] : w_.options)
      if (std::find(allowed.begin(), allowed.end(), key) == allowed.end())
        throw UsageError{"unknown option " + key + " for " + w_.positional[0]};
    for (const auto& flag : w_.flags)
      if (flag != "--help" && std::find(allowed.begin(), allowed.end(), flag) == allowed.end())
        throw UsageError{"unknown option " + flag + " for " + w_.positional[0]};
    std::size_t n = w_.positional.size() - 1;
    if (n < minPositional) throw UsageError{w_.positional[0] + ": too few arguments"};
    if (n > maxPositional)
      throw UsageError{w_.positional[0] + ": unexpected argument '" + w_.positional[n] + "'"};
  }
  const std::string* Option(const std::string& key) const {
    auto it = w_.options.find(key);
    return it == w_.options.end() ? nullptr : &it->second;
  }
  bool Flag(const std::string& flag) const { return w_.flags.count(flag) > 0; }
  const std::string& Arg(std::size_t i) const { return w_.positional.at(i + 1); }
  std::size_t Args() const { return w_.positional.size() - 1; }

 private:
  Words w_;
};

std::int64_t Number(const std::string& text, const std::string& what, std::int64_t min) {
  std::int64_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc{} || end != text.data() + text.size() || v < min)
    throw UsageError{"bad value for " + what + ": '" + text + "'"};
  return v;
}

// "2026-12-09", "2026-12-09T10:30" or "2026-12-09T10:30:00", with or without a trailing Z; always UTC.
std::int64_t ParseTime(const std::string& text, const std::string& what) {
  std::string t = text;
  if (t.size() > 10 && t.back() == 'Z') t.pop_back();
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, used = 0;
  bool ok = false;
  if (t.size() == 10)
    ok = std::sscanf(t.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &used) == 3;
  else if (t.size() == 16)
    ok = std::sscanf(t.c_str(), "%4d-%2d-%2dT%2d:%2d%n", &y, &mo, &d, &h, &mi, &used) == 5;
  else if (t.size() == 19)
    ok = std::sscanf(t.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &s, &used) == 6;
  ok = ok && used == static_cast<int>(t.size()) && t[4] == '-' && t[7] == '-';
  if (!ok || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59)
    throw UsageError{"bad time for " + what + ": '" + text +
                     "' (use YYYY-MM-DD or YYYY-MM-DDTHH:MM:SSZ, UTC)"};
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  return static_cast<std::int64_t>(timegm(&tm)) * 1000;
}

std::string Time(std::int64_t ms) {
  std::time_t t = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms % 1000));
  return buf;
}

// Fields are shown escaped, as in the server's log: a player's bytes never reach the terminal raw.
std::string Fields(const Player& p) {
  return EscapeForLog(p.firstName) + "\t" + EscapeForLog(p.lastName) + "\t" + EscapeForLog(p.addr) + "\t" +
         EscapeForLog(p.country);
}

struct Context {
  std::string db;
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  std::int64_t nowMs;
};

std::unique_ptr<AdminStore> OpenOrReport(const Context& c, const std::string& db, bool create) {
  auto store = OpenAdminStore(db, create);
  if (!store) {
    c.err << "vesquin-scored admin: " << store.Error() << "\n";
    return nullptr;
  }
  return std::move(*store);
}

int Failed(const Context& c, const std::string& why) {
  c.err << "vesquin-scored admin: " << why << "\n";
  return kFailed;
}

int Table(const Context& c, const Command& cmd) {
  TableQuery q;
  if (auto v = cmd.Option("--name")) q.name = *v;
  if (auto v = cmd.Option("--offset")) q.offset = Number(*v, "--offset", 0);
  if (auto v = cmd.Option("--limit")) q.limit = Number(*v, "--limit", 1);
  auto store = OpenOrReport(c, c.db, false);
  if (!store) return kFailed;
  auto lines = store->ListTable(q);
  if (!lines) return Failed(c, lines.Error());
  c.out << "place\tline\tscore\treached\tfirst_name\tlast_name\taddr\tcountry\n";
  for (const PlacedLine& p : *lines)
    c.out << p.place << "\t" << p.line.id << "\t" << p.line.bestScore << "\t" << Time(p.line.reachedAtMs)
          << "\t" << Fields(p.line.player) << "\n";
  return kDone;
}

int Log(const Context& c, const Command& cmd) {
  LogQuery q;
  std::int64_t limit = 100;
  std::string network;  // a /64: matched here, since the stored text of its addresses varies
  if (auto v = cmd.Option("--line")) q.playerId = Number(*v, "--line", 1);
  if (auto v = cmd.Option("--name")) q.name = *v;
  if (auto v = cmd.Option("--since")) q.sinceMs = ParseTime(*v, "--since");
  if (auto v = cmd.Option("--until")) q.untilMs = ParseTime(*v, "--until");
  if (auto v = cmd.Option("--after")) q.afterId = Number(*v, "--after", 0);
  if (auto v = cmd.Option("--limit")) limit = Number(*v, "--limit", 1);
  if (auto v = cmd.Option("--client")) {
    if (v->find('/') != std::string::npos) {
      auto key = BanKey(*v);
      if (!key) throw UsageError{"--client: " + key.Error()};
      network = *key;
    } else {
      auto canonical = CanonicalAddress(*v);
      if (!canonical) throw UsageError{"--client: '" + *v + "' is not an IP address"};
      q.client = *canonical;
    }
  }
  auto store = OpenOrReport(c, c.db, false);
  if (!store) return kFailed;
  c.out << "entry\treceived\tclient\tscore\tline\tremoved\tfirst_name\tlast_name\taddr\tcountry\n";
  std::int64_t shown = 0;
  q.limit = network.empty() ? limit : kPageSize;
  while (shown < limit) {
    auto page = store->ListLog(q);
    if (!page) return Failed(c, page.Error());
    for (const LogRecord& r : *page) {
      q.afterId = r.id;
      if (!network.empty() && RateLimitKey(r.client) != network) continue;
      c.out << r.id << "\t" << Time(r.receivedAtMs) << "\t" << EscapeForLog(r.client) << "\t" << r.score
            << "\t" << (r.playerId ? std::to_string(*r.playerId) : "-") << "\t"
            << (r.removedAtMs ? Time(*r.removedAtMs) : "-") << "\t" << Fields(r.player) << "\n";
      if (++shown == limit) break;
    }
    if (static_cast<std::int64_t>(page->size()) < q.limit || network.empty()) break;
  }
  return kDone;
}

void Report(const Context& c, const Removal& r) {
  c.out << "removed " << r.lines << (r.lines == 1 ? " line" : " lines") << "; " << r.logEntries
        << (r.logEntries == 1 ? " log entry" : " log entries") << " kept, marked removed\n";
}

int RemoveLine(const Context& c, const Command& cmd) {
  std::int64_t id = Number(cmd.Arg(0), "the line", 1);
  auto store = OpenOrReport(c, c.db, false);
  if (!store) return kFailed;
  auto removal = store->RemoveLine(id, c.nowMs);
  if (!removal) return Failed(c, removal.Error());
  Report(c, *removal);
  return kDone;
}

int RemovePlayer(const Context& c, const Command& cmd) {
  PlayerMatch m;
  auto first = cmd.Option("--first-name");
  auto last = cmd.Option("--last-name");
  if (!first || !last) throw UsageError{"remove-player needs --first-name and --last-name"};
  m.firstName = *first;
  m.lastName = *last;
  if (auto v = cmd.Option("--addr")) m.addr = *v;
  if (auto v = cmd.Option("--country")) m.country = *v;
  auto store = OpenOrReport(c, c.db, false);
  if (!store) return kFailed;
  auto removal = store->RemovePlayer(m, c.nowMs);
  if (!removal) return Failed(c, removal.Error());
  if (removal->lines == 0) return Failed(c, "no line has those details");
  Report(c, *removal);
  return kDone;
}

std::string KeyOrThrow(const std::string& text) {
  auto key = BanKey(text);
  if (!key) throw UsageError{key.Error()};
  return *key;
}

int Ban(const Context& c, const Command& cmd) {
  BanRecord ban{KeyOrThrow(cmd.Arg(0)), cmd.Option("--reason") ? *cmd.Option("--reason") : "", c.nowMs};
  auto store = OpenOrReport(c, c.db, false);
  if (!store) return kFailed;
  auto added = store->Ban(ban);
  if (!added) return Failed(c, added.Error());
  c.out << (*added ? "banned " : "already banned: ") << ban.network << "\n";
  return kDone;
}

int Unban(const Context& c, const Command& cmd) {
  std::string key = KeyOrThrow(cmd.Arg(0));
  auto store = OpenOrReport(c, c.db, false);
  if (!store) return kFailed;
  auto lifted = store->Unban(key);
  if (!lifted) return Failed(c, lifted.Error());
  if (!*lifted) return Failed(c, "no ban on " + key);
  c.out << "unbanned " << key << "\n";
  return kDone;
}

int Bans(const Context& c, const Command&) {
  auto store = OpenOrReport(c, c.db, false);
  if (!store) return kFailed;
  auto bans = store->ListBans();
  if (!bans) return Failed(c, bans.Error());
  c.out << "network\tsince\treason\n";
  for (const BanRecord& b : *bans)
    c.out << b.network << "\t" << Time(b.createdAtMs) << "\t" << EscapeForLog(b.reason) << "\n";
  return kDone;
}

int Purge(const Context& c, const Command& cmd) {
  std::int64_t days = kDefaultKeepAddressesDays;
  if (auto v = cmd.Option("--keep-addresses")) days = Number(*v, "--keep-addresses", 1);
  auto store = OpenOrReport(c, c.db, false);
  if (!store) return kFailed;
  auto forgotten = ForgetOldAddresses(*store, static_cast<unsigned>(days), c.nowMs);
  if (!forgotten) return Failed(c, forgotten.Error());
  c.out << "forgot the addresses of " << *forgotten << " log entries older than " << days << " days\n";
  return kDone;
}

std::string Summary(const Dump& d) {
  return std::to_string(d.lines.size()) + " lines, " + std::to_string(d.log.size()) + " log entries, " +
         std::to_string(d.bans.size()) + " bans";
}

// Written beside the target and linked into place once complete, so a failure leaves no half file.
Status WriteNewFile(const std::string& path, const std::string& bytes) {
  auto file = NewFile::Create(path);
  if (!file) return Status::Fail(file.Error());
  if (auto st = file->Write(bytes); !st) return st;
  return file->Commit();
}

int Export(const Context& c, const Command& cmd) {
  std::string target = cmd.Args() > 0 ? cmd.Arg(0) : "-";
  auto store = OpenOrReport(c, c.db, false);
  if (!store) return kFailed;
  auto dump = store->Export();
  if (!dump) return Failed(c, dump.Error());
  std::string json = DumpToJson(*dump);
  if (target == "-") {
    c.out << json;
    c.out.flush();
    if (!c.out) return Failed(c, "cannot write the export");
  } else if (auto st = WriteNewFile(target, json); !st) {
    return Failed(c, st.error);
  }
  c.err << "exported " << Summary(*dump) << "\n";
  return kDone;
}

// Copies a checked dump into a store, then reads it back: a copy that does not match is reported.
int Load(const Context& c, const Dump& dump, const std::string& db, bool replace) {
  if (auto st = CheckDump(dump); !st) return Failed(c, "refused, nothing imported: " + st.error);
  auto target = OpenOrReport(c, db, true);
  if (!target) return kFailed;
  if (auto st = target->Import(dump, replace); !st)
    return Failed(c, "refused, nothing imported: " + st.error);
  auto back = target->Export();
  if (!back) return Failed(c, "imported, but cannot read it back: " + back.Error());
  // A server writing meanwhile may have added entries; what was imported must be there unchanged.
  bool same = back->lines.size() >= dump.lines.size() && back->log.size() >= dump.log.size() &&
              std::equal(dump.log.begin(), dump.log.end(), back->log.begin());
  if (!same) return Failed(c, "imported, but the store does not read back the same");
  c.out << "imported " << Summary(dump) << "\n";
  return kDone;
}

int Import(const Context& c, const Command& cmd) {
  const std::string& source = cmd.Arg(0);
  std::string text;
  if (source == "-") {
    text.assign(std::istreambuf_iterator<char>(c.in), std::istreambuf_iterator<char>());
  } else {
    std::ifstream f(source, std::ios::binary);
    if (!f) return Failed(c, "cannot read " + source);
    text.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    if (f.bad()) return Failed(c, "cannot read " + source);
  }
  auto dump = DumpFromJson(text);
  if (!dump) return Failed(c, "refused, nothing imported: " + dump.Error());
  // The target must exist like any other admin target; importing is no way to create a mistyped file.
  if (!OpenOrReport(c, c.db, false)) return kFailed;
  return Load(c, *dump, c.db, cmd.Flag("--replace"));
}

int Migrate(const Context& c, const Command& cmd) {
  auto to = cmd.Option("--to");
  if (!to) throw UsageError{"migrate needs --to DB"};
  if (*to == c.db) throw UsageError{"migrate: --to names the source itself"};
  auto source = OpenOrReport(c, c.db, false);
  if (!source) return kFailed;
  auto dump = source->Export();
  if (!dump) return Failed(c, dump.Error());
  return Load(c, *dump, *to, cmd.Flag("--replace"));
}

int Backup(const Context& c, const Command& cmd) {
  if (c.db.find("://") != std::string::npos)
    return Failed(c, "backup copies a SQLite file; back a PostgreSQL database up with pg_dump");
  struct stat st {};
  if (::stat(c.db.c_str(), &st) != 0) return Failed(c, c.db + ": no such database file");
  auto store = SqliteAdminStore::Open(c.db);
  if (!store) return Failed(c, store.Error());
  if (auto done = (*store)->Backup(cmd.Arg(0)); !done) return Failed(c, done.error);
  c.out << "backed up " << c.db << " to " << cmd.Arg(0) << "\n";
  return kDone;
}

struct CommandEntry {
  std::vector<std::string> options;
  std::size_t minArgs, maxArgs;
  std::function<int(const Context&, const Command&)> run;
};

const std::map<std::string, CommandEntry>& Commands() {
  static const std::map<std::string, CommandEntry> commands = {
      {"table", {{"--name", "--offset", "--limit"}, 0, 0, Table}},
      {"log", {{"--line", "--client", "--name", "--since", "--until", "--after", "--limit"}, 0, 0, Log}},
      {"remove-line", {{}, 1, 1, RemoveLine}},
      {"remove-player", {{"--first-name", "--last-name", "--addr", "--country"}, 0, 0, RemovePlayer}},
      {"ban", {{"--reason"}, 1, 1, Ban}},
      {"unban", {{}, 1, 1, Unban}},
      {"bans", {{}, 0, 0, Bans}},
      {"export", {{}, 0, 1, Export}},
      {"import", {{"--replace"}, 1, 1, Import}},
      {"migrate", {{"--to", "--replace"}, 0, 0, Migrate}},
      {"backup", {{}, 1, 1, Backup}},
      {"purge", {{"--keep-addresses"}, 0, 0, Purge}},
  };
  return commands;
}

}  // namespace

std::string AdminUsage() {
  return "usage: vesquin-scored admin [--db DB] COMMAND [options]\n"
         "  DB is a SQLite file (default ./scores.db) or a postgresql:// URL; it must exist.\n"
         "  table [--name TEXT] [--offset N] [--limit N]   lines in rank order (default 100)\n"
         "  log [--line ID] [--client ADDR|ADDR/64] [--name TEXT] [--since TIME] [--until TIME]\n"
         "      [--after ENTRY] [--limit N]                 the submission log, oldest first\n"
         "  remove-line ID                                  delete a line; its log entries are kept\n"
         "  remove-player --first-name F --last-name L [--addr A] [--country C]\n"
         "                                                  delete every line of that player; log kept\n"
         "  ban ADDR|ADDR/64 [--reason TEXT]                refuse submissions (an IPv6 address bans its "
         "/64)\n"
         "  unban ADDR|ADDR/64\n"
         "  bans                                            list the bans\n"
         "  export [FILE]                                   lines, log and bans as JSON (default stdout)\n"
         "  import FILE|- [--replace]                       load an export into an empty store (or replace "
         "it)\n"
         "  migrate --to DB [--replace]                     copy everything into another store\n"
         "  backup FILE                                     a consistent copy of a SQLite file, while it is "
         "in use\n"
         "  purge [--keep-addresses DAYS]                   empty the client and postal addresses of log\n"
         "                                                  entries older than DAYS (default 30)\n"
         "  TIME is YYYY-MM-DD or YYYY-MM-DDTHH:MM:SSZ (UTC). --name matches part of a first or last name.\n"
         "  Exit status: 0 done, 1 refused or failed (nothing changed), 2 usage error.\n";
}

int RunAdmin(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err,
             std::int64_t nowMs) {
  try {
    // --db may stand before or after the command.
    std::vector<std::string> rest;
    std::string db = "scores.db";
    bool dbGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
      std::string value;
      if (args[i] == "--db") {
        if (i + 1 >= args.size()) throw UsageError{"--db needs a value"};
        value = args[++i];
      } else if (args[i].rfind("--db=", 0) == 0) {
        value = args[i].substr(5);
      } else {
        rest.push_back(args[i]);
        continue;
      }
      if (dbGiven) throw UsageError{"--db given twice"};
      if (value.empty()) throw UsageError{"--db needs a value"};
      db = value;
      dbGiven = true;
    }
    Words words = Split(rest);
    if (words.positional.empty()) {
      if (words.flags.count("--help")) {
        out << AdminUsage();
        return kDone;
      }
      throw UsageError{"no command given"};
    }
    auto it = Commands().find(words.positional[0]);
    if (it == Commands().end()) throw UsageError{"unknown command " + words.positional[0]};
    if (words.flags.count("--help")) {
      out << AdminUsage();
      return kDone;
    }
    const CommandEntry& entry = it->second;
    Command cmd(std::move(words), entry.options, entry.minArgs, entry.maxArgs);
    Context c{db, in, out, err, nowMs};
    return entry.run(c, cmd);
  } catch (const UsageError& e) {
    err << "vesquin-scored admin: " << e.what << "\n" << AdminUsage();
    return kUsage;
  } catch (const std::exception& e) {
    err << "vesquin-scored admin: " << e.what() << "\n";
    return kFailed;
  }
}

}  // namespace vesquin::scored
