// The D2XX functions and the time source of qzflash-sim: the calls on the current bench.
#include "Bench.h"
#include "D2XX.h"
#include "D2XXCalls.h"
#include "Platform.h"

using qzsim::CurrentBench;
namespace d2xx = qzsim::d2xx;

FT_STATUS FT_CreateDeviceInfoList(DWORD* numDevs) {
  return d2xx::CreateDeviceInfoList(CurrentBench(), numDevs);
}

FT_STATUS FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id, DWORD* locId,
                                 void* serialNumber, void* description, FT_HANDLE* handle) {
  return d2xx::GetDeviceInfoDetail(CurrentBench(), index, flags, type, id, locId, serialNumber, description,
                                   handle);
}

FT_STATUS FT_Open(int deviceNumber, FT_HANDLE* handle) {
  return d2xx::Open(CurrentBench(), deviceNumber, handle);
}

FT_STATUS FT_ResetDevice(FT_HANDLE handle) { return d2xx::ResetDevice(CurrentBench(), handle); }

FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
  return d2xx::GetQueueStatus(CurrentBench(), handle, rxBytes);
}

FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD bytesToRead, DWORD* bytesReturned) {
  return d2xx::Read(CurrentBench(), handle, buffer, bytesToRead, bytesReturned);
}

FT_STATUS FT_Write(FT_HANDLE handle, void* buffer, DWORD bytesToWrite, DWORD* bytesWritten) {
  return d2xx::Write(CurrentBench(), handle, buffer, bytesToWrite, bytesWritten);
}

FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, DWORD inTransferSize, DWORD outTransferSize) {
  return d2xx::SetUSBParameters(CurrentBench(), handle, inTransferSize, outTransferSize);
}

FT_STATUS FT_SetChars(FT_HANDLE handle, UCHAR eventChar, UCHAR eventCharEnabled, UCHAR errorChar,
                      UCHAR errorCharEnabled) {
  return d2xx::SetChars(CurrentBench(), handle, eventChar, eventCharEnabled, errorChar,
                        errorCharEnabled);
}

FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD readTimeout, DWORD writeTimeout) {
  return d2xx::SetTimeouts(CurrentBench(), handle, readTimeout, writeTimeout);
}

FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, UCHAR latencyMs) {
  return d2xx::SetLatencyTimer(CurrentBench(), handle, latencyMs);
}

FT_STATUS FT_SetBitMode(FT_HANDLE handle, UCHAR pinMask, UCHAR mode) {
  return d2xx::SetBitMode(CurrentBench(), handle, pinMask, mode);
}

FT_STATUS FT_Close(FT_HANDLE handle) { return d2xx::Close(CurrentBench(), handle); }

// As the real driver: a device held elsewhere shows in its flags, not here.
DriverError LastDriverError() { return {}; }

void SleepMs(std::uint32_t ms) {
  qzsim::Bench& bench = CurrentBench();
  bench.Trace("sleep " + std::to_string(ms), false);
  bench.Stats().sleepMs += ms;
  bench.Clock().Sleep(ms);
}

std::uint64_t MonotonicMs() { return CurrentBench().Clock().NowMicros() / 1000; }
