#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "admin.h"
#include "admin_contract.h"
#include "admin_json.h"
#include "admin_sqlite.h"
#include "service.h"
#include "sqlite_store.h"
#include "support.h"

namespace vesquin::scored {
namespace {

using testing::AdminContract;
using testing::AdminFactory;
using testing::MakePlayer;
using testing::StorePair;
using testing::TempDir;

// Each factory call gives a new file in a folder that outlives the test's stores.
Result<StorePair> FreshSqlite() {
  static TempDir dir;
  static std::atomic<int> n{0};
  std::string path = dir.File("contract" + std::to_string(n++) + ".db");
  auto store = SqliteStore::Open(path);
  if (!store) return Result<StorePair>::Fail(store.Error());
  auto admin = SqliteAdminStore::Open(path);
  if (!admin) return Result<StorePair>::Fail(admin.Error());
  return Result<StorePair>::Ok(StorePair{std::move(*store), std::move(*admin)});
}

INSTANTIATE_TEST_SUITE_P(Sqlite, AdminContract, ::testing::Values(AdminFactory{"sqlite", FreshSqlite}),
                         [](const auto& info) { return info.param.name; });

TEST(BanKey, AnAddressOrAnIpv6SixtyFour) {
  EXPECT_EQ(*BanKey("192.0.2.7"), "192.0.2.7");
  EXPECT_EQ(*BanKey("::ffff:192.0.2.7"), "192.0.2.7");
  EXPECT_EQ(*BanKey("2001:DB8:1:2:aaaa::5"), "2001:db8:1:2::/64") << "an IPv6 address stands for its /64";
  EXPECT_EQ(*BanKey("2001:db8:1:2::/64"), "2001:db8:1:2::/64");
  EXPECT_FALSE(BanKey("192.0.2.0/24"));
  EXPECT_FALSE(BanKey("192.0.2.7/64"));
  EXPECT_FALSE(BanKey("2001:db8::/48"));
  EXPECT_FALSE(BanKey("example.org"));
  EXPECT_FALSE(BanKey(""));
}

Dump SmallDump() {
  Dump d;
  d.log = {{1, 1000, "192.0.2.1", MakePlayer("Ann"), 50, 1, std::nullopt},
           {2, 2000, "192.0.2.1", MakePlayer("Bob"), 60, std::nullopt, 2500}};
  d.lines = {{1, MakePlayer("Ann"), 50, 1000, 1}};
  d.bans = {{"2001:db8::/64", "spam", 3000}};
  return d;
}

TEST(CheckDump, RefusesWhatAStoreCouldNotHold) {
  EXPECT_TRUE(CheckDump(SmallDump()));
  auto refused = [](auto change) {
    Dump d = SmallDump();
    change(d);
    return !CheckDump(d).ok;
  };
  EXPECT_TRUE(refused([](Dump& d) { d.log[1].id = 1; }));
  EXPECT_TRUE(refused([](Dump& d) { d.log[0].score = 101; }));
  EXPECT_TRUE(refused([](Dump& d) { d.lines[0].bestScore = 0; }));
  EXPECT_TRUE(refused([](Dump& d) { d.lines[0].player.addr = std::string(100, 'a'); }));
  EXPECT_FALSE(refused([](Dump& d) { d.log[0].player.firstName = d.lines[0].player.firstName = "Ann\r"; }))
      << "as an earlier server may have stored it";
  EXPECT_TRUE(refused([](Dump& d) {
    d.lines.push_back({2, MakePlayer("Ann"), 40, 1, 2});
  })) << "same player twice";
  EXPECT_TRUE(refused([](Dump& d) { d.log[1].playerId = 9; })) << "tied to no line";
  EXPECT_TRUE(refused([](Dump& d) { d.lines[0].reachedSubmission = 3; })) << "would rank after newcomers";
  EXPECT_TRUE(refused([](Dump& d) { d.log.clear(); }));
  EXPECT_TRUE(refused([](Dump& d) { d.bans[0].network = "2001:DB8::/64"; })) << "not the stored form";
  EXPECT_TRUE(refused([](Dump& d) { d.bans.push_back(d.bans[0]); }));
}

TEST(DumpJson, RoundTripsEveryByteAndRefusesBadDocuments) {
  Dump d = SmallDump();
  d.lines[0].player.firstName = "Z\xE9lie";  // not UTF-8
  d.log[0].player.firstName = "Z\xE9lie";
  d.log[1].player.country = "\xC3\x89tats";  // UTF-8
  std::string json = DumpToJson(d);
  EXPECT_NE(json.find(R"("hex")"), std::string::npos);
  EXPECT_NE(json.find("\xC3\x89tats"), std::string::npos) << "UTF-8 stays readable";
  auto back = DumpFromJson(json);
  ASSERT_TRUE(back) << back.Error();
  EXPECT_EQ(back->lines, d.lines);
  EXPECT_EQ(back->log, d.log);
  EXPECT_EQ(back->bans, d.bans);

  auto errorOf = [](const std::string& text) {
    auto r = DumpFromJson(text);
    return r ? std::string("accepted") : r.Error();
  };
  EXPECT_NE(errorOf("{\"format\": ").find("not JSON"), std::string::npos);
  EXPECT_NE(errorOf(R"({"format": 1e96805252582})").find("not JSON"), std::string::npos)
      << "a number too large for a double is refused, not thrown";
  EXPECT_NE(errorOf("[]").find("not a score table export"), std::string::npos);
  std::string head = R"({"format":"vesquin-scores","version":1,)";
  EXPECT_EQ(errorOf(head + R"("lines":[],"log":[{"id":"1"}],"bans":[]})"), "log[0].id: expected an integer");
  EXPECT_EQ(errorOf(head + R"("lines":[],"log":[],"bans":[{"network":"1.2.3.4","created_at":1}]})"),
            "bans[0].reason: missing");
  EXPECT_EQ(errorOf(head + R"("lines":{},"log":[],"bans":[]})"), "lines: expected an array");
  EXPECT_EQ(errorOf(head + R"("lines":[{"id":1,"first_name":{"hex":"4"}}],"log":[],"bans":[]})"),
            "lines[0].first_name.hex: odd number of digits");
  EXPECT_EQ(errorOf(R"({"format":"vesquin-scores","version":2,"lines":[],"log":[],"bans":[]})"),
            "an export of another format version");
}

// The command line, run in the test process.
struct Outcome {
  int status;
  std::string out, err;
};

Outcome Admin(std::vector<std::string> args, const std::string& input = "") {
  std::istringstream in(input);
  std::ostringstream out, err;
  int status = RunAdmin(args, in, out, err, 1'800'000'000'000);
  return {status, out.str(), err.str()};
}

class AdminCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = dir_.File("scores.db");
    auto s = SqliteStore::Open(db_);
    ASSERT_TRUE(s) << s.Error();
    store_ = std::move(*s);
    for (auto [name, score] : {std::pair{"Ann", 50}, {"Bob", 70}, {"Cy", 60}})
      ASSERT_TRUE(store_->Submit({MakePlayer(name), score}, "192.0.2.1", ++clockMs_));
    ASSERT_TRUE(store_->Submit({MakePlayer("Dee"), 40}, "2001:db8:0:1::7", ++clockMs_));
  }
  std::string Table() { return Admin({"--db", db_, "table"}).out; }

