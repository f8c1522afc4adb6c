#include "machine/tick_timer.h"

#include <climits>

namespace vesquin {

bool TickTimer::Start(std::uint64_t nowMs, std::uint32_t periodMs) {
  if (periodMs == 0) return false;
  running_ = true;
  start_ = nowMs;
  period_ = periodMs;
  next_ = nowMs + periodMs;
  return true;
}

void TickTimer::Take(std::uint64_t nowMs) {
  if (nowMs < start_) nowMs = start_;
  next_ = start_ + ((nowMs - start_) / period_ + 1) * period_;
}

int TickTimer::WaitMs(std::uint64_t nowMs, int idleMs) const {
  if (!running_) return idleMs;
  if (nowMs >= next_) return 0;
  const std::uint64_t wait = next_ - nowMs;
  return wait > static_cast<std::uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(wait);
}

}  // namespace vesquin
