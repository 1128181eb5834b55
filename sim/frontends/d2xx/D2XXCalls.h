// The D2XX calls on a virtual bench, for each front that offers them: the C++ FT_*
// functions of qzflash-sim and the exports of the virtual FTD2XX.dll.
//
// Declared with the underlying types of D2XX.h's, so that the DLL's translation unit, which
// declares the FT_* names with C linkage itself, can call them without seeing D2XX.h.
#pragma once

#include <cstdint>

namespace qzsim {

class Bench;

namespace d2xx {

using Status = std::uint32_t;  // FT_STATUS
using Handle = void*;          // FT_HANDLE
using Dword = std::uint32_t;   // DWORD
using Uchar = std::uint8_t;    // UCHAR

Status CreateDeviceInfoList(Bench& bench, Dword* numDevs);
Status GetDeviceInfoDetail(Bench& bench, Dword index, Dword* flags, Dword* type, Dword* id, Dword* locId,
                           void* serialNumber, void* description, Handle* handle);
Status Open(Bench& bench, int deviceNumber, Handle* handle);
Status ResetDevice(Bench& bench, Handle handle);
Status GetQueueStatus(Bench& bench, Handle handle, Dword* rxBytes);
Status Read(Bench& bench, Handle handle, void* buffer, Dword bytesToRead, Dword* bytesReturned);
Status Write(Bench& bench, Handle handle, void* buffer, Dword bytesToWrite, Dword* bytesWritten);
Status SetUSBParameters(Bench& bench, Handle handle, Dword inTransferSize, Dword outTransferSize);
Status SetChars(Bench& bench, Handle handle, Uchar eventChar, Uchar eventCharEnabled,
                Uchar errorChar, Uchar errorCharEnabled);
Status SetTimeouts(Bench& bench, Handle handle, Dword readTimeout, Dword writeTimeout);
Status SetLatencyTimer(Bench& bench, Handle handle, Uchar latencyMs);
Status SetBitMode(Bench& bench, Handle handle, Uchar pinMask, Uchar mode);
Status Close(Bench& bench, Handle handle);

}  // namespace d2xx
}  // namespace qzsim
