#include "rate_limit.h"

#include <gtest/gtest.h>

namespace vesquin::scored {
namespace {

using namespace std::chrono_literals;
using Clock = RateLimiter::Clock;

TEST(RateLimiter, AllowsTheLimitPerSlidingMinute) {
  RateLimiter limiter(3);
  Clock::time_point t0{std::chrono::hours(1)};
  EXPECT_TRUE(limiter.Allow("a", t0));
  EXPECT_TRUE(limiter.Allow("a", t0 + 10s));
  EXPECT_TRUE(limiter.Allow("a", t0 + 20s));
  EXPECT_FALSE(limiter.Allow("a", t0 + 30s));
  EXPECT_TRUE(limiter.Allow("b", t0 + 30s)) << "addresses are counted apart";
  // Refused hits do not count: once the first hit is a minute old, one more gets through.
  EXPECT_FALSE(limiter.Allow("a", t0 + 59s));
  EXPECT_TRUE(limiter.Allow("a", t0 + 60s));
  EXPECT_FALSE(limiter.Allow("a", t0 + 61s));
  EXPECT_TRUE(limiter.Allow("a", t0 + 80s));
}

TEST(RateLimiter, ZeroMeansNoLimit) {
  RateLimiter limiter(0);
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(limiter.Allow("a", Clock::time_point{}));
}

TEST(RateLimiter, ForgetsQuietAddresses) {
  RateLimiter limiter(2);
  Clock::time_point t0{std::chrono::hours(1)};
  for (int i = 0; i < 100; ++i) limiter.Allow("addr" + std::to_string(i), t0);
  EXPECT_EQ(limiter.TrackedAddresses(), 100u);
  limiter.Allow("late", t0 + 2min);
  EXPECT_EQ(limiter.TrackedAddresses(), 1u);
}

TEST(RateLimiter, AFullTableForgetsItsLeastRecentAddressAndNeverRefusesANewcomer) {
  RateLimiter limiter(1);
  Clock::time_point t0{std::chrono::hours(1)};
  ASSERT_TRUE(limiter.Allow("first", t0));
  for (std::size_t i = 0; i < RateLimiter::kMaxTrackedAddresses; ++i)
    ASSERT_TRUE(limiter.Allow("a" + std::to_string(i), t0 + 1s)) << i;
  EXPECT_EQ(limiter.TrackedAddresses(), RateLimiter::kMaxTrackedAddresses);
  EXPECT_TRUE(limiter.Allow("first", t0 + 2s)) << "the oldest address was forgotten";
  EXPECT_FALSE(limiter.Allow("a99999", t0 + 2s)) << "a recent one is still counted";
}

TEST(RateLimitKey, GroupsIpv6By64AndUnmapsIpv4) {
  EXPECT_EQ(RateLimitKey("192.0.2.7"), "192.0.2.7");
  EXPECT_EQ(RateLimitKey("::ffff:192.0.2.7"), "192.0.2.7");
  EXPECT_EQ(RateLimitKey("2001:db8:1:2:aaaa::1"), "2001:db8:1:2::/64");
  EXPECT_EQ(RateLimitKey("2001:db8:1:2:bbbb::9"), RateLimitKey("2001:db8:1:2:aaaa::1"));
  EXPECT_NE(RateLimitKey("2001:db8:1:3::1"), RateLimitKey("2001:db8:1:2::1"));
}

}  // namespace
}  // namespace vesquin::scored
