#include "trusted_proxies.h"

#include <gtest/gtest.h>

namespace vesquin::scored {
namespace {

TEST(TrustedProxies, MatchesNetworksOfBothFamilies) {
  TrustedProxies proxies;
  ASSERT_TRUE(proxies.Add("10.1.0.0/16").ok);
  ASSERT_TRUE(proxies.Add("192.0.2.7").ok);
  ASSERT_TRUE(proxies.Add("2001:db8:aa::/48").ok);
  EXPECT_TRUE(proxies.Contains("10.1.200.3"));
  EXPECT_FALSE(proxies.Contains("10.2.0.1"));
  EXPECT_TRUE(proxies.Contains("192.0.2.7"));
  EXPECT_FALSE(proxies.Contains("192.0.2.8"));
  EXPECT_TRUE(proxies.Contains("::ffff:10.1.0.9")) << "IPv4-mapped is IPv4";
  EXPECT_TRUE(proxies.Contains("2001:db8:aa:ffff::1"));
  EXPECT_FALSE(proxies.Contains("2001:db8:ab::1"));
  EXPECT_FALSE(proxies.Contains("not an address"));
  for (const char* bad : {"10.0.0.0/33", "::/129", "10.0.0.0/", "10.0.0.0/x", "proxy.example", ""})
    EXPECT_FALSE(proxies.Add(bad).ok) << bad;
}

TEST(TrustedProxies, ClientIsTheRightMostUntrustedEntry) {
  TrustedProxies proxies;
  proxies.Add("127.0.0.1");
  proxies.Add("10.0.0.0/8");
  // A client may send any X-Forwarded-For of its own; the proxies append behind it.
  EXPECT_EQ(proxies.ClientOf("127.0.0.1", "6.6.6.6, 198.51.100.1, 10.0.0.2"), "198.51.100.1");
  EXPECT_EQ(proxies.ClientOf("127.0.0.1", " 2001:db8::1 "), "2001:db8::1");
  EXPECT_EQ(proxies.ClientOf("127.0.0.1", "::ffff:198.51.100.2"), "198.51.100.2");
  EXPECT_EQ(proxies.ClientOf("127.0.0.1", ""), "127.0.0.1") << "no header: the proxy itself";
  EXPECT_EQ(proxies.ClientOf("127.0.0.1", "10.0.0.3"), "127.0.0.1") << "only proxies listed";
  EXPECT_EQ(proxies.ClientOf("127.0.0.1", "198.51.100.1, garbage"), "127.0.0.1") << "not an address";
  EXPECT_EQ(proxies.ClientOf("203.0.113.9", "198.51.100.1"), "203.0.113.9") << "untrusted peers are ignored";
}

}  // namespace
}  // namespace vesquin::scored
