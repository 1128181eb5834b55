// Host services and the time source on Windows. The listing and the console clear are compared
// with Linux's in scripts/test-windows' end-to-end runs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Platform.h"

namespace {

TEST(HostWindows, SleepsLastAtLeastWhatTheyAskOnTheMonotonicClock) {
  RaiseTimerResolution();
  for (std::uint32_t ms : {1u, 4u, 6u, 50u}) {
    const std::uint64_t start = MonotonicMs();
    SleepMs(ms);
    const std::uint64_t elapsed = MonotonicMs() - start;
    // Sleep may end up to a timer period early against the counter; a second is a hang.
    EXPECT_GE(elapsed + 1, ms);
    EXPECT_LT(elapsed, 1000u);
  }
  RestoreTimerResolution();
  RestoreTimerResolution();
}

TEST(HostWindows, AMissingFolderCannotBeListed) {
  std::vector<std::string> names;
  EXPECT_EQ(ListFolder("C:\\no such folder\\qzflash", names), FolderStatus::OpenFailed);
  EXPECT_TRUE(names.empty());
}

}  // namespace
