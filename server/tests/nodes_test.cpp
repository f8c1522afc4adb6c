// Several vesquin-scored processes on one PostgreSQL database: racing submissions, reads across
// nodes, and one node killed under load. The final table is compared with the SQLite store given
// the same submissions in the order they were committed.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <mutex>
#include <regex>
#include <set>
#include <thread>

#include "postgres.h"
#include "postgres_admin_store.h"
#include "postgres_store.h"
#include "postgres_support.h"
#include "sqlite_store.h"
#include "support.h"

extern char** environ;

namespace vesquin::scored {
namespace {

using namespace std::chrono_literals;
using testing::GameQuery;
using testing::HttpGet;
using testing::MakePlayer;
using testing::PostgresDatabase;
using testing::TempDir;

// One server process on the database, on a port of the kernel's choosing. Its log goes to a file,
// so that a busy node never stalls on a full pipe.
class Node {
 public:
  explicit Node(const std::string& db) {
    static std::atomic<int> count{0};
    log_ = dir_.File("node" + std::to_string(count++) + ".log");
    std::vector<std::string> args = {SCORED_BINARY, "--db",         db,  "--listen",
                                     "127.0.0.1:0", "--rate-limit", "0", "--max-per-address",
                                     "64",          "--threads",    "4"};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, SCORED_BINARY, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    std::smatch m;
    std::regex listening("listening on 127\\.0\\.0\\.1:([0-9]+)");
    auto deadline = std::chrono::steady_clock::now() + 15s;
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
      std::string out = Log();
      if (std::regex_search(out, m, listening)) {
        port_ = std::stoi(m[1]);
        break;
      }
      std::this_thread::sleep_for(20ms);
    }
  }
  ~Node() { Kill(); }
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  int Port() const { return port_; }
  std::string Log() const {
    std::ifstream in(log_);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string Url(const std::string& page, const Player& p, int score) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/vesquin/" + page + "?" + GameQuery(p, score);
  }

 private:
  TempDir dir_;
  std::string log_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// The log in the order its transactions committed (by the cluster's commit times), and within
// one transaction in log order.
std::vector<LogRecord> CommitOrder(const std::string& uri, const Dump& dump) {
  std::vector<LogRecord> ordered;
  auto c = postgres::Connection::Open(uri);
  EXPECT_TRUE(c) << c.Error();
  if (!c) return ordered;
  // A server of one's own (VESQUIN_TEST_POSTGRES) may keep no commit times: then log order.
  auto tracked = c->QueryText("SHOW track_commit_timestamp");
  bool byTime = tracked && !tracked->empty() && tracked->front() == "on";
  auto ids = c->QueryText(byTime ? "SELECT id FROM submissions ORDER BY pg_xact_commit_timestamp(xmin), id"
                                 : "SELECT id FROM submissions ORDER BY id");
  EXPECT_TRUE(ids) << ids.Error();
  std::map<std::int64_t, const LogRecord*> byId;
  for (const LogRecord& e : dump.log) byId[e.id] = &e;
  for (const std::string& id : *ids) ordered.push_back(*byId.at(std::stoll(id)));
  return ordered;
}

// The submissions replayed, in the given order, into a fresh SQLite store.
std::unique_ptr<SqliteStore> Replay(const std::vector<LogRecord>& log, const std::string& path) {
  auto lite = SqliteStore::Open(path);
  EXPECT_TRUE(lite) << lite.Error();
  for (const LogRecord& e : log) EXPECT_TRUE((*lite)->Submit({e.player, e.score}, e.client, e.receivedAtMs));
  return std::move(*lite);
}

Dump Export(const std::string& uri) {
  auto admin = PostgresAdminStore::Open(uri);
  EXPECT_TRUE(admin) << admin.Error();
  auto dump = (*admin)->Export();
  EXPECT_TRUE(dump) << dump.Error();
  return *dump;
}

// Every line of the PostgreSQL table equals the SQLite line at the same place.
void ExpectSameTable(const Dump& dump, SqliteStore& lite) {
  auto top = lite.Top(100000);
  ASSERT_TRUE(top) << top.Error();
  std::vector<LineRecord> lines = dump.lines;
  std::sort(lines.begin(), lines.end(), [](const LineRecord& a, const LineRecord& b) {
    return a.bestScore != b.bestScore ? a.bestScore > b.bestScore : a.reachedSubmission < b.reachedSubmission;
  });
  ASSERT_EQ(lines.size(), top->size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].player.firstName, (*top)[i].firstName) << "place " << i + 1;
    EXPECT_EQ(lines[i].bestScore, (*top)[i].score) << "place " << i + 1;
    EXPECT_EQ(lines[i].reachedAtMs, (*top)[i].reachedAtMs) << "place " << i + 1;
  }
}

