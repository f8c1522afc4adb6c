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
  if (now - lastSweep_ >= kWindow) Sweep(now);

  auto it = hits_.find(std::string(address));
  if (it == hits_.end()) {
    // Memory stays bounded under a flood from many addresses; newcomers wait for the next sweep.
    if (hits_.size() >= kMaxTrackedAddresses) {
      Sweep(now);
      if (hits_.size() >= kMaxTrackedAddresses) return false;
    }
    it = hits_.emplace(std::string(address), std::deque<Clock::time_point>{}).first;
  }
  auto& times = it->second;
  while (!times.empty() && now - times.front() >= kWindow) times.pop_front();
  if (times.size() >= perMinute_) return false;
  times.push_back(now);
  return true;
}

std::size_t RateLimiter::TrackedAddresses() {
  std::lock_guard lock(mutex_);
  return hits_.size();
}

void RateLimiter::Sweep(Clock::time_point now) {
  lastSweep_ = now;
  for (auto it = hits_.begin(); it != hits_.end();) {
    auto& times = it->second;
    while (!times.empty() && now - times.front() >= kWindow) times.pop_front();
    it = times.empty() ? hits_.erase(it) : std::next(it);
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
