#include "platform/sdl_clock.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace vesquin {

std::uint64_t MonotonicMs() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SdlClock::Sleep(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::int64_t SdlClock::CalendarSeconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

}  // namespace vesquin