TEST(Nodes, TwoNodesRacingGiveTheSamePlacesAsOneSqliteFile) {
  PostgresDatabase db;
  SKIP_WITHOUT_POSTGRES(db);
  Node a(db.Uri()), b(db.Uri());
  ASSERT_GT(a.Port(), 0) << a.Log();
  ASSERT_GT(b.Port(), 0) << b.Log();

  // Few players, so that the same player races itself on both nodes, and scores near the top, so
  // that the top places change hands all the time.
  constexpr int kThreads = 8, kPerThread = 60;
  std::atomic<int> answered{0}, refused{0};
  std::vector<std::thread> senders;
  for (int t = 0; t < kThreads; ++t) {
    senders.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        const Node& node = (t + i) % 2 ? a : b;
        Player p = MakePlayer("racer" + std::to_string((t * 7 + i * 3) % 24));
        int score = 80 + (t * 13 + i * 7) % 21;
        (HttpGet(node.Url("top1.php", p, score)).status == 200 ? answered : refused)++;
      }
    });
  }
  for (auto& s : senders) s.join();
  // Then every thread sends the same new players in the same order, half to each node: each new
  // line is created by two nodes at once, and lines that tie are reached at nearly the same time.
  senders.clear();
  for (int t = 0; t < kThreads; ++t) {
    senders.emplace_back([&, t] {
      for (int k = 0; k < kPerThread; ++k) {
        Player p = MakePlayer("twin" + std::to_string(k));
        (HttpGet((t % 2 ? a : b).Url("top1.php", p, 97 + k % 3)).status == 200 ? answered : refused)++;
      }
    });
  }
  for (auto& s : senders) s.join();
  EXPECT_EQ(answered, 2 * kThreads * kPerThread);
  EXPECT_EQ(refused, 0);

  Dump dump = Export(db.Uri());
  EXPECT_EQ(dump.log.size(), static_cast<std::size_t>(2 * kThreads * kPerThread));
  TempDir dir;
  auto lite = Replay(CommitOrder(db.Uri(), dump), dir.File("replay.db"));
  ExpectSameTable(dump, *lite);
  for (const LogRecord& e : dump.log) EXPECT_TRUE(e.playerId) << "log entry " << e.id << " tied to no line";

  // Each node answers every player's place as the SQLite store does, and no place twice.
  std::set<std::string> places;
  for (int i = 0; i < 24; ++i) {
    Player p = MakePlayer("racer" + std::to_string(i));
    auto expected = lite->PlaceInTopTen(p);
    std::string want = *expected ? std::to_string(**expected) : "";
    // A place is told for a submission this address made, whichever node took it.
    int best = 0;
    for (const LineRecord& l : dump.lines)
      if (l.player == p) best = l.bestScore;
    auto fromA = HttpGet(a.Url("top2.php", p, best));
    auto fromB = HttpGet(b.Url("top2.php", p, best));
    EXPECT_EQ(fromA.body, want) << p.firstName;
    EXPECT_EQ(fromB.body, want) << p.firstName;
    if (!want.empty()) {
      EXPECT_TRUE(places.insert(want).second) << "place " << want << " given twice";
    }
  }
  EXPECT_EQ(places.size(), 10u);
}

TEST(Nodes, APlaceAskedOfOneNodeSeesWhatTheOtherJustStored) {
  PostgresDatabase db;
  SKIP_WITHOUT_POSTGRES(db);
  Node a(db.Uri()), b(db.Uri());
  ASSERT_GT(a.Port(), 0) << a.Log();
  ASSERT_GT(b.Port(), 0) << b.Log();
  TempDir dir;
  auto lite = SqliteStore::Open(dir.File("reference.db"));
  ASSERT_TRUE(lite);
  for (int i = 0; i < 40; ++i) {
    const Node& writer = i % 2 ? a : b;
    const Node& reader = i % 2 ? b : a;
    Player p = MakePlayer("p" + std::to_string(i % 15));
    int score = 1 + (i * 37) % 100;
    ASSERT_EQ(HttpGet(writer.Url("top1.php", p, score)).status, 200);
    ASSERT_TRUE((*lite)->Submit({p, score}, "127.0.0.1", i));
    auto expected = (*lite)->PlaceInTopTen(p);
    EXPECT_EQ(HttpGet(reader.Url("top2.php", p, score)).body, *expected ? std::to_string(**expected) : "")
        << "submission " << i;
  }
}

