#include "connection_table.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "rate_limit.h"

namespace vesquin::scored {
namespace {

using namespace std::chrono_literals;
using Verdict = ConnectionTable::Verdict;
const ConnectionTable::Clock::time_point t0{std::chrono::hours(1)};

ConnectionLimits Limits(unsigned active, unsigned perAddress, unsigned waiting) {
  return ConnectionLimits{active, perAddress, waiting, 5000ms};
}

TEST(ConnectionTable, PerAddressLimitCountsAnIpv6Slash64AsOneAddress) {
  ConnectionTable table(Limits(10, 2, 10));
  EXPECT_EQ(table.Arrive(1, RateLimitKey("2001:db8:1:2::1"), false, t0).verdict, Verdict::kServe);
  EXPECT_EQ(table.Arrive(2, RateLimitKey("2001:db8:1:2:ffff::9"), false, t0).verdict, Verdict::kServe);
  EXPECT_EQ(table.Arrive(3, RateLimitKey("2001:db8:1:2:aaaa::1"), false, t0).verdict, Verdict::kRefuse);
  EXPECT_EQ(table.Arrive(4, RateLimitKey("2001:db8:1:3::1"), false, t0).verdict, Verdict::kServe)
      << "the next /64 is another address";
  EXPECT_EQ(table.Arrive(5, "proxy", true, t0).verdict, Verdict::kServe);
  EXPECT_EQ(table.Arrive(6, "proxy", true, t0).verdict, Verdict::kServe);
  EXPECT_EQ(table.Arrive(7, "proxy", true, t0).verdict, Verdict::kServe) << "a trusted proxy is not limited";
  table.Closed(1);
  EXPECT_EQ(table.Arrive(8, RateLimitKey("2001:db8:1:2::5"), false, t0).verdict, Verdict::kServe);
}

TEST(ConnectionTable, ANewcomerTakesAnIdleSlotOfACrowdedAddress) {
  ConnectionTable table(Limits(4, 8, 8));
  for (ConnectionTable::Id id : {1, 2, 3}) table.Arrive(id, "crowd", false, t0 + std::chrono::seconds(id));
  table.Arrive(4, "other", false, t0);
  table.RequestStarted(1);  // busy: never taken
  auto a = table.Arrive(5, "new", false, t0 + 10s);
  EXPECT_EQ(a.verdict, Verdict::kServe);
  EXPECT_EQ(a.evict, ConnectionTable::Id{2}) << "the idle connection of the crowded address served longest";
  EXPECT_EQ(table.Active(), 4u);
  // Now crowd 2, other 1, new 1: nobody holds two more than "other" does, so it waits.
  auto b = table.Arrive(6, "other", false, t0 + 11s);
  EXPECT_EQ(b.verdict, Verdict::kWait);
  EXPECT_FALSE(b.evict);
}

TEST(ConnectionTable, AConnectionKeptAliveIdleGivesWayWhenEveryAddressHoldsOne) {
  ConnectionTable table({2, 8, 8, 5s});
  table.Arrive(1, "a", false, t0);
  table.Arrive(2, "b", false, t0);
  table.RequestStarted(1);
  EXPECT_EQ(table.Arrive(3, "c", false, t0 + 1s).verdict, Verdict::kWait) << "no one is idle yet";
  table.Closed(3);
  table.RequestEnded(1, t0 + 1s);
  table.RequestStarted(2);
  table.RequestEnded(2, t0 + 2s);
  auto a = table.Arrive(4, "c", false, t0 + 3s);
  EXPECT_EQ(a.verdict, Verdict::kServe);
  EXPECT_EQ(a.evict, std::optional<ConnectionTable::Id>(1)) << "the one idle longest";
}

TEST(ConnectionTable, WaitingConnectionsAreServedLeastServedAddressFirst) {
  ConnectionTable table(Limits(2, 8, 4));
  table.Arrive(1, "a", false, t0);
  table.Arrive(2, "b", false, t0);
  EXPECT_EQ(table.Arrive(3, "a", false, t0 + 1s).verdict, Verdict::kWait);
  EXPECT_EQ(table.Arrive(4, "c", false, t0 + 2s).verdict, Verdict::kWait);
  EXPECT_TRUE(table.Promote(t0 + 3s).empty()) << "no slot free yet";
  table.Closed(2);
  EXPECT_EQ(table.Promote(t0 + 3s), std::vector<ConnectionTable::Id>{4}) << "c has nothing served, a has one";
  table.Closed(1);
  EXPECT_EQ(table.Promote(t0 + 4s), std::vector<ConnectionTable::Id>{3});
  EXPECT_EQ(table.Waiting(), 0u);
}

TEST(ConnectionTable, AFullWaitingListShedsTheHeaviestAddress) {
  ConnectionTable table(Limits(1, 8, 3));
  table.Arrive(1, "x", false, t0);
  table.RequestStarted(1);
  table.Arrive(2, "flood", false, t0 + 1s);
  table.Arrive(3, "flood", false, t0 + 2s);
  EXPECT_TRUE(table.CanHoldMore());
  auto a = table.Arrive(4, "quiet", false, t0 + 3s);
  EXPECT_EQ(a.verdict, Verdict::kWait);
  EXPECT_EQ(a.evict, ConnectionTable::Id{3}) << "the newest waiting connection of the flooding address";
  EXPECT_TRUE(table.CanHoldMore());
}

TEST(ConnectionTable, DeadlineCoversTheRequestHeadAndRenewsAfterEachAnswer) {
  ConnectionTable table(Limits(4, 8, 4));
  table.Arrive(1, "a", false, t0);
  table.Arrive(2, "b", false, t0);
  table.RequestStarted(2);
  EXPECT_TRUE(table.Expired(t0 + 4999ms).empty());
  EXPECT_EQ(table.Expired(t0 + 5s), std::vector<ConnectionTable::Id>{1});
  EXPECT_TRUE(table.Expired(t0 + 60s).empty()) << "a request being answered is not cut";
  table.RequestEnded(2, t0 + 60s);
  EXPECT_TRUE(table.Expired(t0 + 64s).empty());
  EXPECT_EQ(table.Expired(t0 + 65s), std::vector<ConnectionTable::Id>{2});
  EXPECT_EQ(table.Active(), 0u) << "expired connections no longer hold slots";
}

}  // namespace
}  // namespace vesquin::scored
