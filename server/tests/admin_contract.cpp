#include "admin_contract.h"

#include "support.h"

namespace vesquin::scored::testing {

void AdminContract::SetUp() {
  if (GetParam().missing) {
    if (std::string why = GetParam().missing(); !why.empty()) GTEST_SKIP() << why;
  }
  db_ = Fresh();
}

StorePair AdminContract::Fresh() {
  auto pair = GetParam().make();
  if (!pair) {
    ADD_FAILURE() << pair.Error();
    return {};
  }
  return std::move(*pair);
}

void AdminContract::Submit(const Player& p, int score, const std::string& client) {
  auto st = db_.store->Submit({p, score}, client, ++clockMs_);
  ASSERT_TRUE(st) << st.error;
}

namespace {

std::vector<std::string> Names(const std::vector<PlacedLine>& lines) {
  std::vector<std::string> names;
  for (const auto& l : lines) names.push_back(std::to_string(l.place) + ":" + l.line.player.firstName);
  return names;
}

// Queries built field by field, since the warnings flag designated initialisers that skip fields.
template <class Q, class F>
Q With(F set) {
  Q q;
  set(q);
  return q;
}

std::vector<std::int64_t> Ids(const std::vector<LogRecord>& log) {
  std::vector<std::int64_t> ids;
  for (const auto& r : log) ids.push_back(r.id);
  return ids;
}

TEST_P(AdminContract, TableInRankOrderWithPlacesOfTheWholeTable) {
  Submit(MakePlayer("Bea", "Stone"), 40);
  Submit(MakePlayer("Al", "Rivers"), 90);
  Submit(MakePlayer("Cy", "Stone"), 40);
  Submit(MakePlayer("Bea", "Stone"), 30);  // lower: changes nothing
  auto all = db_.admin->ListTable({});
  ASSERT_TRUE(all) << all.Error();
  EXPECT_EQ(Names(*all), (std::vector<std::string>{"1:Al", "2:Bea", "3:Cy"}));
  EXPECT_EQ((*all)[1].line.bestScore, 40);
  EXPECT_EQ((*all)[1].line.player.addr, "1 Road") << "the operator sees the address";

  auto stones = db_.admin->ListTable(With<TableQuery>([](auto& q) { q.name = "Stone"; }));
  ASSERT_TRUE(stones);
  EXPECT_EQ(Names(*stones), (std::vector<std::string>{"2:Bea", "3:Cy"}));
  auto page = db_.admin->ListTable(With<TableQuery>([](auto& q) {
    q.offset = 1;
    q.limit = 1;
  }));
  ASSERT_TRUE(page);
  EXPECT_EQ(Names(*page), (std::vector<std::string>{"2:Bea"}));
  auto none = db_.admin->ListTable(With<TableQuery>([](auto& q) { q.name = "stone"; }));
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->empty()) << "names match byte for byte";
}

TEST_P(AdminContract, LogFiltersCombineAndPage) {
  Submit(MakePlayer("Ann"), 10, "192.0.2.1");
  Submit(MakePlayer("Bob"), 20, "192.0.2.2");
  Submit(MakePlayer("Ann"), 30, "192.0.2.2");
  std::int64_t third = clockMs_;
  Submit(MakePlayer("Cat"), 40, "2001:db8::1");

  auto all = db_.admin->ListLog({});
  ASSERT_TRUE(all) << all.Error();
  ASSERT_EQ(all->size(), 4u);
  EXPECT_EQ((*all)[2].client, "192.0.2.2");
  EXPECT_EQ((*all)[2].score, 30);
  EXPECT_EQ((*all)[2].receivedAtMs, third);
  EXPECT_EQ((*all)[0].playerId, (*all)[2].playerId) << "both of Ann's entries are tied to her line";
  EXPECT_FALSE((*all)[0].removedAtMs);

  auto from2 = db_.admin->ListLog(With<LogQuery>([](auto& q) { q.client = "192.0.2.2"; }));
  ASSERT_TRUE(from2);
  EXPECT_EQ(Ids(*from2), (std::vector<std::int64_t>{(*all)[1].id, (*all)[2].id}));
  auto annFrom2 = db_.admin->ListLog(With<LogQuery>([](auto& q) {
    q.client = "192.0.2.2";
    q.name = "nn";
  }));
  ASSERT_TRUE(annFrom2);
  EXPECT_EQ(Ids(*annFrom2), (std::vector<std::int64_t>{(*all)[2].id}));
  auto window = db_.admin->ListLog(With<LogQuery>([&](auto& q) {
    q.sinceMs = third - 1;
    q.untilMs = third + 1;
  }));
  ASSERT_TRUE(window);
  EXPECT_EQ(Ids(*window), (std::vector<std::int64_t>{(*all)[1].id, (*all)[2].id}))
      << "since inclusive, until not";
  auto line = db_.admin->ListLog(With<LogQuery>([&](auto& q) { q.playerId = (*all)[0].playerId; }));
  ASSERT_TRUE(line);
  EXPECT_EQ(line->size(), 2u);
  auto next = db_.admin->ListLog(With<LogQuery>([&](auto& q) {
    q.afterId = (*all)[1].id;
    q.limit = 1;
  }));
  ASSERT_TRUE(next);
  EXPECT_EQ(Ids(*next), (std::vector<std::int64_t>{(*all)[2].id}));
}

TEST_P(AdminContract, RemovingALineKeepsItsLogAndTheRestOfTheTable) {
  Submit(MakePlayer("Ann"), 80);
  Submit(MakePlayer("Cheat"), 100);
  Submit(MakePlayer("Cheat"), 100);
  Submit(MakePlayer("Bob"), 70);
  auto table = db_.admin->ListTable({});
  ASSERT_TRUE(table);
  std::int64_t cheat = (*table)[0].line.id;

  auto removal = db_.admin->RemoveLine(cheat, 5000);
  ASSERT_TRUE(removal) << removal.Error();
  EXPECT_EQ(removal->lines, 1);
  EXPECT_EQ(removal->logEntries, 2);
  EXPECT_EQ(Names(*db_.admin->ListTable({})), (std::vector<std::string>{"1:Ann", "2:Bob"}));
  EXPECT_EQ(*db_.store->PlaceInTopTen(MakePlayer("Ann")), 1);
  auto log = db_.admin->ListLog(With<LogQuery>([](auto& q) { q.name = "Cheat"; }));
  ASSERT_TRUE(log);
  ASSERT_EQ(log->size(), 2u) << "the log is kept";
  for (const auto& r : *log) {
    EXPECT_EQ(r.removedAtMs, 5000);
    EXPECT_FALSE(r.playerId);
  }

  auto again = db_.admin->RemoveLine(cheat, 6000);
  EXPECT_FALSE(again) << "a line that is gone is a failure";
  EXPECT_EQ(db_.admin->ListTable({})->size(), 2u);

  // The player may come back; the new line has none of the old history.
  Submit(MakePlayer("Cheat"), 10);
  auto back = db_.admin->ListTable(With<TableQuery>([](auto& q) { q.name = "Cheat"; }));
  ASSERT_TRUE(back);
  ASSERT_EQ(back->size(), 1u);
  EXPECT_EQ((*back)[0].line.bestScore, 10);
  EXPECT_EQ(db_.admin->ListLog(With<LogQuery>([&](auto& q) { q.playerId = (*back)[0].line.id; }))->size(),
            1u);
}

TEST_P(AdminContract, RemovingAPlayerTakesEveryLineOfThatName) {
  Submit(MakePlayer("Eve", "X", "1 Road", "A"), 50);
  Submit(MakePlayer("Eve", "X", "2 Road", "B"), 60);
  Submit(MakePlayer("Eve", "Y"), 70);
  auto one = db_.admin->RemovePlayer({"Eve", "X", std::string("2 Road"), std::nullopt}, 1);
  ASSERT_TRUE(one) << one.Error();
  EXPECT_EQ(one->lines, 1);
  auto rest = db_.admin->RemovePlayer({"Eve", "X", std::nullopt, std::nullopt}, 2);
  ASSERT_TRUE(rest);
  EXPECT_EQ(rest->lines, 1);
  EXPECT_EQ(rest->logEntries, 1);
  auto none = db_.admin->RemovePlayer({"Eve", "Z", std::nullopt, std::nullopt}, 3);
  ASSERT_TRUE(none);
  EXPECT_EQ(none->lines, 0);
  EXPECT_EQ(Names(*db_.admin->ListTable({})), (std::vector<std::string>{"1:Eve"}));
  EXPECT_EQ(db_.admin->ListLog({})->size(), 3u);
}

TEST_P(AdminContract, BansAreSeenByTheSubmissionCheck) {
  EXPECT_FALSE(*db_.store->IsBanned("192.0.2.7"));
  auto added = db_.admin->Ban({"192.0.2.7", "flood", 100});
  ASSERT_TRUE(added) << added.Error();
  EXPECT_TRUE(*added);
  auto twice = db_.admin->Ban({"192.0.2.7", "other reason", 200});
  ASSERT_TRUE(twice);
  EXPECT_FALSE(*twice);
  ASSERT_TRUE(*db_.admin->Ban({"2001:db8:1:2::/64", "", 300}));
  EXPECT_TRUE(*db_.store->IsBanned("192.0.2.7"));
  EXPECT_TRUE(*db_.store->IsBanned("2001:db8:1:2::/64"));
  EXPECT_FALSE(*db_.store->IsBanned("192.0.2.8"));
  auto bans = db_.admin->ListBans();
  ASSERT_TRUE(bans);
  EXPECT_EQ(*bans, (std::vector<BanRecord>{{"192.0.2.7", "flood", 100}, {"2001:db8:1:2::/64", "", 300}}));
  EXPECT_TRUE(*db_.admin->Unban("192.0.2.7"));
  EXPECT_FALSE(*db_.admin->Unban("192.0.2.7"));
  EXPECT_FALSE(*db_.store->IsBanned("192.0.2.7"));
}

TEST_P(AdminContract, ExportImportCarriesEverythingAndNewIdsContinue) {
  Submit(MakePlayer("Ann"), 50);
  Submit(MakePlayer("Bob"), 60);
  Submit(MakePlayer(std::string("Z\xE9lie")), 50);  // Latin-1 bytes, not UTF-8
  Submit(MakePlayer("Gone"), 99);
  ASSERT_TRUE(db_.admin->RemoveLine(db_.admin->ListTable({})->at(0).line.id, 7));
  ASSERT_TRUE(*db_.admin->Ban({"198.51.100.1", "spam", 8}));
  auto dump = db_.admin->Export();
  ASSERT_TRUE(dump) << dump.Error();
  EXPECT_EQ(dump->lines.size(), 3u);
  EXPECT_EQ(dump->log.size(), 4u);
  ASSERT_TRUE(CheckDump(*dump)) << CheckDump(*dump).error;

  StorePair copy = Fresh();
  ASSERT_TRUE(copy.admin);
  auto st = copy.admin->Import(*dump, false);
  ASSERT_TRUE(st) << st.error;
  auto again = copy.admin->Export();
  ASSERT_TRUE(again);
  EXPECT_EQ(again->lines, dump->lines);
  EXPECT_EQ(again->log, dump->log);
  EXPECT_EQ(again->bans, dump->bans);
  EXPECT_EQ(*copy.store->PlaceInTopTen(MakePlayer(std::string("Z\xE9lie"))), 3);

  // A newcomer tying at 50 ranks after both imported 50s, and its ids do not clash.
  ASSERT_TRUE(copy.store->Submit({MakePlayer("New"), 50}, "192.0.2.9", 9));
  EXPECT_EQ(*copy.store->PlaceInTopTen(MakePlayer("New")), 4);
  EXPECT_GT(copy.admin->ListLog({})->back().id, dump->log.back().id);

  // Into a store that holds something: refused, and the store is as it was.
  auto refused = copy.admin->Import(*dump, false);
  EXPECT_FALSE(refused);
  EXPECT_EQ(copy.admin->ListTable({})->size(), 4u);
  EXPECT_FALSE(copy.admin->Import(*dump, true)) << "a served table is not replaced";
  copy.store.reset();
  ASSERT_TRUE(copy.admin->Import(*dump, true));
  EXPECT_EQ(copy.admin->Export()->log, dump->log) << "replace takes the store back to the dump";
}

}  // namespace
}  // namespace vesquin::scored::testing
