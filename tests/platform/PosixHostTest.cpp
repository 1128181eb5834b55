// The POSIX time source and host services that the real adapters run on.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/prctl.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include "Platform.h"

namespace {

using namespace std::chrono;

std::atomic<int> interruptions{0};
void CountInterruption(int) { ++interruptions; }

// The protocol's waits must last at least what they ask, and not much more, even when a signal
// (its handler installed without SA_RESTART) interrupts them every millisecond; a second or more
// splits into seconds and nanoseconds. MonotonicMs reads the steady clock to the millisecond.
TEST(PosixHost, SleepsLastWhatTheyAskThroughSignalsAndTheClockFollows) {
  struct sigaction action{}, previous{};
  action.sa_handler = CountInterruption;
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
  const pthread_t sleeper = pthread_self();
  RaiseTimerResolution();
  for (std::uint32_t ms : {1u, 4u, 6u, 50u, 1000u, 1500u}) {
    const auto before = steady_clock::now();
    // Stops two seconds after the sleep should have ended: one restarted in full at every
    // signal then ends, late, rather than never.
    std::jthread signaller([&](std::stop_token stop) {
      while (!stop.stop_requested() && steady_clock::now() < before + milliseconds(ms + 2000)) {
        pthread_kill(sleeper, SIGUSR1);
        std::this_thread::sleep_for(1ms);
      }
    });
    const std::uint64_t clockBefore = MonotonicMs();
    SleepMs(ms);
    const std::uint64_t clockSlept = MonotonicMs() - clockBefore;
    const auto slept = steady_clock::now() - before;
    signaller.request_stop();
    signaller.join();
    EXPECT_GE(slept, milliseconds(ms)) << ms;
    EXPECT_LT(slept, milliseconds(ms + 1000)) << ms;
    // The steady clock's interval holds MonotonicMs's; each MonotonicMs truncates.
    EXPECT_GE(clockSlept, ms - 1) << ms;
    EXPECT_LE(clockSlept, static_cast<std::uint64_t>(duration_cast<milliseconds>(slept).count()) + 1) << ms;
  }
  RestoreTimerResolution();
  ASSERT_EQ(sigaction(SIGUSR1, &previous, nullptr), 0);
  EXPECT_GT(interruptions, 100) << "the sleeps were hardly interrupted";
  std::uint64_t last = MonotonicMs();
  for (int i = 0; i < 100000; ++i) {
    const std::uint64_t now = MonotonicMs();
    ASSERT_GE(now, last);
    last = now;
  }
}

// The slack is restored once, to what it was before the raise.
TEST(PosixHost, TheTimerSlackIsRestoredAtTheEnd) {
  ASSERT_EQ(prctl(PR_SET_TIMERSLACK, 123456UL, 0, 0, 0), 0);
  RaiseTimerResolution();
  EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), 1);
  RestoreTimerResolution();
  EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), 123456);
  ASSERT_EQ(prctl(PR_SET_TIMERSLACK, 777UL, 0, 0, 0), 0);
  RestoreTimerResolution();
  EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), 777);
}

}  // namespace
