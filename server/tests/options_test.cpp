#include "options.h"

#include <gtest/gtest.h>

namespace vesquin::scored {
namespace {

TEST(Options, DefaultsMatchTheGamesSetting) {
  auto o = ParseOptions({});
  ASSERT_TRUE(o);
  EXPECT_EQ(o->db, "scores.db");
  EXPECT_EQ(o->server.listen, "127.0.0.1:8480");
  EXPECT_EQ(o->rateLimitPerMinute, 10u);
  EXPECT_EQ(o->server.maxConnections, 64u);
  EXPECT_EQ(o->server.maxPerAddress, 8u);
  EXPECT_EQ(o->server.timeoutSeconds, 10u);
}

TEST(Options, ReadsEverySettingInBothForms) {
  auto o = ParseOptions({"--db", "/tmp/x.db", "--listen=[::1]:9000", "--rate-limit", "0", "--threads=3",
                         "--max-connections", "100", "--max-per-address", "2", "--timeout", "30"});
  ASSERT_TRUE(o) << o.Error();
  EXPECT_EQ(o->db, "/tmp/x.db");
  EXPECT_EQ(o->server.listen, "[::1]:9000");
  EXPECT_EQ(o->rateLimitPerMinute, 0u);
  EXPECT_EQ(o->server.threads, 3u);
  EXPECT_EQ(o->server.maxConnections, 100u);
  EXPECT_EQ(o->server.maxPerAddress, 2u);
  EXPECT_EQ(o->server.timeoutSeconds, 30u);
}

TEST(Options, RefusesBadInputWithAReason) {
  for (std::vector<std::string> bad :
       std::vector<std::vector<std::string>>{{"--rate-limit", "ten"},
                                             {"--rate-limit", "-1"},
                                             {"--threads", "0"},
                                             {"--listen", "8480"},
                                             {"--listen", "127.0.0.1:99999"},
                                             {"--listen", "[::1]8480"},
                                             {"--db"},
                                             {"--frobnicate", "1"},
                                             {"--timeout", "5s"},
                                             {"--request-timeout", "0"},
                                             {"--trusted-proxy", "10.0.0.0/40"},
                                             {"--trusted-proxy", "proxy.example"}}) {
    auto o = ParseOptions(bad);
    EXPECT_FALSE(o) << bad[0];
    EXPECT_FALSE(o.Error().empty());
  }
}

TEST(Options, RequestDeadlineAndRepeatedTrustedProxies) {
  auto o = ParseOptions(
      {"--request-timeout", "3", "--trusted-proxy", "127.0.0.1", "--trusted-proxy=2001:db8::/32"});
  ASSERT_TRUE(o) << o.Error();
  EXPECT_EQ(o->server.requestTimeoutSeconds, 3u);
  EXPECT_EQ(o->server.trustedProxies, (std::vector<std::string>{"127.0.0.1", "2001:db8::/32"}));
}

TEST(ListenAddress, ParsesIpv4AndIpv6) {
  auto v4 = ParseListenAddress("127.0.0.1:8480");
  ASSERT_TRUE(v4);
  EXPECT_FALSE(v4->ipv6);
  auto v6 = ParseListenAddress("[::1]:0");
  ASSERT_TRUE(v6);
  EXPECT_TRUE(v6->ipv6);
}

}  // namespace
}  // namespace vesquin::scored
