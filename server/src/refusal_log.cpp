#include "refusal_log.h"

#include <cstdio>

namespace vesquin::scored {

std::optional<std::string> RefusalLog::Note(std::string_view kind, std::string_view line,
                                            Clock::time_point now) {
  std::lock_guard lock(mutex_);
  auto it = kinds_.find(kind);
  if (it == kinds_.end()) {
    kinds_.emplace(std::string(kind), Kind{now, 0, {}});
    return std::string(line);
  }
  ++it->second.counted;
  it->second.lastLine = line;
  return std::nullopt;
}

std::vector<std::string> RefusalLog::Flush(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  std::vector<std::string> lines;
  for (auto it = kinds_.begin(); it != kinds_.end();) {
    Kind& k = it->second;
    if (now - k.windowStart < window_) {
      ++it;
      continue;
    }
    if (k.counted == 0) {
      it = kinds_.erase(it);  // a quiet window: the next one is logged at once again
      continue;
    }
    auto seconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(now - k.windowStart).count() / 1000.0;
    char span[32];
    std::snprintf(span, sizeof span, "%.1f", seconds);
    lines.push_back(std::to_string(k.counted) + " more in " + span + " s like: " + k.lastLine);
    k = Kind{now, 0, {}};
    ++it;
  }
  return lines;
}

}  // namespace vesquin::scored
