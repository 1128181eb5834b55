// The D2XX driver operations QZFlash uses, declared by us.
//
// The program reaches the adapter through nothing else. Each back-end (for real adapters
// libftdi1 on Linux and FTD2XX.dll on Windows, the virtual adapter, the recording fake of the
// unit tests) defines them all; the build picks one at link time.
#pragma once

#include <cstdint>
#include <string>

using DWORD = std::uint32_t;
using UCHAR = std::uint8_t;
using FT_HANDLE = void*;
using FT_STATUS = std::uint32_t;

// Status codes. Only FT_OK is given a meaning by the callers; the others say why a call failed.
inline constexpr FT_STATUS FT_OK = 0;
inline constexpr FT_STATUS FT_INVALID_HANDLE = 1;
inline constexpr FT_STATUS FT_DEVICE_NOT_FOUND = 2;
inline constexpr FT_STATUS FT_DEVICE_NOT_OPENED = 3;
inline constexpr FT_STATUS FT_IO_ERROR = 4;
inline constexpr FT_STATUS FT_INVALID_PARAMETER = 6;
inline constexpr FT_STATUS FT_OTHER_ERROR = 18;

// Bit modes given to FT_SetBitMode.
inline constexpr UCHAR FT_BITMODE_RESET = 0x00;
inline constexpr UCHAR FT_BITMODE_MPSSE = 0x02;

// Chip types FT_GetDeviceInfoDetail reports for the Hi-Speed chips.
inline constexpr DWORD FT_DEVICE_2232H = 6;
inline constexpr DWORD FT_DEVICE_4232H = 7;
inline constexpr DWORD FT_DEVICE_232H = 8;
// Its flags: the device is open elsewhere; it runs at Hi-Speed.
inline constexpr DWORD FT_FLAGS_OPENED = 1;
inline constexpr DWORD FT_FLAGS_HISPEED = 2;
// Room it needs for the serial number and the description, terminator included.
inline constexpr DWORD FT_SERIAL_NUMBER_SIZE = 16;
inline constexpr DWORD FT_DESCRIPTION_SIZE = 64;

FT_STATUS FT_CreateDeviceInfoList(DWORD* numDevs);
// What is known of device index of the list FT_CreateDeviceInfoList made. Multi-interface chips
// end serial number and description in the interface letter, as the driver shows them.
FT_STATUS FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id, DWORD* locId,
                                 void* serialNumber, void* description, FT_HANDLE* handle);
FT_STATUS FT_Open(int deviceNumber, FT_HANDLE* handle);
FT_STATUS FT_ResetDevice(FT_HANDLE handle);
FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes);
FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD bytesToRead, DWORD* bytesReturned);
FT_STATUS FT_Write(FT_HANDLE handle, void* buffer, DWORD bytesToWrite, DWORD* bytesWritten);
FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, DWORD inTransferSize, DWORD outTransferSize);
FT_STATUS FT_SetChars(FT_HANDLE handle, UCHAR eventChar, UCHAR eventCharEnabled, UCHAR errorChar,
                      UCHAR errorCharEnabled);
FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD readTimeout, DWORD writeTimeout);
FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, UCHAR latencyMs);
FT_STATUS FT_SetBitMode(FT_HANDLE handle, UCHAR pinMask, UCHAR mode);
FT_STATUS FT_Close(FT_HANDLE handle);

// Not a D2XX call: what the library under the back-end said of its last failed call, beyond the
// status, for the one line the user reads. Back-ends whose library says nothing more leave it
// empty; the virtual adapter and the Windows driver report a device held elsewhere through the
// FT_FLAGS_OPENED flag instead.
struct DriverError {
  std::string text;
  bool accessDenied = false;  // the system refused access to the device: a permission problem
  bool busy = false;          // another program holds the device
};
DriverError LastDriverError();
