// The FTD2XX.dll back-end against a stand-in library beside the test executable: every argument
// and result crosses the library's ABI unchanged.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "D2XX.h"
#include "D2XXLibraryWindows.h"

namespace {

std::string LibraryLog() {
  const auto log = reinterpret_cast<const char* (*)()>(d2xxdll::Find("FakeLog"));
  return log == nullptr ? "(no FakeLog)" : log();
}

TEST(D2XXWindows, CallsReachTheLibraryWithTheirArgumentsAndBringBackItsResults) {
  DWORD devices = 0;
  EXPECT_EQ(FT_CreateDeviceInfoList(&devices), FT_OK);
  EXPECT_EQ(devices, 3u);
  DWORD flags = 0, type = 0, id = 0, location = 0;
  char serial[16] = {}, description[64] = {};
  FT_HANDLE none = &devices;
  EXPECT_EQ(FT_GetDeviceInfoDetail(1, &flags, &type, &id, &location, serial, description, &none), FT_OK);
  EXPECT_EQ(type, FT_DEVICE_2232H);
  EXPECT_EQ(id, 0x04036010u);
  EXPECT_STREQ(serial, "FT12345B");
  EXPECT_STREQ(description, "Dual RS232-HS B");
  EXPECT_EQ(none, nullptr);

  FT_HANDLE handle = nullptr;
  ASSERT_EQ(FT_Open(2, &handle), FT_OK);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(handle), 0x5A000002u);
  EXPECT_EQ(FT_ResetDevice(handle), FT_OK);

  DWORD queued = 0;
  EXPECT_EQ(FT_GetQueueStatus(handle, &queued), FT_OK);
  EXPECT_EQ(queued, 0x89ABCDEFu);

  UCHAR in[4] = {};
  DWORD got = 0;
  EXPECT_EQ(FT_Read(handle, in, 4, &got), FT_OK);
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(in[0], 0xA0);
  EXPECT_EQ(in[2], 0xA2);
  EXPECT_EQ(in[3], 0x00);

  UCHAR out[] = {0x8A, 0x97, 0x8D};
  DWORD sent = 0;
  EXPECT_EQ(FT_Write(handle, out, sizeof out, &sent), FT_OK);
  EXPECT_EQ(sent, 3u);

  EXPECT_EQ(FT_SetUSBParameters(handle, 65536, 0xFFFFFFFFu), FT_OK);
  EXPECT_EQ(FT_SetChars(handle, 0x11, 1, 0xFF, 0), FT_OK);
  EXPECT_EQ(FT_SetTimeouts(handle, 0, 5000), FT_OK);
  EXPECT_EQ(FT_SetLatencyTimer(handle, 2), FT_OK);
  EXPECT_EQ(FT_SetLatencyTimer(handle, 0), FT_INVALID_PARAMETER);
  EXPECT_EQ(FT_SetBitMode(handle, 0x0B, FT_BITMODE_MPSSE), FT_OK);
  EXPECT_EQ(FT_Close(handle), FT_OK);
  EXPECT_EQ(FT_Close(nullptr), FT_INVALID_HANDLE);

  EXPECT_EQ(LibraryLog(),
            "FT_CreateDeviceInfoList\n"
            "FT_GetDeviceInfoDetail 1\n"
            "FT_Open 2\n"
            "FT_ResetDevice 0x5a000002\n"
            "FT_GetQueueStatus 0x5a000002\n"
            "FT_Read 0x5a000002 4\n"
            "FT_Write 0x5a000002 8A 97 8D\n"
            "FT_SetUSBParameters 0x5a000002 65536 4294967295\n"
            "FT_SetChars 0x5a000002 11 1 FF 0\n"
            "FT_SetTimeouts 0x5a000002 0 5000\n"
            "FT_SetLatencyTimer 0x5a000002 2\n"
            "FT_SetLatencyTimer 0x5a000002 0\n"
            "FT_SetBitMode 0x5a000002 0B 02\n"
            "FT_Close 0x5a000002\n"
            "FT_Close 0\n");
}

}  // namespace
