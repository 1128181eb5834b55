#include <gtest/gtest.h>

#include "FTDILib.h"
#include "QZFlash.h"
#include "TestSupport.h"

namespace {

class BringUpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetHost();
    ftStatus = FT_OK;
  }
};

std::string RunBringUp() {
  testing::internal::CaptureStdout();
  DeviceCheck();
  OpenPort();
  ConfigPortParams();
  SyncMPSSE();
  ConfigMPSSEParams();
  return testing::internal::GetCapturedStdout();
}

TEST_F(BringUpTest, WithoutAdapterEveryStepRunsAndReports) {
  fake::adapter.deviceCount = 0;
  for (const char* name : {"FT_Open", "FT_ResetDevice", "FT_GetQueueStatus", "FT_Read", "FT_Write",
                           "FT_SetUSBParameters", "FT_SetChars", "FT_SetTimeouts", "FT_SetLatencyTimer",
                           "FT_SetBitMode", "FT_Close"})
    fake::adapter.statuses[name] = FT_DEVICE_NOT_OPENED;
  fake::adapter.statuses["FT_Open"] = FT_DEVICE_NOT_FOUND;
  EXPECT_EQ(RunBringUp(),
            " Checking for QZ devices...\n"
            " There are no QZ devices installed\n"
            "\n Opening Port...\n"
            " Opening failed with error 2\n"
            "\n Configuring port for use...\n"
            " Error in configuring the port 3\n"
            " Error in synchronizing the port\n"
            " Configuration of the port is done.\n");
}

TEST_F(BringUpTest, ConfiguresTheLinkInOrderAndDiscardsWaitingBytes) {
  fake::adapter.deviceCount = 3;
  fake::Preload(Hex("11 22 33"));
  fake::Reply(Hex("FA AA"));
  EXPECT_EQ(RunBringUp(),
            " Checking for QZ devices...\n"
            " 3 QZ devices found - The drivers are installed\n"
            "\n Opening Port...\n"
            "\n Configuring port for use...\n"
            " Configuration of the port is done.\n");
  const std::vector<std::string> expected = {
      "FT_CreateDeviceInfoList", "FT_Open", "FT_ResetDevice", "FT_GetQueueStatus", "FT_Read",
      "FT_SetUSBParameters", "FT_SetChars", "FT_SetTimeouts", "FT_SetLatencyTimer", "FT_SetBitMode",
      "FT_SetBitMode", "Sleep", "FT_Write", "FT_GetQueueStatus", "FT_Read", "FT_Write"};
  EXPECT_EQ(fake::CallNames(), expected);
  const auto& calls = fake::adapter.calls;
  EXPECT_EQ(calls[1].args, std::vector<std::uint32_t>{0});
  EXPECT_EQ(calls[4].bytes, Hex("11 22 33"));
  EXPECT_EQ(calls[5].args, (std::vector<std::uint32_t>{64, 64}));
  EXPECT_EQ(calls[6].args, (std::vector<std::uint32_t>{0, 0, 0, 0}));
  EXPECT_EQ(calls[7].args, (std::vector<std::uint32_t>{0, 5000}));
  EXPECT_EQ(calls[8].args, std::vector<std::uint32_t>{2});
  EXPECT_EQ(calls[9].args, (std::vector<std::uint32_t>{0x00, 0x00}));
  EXPECT_EQ(calls[10].args, (std::vector<std::uint32_t>{0x00, 0x02}));
  EXPECT_EQ(calls[11].args, std::vector<std::uint32_t>{50});
  EXPECT_EQ(calls[12].bytes, Hex("AA"));
  EXPECT_EQ(calls[15].bytes, Hex("8A 97 8D 80 18 1B 82 00 00 86 1D 00 85"));
}

TEST_F(BringUpTest, AnyFailingConfigurationCallClosesTheAdapter) {
  fake::adapter.statuses["FT_SetLatencyTimer"] = FT_IO_ERROR;
  testing::internal::CaptureStdout();
  EXPECT_EQ(ConfigPortParams(), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n Configuring port for use...\n Error in configuring the port 4\n");
  const std::vector<std::string> names = fake::CallNames();
  EXPECT_EQ(names[names.size() - 2], "FT_Close");
  EXPECT_EQ(fake::Sleeps(), std::vector<std::uint32_t>{50});
}

TEST_F(BringUpTest, TheEchoMustHoldFAThenAA) {
  struct Case {
    const char* answer;
    int result;
  };
  for (const Case& c : {Case{"FA AA", 0}, Case{"00 FA AA", 0}, Case{"FA AA 00", 0}, Case{"FA", 1},
                        Case{"AA FA", 1}, Case{"", 1}}) {
    ResetHost();
    fake::Reply(Hex(c.answer));
    testing::internal::CaptureStdout();
    EXPECT_EQ(SyncMPSSE(), c.result) << c.answer;
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, c.result == 0 ? "" : " Error in synchronizing the port\n") << c.answer;
    EXPECT_EQ(fake::CallNames().back(), c.result == 0 ? "FT_Read" : "FT_Close") << c.answer;
  }
}

TEST_F(BringUpTest, TheEchoIsAwaitedWhole) {
  fake::ReplyInPieces({Hex("FA"), {}, Hex("AA")});
  EXPECT_EQ(SyncMPSSE(), 0);
}

TEST_F(BringUpTest, ClockAndPinSetupDropsAnythingUnsent) {
  GetDataUp(8);
  testing::internal::CaptureStdout();
  ConfigMPSSEParams();
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(fake::Writes().size(), 1u);
  EXPECT_EQ(fake::Writes()[0], Hex("8A 97 8D 80 18 1B 82 00 00 86 1D 00 85"));
  EXPECT_EQ(dwNumRepliesOwed, 0u);
}

}  // namespace
