#include "Clock.h"

#include <thread>

namespace qzsim {

VirtualClock::VirtualClock(bool realtime)
    : realtime_(realtime), start_(std::chrono::steady_clock::now()) {}

std::uint64_t VirtualClock::NowMicros() const {
  if (!realtime_) return micros_;
  const auto elapsed = std::chrono::steady_clock::now() - start_;
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count());
}

void VirtualClock::Sleep(std::uint32_t ms) { SleepMicros(static_cast<std::uint64_t>(ms) * 1000); }

void VirtualClock::SleepMicros(std::uint64_t micros) {
  if (realtime_) {
    std::this_thread::sleep_for(std::chrono::microseconds(micros));
  } else {
    micros_ += micros;
  }
}

void VirtualClock::Poll() {
  if (realtime_) return;
  micros_ += kPollMicros;
  waited_ += kPollMicros;
}

void VirtualClock::WaitUntil(std::uint64_t micros) {
  const std::uint64_t now = NowMicros();
  if (micros <= now) return;
  SleepMicros(micros - now);
  waited_ += micros - now;
}

}  // namespace qzsim
