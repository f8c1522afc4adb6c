#pragma once
// How much one client can make the request log grow: a share of bytes a minute per client;
// lines past it are dropped and counted, and the count is logged once a minute.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace vesquin::scored {

class LogBudget {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::size_t kBytesPerMinute = 32 * 1024;
  // Past this many clients in one minute, lines of further clients are dropped too.
  static constexpr std::size_t kMaxClients = 100000;

  // True, and the bytes counted, when the client's line fits in its share.
  bool Take(std::string_view client, std::size_t bytes, Clock::time_point now);
  // The line that says what the minute past dropped, once, when that minute has ended.
  std::optional<std::string> Summary(Clock::time_point now);

 private:
  void Roll(Clock::time_point now);

  std::mutex mutex_;
  Clock::time_point windowStart_{};
  std::unordered_map<std::string, std::size_t> spent_;
  std::uint64_t droppedLines_ = 0;
  std::uint64_t droppedBytes_ = 0;
  std::uint64_t clientsOver_ = 0;
  std::optional<std::string> pending_;
};

}  // namespace vesquin::scored
