// The clock the bench runs on: virtual time, in microseconds, moved only by the program's sleeps
// and its waits for answers (queue polls, IN transfers), so that runs are fast and the same
// every time; or the real clock.
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
  // One queue poll: time spent waiting for an answer.
  void Poll();
  // Waits for an answer until `micros`, when that is later.
  void WaitUntil(std::uint64_t micros);
  // What Poll and WaitUntil took together.
  std::uint64_t WaitedMicros() const { return waited_; }

 private:
  const bool realtime_;
  const std::chrono::steady_clock::time_point start_;
  std::uint64_t micros_ = 0;
  std::uint64_t waited_ = 0;
};

}  // namespace qzsim
