#include "refusal_log.h"

#include <gtest/gtest.h>

namespace vesquin::scored {
namespace {

using namespace std::chrono_literals;
const RefusalLog::Clock::time_point t0{std::chrono::hours(1)};

TEST(RefusalLog, FirstOfAKindAtOnceTheRestAsOneLinePerWindow) {
  RefusalLog log(5s);
  EXPECT_EQ(log.Note("full", "1.2.3.4 full", t0), "1.2.3.4 full");
  EXPECT_EQ(log.Note("other", "5.6.7.8 other", t0), "5.6.7.8 other") << "kinds are apart";
  for (int i = 0; i < 1000; ++i) EXPECT_FALSE(log.Note("full", "9.9.9.9 full", t0 + 1s));
  EXPECT_TRUE(log.Flush(t0 + 4s).empty()) << "the window is still open";
  auto lines = log.Flush(t0 + 5s);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "1000 more in 5.0 s like: 9.9.9.9 full");
  EXPECT_FALSE(log.Note("full", "x full", t0 + 6s)) << "a new window began with the summary";
  EXPECT_EQ(log.Flush(t0 + 10s).size(), 1u);
  // A quiet window ends the kind: the next one is logged at once again.
  EXPECT_TRUE(log.Flush(t0 + 15s).empty());
  EXPECT_EQ(log.Note("full", "y full", t0 + 16s), "y full");
}

}  // namespace
}  // namespace vesquin::scored
