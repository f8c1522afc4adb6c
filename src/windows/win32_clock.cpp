#include "windows/win32_clock.h"

#include <mmsystem.h>

#include <ctime>

namespace vesquin::windows {
namespace {

// Windows 10 1803 and later; mingw-w64's headers do not name it yet.
constexpr DWORD kHighResolutionTimer = 0x00000002;

}  // namespace

Win32Clock::Win32Clock() {
  QueryPerformanceFrequency(&frequency_);
  timer_ = UniqueHandle(CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimer, TIMER_ALL_ACCESS));
  if (!timer_) {
    // Older systems: a plain waitable timer, with the system's timer period brought down to
    // 1 ms so that its waits end within a millisecond instead of 15.6.
    timer_ = UniqueHandle(CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS));
    coarsePeriod_ = timeBeginPeriod(1) == TIMERR_NOERROR;
  }
}

Win32Clock::~Win32Clock() {
  if (coarsePeriod_) timeEndPeriod(1);
}

std::uint64_t Win32Clock::NowMs() {
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  const auto ticks = static_cast<std::uint64_t>(now.QuadPart);
  const auto perSecond = static_cast<std::uint64_t>(frequency_.QuadPart);
  return ticks / perSecond * 1000 + ticks % perSecond * 1000 / perSecond;
}

bool Win32Clock::Arm(std::uint32_t ms) {
  if (!timer_) return false;
  LARGE_INTEGER due{};
  due.QuadPart = -static_cast<LONGLONG>(ms) * 10'000;  // relative, in 100 ns units
  return SetWaitableTimer(timer_.get(), &due, 0, nullptr, nullptr, FALSE) != FALSE;
}

void Win32Clock::Sleep(std::uint32_t ms) {
  if (ms > 0 && Arm(ms)) {
    WaitForSingleObject(timer_.get(), INFINITE);
  } else {
    ::Sleep(ms);
  }
}

std::int64_t Win32Clock::CalendarSeconds() {
  return calendarFixed_ ? calendarSeconds_ : static_cast<std::int64_t>(std::time(nullptr));
}

void Win32Clock::WaitForMessageUntil(std::uint64_t deadlineMs) {
  const std::uint64_t now = NowMs();
  if (deadlineMs <= now) return;
  const auto ms = static_cast<std::uint32_t>(std::min<std::uint64_t>(deadlineMs - now, 1000));
  if (Arm(ms)) {
    HANDLE timer = timer_.get();
    MsgWaitForMultipleObjectsEx(1, &timer, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  } else {
    MsgWaitForMultipleObjectsEx(0, nullptr, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

}  // namespace vesquin::windows
