#pragma once
// Log lines for refused and closed connections and the HTTP library's complaints, summarised:
// the first line of a kind is logged at once, later ones of that kind within the window are
// counted and logged as one line when the window ends.

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

  // `line` to log now, or nothing when it is counted into a later summary of its kind.
  std::optional<std::string> Note(std::string_view kind, std::string_view line, Clock::time_point now);
  // Summaries of the windows that have ended.
  std::vector<std::string> Flush(Clock::time_point now);

 private:
  struct Kind {
    Clock::time_point windowStart;
    unsigned counted = 0;
    std::string lastLine;
  };
  const std::chrono::milliseconds window_;
  std::mutex mutex_;
  std::map<std::string, Kind, std::less<>> kinds_;
};

}  // namespace vesquin::scored
