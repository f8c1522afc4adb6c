// The server end to end over HTTP on 127.0.0.1, as the game and hostile clients talk to it.

#include "http_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <sqlite3.h>
#include "log_budget.h"
#include "slow_attack.h"
#include "support.h"

namespace vesquin::scored {
namespace {

using namespace std::chrono_literals;
using testing::GameQuery;
using testing::HttpGet;
using testing::MakePlayer;
using testing::RawClient;
using testing::TempDir;
using testing::TestServer;

class HttpTest : public ::testing::Test {
 protected:
  TempDir dir_;
  std::string db_ = dir_.File("scores.db");
};

TEST_F(HttpTest, SubmitThenAskThePlaceAsTheGameDoes) {
  TestServer server(db_);
  auto first = server.Submit(MakePlayer("Ada"), 42);
  EXPECT_EQ(first.status, 200) << first.error;
  EXPECT_EQ(first.body, "");
  auto place = server.AskPlace(MakePlayer("Ada"), 42);
  EXPECT_EQ(place.status, 200);
  EXPECT_EQ(place.body, "1") << "place 1 must be exactly one byte";
  EXPECT_EQ(place.headers["content-type"], "text/plain; charset=utf-8");

  // Nine better players push Ada to 10, one more puts her out of the top ten.
  for (int i = 0; i < 9; ++i)
    ASSERT_EQ(server.Submit(MakePlayer("p" + std::to_string(i)), 50 + i).status, 200);
  EXPECT_EQ(server.AskPlace(MakePlayer("Ada"), 42).body, "10");
  EXPECT_EQ(server.AskPlace(MakePlayer("p8"), 58).body, "1");
  EXPECT_EQ(server.AskPlace(MakePlayer("p0"), 50).body, "9");
  ASSERT_EQ(server.Submit(MakePlayer("late"), 42).status, 200);  // equal score, reached later
  EXPECT_EQ(server.AskPlace(MakePlayer("late"), 42).body, "");
  ASSERT_EQ(server.Submit(MakePlayer("best"), 100).status, 200);
  EXPECT_EQ(server.AskPlace(MakePlayer("Ada"), 42).body, "");
  EXPECT_EQ(server.AskPlace(MakePlayer("never sent"), 42).body, "");
}

TEST_F(HttpTest, DetailsArriveByteForByte) {
  TestServer server(db_);
  Player odd{"Zo\xC3\xAB & Sons+", "d'Arc%20", "Rue = 5; \xE9t\xE9 ~", "<UK>"};
  ASSERT_EQ(server.Submit(odd, 64).status, 200);
  EXPECT_EQ(server.AskPlace(odd, 64).body, "1");
  auto top = server.Scores().Top(1);
  EXPECT_EQ(top->at(0).firstName, odd.firstName);
  EXPECT_EQ(top->at(0).lastName, odd.lastName);
  // '+' is a space, as in HTML forms; the game sends %20, and both name the same player.
  ASSERT_EQ(HttpGet(server.Url("/vesquin/top1.php?first_name=Mary+Ann&last_name=B&addr=C&country=D&score=70"))
                .status,
            200);
  EXPECT_EQ(server.AskPlace(MakePlayer("Mary Ann", "B", "C", "D"), 70).body, "1");
}

TEST_F(HttpTest, FindsThePlaceWhenTheClientRewroteTop1InTheDetails) {
  TestServer server(db_);
  ASSERT_EQ(server.Submit(MakePlayer("top1.php"), 30).status, 200);
  EXPECT_EQ(server.AskPlace(MakePlayer("top2.php"), 30).body, "1");
}

TEST_F(HttpTest, InvalidSubmissionsGet400AndStoreNothing) {
  TestServer server(db_);
  std::string goodRest = "&last_name=b&addr=c&country=d";
  const std::vector<std::string> bad = {
      "first_name=a" + goodRest + "&score=0",
      "first_name=a" + goodRest + "&score=101",
      "first_name=a" + goodRest + "&score=5x",
      "first_name=a" + goodRest + "&score=-5",
      "first_name=a" + goodRest,
      "last_name=b&addr=c&country=d&score=5",
      "first_name=" + std::string(100, 'x') + goodRest + "&score=5",
      "first_name=a%0Ab" + goodRest + "&score=5",
      "first_name=a%00" + goodRest + "&score=5",
      "first_name=%zz" + goodRest + "&score=5",
      "",
  };
  for (const auto& q : bad) {
    auto r = HttpGet(server.Url("/vesquin/top1.php?" + q));
    EXPECT_EQ(r.status, 400) << q;
    EXPECT_FALSE(r.body.empty());
    EXPECT_EQ(r.body.find('\n'), r.body.size() - 1) << "one line: " << r.body;
    EXPECT_EQ(r.headers["content-type"], "text/plain; charset=utf-8");
    auto place = HttpGet(server.Url("/vesquin/top2.php?" + q));
    EXPECT_EQ(place.status, 200) << q;
    EXPECT_EQ(place.body, "") << q;
  }
  EXPECT_EQ(server.Scores().Counts()->submissions, 0);
}

TEST_F(HttpTest, SqlInADetailIsStoredAsText) {
  TestServer server(db_);
  Player evil = MakePlayer("Robert'); DROP TABLE players;--", "'; DROP TABLE submissions; --");
  ASSERT_EQ(server.Submit(evil, 55).status, 200);
  ASSERT_EQ(server.Submit(MakePlayer("next"), 54).status, 200);
  EXPECT_EQ(server.AskPlace(evil, 55).body, "1");
  EXPECT_EQ(server.Scores().Counts()->players, 2);
}

TEST_F(HttpTest, RateLimitAnswers429AndStoresNothing) {
  TestServer::Settings settings;
  settings.rateLimit = 3;
  TestServer server(db_, settings);
  for (int i = 0; i < 3; ++i)
    ASSERT_EQ(server.Submit(MakePlayer("r" + std::to_string(i)), 10 + i).status, 200);
  auto refused = server.Submit(MakePlayer("r3"), 99);
  EXPECT_EQ(refused.status, 429);
  EXPECT_EQ(refused.headers["retry-after"], "60");
  EXPECT_EQ(server.Scores().Counts()->submissions, 3);
  EXPECT_EQ(server.AskPlace(MakePlayer("r2"), 12).body, "1") << "asking for a place is counted apart";
  EXPECT_EQ(server.AskPlace(MakePlayer("r3"), 99).body, "");
  // Invalid submissions are refused before they count against the limit.
  EXPECT_EQ(HttpGet(server.Url("/vesquin/top1.php?score=1")).status, 400);
}

TEST_F(HttpTest, APlaceIsToldOnlyToTheAddressThatSentTheSubmissionAndAsksAreLimited) {
  TestServer::Settings settings;
  settings.rateLimit = 2;
  TestServer server(db_, settings);
  ASSERT_EQ(server.Submit(MakePlayer("Ada"), 42).status, 200);
  auto ask = [&](const std::string& source, int score) {
    RawClient c(server.Port(), source);
    c.Send("GET /vesquin/top2.php?" + GameQuery(MakePlayer("Ada"), score) +
           " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    std::string answer = c.ReadUntilClosed(3s);
    const std::size_t body = answer.find("\r\n\r\n");
    return answer.substr(9, 3) + " " + (body == std::string::npos ? "" : answer.substr(body + 4));
  };
  EXPECT_EQ(ask("127.0.0.2", 42), "200 ") << "a guess from another address learns nothing";
  EXPECT_EQ(ask("127.0.0.1", 41), "200 ") << "nor one with another score";
  EXPECT_EQ(ask("127.0.0.1", 42), "200 1");
  EXPECT_EQ(ask("127.0.0.1", 42).substr(0, 3), "429") << "asks are limited per address";
  EXPECT_EQ(ask("127.0.0.2", 42), "200 ");
}

TEST_F(HttpTest, LongUrlsBodiesAndOtherMethodsAreRefused) {
  TestServer server(db_);
  std::string filler(4100, 'a');
  auto tooLong = HttpGet(server.Url("/vesquin/top1.php?" + GameQuery(MakePlayer("a"), 5) + "&pad=" + filler));
  EXPECT_EQ(tooLong.status, 414);
  auto farTooLong = HttpGet(
      server.Url("/vesquin/top1.php?" + GameQuery(MakePlayer("a"), 5) + "&pad=" + std::string(40000, 'a')));
  EXPECT_TRUE(farTooLong.status == 414 || farTooLong.status == 0) << farTooLong.status;

  std::string target = "/vesquin/top1.php?" + GameQuery(MakePlayer("b"), 5);
  {
    RawClient c(server.Port());
    ASSERT_TRUE(c.Connected());
    c.Send("POST " + target + " HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello");
    EXPECT_EQ(c.ReadUntilClosed(3s).rfind("HTTP/1.1 405", 0), 0u);
  }
  {
    RawClient c(server.Port());
    c.Send("GET " + target + " HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello");
    EXPECT_EQ(c.ReadUntilClosed(3s).rfind("HTTP/1.1 413", 0), 0u);
  }
  {
    RawClient c(server.Port());
    c.Send("GET " + target +
           " HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n");
    EXPECT_EQ(c.ReadUntilClosed(3s).rfind("HTTP/1.1 413", 0), 0u);
  }
  EXPECT_EQ(server.Scores().Counts()->submissions, 0);
  EXPECT_EQ(HttpGet(server.Url("/elsewhere")).status, 404);
  auto moved = HttpGet(server.Url("/vesquin"));
  EXPECT_EQ(moved.status, 301);
  EXPECT_EQ(moved.headers["location"], "/vesquin/");
}

TEST_F(HttpTest, ConnectionLimitsPerAddressAndInAll) {
  TestServer::Settings settings;
  settings.server.maxPerAddress = 2;
  settings.server.maxConnections = 4;
  TestServer server(db_, settings);
  auto refused = [&](const std::string& source) {
    RawClient c(server.Port(), source);
    if (!c.Connected()) return true;
    bool closed = false;
    c.ReadUntilClosed(2s, &closed);
    return closed;
  };
  std::vector<std::unique_ptr<RawClient>> held;
  auto hold = [&](const std::string& source) {
    held.push_back(std::make_unique<RawClient>(server.Port(), source));
    held.back()->Send("GET /vesquin/ HTTP/1.1\r\n");  // a request that never ends
  };
  hold("127.0.0.2");
  hold("127.0.0.2");
  std::this_thread::sleep_for(200ms);
  EXPECT_TRUE(refused("127.0.0.2")) << "a third connection from one address is closed at once";
  // All four slots full, one address holding two of them: a newcomer takes one of those two
  // at once rather than wait behind them.
  hold("127.0.0.3");
  hold("127.0.0.4");
  std::this_thread::sleep_for(200ms);
  auto servedAtOnce = HttpGet(server.Url("/vesquin/"), 2s);
  EXPECT_EQ(servedAtOnce.status, 200) << servedAtOnce.error;
  bool closed = false;
  held[0]->ReadUntilClosed(1s, &closed);
  bool closedSecond = false;
  held[1]->ReadUntilClosed(1s, &closedSecond);
  EXPECT_TRUE(closed || closedSecond) << "one of the two slots of 127.0.0.2 went to the newcomer";

  // Every slot held by a different address: a new client waits, unanswered and not reset,
  // until a slot frees.
  held.clear();
  for (const char* source : {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.6"}) hold(source);
  std::this_thread::sleep_for(200ms);
  RawClient waiting(server.Port(), "127.0.0.5");
  ASSERT_TRUE(waiting.Connected());
  waiting.Send("GET /vesquin/ HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(waiting.ReadUntilClosed(1s, &closed), "") << "a fifth connection in all is not served";
  EXPECT_FALSE(closed);
  held.clear();
  EXPECT_EQ(waiting.ReadUntilClosed(5s).rfind("HTTP/1.1 200", 0), 0u) << "it is served once slots come back";
  EXPECT_EQ(HttpGet(server.Url("/vesquin/")).status, 200);
}

TEST_F(HttpTest, SlowAndEndlessClientsAreCutOff) {
  TestServer::Settings settings;
  settings.server.timeoutSeconds = 1;
  TestServer server(db_, settings);
  RawClient slow(server.Port());
  slow.Send("GET /vesquin/ HTTP/1.1\r\nHost: x\r\n");
  EXPECT_EQ(HttpGet(server.Url("/vesquin/")).status, 200) << "a stalled client holds nobody up";
  bool closed = false;
  auto start = std::chrono::steady_clock::now();
  slow.ReadUntilClosed(5s, &closed);
  EXPECT_TRUE(closed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);

  RawClient endless(server.Port());
  endless.Send("GET /vesquin/ HTTP/1.1\r\nHost: x\r\n");
  std::string header = "X-Fill: " + std::string(1000, 'f') + "\r\n";
  for (int i = 0; i < 64 && endless.Send(header); ++i) {
  }
  std::string answer = endless.ReadUntilClosed(3s, &closed);
  EXPECT_TRUE(closed);
  EXPECT_EQ(answer.find("200 OK"), std::string::npos);
}

TEST_F(HttpTest, TricklingClientsAreClosedAtTheRequestDeadline) {
  TestServer::Settings settings;
  settings.server.requestTimeoutSeconds = 1;  // the idle limit (10 s) is never reached
  TestServer server(db_, settings);
  RawClient trickle(server.Port(), "127.0.0.2");
  trickle.Send("GET /vesquin/ HTTP/1.1\r\nHost: x\r\n");
  auto start = std::chrono::steady_clock::now();
  bool closed = false;
  for (int i = 0; i < 20 && !closed; ++i) {
    trickle.Send("X-Slow: " + std::to_string(i) + "\r\n");
    trickle.ReadUntilClosed(300ms, &closed);
  }
  EXPECT_TRUE(closed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);

  // A kept-alive connection gets a fresh deadline after each answer.
  RawClient kept(server.Port(), "127.0.0.3");
  for (int i = 0; i < 3; ++i) {
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(kept.Send("GET /vesquin/top.json HTTP/1.1\r\nHost: x\r\n\r\n"));
    auto answer = kept.ReadUntilClosed(300ms, &closed);
    EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << "request " << i;
    ASSERT_FALSE(closed);
  }
  server.Http().Stop();
  int notes = 0;
  for (const auto& l : server.LogLines())
    notes += l.find("request head not complete within 1 s") != std::string::npos;
  EXPECT_GE(notes, 1);
}

TEST_F(HttpTest, SlowClientAttackLeavesANormalClientServed) {
  // 200 sockets from 25 addresses trickling header lines, against the default slot limits.
  TestServer::Settings settings;
  settings.server.requestTimeoutSeconds = 2;
  TestServer server(db_, settings);
  bench::AttackSettings attack;
  attack.port = server.Port();
  attack.lineInterval = 1s;
  attack.duration = 6s;
  attack.normalTimeout = 2s;
  auto report = bench::RunSlowClientAttack(attack);
  EXPECT_EQ(report.normalFailures, 0);
  EXPECT_GT(report.latenciesMs.size(), 20u);
  EXPECT_GT(report.attackConnections, 200) << "the attack was cut off and came back";
  std::printf("normal client during the attack: p50 %.1f ms, p99 %.1f ms, %zu requests\n",
              report.Percentile(50), report.Percentile(99), report.latenciesMs.size());
}

TEST_F(HttpTest, LogLinesEscapeControlBytesAndSummariseRefusals) {
  TestServer::Settings settings;
  settings.server.maxPerAddress = 2;
  TestServer server(db_, settings);
  {
    RawClient c(server.Port());
    c.Send("GET /vesquin/\x1b[2J\rFAKE 200 line\x7f\xe9 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    c.ReadUntilClosed(2s);
  }
  // A flood of connections from one address: most are refused.
  std::vector<std::unique_ptr<RawClient>> flood;
  for (int i = 0; i < 40; ++i) flood.push_back(std::make_unique<RawClient>(server.Port(), "127.0.0.9"));
  std::this_thread::sleep_for(300ms);
  flood.clear();
  server.Http().Stop();
  auto lines = server.LogLines();
  bool escaped = false;
  int refusalLines = 0;
  for (const auto& l : lines) {
    for (unsigned char c : l) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << l;
    escaped |= l.find("GET /vesquin/\\x1b[2J\\x0dFAKE 200 line\\x7f\\xe9 404") != std::string::npos;
    refusalLines += l.find("connections from this address already") != std::string::npos;
  }
  EXPECT_TRUE(escaped);
  EXPECT_GE(refusalLines, 1);
  EXPECT_LE(refusalLines, 2) << "one line at once, the rest counted into one summary";
  EXPECT_LT(lines.size(), 10u);
}

TEST_F(HttpTest, LogFieldsAreCutAndOneClientCannotFloodTheLog) {
  TestServer server(db_);
  {
    RawClient c(server.Port());
    c.Send(std::string(30000, 'G') + " /vesquin/ HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    c.ReadUntilClosed(2s);
  }
  // Kept alive and as fast as the server answers: far more than the client's share of the log.
  {
    RawClient c(server.Port());
    std::string burst;
    for (int i = 0; i < 500; ++i)
      burst += "GET /vesquin/" + std::string(150, 'x') + " HTTP/1.1\r\nHost: x\r\n\r\n";
    c.Send(burst + "GET /vesquin/ HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    c.ReadUntilClosed(5s);
  }
  server.Http().Stop();
  std::size_t bytes = 0;
  for (const auto& l : server.LogLines()) {
    EXPECT_LT(l.size(), 400u) << l.substr(0, 100);
    bytes += l.size();
  }
  EXPECT_LE(bytes, LogBudget::kBytesPerMinute + 400);
  EXPECT_GT(bytes, LogBudget::kBytesPerMinute / 2);
}

TEST_F(HttpTest, RequestsThatReadTwoWaysAreRefusedAndTheConnectionClosed) {
  TestServer server(db_);
  auto answer = [&](const std::string& request) {
    RawClient c(server.Port());
    c.Send(request);
    bool closed = false;
    std::string text = c.ReadUntilClosed(3s, &closed);
    EXPECT_TRUE(closed) << request;
    return text;
  };
  constexpr char kNulInUrl[] = "GET /vesquin/top.json\0.js HTTP/1.1\r\nHost: x\r\n\r\n";
  std::string nul = answer(std::string(kNulInUrl, sizeof kNulInUrl - 1));
  EXPECT_EQ(nul.substr(0, 12), "HTTP/1.1 400") << nul;
  std::string twoLengths = answer(
      "GET /vesquin/top.json HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\nContent-Length: 41\r\n\r\n"
      "GET /vesquin/top1.php HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(twoLengths.substr(0, 12), "HTTP/1.1 400") << twoLengths;
  EXPECT_EQ(twoLengths.find("HTTP/1.1", 1), std::string::npos) << "nothing smuggled after it";
}

TEST_F(HttpTest, ClientsThatCloseHalfwayGiveTheirPlaceBackAtOnce) {
  TestServer::Settings settings;
  settings.server.maxConnections = 4;
  TestServer server(db_, settings);
  for (int i = 0; i < 200; ++i) {
    RawClient c(server.Port(), "127.0.1." + std::to_string(1 + i));
    c.Send("GET /vesquin/ HTTP/1.1\r\nHost: ");
  }
  auto during = HttpGet(server.Url("/vesquin/top.json"), 2s);
  EXPECT_EQ(during.status, 200) << "not held behind the deserted connections' deadlines: " << during.error;
}

TEST_F(HttpTest, AConnectionKeptAliveIdleGivesWayToANewClient) {
  TestServer::Settings settings;
  settings.server.maxConnections = 2;
  TestServer server(db_, settings);
  std::vector<std::unique_ptr<RawClient>> kept;
  for (const char* source : {"127.0.0.2", "127.0.0.3"}) {
    kept.push_back(std::make_unique<RawClient>(server.Port(), source));
    kept.back()->Send("GET /vesquin/top.json HTTP/1.1\r\nHost: x\r\n\r\n");
  }
  std::this_thread::sleep_for(300ms);
  auto answer = HttpGet(server.Url("/vesquin/top.json"), 2s);
  EXPECT_EQ(answer.status, 200) << answer.error;
}

TEST_F(HttpTest, HeadStoresNothingAndOwnErrorAnswersCarryTheHeaders) {
  TestServer server(db_);
  std::string target = "/vesquin/top1.php?" + GameQuery(MakePlayer("head"), 5);
  {
    RawClient c(server.Port());
    c.Send("HEAD " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(c.ReadUntilClosed(3s).rfind("HTTP/1.1 200", 0), 0u);
  }
  EXPECT_EQ(server.Scores().Counts()->submissions, 0);

  auto tooLong = HttpGet(server.Url("/vesquin/top1.php?pad=" + std::string(4100, 'a')));
  EXPECT_EQ(tooLong.status, 414);
  EXPECT_EQ(tooLong.headers["x-content-type-options"], "nosniff");
  EXPECT_EQ(tooLong.headers["content-security-policy"], "default-src 'none'; style-src 'unsafe-inline'");
  RawClient big(server.Port());
  std::string headers;
  for (int i = 0; i < 12; ++i)
    headers += "X-Big-" + std::to_string(i) + ": " + std::string(1000, 'b') + "\r\n";
  big.Send("GET /vesquin/ HTTP/1.1\r\nHost: x\r\n" + headers + "Connection: close\r\n\r\n");
  auto answer = big.ReadUntilClosed(3s);
  EXPECT_EQ(answer.rfind("HTTP/1.1 431", 0), 0u) << answer.substr(0, 80);
  EXPECT_NE(answer.find("X-Content-Type-Options: nosniff"), std::string::npos);
}

TEST_F(HttpTest, CrlfDetailsAreStoredAndFoundWithoutTheCarriageReturn) {
  TestServer server(db_);
  Player crlf{"Ann\r", "Lee\r", "1 Road\r", "UK\r"};
  ASSERT_EQ(server.Submit(crlf, 42).status, 200);
  EXPECT_EQ(server.AskPlace(crlf, 42).body, "1");
  EXPECT_EQ(server.AskPlace(MakePlayer("Ann", "Lee", "1 Road", "UK"), 42).body, "1")
      << "one player, one line";
  EXPECT_EQ(server.Scores().Top(1)->at(0).firstName, "Ann");
}

TEST_F(HttpTest, TrustedProxyNamesTheClientOthersCannot) {
  TestServer::Settings settings;
  settings.rateLimit = 1;
  settings.server.trustedProxies = {"127.0.0.1/32"};
  TestServer server(db_, settings);
  auto submit = [&](const std::string& source, const std::string& forwarded, const std::string& who) {
    RawClient c(server.Port(), source);
    c.Send("GET /vesquin/top1.php?" + GameQuery(MakePlayer(who), 5) +
           " HTTP/1.1\r\nHost: x\r\nX-Forwarded-For: " + forwarded + "\r\nConnection: close\r\n\r\n");
    auto answer = c.ReadUntilClosed(3s);
    return answer.substr(9, 3);
  };
  // Behind the proxy, each player is limited under their own address.
  EXPECT_EQ(submit("127.0.0.1", "198.51.100.7", "a"), "200");
  EXPECT_EQ(submit("127.0.0.1", "198.51.100.8", "b"), "200");
  EXPECT_EQ(submit("127.0.0.1", "203.0.113.1, 198.51.100.7", "c"), "429") << "the right-most entry counts";
  // From any other peer the header is ignored: it cannot dodge the limit.
  EXPECT_EQ(submit("127.0.0.2", "192.0.2.1", "d"), "200");
  EXPECT_EQ(submit("127.0.0.2", "192.0.2.2", "e"), "429");
  server.Http().Stop();
  bool via = false;
  for (const auto& l : server.LogLines())
    via |= l.find(" 198.51.100.8 (via 127.0.0.1) GET") != std::string::npos;
  EXPECT_TRUE(via);
}

TEST_F(HttpTest, ReadersAnswerWhileAnotherProcessHoldsTheWriteLock) {
  TestServer server(db_);
  ASSERT_EQ(server.Submit(MakePlayer("before"), 50).status, 200);
  sqlite3* operatorShell = nullptr;
  ASSERT_EQ(sqlite3_open(db_.c_str(), &operatorShell), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(operatorShell, "BEGIN IMMEDIATE; DELETE FROM players;", nullptr, nullptr, nullptr),
            SQLITE_OK);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(server.AskPlace(MakePlayer("before"), 50).body, "1");
  EXPECT_EQ(HttpGet(server.Url("/vesquin/top.json")).status, 200);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms) << "readers never wait for the writer";
  // A submission cannot commit: refused within the bound, and not stored.
  auto refused = server.Submit(MakePlayer("during"), 60);
  EXPECT_EQ(refused.status, 503);
  EXPECT_FALSE(refused.body.empty());
  EXPECT_FALSE(refused.body[0] >= '0' && refused.body[0] <= '9');
  sqlite3_exec(operatorShell, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(operatorShell);
  EXPECT_EQ(server.AskPlace(MakePlayer("during"), 60).body, "");
  EXPECT_EQ(server.Submit(MakePlayer("after"), 70).status, 200);
  EXPECT_EQ(server.AskPlace(MakePlayer("after"), 70).body, "1");
}

TEST_F(HttpTest, PageAndJsonShowTheTableSafely) {
  TestServer server(db_);
  ASSERT_EQ(server.Submit(MakePlayer("<script>alert(1)</script>", "Doe", "SECRET-STREET-9", "FR"), 80).status,
            200);
  ASSERT_EQ(server
                .Submit(MakePlayer("Ren\xE9", "Latin", "SECRET-STREET-8",
                                   "\xC9"
                                   "cosse"),
                        70)
                .status,
            200);
  auto page = HttpGet(server.Url("/vesquin/"));
  ASSERT_EQ(page.status, 200);
  EXPECT_EQ(page.headers["content-type"], "text/html; charset=utf-8");
  EXPECT_EQ(page.headers["content-security-policy"], "default-src 'none'; style-src 'unsafe-inline'");
  EXPECT_EQ(page.headers["x-content-type-options"], "nosniff");
  EXPECT_EQ(page.headers["referrer-policy"], "no-referrer");
  EXPECT_NE(page.body.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  EXPECT_EQ(page.body.find("<script"), std::string::npos);
  EXPECT_NE(page.body.find("Ren\xC3\xA9"), std::string::npos);
  EXPECT_NE(page.body.find("\xC3\x89"
                           "cosse"),
            std::string::npos);
  EXPECT_EQ(page.body.find("SECRET-STREET"), std::string::npos);

  auto json = HttpGet(server.Url("/vesquin/top.json"));
  ASSERT_EQ(json.status, 200);
  EXPECT_EQ(json.headers["content-type"], "application/json");
  EXPECT_NE(json.body.find("\"first_name\":\"\\u003cscript\\u003ealert(1)\\u003c/script\\u003e\""),
            std::string::npos);
  EXPECT_EQ(json.body.find("SECRET-STREET"), std::string::npos);
  EXPECT_EQ(json.body.find("addr"), std::string::npos);
}

TEST_F(HttpTest, ConcurrentSubmissionsAllLand) {
  TestServer::Settings settings;
  settings.server.threads = 4;
  settings.server.maxPerAddress = 64;
  TestServer server(db_, settings);
  constexpr int kThreads = 8, kPlayersEach = 10, kRepeats = 2;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int r = 0; r < kRepeats; ++r)
        for (int p = 0; p < kPlayersEach; ++p) {
          auto res =
              server.Submit(MakePlayer("t" + std::to_string(t) + "p" + std::to_string(p)), 1 + p + r * 50);
          if (res.status != 200) ++failures;
        }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  auto counts = *server.Scores().Counts();
  EXPECT_EQ(counts.players, kThreads * kPlayersEach);
  EXPECT_EQ(counts.submissions, kThreads * kPlayersEach * kRepeats);
  auto top = *server.Scores().Top(100);
  EXPECT_EQ(top.front().score, kPlayersEach + 50);
  EXPECT_EQ(top.back().score, 1 + 50);  // every player kept the better of its two scores
}

TEST_F(HttpTest, OneLogLinePerRequestWithoutThePlayersDetails) {
  TestServer server(db_);
  server.Submit(MakePlayer("Ada", "L", "PRIVATE-ADDRESS"), 10);
  server.AskPlace(MakePlayer("Ada", "L", "PRIVATE-ADDRESS"), 10);
  HttpGet(server.Url("/vesquin/top1.php?score=0"));
  server.Http().Stop();
  auto lines = server.LogLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find(" 127.0.0.1 GET /vesquin/top1.php 200 "), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("/vesquin/top2.php 200 1B"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find(" 400 "), std::string::npos) << lines[2];
  for (const auto& l : lines) EXPECT_EQ(l.find("PRIVATE-ADDRESS"), std::string::npos) << l;
}

TEST_F(HttpTest, RestartKeepsTheTable) {
  {
    TestServer server(db_);
    ASSERT_EQ(server.Submit(MakePlayer("kept"), 77).status, 200);
    ASSERT_EQ(server.Submit(MakePlayer("second"), 66).status, 200);
  }
  TestServer again(db_);
  EXPECT_EQ(again.AskPlace(MakePlayer("kept"), 77).body, "1");
  EXPECT_EQ(again.AskPlace(MakePlayer("second"), 66).body, "2");
}

}  // namespace
}  // namespace vesquin::scored
