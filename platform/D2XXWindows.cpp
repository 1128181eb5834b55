// The D2XX operations for real adapters on Windows, through FTD2XX.dll.
//
// The library is found at run time, so the build needs no vendor header or import library, and
// on a machine without the driver every call fails with NoLibrary instead of the program not
// starting.
#include "D2XX.h"
#include "D2XXLibraryWindows.h"

namespace {

// The library's ULONG and DWORD are 32 bits wide on Windows, its handles are pointers and its
// functions use the system's __stdcall convention: our types pass through unchanged.
static_assert(sizeof(DWORD) == 4 && sizeof(FT_STATUS) == 4);

constexpr FT_STATUS NoLibrary = FT_OTHER_ERROR;

using CreateDeviceInfoListFunction = FT_STATUS(__stdcall*)(DWORD*);
using GetDeviceInfoDetailFunction = FT_STATUS(__stdcall*)(DWORD, DWORD*, DWORD*, DWORD*, DWORD*, void*, void*,
                                                          FT_HANDLE*);
using OpenFunction = FT_STATUS(__stdcall*)(int, FT_HANDLE*);
using HandleFunction = FT_STATUS(__stdcall*)(FT_HANDLE);
using GetQueueStatusFunction = FT_STATUS(__stdcall*)(FT_HANDLE, DWORD*);
using TransferFunction = FT_STATUS(__stdcall*)(FT_HANDLE, void*, DWORD, DWORD*);
using TwoValuesFunction = FT_STATUS(__stdcall*)(FT_HANDLE, DWORD, DWORD);
using SetCharsFunction = FT_STATUS(__stdcall*)(FT_HANDLE, UCHAR, UCHAR, UCHAR, UCHAR);
using SetLatencyTimerFunction = FT_STATUS(__stdcall*)(FT_HANDLE, UCHAR);
using SetBitModeFunction = FT_STATUS(__stdcall*)(FT_HANDLE, UCHAR, UCHAR);

template <typename Function>
Function Find(const char* name) {
  return reinterpret_cast<Function>(d2xxdll::Find(name));
}

}  // namespace

FT_STATUS FT_CreateDeviceInfoList(DWORD* numDevs) {
  static const auto function = Find<CreateDeviceInfoListFunction>("FT_CreateDeviceInfoList");
  return function ? function(numDevs) : NoLibrary;
}

FT_STATUS FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id, DWORD* locId,
                                 void* serialNumber, void* description, FT_HANDLE* handle) {
  static const auto function = Find<GetDeviceInfoDetailFunction>("FT_GetDeviceInfoDetail");
  return function ? function(index, flags, type, id, locId, serialNumber, description, handle) : NoLibrary;
}

FT_STATUS FT_Open(int deviceNumber, FT_HANDLE* handle) {
  static const auto function = Find<OpenFunction>("FT_Open");
  return function ? function(deviceNumber, handle) : NoLibrary;
}

FT_STATUS FT_ResetDevice(FT_HANDLE handle) {
  static const auto function = Find<HandleFunction>("FT_ResetDevice");
  return function ? function(handle) : NoLibrary;
}

FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
  static const auto function = Find<GetQueueStatusFunction>("FT_GetQueueStatus");
  return function ? function(handle, rxBytes) : NoLibrary;
}

FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD bytesToRead, DWORD* bytesReturned) {
  static const auto function = Find<TransferFunction>("FT_Read");
  return function ? function(handle, buffer, bytesToRead, bytesReturned) : NoLibrary;
}

FT_STATUS FT_Write(FT_HANDLE handle, void* buffer, DWORD bytesToWrite, DWORD* bytesWritten) {
  static const auto function = Find<TransferFunction>("FT_Write");
  return function ? function(handle, buffer, bytesToWrite, bytesWritten) : NoLibrary;
}

FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, DWORD inTransferSize, DWORD outTransferSize) {
  static const auto function = Find<TwoValuesFunction>("FT_SetUSBParameters");
  return function ? function(handle, inTransferSize, outTransferSize) : NoLibrary;
}

FT_STATUS FT_SetChars(FT_HANDLE handle, UCHAR eventChar, UCHAR eventCharEnabled, UCHAR errorChar,
                      UCHAR errorCharEnabled) {
  static const auto function = Find<SetCharsFunction>("FT_SetChars");
  return function ? function(handle, eventChar, eventCharEnabled, errorChar, errorCharEnabled)
                  : NoLibrary;
}

FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD readTimeout, DWORD writeTimeout) {
  static const auto function = Find<TwoValuesFunction>("FT_SetTimeouts");
  return function ? function(handle, readTimeout, writeTimeout) : NoLibrary;
}

FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, UCHAR latencyMs) {
  static const auto function = Find<SetLatencyTimerFunction>("FT_SetLatencyTimer");
  return function ? function(handle, latencyMs) : NoLibrary;
}

FT_STATUS FT_SetBitMode(FT_HANDLE handle, UCHAR pinMask, UCHAR mode) {
  static const auto function = Find<SetBitModeFunction>("FT_SetBitMode");
  return function ? function(handle, pinMask, mode) : NoLibrary;
}

FT_STATUS FT_Close(FT_HANDLE handle) {
  static const auto function = Find<HandleFunction>("FT_Close");
  return function ? function(handle) : NoLibrary;
}

// The driver says no more than its status.
DriverError LastDriverError() { return {}; }