  TempDir dir_;
  std::string db_;
  std::unique_ptr<SqliteStore> store_;
  std::int64_t clockMs_ = 1'700'000'000'000;
};

TEST_F(AdminCommand, UsageErrorsExitTwoAndChangeNothing) {
  std::string before = Table();
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--db", db_},
           {"--db", db_, "frobnicate"},
           {"--db", db_, "remove-line"},
           {"--db", db_, "remove-line", "x"},
           {"--db", db_, "remove-line", "1", "2"},
           {"--db", db_, "table", "--limit", "0"},
           {"--db", db_, "table", "--colour", "red"},
           {"--db", db_, "log", "--since", "yesterday"},
           {"--db", db_, "ban", "192.0.2.0/24"},
           {"--db", db_, "remove-player", "--first-name", "Ann"},
           {"--db", db_, "--db", db_, "table"},
       }) {
    Outcome r = Admin(args);
    EXPECT_EQ(r.status, 2) << args.back() << ": " << r.err;
    EXPECT_NE(r.err.find("usage:"), std::string::npos);
  }
  EXPECT_EQ(Table(), before);
  EXPECT_EQ(Admin({"admin", "--help"}).status, 2) << "'admin' is not a command of its own";
  EXPECT_EQ(Admin({"--help"}).status, 0);
}

