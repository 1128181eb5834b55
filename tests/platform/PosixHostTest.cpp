// The POSIX time source and host services that the real adapters run on.
#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <chrono>

#include "Platform.h"

namespace {

// The protocol's waits are a few milliseconds: a sleep must last at least what it was asked,
// whatever signal or slack comes along, and the clock must follow.
TEST(PosixHost, SleepsLastWhatTheySayAndTheClockFollows) {
  RaiseTimerResolution();
  for (std::uint32_t ms : {1u, 4u, 6u, 50u}) {
    const auto before = std::chrono::steady_clock::now();
    const std::uint64_t clockBefore = MonotonicMs();
    SleepMs(ms);
    const auto slept = std::chrono::steady_clock::now() - before;
    EXPECT_GE(slept, std::chrono::milliseconds(ms)) << ms;
    EXPECT_LT(slept, std::chrono::milliseconds(ms + 200)) << ms;
    EXPECT_GE(MonotonicMs() - clockBefore, ms - 1) << ms;
  }
  RestoreTimerResolution();
  std::uint64_t last = MonotonicMs();
  for (int i = 0; i < 100000; ++i) {
    const std::uint64_t now = MonotonicMs();
    ASSERT_GE(now, last);
    last = now;
  }
}

TEST(PosixHost, TheTimerSlackIsRestoredAtTheEnd) {
  ASSERT_EQ(prctl(PR_SET_TIMERSLACK, 123456UL, 0, 0, 0), 0);
  RaiseTimerResolution();
  EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), 1);
  RestoreTimerResolution();
  EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), 123456);
}

}  // namespace
