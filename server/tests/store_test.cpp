#include "sqlite_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "support.h"

namespace vesquin::scored {
namespace {

using testing::MakePlayer;
using testing::TempDir;

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto s = SqliteStore::Open(dir_.File("scores.db"));
    ASSERT_TRUE(s) << s.Error();
    store_ = std::move(*s);
  }
  void Submit(const Player& p, int score) {
    auto st = store_->Submit({p, score}, "127.0.0.1", ++clockMs_);
    ASSERT_TRUE(st) << st.error;
  }
  std::optional<int> Place(const Player& p) {
    auto r = store_->PlaceInTopTen(p);
    EXPECT_TRUE(r) << r.Error();
    return r ? *r : std::nullopt;
  }
  std::vector<std::string> TopNames() {
    std::vector<std::string> names;
    auto top = store_->Top(100);
    EXPECT_TRUE(top) << top.Error();
    for (const auto& row : *top) names.push_back(row.firstName);
    return names;
  }

  TempDir dir_;
  std::unique_ptr<SqliteStore> store_;
  std::int64_t clockMs_ = 1'700'000'000'000;
};

TEST_F(StoreTest, EmptyTableHasNoPlaces) {
  EXPECT_EQ(Place(MakePlayer("nobody")), std::nullopt);
  EXPECT_TRUE(store_->Top(100)->empty());
  EXPECT_EQ(store_->Counts()->players, 0);
}

TEST_F(StoreTest, HigherScoreFirstThenWhoReachedItFirst) {
  Submit(MakePlayer("b"), 50);
  Submit(MakePlayer("a"), 70);
  Submit(MakePlayer("c"), 50);
  EXPECT_EQ(TopNames(), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(Place(MakePlayer("a")), 1);
  EXPECT_EQ(Place(MakePlayer("b")), 2);
  EXPECT_EQ(Place(MakePlayer("c")), 3);
}

TEST_F(StoreTest, TiesAtPlacesTenAndEleven) {
  for (int i = 1; i <= 9; ++i) Submit(MakePlayer("top" + std::to_string(i)), 100 - i);
  Submit(MakePlayer("tenth"), 40);
  Submit(MakePlayer("eleventh"), 40);  // same score, reached later
  EXPECT_EQ(Place(MakePlayer("tenth")), 10);
  EXPECT_EQ(Place(MakePlayer("eleventh")), std::nullopt);
  EXPECT_EQ(store_->Top(100)->at(10).firstName, "eleventh");
  EXPECT_EQ(store_->Top(100)->at(10).place, 11);
  // Beating the tenth by one point swaps them.
  Submit(MakePlayer("eleventh"), 41);
  EXPECT_EQ(Place(MakePlayer("eleventh")), 10);
  EXPECT_EQ(Place(MakePlayer("tenth")), std::nullopt);
}

TEST_F(StoreTest, ImprovingMovesUpAndWorseningChangesNothing) {
  Submit(MakePlayer("a"), 60);
  Submit(MakePlayer("b"), 50);
  Submit(MakePlayer("b"), 80);
  EXPECT_EQ(Place(MakePlayer("b")), 1);
  EXPECT_EQ(store_->Top(1)->at(0).score, 80);
  Submit(MakePlayer("b"), 10);
  EXPECT_EQ(Place(MakePlayer("b")), 1);
  EXPECT_EQ(store_->Top(1)->at(0).score, 80);
  // Reaching an equal score later ranks behind whoever had it first.
  Submit(MakePlayer("a"), 80);
  EXPECT_EQ(Place(MakePlayer("a")), 2);
  EXPECT_EQ(store_->Counts()->players, 2);
  EXPECT_EQ(store_->Counts()->submissions, 5);
}

TEST_F(StoreTest, RepeatOnlyGrowsTheLog) {
  Submit(MakePlayer("a"), 50);
  std::int64_t firstReached = store_->Top(1)->at(0).reachedAtMs;
  Submit(MakePlayer("b"), 50);
  Submit(MakePlayer("a"), 50);
  Submit(MakePlayer("a"), 50);
  EXPECT_EQ(Place(MakePlayer("a")), 1) << "a repeat must not refresh the time the score was reached";
  EXPECT_EQ(store_->Top(1)->at(0).reachedAtMs, firstReached);
  auto counts = *store_->Counts();
  EXPECT_EQ(counts.players, 2);
  EXPECT_EQ(counts.submissions, 4);
  EXPECT_EQ(counts.unlinkedSubmissions, 0);
}

TEST_F(StoreTest, PlayersAreTheFourDetailsByteForByte) {
  Submit(MakePlayer("Ann", "Lee", "1 Road", "UK"), 10);
  Submit(MakePlayer("ann", "Lee", "1 Road", "UK"), 10);
  Submit(MakePlayer("Ann", "Lee", "1 Road ", "UK"), 10);
  Submit(MakePlayer("Ann", "Lee", "1 Road", "UK\xE9"), 10);
  Submit(MakePlayer("", "", "", ""), 10);
  EXPECT_EQ(store_->Counts()->players, 5);
  EXPECT_EQ(Place(MakePlayer("Ann", "Lee", "1 Road", "UK\xE9")), 4);
  EXPECT_EQ(Place(MakePlayer("", "", "", "")), 5);
  EXPECT_EQ(store_->Top(100)->at(3).country, "UK\xE9");
}

TEST_F(StoreTest, SqlInNamesIsJustText) {
  std::string evil = "x'); DROP TABLE players; --";
  Submit(MakePlayer(evil, "'; DROP TABLE submissions; --"), 42);
  Submit(MakePlayer("after"), 41);
  auto top = *store_->Top(10);
  ASSERT_EQ(top.size(), 2u);
  EXPECT_EQ(top[0].firstName, evil);
  EXPECT_EQ(Place(MakePlayer(evil, "'; DROP TABLE submissions; --")), 1);
}

TEST_F(StoreTest, TableSurvivesReopening) {
  Submit(MakePlayer("a"), 30);
  Submit(MakePlayer("b"), 90);
  store_.reset();
  auto again = SqliteStore::Open(dir_.File("scores.db"));
  ASSERT_TRUE(again) << again.Error();
  EXPECT_EQ((*again)->Top(10)->at(0).firstName, "b");
  EXPECT_EQ(*(*again)->PlaceInTopTen(MakePlayer("a")), 2);
}

TEST_F(StoreTest, FileIsWalAtCurrentSchema) {
  EXPECT_EQ(*store_->SchemaVersion(), SqliteStore::kSchemaVersion);
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(dir_.File("scores.db").c_str(), &raw), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(raw, "PRAGMA journal_mode", -1, &stmt, nullptr);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)), "wal");
  sqlite3_finalize(stmt);
  sqlite3_close(raw);
}