TEST_F(AdminCommand, AMissingFileIsAFailureAndIsNotCreated) {
  std::string missing = dir_.File("typo.db");
  for (const char* command : {"table", "log", "bans", "export", "backup"}) {
    std::vector<std::string> args = {"--db", missing, command};
    if (std::string(command) == "backup") args.push_back(dir_.File("b.db"));
    Outcome r = Admin(args);
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_NE(r.err.find("no such database file"), std::string::npos) << r.err;
  }
  EXPECT_EQ(Admin({"--db", missing, "import", "-"}, DumpToJson(SmallDump())).status, 1);
  EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(AdminCommand, ListsTheTableAndTheLogWithFilters) {
  Outcome t = Admin({"--db", db_, "table", "--limit", "2"});
  ASSERT_EQ(t.status, 0) << t.err;
  std::istringstream lines(t.out);
  std::string header, first, second, extra;
  std::getline(lines, header);
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_FALSE(std::getline(lines, extra));
  EXPECT_EQ(first.substr(0, first.find("\tBob")), "1\t2\t70\t2023-11-14T22:13:20.002Z");
  EXPECT_NE(second.find("\tCy\t"), std::string::npos);

  Outcome sixtyFour = Admin({"--db", db_, "log", "--client", "2001:db8:0:1::/64"});
  ASSERT_EQ(sixtyFour.status, 0) << sixtyFour.err;
  EXPECT_NE(sixtyFour.out.find("\tDee\t"), std::string::npos);
  EXPECT_EQ(sixtyFour.out.find("\tAnn\t"), std::string::npos);
  Outcome one = Admin({"--db", db_, "log", "--client", "192.0.2.1", "--limit", "1"});
  EXPECT_NE(one.out.find("\tAnn\t"), std::string::npos);
  EXPECT_EQ(one.out.find("\tBob\t"), std::string::npos);
  Outcome late = Admin({"--db", db_, "log", "--since", "2023-11-14T22:13:20.003Z"});
  EXPECT_EQ(late.status, 2) << "milliseconds are not part of the time syntax";
  Outcome day = Admin({"--db", db_, "log", "--since", "2023-11-14", "--until", "2023-11-15"});
  EXPECT_EQ(std::count(day.out.begin(), day.out.end(), '\n'), 5);
}

TEST_F(AdminCommand, FieldsAreShownEscaped) {
  ASSERT_TRUE(store_->Submit({MakePlayer("Tab\tTer"), 90}, "192.0.2.1", ++clockMs_));
  ASSERT_TRUE(store_->Submit({MakePlayer("\x1b[2J"), 91}, "192.0.2.1", ++clockMs_));
  std::string out = Table();
  EXPECT_NE(out.find("Tab\\x09Ter"), std::string::npos);
  EXPECT_EQ(out.find('\x1b'), std::string::npos);
}

TEST_F(AdminCommand, BanStopsSubmissionsThroughTheService) {
  Service service(*store_, ServiceOptions{});
  auto submit = [&service](const std::string& client) {
    std::string uri = "/vesquin/top1.php?" + testing::GameQuery(MakePlayer("Eve"), 99);
    HttpRequest request{"GET", uri, client};
    std::promise<HttpResponse> got;
    service.Handle(request, [&got](HttpResponse r) { got.set_value(std::move(r)); });
    return got.get_future().get().status;
  };
  EXPECT_EQ(Admin({"--db", db_, "ban", "2001:db8:0:1::9", "--reason", "cheating"}).out,
            "banned 2001:db8:0:1::/64\n");
  EXPECT_EQ(Admin({"--db", db_, "ban", "::ffff:192.0.2.66"}).out, "banned 192.0.2.66\n");
  EXPECT_EQ(Admin({"--db", db_, "ban", "192.0.2.66"}).out, "already banned: 192.0.2.66\n");
  EXPECT_EQ(submit("2001:db8:0:1:ffff::1"), 403u) << "the whole /64";
  EXPECT_EQ(submit("192.0.2.66"), 403u);
  EXPECT_EQ(submit("::ffff:192.0.2.66"), 403u);
  EXPECT_EQ(store_->Counts()->submissions, 4) << "nothing stored from a banned sender";
  EXPECT_EQ(submit("2001:db8:0:2::1"), 200u);
  Outcome bans = Admin({"--db", db_, "bans"});
  EXPECT_NE(bans.out.find("2001:db8:0:1::/64\t"), std::string::npos);
  EXPECT_NE(bans.out.find("\tcheating\n"), std::string::npos);
  EXPECT_EQ(Admin({"--db", db_, "unban", "192.0.2.66"}).status, 0);
  EXPECT_EQ(Admin({"--db", db_, "unban", "192.0.2.66"}).status, 1);
  EXPECT_EQ(submit("192.0.2.66"), 200u);
}

TEST_F(AdminCommand, RemoveCommandsReportWhatTheyDid) {
  Outcome r = Admin({"--db", db_, "remove-line", "2"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "removed 1 line; 1 log entry kept, marked removed\n");
  EXPECT_EQ(Admin({"--db", db_, "remove-line", "2"}).status, 1);
  EXPECT_EQ(Admin({"--db", db_, "remove-player", "--first-name", "Nobody", "--last-name", "Tester"}).status,
            1);
  Outcome p =
      Admin({"--db", db_, "remove-player", "--first-name=Ann", "--last-name=Tester", "--country", "Nowhere"});
  EXPECT_EQ(p.status, 0) << p.err;
  EXPECT_EQ(*store_->PlaceInTopTen(MakePlayer("Cy")), 1);
  Outcome log = Admin({"--db", db_, "log"});
  EXPECT_EQ(std::count(log.out.begin(), log.out.end(), '\n'), 5) << "all four entries kept";
}

TEST_F(AdminCommand, ImportRefusesBadJsonWithoutTouchingTheTable) {
  Outcome exported = Admin({"--db", db_, "export"});
  ASSERT_EQ(exported.status, 0) << exported.err;
  std::string before = Table();
  std::string broken = exported.out.substr(0, exported.out.size() / 2);
  std::string badScore = exported.out;
  badScore.replace(badScore.find("\"score\":50"), 10, "\"score\":500");
  for (const std::string& text : {broken, badScore, std::string("")}) {
    Outcome r = Admin({"--db", db_, "import", "--replace", "-"}, text);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("refused, nothing imported"), std::string::npos) << r.err;
  }
  EXPECT_EQ(Table(), before);
  Outcome notEmpty = Admin({"--db", db_, "import", "-"}, exported.out);
  EXPECT_EQ(notEmpty.status, 1);
  EXPECT_NE(notEmpty.err.find("not empty"), std::string::npos);
  // Replacing a table a server holds would delete what it answered meanwhile.
  Outcome whileServed = Admin({"--db", db_, "import", "--replace", "-"}, exported.out);
  EXPECT_EQ(whileServed.status, 1);
  EXPECT_NE(whileServed.err.find("is being served"), std::string::npos) << whileServed.err;
  store_.reset();
  Outcome replaced = Admin({"--db", db_, "import", "--replace", "-"}, exported.out);
  EXPECT_EQ(replaced.status, 0) << replaced.err;
  EXPECT_EQ(Table(), before);
}

TEST_F(AdminCommand, ExportToAFileNeverOverwrites) {
  std::string file = dir_.File("table.json");
  ASSERT_EQ(Admin({"--db", db_, "export", file}).status, 0);
  auto size = std::filesystem::file_size(file);
  Outcome again = Admin({"--db", db_, "export", file});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("already exists"), std::string::npos);
  EXPECT_EQ(std::filesystem::file_size(file), size);
  std::string empty = dir_.File("empty.db");
  ASSERT_TRUE(SqliteAdminStore::Open(empty));
  Outcome imported = Admin({"--db", empty, "import", file});
  EXPECT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(imported.out, "imported 4 lines, 4 log entries, 0 bans\n");
}

