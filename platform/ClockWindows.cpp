// The real time source on Windows, for the FTD2XX.dll back-end.
#include <windows.h>

#include <cstdint>

#include "Platform.h"

// Sleep's granularity is the system timer period, which RaiseTimerResolution sets to 1 ms.
void SleepMs(std::uint32_t ms) { Sleep(ms); }

// The performance counter, unlike GetTickCount64, resolves single milliseconds.
std::uint64_t MonotonicMs() {
  LARGE_INTEGER frequency{};
  LARGE_INTEGER now{};
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  const auto ticks = static_cast<std::uint64_t>(now.QuadPart);
  const auto perSecond = static_cast<std::uint64_t>(frequency.QuadPart);
  // Split so that ticks * 1000 cannot overflow after a long uptime.
  return ticks / perSecond * 1000 + ticks % perSecond * 1000 / perSecond;
}
