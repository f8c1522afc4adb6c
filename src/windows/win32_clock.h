#pragma once
// Time on Windows: the performance counter (monotonic, sub-microsecond), waits on a
// high-resolution waitable timer where Windows has one (1803 and later), else on the
// multimedia timer's 1 ms period, and the calendar for the random seed.

#include <windows.h>

#include "machine/services.h"
#include "windows/handles.h"

namespace vesquin::windows {

class Win32Clock final : public Clock {
 public:
  Win32Clock();
  ~Win32Clock() override;
  Win32Clock(const Win32Clock&) = delete;
  Win32Clock& operator=(const Win32Clock&) = delete;

  std::uint64_t NowMs() override;
  void Sleep(std::uint32_t ms) override;
  std::int64_t CalendarSeconds() override;

  // Holds the thread until `deadlineMs` on this clock or until a message comes for it,
  // whichever is first.
  void WaitForMessageUntil(std::uint64_t deadlineMs);
  // For tests: the calendar time that seeds the random draws.
  void FixCalendar(std::int64_t seconds) {
    calendarFixed_ = true;
    calendarSeconds_ = seconds;
  }

 private:
  // Arms the waitable timer for `ms` from now; false when there is none.
  bool Arm(std::uint32_t ms);

  LARGE_INTEGER frequency_{};
  UniqueHandle timer_;
  bool coarsePeriod_ = false;  // timeBeginPeriod(1) taken instead of a high-resolution timer
  bool calendarFixed_ = false;
  std::int64_t calendarSeconds_ = 0;
};

}  // namespace vesquin::windows