TEST(Nodes, KillingOneNodeUnderLoadLosesNoAnsweredSubmission) {
  PostgresDatabase db;
  SKIP_WITHOUT_POSTGRES(db);
  auto a = std::make_unique<Node>(db.Uri());
  Node b(db.Uri());
  ASSERT_GT(a->Port(), 0) << a->Log();
  ASSERT_GT(b.Port(), 0) << b.Log();
  std::string aBase = a->Url("top1.php", MakePlayer("x"), 1);
  aBase = aBase.substr(0, aBase.find('?') + 1);
  std::string bBase = b.Url("top1.php", MakePlayer("x"), 1);
  bBase = bBase.substr(0, bBase.find('?') + 1);

  std::mutex mutex;
  std::set<std::string> answered;
  std::atomic<bool> stop{false};
  std::atomic<int> afterKill{0};
  std::atomic<bool> killed{false};
  std::vector<std::thread> senders;
  for (int t = 0; t < 8; ++t) {
    senders.emplace_back([&, t] {
      for (int i = 0; !stop; ++i) {
        std::string name = "n" + std::to_string(t) + "-" + std::to_string(i);
        const std::string& base = t % 2 ? aBase : bBase;
        if (HttpGet(base + GameQuery(MakePlayer(name), 1 + i % 100), 5s).status == 200) {
          std::lock_guard lock(mutex);
          answered.insert(name);
          if (killed && &base == &bBase) ++afterKill;
        }
      }
    });
  }
  std::this_thread::sleep_for(1500ms);
  a->Kill();
  killed = true;
  std::this_thread::sleep_for(1000ms);
  stop = true;
  for (auto& s : senders) s.join();
  EXPECT_GT(afterKill, 10) << "the other node went on storing";
  ASSERT_GT(answered.size(), 100u);

  Dump dump = Export(db.Uri());
  std::set<std::string> stored;
  for (const LogRecord& e : dump.log) stored.insert(e.player.firstName);
  int lost = 0;
  for (const auto& name : answered) lost += stored.count(name) ? 0 : 1;
  EXPECT_EQ(lost, 0) << "of " << answered.size() << " answered submissions";
  // What the killed node had in flight either committed whole or not at all.
  TempDir dir;
  auto lite = Replay(CommitOrder(db.Uri(), dump), dir.File("replay.db"));
  ExpectSameTable(dump, *lite);
  EXPECT_EQ(dump.lines.size(), stored.size());
}

// The operator's commands, as a shell runs them: exit status and standard output.
std::pair<int, std::string> Admin(const std::string& args) {
  std::string command = std::string(SCORED_BINARY) + " admin " + args + " 2>&1";
  FILE* out = popen(command.c_str(), "r");
  if (!out) return {-1, ""};
  std::string text;
  char buf[4096];
  for (std::size_t n; (n = fread(buf, 1, sizeof buf, out)) > 0;) text.append(buf, n);
  int status = pclose(out);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
}

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

TEST(Nodes, AdminCommandsOnPostgresWhileANodeServes) {
  PostgresDatabase db;
  SKIP_WITHOUT_POSTGRES(db);
  TempDir dir;
  std::string file = dir.File("scores.db");
  {
    auto lite = SqliteStore::Open(file);
    ASSERT_TRUE(lite);
    for (int i = 0; i < 12; ++i)
      ASSERT_TRUE((*lite)->Submit({MakePlayer("old" + std::to_string(i)), 50 + i % 3}, "192.0.2.1", i));
  }
  auto migrated = Admin("--db " + Quoted(file) + " migrate --to " + Quoted(db.Uri()));
  ASSERT_EQ(migrated.first, 0) << migrated.second;

  Node node(db.Uri());
  ASSERT_GT(node.Port(), 0) << node.Log();
  auto pg = PostgresStore::Open(db.Uri());
  ASSERT_TRUE(pg) << pg.Error();
  EXPECT_EQ(*(*pg)->PlaceInTopTen(MakePlayer("old2")), 1);
  // Only the address that sent a submission lately is told its place.
  EXPECT_EQ(HttpGet(node.Url("top2.php", MakePlayer("old2"), 52)).body, "");
  // New submissions number on after the migrated ones, so an equal score ranks after them.
  ASSERT_EQ(HttpGet(node.Url("top1.php", MakePlayer("new"), 52)).status, 200);
  EXPECT_EQ(HttpGet(node.Url("top2.php", MakePlayer("new"), 52)).body, "5");

  auto table = Admin("--db " + Quoted(db.Uri()) + " table --name new");
  EXPECT_EQ(table.first, 0) << table.second;
  EXPECT_NE(table.second.find("new"), std::string::npos) << table.second;
  ASSERT_EQ(Admin("--db " + Quoted(db.Uri()) + " ban 127.0.0.1 --reason test").first, 0);
  EXPECT_EQ(HttpGet(node.Url("top1.php", MakePlayer("banned"), 99)).status, 403);
  ASSERT_EQ(Admin("--db " + Quoted(db.Uri()) + " unban 127.0.0.1").first, 0);
  EXPECT_EQ(HttpGet(node.Url("top1.php", MakePlayer("welcome"), 99)).status, 200);

  // There and back again: the PostgreSQL copy exports exactly what a SQLite copy of it does.
  std::string back = dir.File("back.db");
  auto returned = Admin("--db " + Quoted(db.Uri()) + " migrate --to " + Quoted(back));
  ASSERT_EQ(returned.first, 0) << returned.second;
  auto fromPg = Admin("--db " + Quoted(db.Uri()) + " export");
  auto fromBack = Admin("--db " + Quoted(back) + " export");
  ASSERT_EQ(fromPg.first, 0) << fromPg.second;
  EXPECT_EQ(fromPg.second, fromBack.second);
  EXPECT_NE(fromPg.second.find("welcome"), std::string::npos);
}

}  // namespace
}  // namespace vesquin::scored
