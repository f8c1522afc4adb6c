#include "log_budget.h"

#include <utility>

namespace vesquin::scored {
namespace {
constexpr auto kWindow = std::chrono::minutes(1);
}

void LogBudget::Roll(Clock::time_point now) {
  if (now - windowStart_ < kWindow) return;
  if (droppedLines_ > 0)
    pending_ = std::to_string(droppedLines_) + " log lines (" + std::to_string(droppedBytes_) +
               " bytes) dropped in the last minute from " + std::to_string(clientsOver_) +
               " clients over their share of " + std::to_string(kBytesPerMinute) + " bytes a minute";
  spent_.clear();
  droppedLines_ = droppedBytes_ = clientsOver_ = 0;
  windowStart_ = now;
}

bool LogBudget::Take(std::string_view client, std::size_t bytes, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  Roll(now);
  auto it = spent_.find(std::string(client));
  if (it == spent_.end() && spent_.size() < kMaxClients) it = spent_.emplace(client, 0).first;
  if (it == spent_.end() || it->second + bytes > kBytesPerMinute) {
    if (it != spent_.end() && it->second <= kBytesPerMinute) {
      ++clientsOver_;
      it->second = kBytesPerMinute + 1;  // over: counted once
    }
    ++droppedLines_;
    droppedBytes_ += bytes;
    return false;
  }
  it->second += bytes;
  return true;
}

std::optional<std::string> LogBudget::Summary(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  Roll(now);
  return std::exchange(pending_, std::nullopt);
}

}  // namespace vesquin::scored
