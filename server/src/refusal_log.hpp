#pragma once
// Log lines for refused and closed connections, summarised: the first refusal of a kind is
// logged at once, later ones of that kind are counted and logged as one line per window.

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesquin::scored {

class RefusalLog {
public:
  using Clock = std::chrono::steady_clock;
  explicit RefusalLog(std::chrono::milliseconds window = std::chrono::seconds(5)) : window_(window) {}

  // A line to log now, or nothing when this refusal is counted into a later summary.
  std::optional<std::string> Note(std::string_view reason, std::string_view client, Clock::time_point now);
  // Summaries of the windows that have ended.
  std::vector<std::string> Flush(Clock::time_point now);

private:
  struct Kind {
    Clock::time_point window_start;
    unsigned counted = 0;
    std::string last_client;
  };
  const std::chrono::milliseconds window_;
  std::mutex mutex_;
  std::map<std::string, Kind, std::less<>> kinds_;
};

}  // namespace vesquin::scored
