// A stand-in for the driver's FTD2XX.dll: the functions we use, with the library's own types and
// calling convention. Each call is written to a log the test reads through FakeLog.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string callLog;

void Log(const char* format, auto... values) {
  char line[128];
  std::snprintf(line, sizeof line, format, values...);
  callLog += line;
  callLog += '\n';
}

// Handles are these values plus the device number.
constexpr ULONG_PTR HandleBase = 0x5A000000;
constexpr ULONG InvalidHandle = 1;
constexpr ULONG InvalidParameter = 6;

unsigned long long Number(PVOID handle) { return reinterpret_cast<ULONG_PTR>(handle); }

}  // namespace

extern "C" {

__declspec(dllexport) const char* FakeLog() { return callLog.c_str(); }

__declspec(dllexport) ULONG WINAPI FT_CreateDeviceInfoList(DWORD* count) {
  Log("FT_CreateDeviceInfoList");
  *count = 3;
  return 0;
}

__declspec(dllexport) ULONG WINAPI FT_Open(int number, PVOID* handle) {
  Log("FT_Open %d", number);
  *handle = reinterpret_cast<PVOID>(HandleBase + static_cast<ULONG_PTR>(number));
  return 0;
}

__declspec(dllexport) ULONG WINAPI FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id,
                                                          DWORD* location, PVOID serial, PVOID description,
                                                          PVOID* handle) {
  Log("FT_GetDeviceInfoDetail %lu", index);
  *flags = 2;
  *type = 6;
  *id = 0x04036010;
  *location = 0x21;
  std::snprintf(static_cast<char*>(serial), 16, "FT12345%c", static_cast<char>('A' + index));
  std::snprintf(static_cast<char*>(description), 64, "Dual RS232-HS %c", static_cast<char>('A' + index));
  *handle = nullptr;
  return 0;
}

__declspec(dllexport) ULONG WINAPI FT_ResetDevice(PVOID handle) {
  Log("FT_ResetDevice %#llx", Number(handle));
  return 0;
}

__declspec(dllexport) ULONG WINAPI FT_GetQueueStatus(PVOID handle, DWORD* queued) {
  Log("FT_GetQueueStatus %#llx", Number(handle));
  *queued = 0x89ABCDEF;
  return 0;
}

// Hands back one byte fewer than asked: 0xA0, 0xA1, ...
__declspec(dllexport) ULONG WINAPI FT_Read(PVOID handle, PVOID buffer, DWORD count, DWORD* got) {
  Log("FT_Read %#llx %lu", Number(handle), count);
  auto* bytes = static_cast<unsigned char*>(buffer);
  *got = count == 0 ? 0 : count - 1;
  for (DWORD i = 0; i < *got; ++i) bytes[i] = static_cast<unsigned char>(0xA0 + i);
  return 0;
}

__declspec(dllexport) ULONG WINAPI FT_Write(PVOID handle, PVOID buffer, DWORD count, DWORD* sent) {
  std::string hex;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  for (DWORD i = 0; i < count; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, " %02X", bytes[i]);
    hex += pair;
  }
  Log("FT_Write %#llx%s", Number(handle), hex.c_str());
  *sent = count;
  return 0;
}

__declspec(dllexport) ULONG WINAPI FT_SetUSBParameters(PVOID handle, ULONG in, ULONG out) {
  Log("FT_SetUSBParameters %#llx %lu %lu", Number(handle), in, out);
  return 0;
}

__declspec(dllexport) ULONG WINAPI FT_SetChars(PVOID handle, UCHAR event, UCHAR eventOn,
                                               UCHAR error, UCHAR errorOn) {
  Log("FT_SetChars %#llx %02X %u %02X %u", Number(handle), event,
      eventOn, error, errorOn);
  return 0;
}

__declspec(dllexport) ULONG WINAPI FT_SetTimeouts(PVOID handle, ULONG read, ULONG write) {
  Log("FT_SetTimeouts %#llx %lu %lu", Number(handle), read, write);
  return 0;
}

__declspec(dllexport) ULONG WINAPI FT_SetLatencyTimer(PVOID handle, UCHAR ms) {
  Log("FT_SetLatencyTimer %#llx %u", Number(handle), ms);
  return ms == 0 ? InvalidParameter : 0;
}

__declspec(dllexport) ULONG WINAPI FT_SetBitMode(PVOID handle, UCHAR mask, UCHAR mode) {
  Log("FT_SetBitMode %#llx %02X %02X", Number(handle), mask, mode);
  return 0;
}

__declspec(dllexport) ULONG WINAPI FT_Close(PVOID handle) {
  Log("FT_Close %#llx", Number(handle));
  return Number(handle) < HandleBase ? InvalidHandle : 0;
}

}  // extern "C"
