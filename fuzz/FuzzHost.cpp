// The application's shared state, an adapter that is never attached, a clock that moves a
// millisecond per reading so that every bounded wait ends, and an orderly exit that unwinds
// to the harness. The reader under test holds nothing that unwinding would leak.
#include "FuzzHost.h"

#include "D2XX.h"
#include "Platform.h"
#include "QZFlashShared.h"

std::int32_t numeroOpe = 0;
std::int32_t numeroFin = 0;
std::int32_t numeroCible = 0;
std::string ChoosenFile;
std::int32_t ErrorFlag = 0;
std::int32_t HeaderFlag = 0;
std::int32_t CBEIF = 0;
std::int32_t CCIF = 0;
std::int32_t PVIOL = 0;
std::int32_t ACCERR = 0;
std::int32_t DIVLD = 0;

void ReadIDCode() {}

void WriteProgramFlash(std::int32_t, int, std::int32_t, int) {}
void WriteBootFlash(std::int32_t, int) {}
void WriteDataFlash(std::int32_t, int) {}

void ExitProgram() { throw ProgramExit{}; }

FT_STATUS FT_CreateDeviceInfoList(DWORD* numDevs) {
  *numDevs = 0;
  return FT_OK;
}
FT_STATUS FT_Open(int, FT_HANDLE*) { return FT_DEVICE_NOT_FOUND; }
FT_STATUS FT_ResetDevice(FT_HANDLE) { return FT_INVALID_HANDLE; }
FT_STATUS FT_GetQueueStatus(FT_HANDLE, DWORD* rxBytes) {
  *rxBytes = 0;
  return FT_INVALID_HANDLE;
}
FT_STATUS FT_Read(FT_HANDLE, void*, DWORD, DWORD* bytesReturned) {
  *bytesReturned = 0;
  return FT_INVALID_HANDLE;
}
FT_STATUS FT_Write(FT_HANDLE, void*, DWORD, DWORD* bytesWritten) {
  *bytesWritten = 0;
  return FT_INVALID_HANDLE;
}
FT_STATUS FT_SetUSBParameters(FT_HANDLE, DWORD, DWORD) { return FT_INVALID_HANDLE; }
FT_STATUS FT_SetChars(FT_HANDLE, UCHAR, UCHAR, UCHAR, UCHAR) { return FT_INVALID_HANDLE; }
FT_STATUS FT_SetTimeouts(FT_HANDLE, DWORD, DWORD) { return FT_INVALID_HANDLE; }
FT_STATUS FT_SetLatencyTimer(FT_HANDLE, UCHAR) { return FT_INVALID_HANDLE; }
FT_STATUS FT_SetBitMode(FT_HANDLE, UCHAR, UCHAR) { return FT_INVALID_HANDLE; }
FT_STATUS FT_Close(FT_HANDLE) { return FT_INVALID_HANDLE; }

void SleepMs(std::uint32_t) {}

std::uint64_t MonotonicMs() {
  static std::uint64_t now = 0;
  return ++now;
}

void RaiseTimerResolution() {}
void RestoreTimerResolution() {}
void ClearConsole() {}

FolderStatus ListFolder(const char*, std::vector<std::string>&) { return FolderStatus::OpenFailed; }
