// Host services and the time source on Windows.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "Platform.h"

namespace {

namespace fs = std::filesystem;

class HostWindowsFolder : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    // create_directory refuses a name that another test run holds.
    do folder_ = fs::temp_directory_path() / ("qzflash-host-" + std::to_string(random()));
    while (!fs::create_directory(folder_));
  }

  void TearDown() override { fs::remove_all(folder_); }

  void Touch(const std::string& name) const { std::ofstream(folder_ / name) << name; }

  fs::path folder_;
};

TEST_F(HostWindowsFolder, ListsEveryEntryWithTheDotsInByteOrder) {
  for (const char* name : {"b.s19", "a.s19", "B.txt", "_x", "~y"}) Touch(name);
  fs::create_directory(folder_ / "sub");
  std::vector<std::string> names;
  EXPECT_EQ(ListFolder(folder_.string().c_str(), names), FolderStatus::Ok);
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", "B.txt", "_x", "a.s19", "b.s19", "sub", "~y"}));
}

TEST_F(HostWindowsFolder, AMissingFolderCannotBeOpened) {
  std::vector<std::string> names;
  EXPECT_EQ(ListFolder((folder_ / "missing").string().c_str(), names), FolderStatus::OpenFailed);
  EXPECT_TRUE(names.empty());
}

TEST(HostWindows, OutputThatIsNoConsoleGetsTheAnsiClear) {
  testing::internal::CaptureStdout();
  std::fputs("before", stdout);
  ClearConsole();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "before\x1b[2J\x1b[H");
}

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

}  // namespace