TEST_F(AdminCommand, PurgeForgetsTheAddressesOfOldLogEntriesOnly) {
  const std::int64_t now = 1'800'000'000'000;  // what Admin() takes as now
  ASSERT_TRUE(store_->Submit({MakePlayer("Eve"), 30}, "192.0.2.5", now - 29 * kMsPerDay));
  Outcome purged = Admin({"--db", db_, "purge", "--keep-addresses", "30"});
  EXPECT_EQ(purged.status, 0) << purged.err;
  EXPECT_EQ(purged.out, "forgot the addresses of 4 log entries older than 30 days\n");
  auto admin = SqliteAdminStore::Open(db_);
  ASSERT_TRUE(admin);
  auto log = (*admin)->ListLog({});
  ASSERT_EQ(log->size(), 5u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ((*log)[i].client, "");
    EXPECT_EQ((*log)[i].player.addr, "");
    EXPECT_NE((*log)[i].player.firstName, "") << "names and scores stay";
  }
  EXPECT_EQ(log->back().client, "192.0.2.5");
  EXPECT_EQ(log->back().player.addr, "1 Road");
  EXPECT_EQ(Admin({"--db", db_, "purge"}).out, "forgot the addresses of 0 log entries older than 30 days\n");
  EXPECT_EQ(*store_->PlaceInTopTen(MakePlayer("Bob")), 1) << "the table keeps every player's details";
}

