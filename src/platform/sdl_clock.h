#pragma once
// The machine's clocks for the game: monotonic milliseconds, pauses and the calendar.

#include <cstdint>

#include "machine/services.h"

namespace vesquin {

// Milliseconds on the machine's monotonic clock.
std::uint64_t MonotonicMs();

class SdlClock final : public Clock {
 public:
  std::uint64_t NowMs() override { return MonotonicMs(); }
  void Sleep(std::uint32_t ms) override;
  std::int64_t CalendarSeconds() override;
};

}  // namespace vesquin