TEST_F(StoreTest, ReadsGoThroughIndexes) {
  for (int i = 0; i < 200; ++i) Submit(MakePlayer("p" + std::to_string(i)), 1 + i % 100);
  auto plans = store_->ExplainReads();
  ASSERT_TRUE(plans) << plans.Error();
  EXPECT_EQ(plans->find("TEMP B-TREE"), std::string::npos) << *plans;
  EXPECT_NE(plans->find("players_rank"), std::string::npos) << *plans;
  // The log is only looked into through a player's own entries.
  EXPECT_EQ(plans->find("submissions_received"), std::string::npos) << *plans;
  // Every full pass over players must be an ordered walk of the rank index.
  for (std::size_t pos = plans->find("SCAN"); pos != std::string::npos; pos = plans->find("SCAN", pos + 1))
    EXPECT_NE(plans->substr(pos, plans->find('\n', pos) - pos).find("INDEX"), std::string::npos) << *plans;
}

void RawExec(const std::string& path, const char* sql) {
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
  char* err = nullptr;
  int rc = sqlite3_exec(raw, sql, nullptr, nullptr, &err);
  std::string why = err ? err : "";
  sqlite3_free(err);
  sqlite3_close(raw);
  ASSERT_EQ(rc, SQLITE_OK) << why;
}

TEST(StoreSchema, MigratesAFirstReleaseFileForward) {
  TempDir dir;
  std::string path = dir.File("old.db");
  // A file as the first schema version left it, with a table already in it.
  RawExec(path, R"sql(
    PRAGMA journal_mode=WAL;
    CREATE TABLE submissions(id INTEGER PRIMARY KEY, received_at INTEGER NOT NULL, client TEXT NOT NULL,
      first_name BLOB NOT NULL, last_name BLOB NOT NULL, addr BLOB NOT NULL, country BLOB NOT NULL,
      score INTEGER NOT NULL);
    CREATE TABLE players(id INTEGER PRIMARY KEY, first_name BLOB NOT NULL, last_name BLOB NOT NULL,
      addr BLOB NOT NULL, country BLOB NOT NULL, best_score INTEGER NOT NULL, reached_at INTEGER NOT NULL,
      reached_submission INTEGER NOT NULL, UNIQUE(first_name, last_name, addr, country));
    CREATE INDEX players_rank ON players(best_score DESC, reached_submission ASC);
    INSERT INTO submissions VALUES(1, 1000, '127.0.0.1', x'6f6c64', x'54', x'41', x'43', 77);
    INSERT INTO players VALUES(1, x'6f6c64', x'54', x'41', x'43', 77, 1000, 1);
    PRAGMA user_version = 1;
  )sql");
  auto store = SqliteStore::Open(path);
  ASSERT_TRUE(store) << store.Error();
  EXPECT_EQ(*(*store)->SchemaVersion(), SqliteStore::kSchemaVersion);
  EXPECT_EQ(*(*store)->PlaceInTopTen(Player{"old", "T", "A", "C"}), 1);
  EXPECT_EQ((*store)->Counts()->unlinkedSubmissions, 0) << "old log entries are tied to their lines";
  EXPECT_EQ(*(*store)->IsBanned("127.0.0.1"), false) << "the ban list exists, empty";
  ASSERT_TRUE((*store)->Submit({Player{"new", "T", "A", "C"}, 78}, "127.0.0.1", 2000));
  EXPECT_EQ(*(*store)->PlaceInTopTen(Player{"old", "T", "A", "C"}), 2);
}

TEST(StoreSchema, RefusesAFileFromANewerServer) {
  TempDir dir;
  std::string path = dir.File("new.db");
  RawExec(path, "PRAGMA user_version = 99;");
  auto store = SqliteStore::Open(path);
  ASSERT_FALSE(store);
  EXPECT_NE(store.Error().find("newer"), std::string::npos) << store.Error();
}

TEST(StoreSchema, RefusesAFileThatIsNotADatabase) {
  TempDir dir;
  std::string path = dir.File("junk.db");
  FILE* f = fopen(path.c_str(), "w");
  fputs("this is not a database, only some text long enough to fill a header of one hundred bytes......", f);
  fclose(f);
  EXPECT_FALSE(SqliteStore::Open(path));
  EXPECT_FALSE(SqliteStore::Open(dir.File("missing-folder/scores.db")));
}

}  // namespace
}  // namespace vesquin::scored
