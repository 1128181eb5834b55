// The FTD2XX.dll back-end on a machine without the driver (as under Wine): every call fails with
// a status and touches nothing; the program goes on rather than crash.
#include <gtest/gtest.h>

#include "D2XX.h"

namespace {

TEST(D2XXWithoutLibrary, EveryCallFails) {
  DWORD count = 7;
  EXPECT_NE(FT_CreateDeviceInfoList(&count), FT_OK);
  EXPECT_EQ(count, 7u);

  FT_HANDLE handle = nullptr;
  EXPECT_NE(FT_Open(0, &handle), FT_OK);
  EXPECT_EQ(handle, nullptr);

  UCHAR bytes[2] = {0xAA, 0x00};
  DWORD moved = 0;
  EXPECT_NE(FT_ResetDevice(handle), FT_OK);
  EXPECT_NE(FT_GetQueueStatus(handle, &count), FT_OK);
  EXPECT_NE(FT_Read(handle, bytes, 2, &moved), FT_OK);
  EXPECT_NE(FT_Write(handle, bytes, 2, &moved), FT_OK);
  EXPECT_EQ(moved, 0u);
  EXPECT_NE(FT_SetUSBParameters(handle, 64, 64), FT_OK);
  EXPECT_NE(FT_SetChars(handle, 0, 0, 0, 0), FT_OK);
  EXPECT_NE(FT_SetTimeouts(handle, 0, 5000), FT_OK);
  EXPECT_NE(FT_SetLatencyTimer(handle, 2), FT_OK);
  EXPECT_NE(FT_SetBitMode(handle, 0, FT_BITMODE_RESET), FT_OK);
  EXPECT_NE(FT_Close(handle), FT_OK);
}

}  // namespace
