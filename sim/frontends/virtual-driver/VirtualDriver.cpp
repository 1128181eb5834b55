// A virtual FTD2XX.dll: the D2XX functions the program loads at run time from the
// adapter's driver, under the driver's names and calling convention, answered by the virtual
// adapter and target. Copied beside qzflash.exe, it carries the unchanged program through its
// real run-time loading. Options come from QZSIM_OPTIONS. The program's sleeps are real, so the
// target runs on the real clock. The state is saved and the summary written when the library
// is unloaded, at the latest when the process exits.
//
// The parameters have D2XXCalls.h's types: the same widths as the driver's ULONG, DWORD, UCHAR
// and PVOID, so the same binary interface. This file must not see D2XX.h, whose C++ FT_*
// declarations would clash with these C exports.
#include <windows.h>

#include "D2XXCalls.h"
#include "StandIn.h"

namespace {

namespace d2xx = qzsim::d2xx;
using d2xx::Dword;
using d2xx::Handle;
using d2xx::Status;
using d2xx::Uchar;

constexpr qzsim::StandInKind kKind{"virtual-driver", true, true, false};

qzsim::StandIn* standIn = nullptr;  // set up at the first call, kept until the library goes

qzsim::Bench& Bench() {
  if (standIn == nullptr) standIn = new qzsim::StandIn(kKind);
  standIn->MarkUsed();
  return standIn->TheBench();
}

}  // namespace

extern "C" {

__declspec(dllexport) Status WINAPI FT_CreateDeviceInfoList(Dword* numDevs) {
  return d2xx::CreateDeviceInfoList(Bench(), numDevs);
}

__declspec(dllexport) Status WINAPI FT_GetDeviceInfoDetail(Dword index, Dword* flags, Dword* type, Dword* id,
                                                           Dword* locId, void* serialNumber, void* description,
                                                           Handle* handle) {
  return d2xx::GetDeviceInfoDetail(Bench(), index, flags, type, id, locId, serialNumber, description, handle);
}

__declspec(dllexport) Status WINAPI FT_Open(int deviceNumber, Handle* handle) {
  return d2xx::Open(Bench(), deviceNumber, handle);
}

__declspec(dllexport) Status WINAPI FT_ResetDevice(Handle handle) {
  return d2xx::ResetDevice(Bench(), handle);
}

__declspec(dllexport) Status WINAPI FT_GetQueueStatus(Handle handle, Dword* rxBytes) {
  return d2xx::GetQueueStatus(Bench(), handle, rxBytes);
}

__declspec(dllexport) Status WINAPI FT_Read(Handle handle, void* buffer, Dword bytesToRead,
                                            Dword* bytesReturned) {
  return d2xx::Read(Bench(), handle, buffer, bytesToRead, bytesReturned);
}

__declspec(dllexport) Status WINAPI FT_Write(Handle handle, void* buffer, Dword bytesToWrite,
                                             Dword* bytesWritten) {
  return d2xx::Write(Bench(), handle, buffer, bytesToWrite, bytesWritten);
}

__declspec(dllexport) Status WINAPI FT_SetUSBParameters(Handle handle, Dword inTransferSize,
                                                        Dword outTransferSize) {
  return d2xx::SetUSBParameters(Bench(), handle, inTransferSize, outTransferSize);
}

__declspec(dllexport) Status WINAPI FT_SetChars(Handle handle, Uchar eventChar,
                                                Uchar eventCharEnabled, Uchar errorChar,
                                                Uchar errorCharEnabled) {
  return d2xx::SetChars(Bench(), handle, eventChar, eventCharEnabled, errorChar, errorCharEnabled);
}

__declspec(dllexport) Status WINAPI FT_SetTimeouts(Handle handle, Dword readTimeout,
                                                   Dword writeTimeout) {
  return d2xx::SetTimeouts(Bench(), handle, readTimeout, writeTimeout);
}

__declspec(dllexport) Status WINAPI FT_SetLatencyTimer(Handle handle, Uchar latencyMs) {
  return d2xx::SetLatencyTimer(Bench(), handle, latencyMs);
}

__declspec(dllexport) Status WINAPI FT_SetBitMode(Handle handle, Uchar pinMask, Uchar mode) {
  return d2xx::SetBitMode(Bench(), handle, pinMask, mode);
}

__declspec(dllexport) Status WINAPI FT_Close(Handle handle) { return d2xx::Close(Bench(), handle); }

// The process's exit status is not to be seen from here: a lost state ends it with 1.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID processEnding) {
  if (reason == DLL_PROCESS_DETACH && standIn != nullptr && !standIn->Finish() && processEnding != nullptr) {
    TerminateProcess(GetCurrentProcess(), 1);
  }
  return TRUE;
}

}  // extern "C"
