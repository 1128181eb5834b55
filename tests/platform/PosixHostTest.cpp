// The POSIX time source and host services that the real adapters run on.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/prctl.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "Platform.h"

namespace {

using namespace std::chrono;

// The protocol's waits must last at least what they ask, and not much more, even when a signal
// (its handler installed without SA_RESTART) interrupts them every millisecond; a second or more
// splits into seconds and nanoseconds. MonotonicMs reads the steady clock to the millisecond. The
// timer slack, small while the program runs, is restored to what it was.
TEST(PosixHost, SleepsLastWhatTheyAskThroughSignalsTheClockFollowsAndTheSlackIsRestored) {
  struct sigaction action{}, previous{};
  action.sa_handler = [](int) {};
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
  ASSERT_EQ(prctl(PR_SET_TIMERSLACK, 123456UL, 0, 0, 0), 0);
  RaiseTimerResolution();
  EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), 1);
  for (std::uint32_t ms : {1u, 4u, 6u, 50u, 1000u, 1500u}) {
    const auto before = steady_clock::now();
    // Stops two seconds after the sleep should have ended: one restarted in full at every
    // signal then ends, late, rather than never.
    std::jthread signaller([&, sleeper = pthread_self()](std::stop_token stop) {
      while (!stop.stop_requested() && steady_clock::now() < before + milliseconds(ms + 2000)) {
        pthread_kill(sleeper, SIGUSR1);
        std::this_thread::sleep_for(1ms);
      }
    });
    const std::uint64_t clockBefore = MonotonicMs();
    SleepMs(ms);
    const std::uint64_t clockSlept = MonotonicMs() - clockBefore;
    const auto slept = static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now() - before).count());
    signaller = {};  // stops and joins it: no signal lands in the checks' output
    // The steady clock's interval holds MonotonicMs's; each MonotonicMs truncates.
    EXPECT_TRUE(ms <= slept && slept < ms + 1000 && ms - 1 <= clockSlept && clockSlept <= slept + 1)
        << ms << " ms lasted " << slept << ", MonotonicMs moved " << clockSlept;
  }
  EXPECT_EQ(sigaction(SIGUSR1, &previous, nullptr), 0);
  RestoreTimerResolution();
  EXPECT_EQ(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0), 123456);
}

}  // namespace