TEST_F(AdminCommand, FilesItMakesAreTheOwnersAloneAndNeverGoThroughALinkInTheirWay) {
  const mode_t old = ::umask(022);
  const std::string fresh = dir_.File("fresh.db"), json = dir_.File("t.json"), copy = dir_.File("copy.db");
  {
    auto store = SqliteStore::Open(fresh);
    ASSERT_TRUE(store);
    ASSERT_TRUE((*store)->Submit({MakePlayer("Ann"), 5}, "192.0.2.1", 1));
    for (const std::string& f : {fresh, fresh + "-wal", fresh + "-shm"})
      EXPECT_EQ(std::filesystem::status(f).permissions(), std::filesystem::perms(0600)) << f;
  }
  // Planted where the old commands wrote their partial files: neither followed nor removed.
  const std::string victim = dir_.File("victim");
  std::ofstream(victim) << "keep";
  std::filesystem::create_symlink(victim, json + ".partial");
  std::ofstream(copy + ".partial") << "someone's";
  EXPECT_EQ(Admin({"--db", db_, "export", json}).status, 0);
  EXPECT_EQ(Admin({"--db", db_, "backup", copy}).status, 0);
  ::umask(old);
  for (const std::string& f : {json, copy})
    EXPECT_EQ(std::filesystem::status(f).permissions(), std::filesystem::perms(0600)) << f;
  std::ifstream kept(victim), partial(copy + ".partial");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(partial), {}), "someone's");
}

TEST_F(AdminCommand, MigrateCopiesEverythingIntoANewStore) {
  ASSERT_EQ(Admin({"--db", db_, "ban", "198.51.100.4"}).status, 0);
  ASSERT_EQ(Admin({"--db", db_, "remove-line", "1"}).status, 0);
  std::string target = dir_.File("copy.db");
  Outcome m = Admin({"--db", db_, "migrate", "--to", target});
  ASSERT_EQ(m.status, 0) << m.err;
  EXPECT_EQ(m.out, "imported 3 lines, 4 log entries, 1 bans\n");
  EXPECT_EQ(Admin({"--db", target, "export"}).out, Admin({"--db", db_, "export"}).out);
  EXPECT_EQ(Admin({"--db", db_, "migrate", "--to", target}).status, 1) << "the target is no longer empty";
  EXPECT_EQ(Admin({"--db", db_, "migrate", "--to", db_}).status, 2);
  EXPECT_EQ(Admin({"--db", db_, "migrate", "--to", "postgresql://nowhere/none"}).status, 1);
}

// Every line of a copy must have the log entry that reached its score: a copy of one instant.
void ExpectConsistent(const std::string& path) {
  auto copy = SqliteAdminStore::Open(path);
  ASSERT_TRUE(copy) << copy.Error();
  auto dump = (*copy)->Export();
  ASSERT_TRUE(dump);
  EXPECT_TRUE(CheckDump(*dump)) << CheckDump(*dump).error;
  for (const auto& line : dump->lines) {
    auto it = std::find_if(dump->log.begin(), dump->log.end(),
                           [&](const LogRecord& r) { return r.id == line.reachedSubmission; });
    ASSERT_NE(it, dump->log.end());
    EXPECT_EQ(it->score, line.bestScore);
  }
}

TEST_F(AdminCommand, BackupIsConsistentWhileTheServerWrites) {
  std::atomic<bool> stop{false};
  std::atomic<int> written{0};
  std::thread writer([&] {
    for (int i = 0; !stop; ++i) {
      std::vector<Submission> batch;
      for (int j = 0; j < 50; ++j) batch.push_back({MakePlayer("p" + std::to_string(i * 50 + j)), 1 + j});
      if (store_->SubmitBatch(batch, "192.0.2.1", 1'700'000'000'000 + i)) written += 50;
    }
  });
  while (written < 500) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::vector<std::string> copies;
  for (int i = 0; i < 3; ++i) {
    copies.push_back(dir_.File("backup" + std::to_string(i) + ".db"));
    Outcome r = Admin({"--db", db_, "backup", copies.back()});
    EXPECT_EQ(r.status, 0) << r.err;
  }
  stop = true;
  writer.join();
  for (const auto& copy : copies) {
    ExpectConsistent(copy);
    EXPECT_FALSE(std::filesystem::exists(copy + "-wal")) << "a single self-contained file";
  }
  Outcome again = Admin({"--db", db_, "backup", copies[0]});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("already exists"), std::string::npos);
  EXPECT_EQ(Admin({"--db", "postgresql://host/db", "backup", dir_.File("x.db")}).status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("x.db")));
}

}  // namespace
}  // namespace vesquin::scored
