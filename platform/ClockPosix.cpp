// The real time source, for the libftdi1 back-end.
#include <cerrno>
#include <cstdint>
#include <ctime>

#include "Platform.h"

void SleepMs(std::uint32_t ms) {
  timespec remaining{static_cast<std::time_t>(ms / 1000),
                     static_cast<long>(ms % 1000) * 1'000'000L};
  // A signal only interrupts the sleep: nanosleep leaves the time still owed in `remaining`,
  // which shrinks with every pass.
  while (nanosleep(&remaining, &remaining) == -1 && errno == EINTR) {
  }
}

std::uint64_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000 +
         static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000;
}
