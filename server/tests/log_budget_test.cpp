#include "log_budget.h"

#include <gtest/gtest.h>

namespace vesquin::scored {
namespace {

using namespace std::chrono_literals;

TEST(LogBudget, AClientOverItsShareIsDroppedAndCountedOnceAMinute) {
  LogBudget budget;
  LogBudget::Clock::time_point t0{std::chrono::hours(1)};
  std::size_t kept = 0;
  for (int i = 0; i < 1000; ++i) kept += budget.Take("192.0.2.1", 100, t0 + 1ms * i);
  EXPECT_EQ(kept, LogBudget::kBytesPerMinute / 100);
  EXPECT_TRUE(budget.Take("192.0.2.2", 100, t0 + 2s)) << "others keep their own share";
  EXPECT_FALSE(budget.Summary(t0 + 30s)) << "said once, when the minute is over";
  auto summary = budget.Summary(t0 + 61s);
  ASSERT_TRUE(summary);
  EXPECT_EQ(*summary,
            std::to_string(1000 - kept) + " log lines (" + std::to_string((1000 - kept) * 100) +
                " bytes) dropped in the last minute from 1 clients over their share of 32768 bytes a "
                "minute");
  EXPECT_FALSE(budget.Summary(t0 + 62s));
  EXPECT_TRUE(budget.Take("192.0.2.1", 100, t0 + 62s)) << "a new minute, a new share";
}

}  // namespace
}  // namespace vesquin::scored
