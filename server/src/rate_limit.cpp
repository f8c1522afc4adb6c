#include "rate_limit.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cstdio>

namespace vesquin::scored {
namespace {
constexpr auto kWindow = std::chrono::minutes(1);
}

bool RateLimiter::Allow(std::string_view address, Clock::time_point now) {
  if (perMinute_ == 0) return true;
  std::lock_guard lock(mutex_);
  ForgetExpired(now);
  auto it = hits_.find(std::string(address));
  if (it == hits_.end()) {
    if (hits_.size() >= kMaxTrackedAddresses) {
      hits_.erase(recency_.front());
      recency_.pop_front();
    }
    recency_.emplace_back(address);
    it = hits_.emplace(std::string(address), Entry{{}, std::prev(recency_.end())}).first;
  }
  auto& times = it->second.times;
  std::size_t expired = 0;
  while (expired < times.size() && now - times[expired] >= kWindow) ++expired;
  times.erase(times.begin(), times.begin() + static_cast<std::ptrdiff_t>(expired));
  if (times.size() >= perMinute_) return false;
  times.push_back(now);
  recency_.splice(recency_.end(), recency_, it->second.recency);
  return true;
}

std::size_t RateLimiter::TrackedAddresses() {
  std::lock_guard lock(mutex_);
  return hits_.size();
}

// The addresses whose last counted hit is a minute old have nothing left to count.
void RateLimiter::ForgetExpired(Clock::time_point now) {
  while (!recency_.empty()) {
    auto it = hits_.find(recency_.front());
    if (!it->second.times.empty() && now - it->second.times.back() < kWindow) break;
    hits_.erase(it);
    recency_.pop_front();
  }
}

std::string RateLimitKey(std::string_view numericAddress) {
  std::string text(numericAddress);
  std::array<unsigned char, 16> v6{};
  if (inet_pton(AF_INET6, text.c_str(), v6.data()) != 1) return text;
  static constexpr std::array<unsigned char, 12> kMapped = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  if (std::equal(kMapped.begin(), kMapped.end(), v6.begin())) {
    char buf[INET_ADDRSTRLEN];
    if (inet_ntop(AF_INET, v6.data() + 12, buf, sizeof buf)) return buf;
  }
  std::fill(v6.begin() + 8, v6.end(), 0);
  char buf[INET6_ADDRSTRLEN];
  if (!inet_ntop(AF_INET6, v6.data(), buf, sizeof buf)) return text;
  return std::string(buf) + "/64";
}

}  // namespace vesquin::scored
