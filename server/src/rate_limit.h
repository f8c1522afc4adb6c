#pragma once
// Per-address limit on submissions over a sliding minute.

#include <chrono>
#include <cstddef>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vesquin::scored {

class RateLimiter {
 public:
  using Clock = std::chrono::steady_clock;
  // Past this many addresses the one heard from least recently is forgotten, so memory stays
  // bounded and a newcomer is never refused for want of room.
  static constexpr std::size_t kMaxTrackedAddresses = 100000;

  // per_minute 0 turns the limit off.
  explicit RateLimiter(unsigned perMinute) : perMinute_(perMinute) {}

  // True, and the hit counted, when the address has had fewer than per_minute hits in the
  // last 60 s. A refused hit is not counted, so a client that waits gets through again.
  bool Allow(std::string_view address, Clock::time_point now);
  std::size_t TrackedAddresses();

 private:
  struct Entry {
    std::vector<Clock::time_point> times;  // the counted hits of the last minute, oldest first
    std::list<std::string>::iterator recency;
  };
  void ForgetExpired(Clock::time_point now);

  const unsigned perMinute_;
  std::mutex mutex_;
  std::unordered_map<std::string, Entry> hits_;
  std::list<std::string> recency_;  // addresses by their last counted hit, oldest first
};

// The key an address is limited under: the IPv4 address, or the /64 prefix of an IPv6
// address, since one IPv6 host usually owns a whole /64. IPv4-mapped IPv6 counts as IPv4.
std::string RateLimitKey(std::string_view numericAddress);

}  // namespace vesquin::scored
