// The clock the bench runs on: virtual time, in microseconds, moved only by sleeps and queue
// polls, so that runs are fast and the same every time; or the real clock.
#pragma once

#include <chrono>
#include <cstdint>

namespace qzsim {

class VirtualClock {
 public:
  // What one USB round trip asking for the queue status costs.
  static constexpr std::uint64_t kPollMicros = 125;

  explicit VirtualClock(bool realtime);
  std::uint64_t NowMicros() const;
  void Sleep(std::uint32_t ms);
  void SleepMicros(std::uint64_t micros);
  void Poll();

 private:
  const bool realtime_;
  const std::chrono::steady_clock::time_point start_;
  std::uint64_t micros_ = 0;
};

}  // namespace qzsim
