// The D2XX calls on a virtual bench: checks, status codes, trace and counts.
// D2XX.h's types are the very types D2XXCalls.h declares these with.
#include "D2XXCalls.h"

#include <algorithm>
#include <cstdio>
#include <span>
#include <string>

#include "Bench.h"
#include "D2XX.h"

namespace qzsim::d2xx {

namespace {

constexpr DWORD kTransferSizeStep = 64;
constexpr DWORD kMaxTransferSize = 65536;
// FTDI's vendor ID and the FT232H's product ID, as D2XX packs them.
constexpr DWORD kVirtualChipId = 0x04036014;

// "<name> <args...> status <n>"
template <typename... Args>
FT_STATUS Traced(Bench& bench, FT_STATUS status, const char* name, const Args&... args) {
  std::string line = name;
  ((line += ' ', line += args), ...);
  line += " status " + std::to_string(status);
  bench.Trace(line, false);
  return status;
}

std::string Out(const DWORD* value) { return value ? std::to_string(*value) : "-"; }

// "write <HEX>" and "read <HEX>"; a failed call adds its status.
void TraceData(Bench& bench, const char* name, const void* buffer, DWORD count, FT_STATUS status) {
  const std::string hex = TraceHex(buffer, count);
  std::string line = std::string(name) + ' ' + hex;
  if (status != FT_OK) line += (hex.empty() ? "status " : " status ") + std::to_string(status);
  bench.Trace(line, count > 0);
}

FT_HANDLE AsHandle(DeviceToken token) { return reinterpret_cast<FT_HANDLE>(token); }

bool IsOpen(const Bench& bench, FT_HANDLE handle) {
  return bench.OpenDevice() && AsHandle(*bench.OpenDevice()) == handle;
}

// Every call on a handle goes through here: a closed, stale or never-opened handle and an
// unplugged adapter move nothing.
FT_STATUS Check(Bench& bench, FT_HANDLE handle) {
  if (!IsOpen(bench, handle)) return FT_INVALID_HANDLE;
  if (bench.Adapter().Unplugged()) return FT_IO_ERROR;
  return FT_OK;
}

}  // namespace

FT_STATUS CreateDeviceInfoList(Bench& bench, DWORD* numDevs) {
  FT_STATUS status = FT_INVALID_PARAMETER;
  if (numDevs) {
    *numDevs = bench.Devices();
    status = FT_OK;
  }
  return Traced(bench, status, "FT_CreateDeviceInfoList", Out(numDevs));
}

// Every device is a single-interface Hi-Speed chip of our own.
FT_STATUS GetDeviceInfoDetail(Bench& bench, DWORD index, DWORD* flags, DWORD* type, DWORD* id, DWORD* locId,
                              void* serialNumber, void* description, FT_HANDLE* handle) {
  FT_STATUS status = FT_OK;
  if (index >= bench.Devices()) {
    status = FT_DEVICE_NOT_FOUND;
  } else {
    const bool inUse = index != bench.TargetDevice() || bench.OpenDevice();
    if (flags) *flags = FT_FLAGS_HISPEED | (inUse ? FT_FLAGS_OPENED : 0);
    if (type) *type = FT_DEVICE_232H;
    if (id) *id = kVirtualChipId;
    if (locId) *locId = index + 1;
    if (serialNumber) {
      std::snprintf(static_cast<char*>(serialNumber), FT_SERIAL_NUMBER_SIZE, "QZSIM%03u",
                    static_cast<unsigned>(index));
    }
    if (description) std::snprintf(static_cast<char*>(description), FT_DESCRIPTION_SIZE, "QZ virtual adapter");
    if (handle) *handle = nullptr;
  }
  return Traced(bench, status, "FT_GetDeviceInfoDetail", std::to_string(index));
}

// The target device is the adapter with the target; any other device is in use by another
// program.
FT_STATUS Open(Bench& bench, int deviceNumber, FT_HANDLE* handle) {
  FT_STATUS status = FT_OK;
  if (handle == nullptr) {
    status = FT_INVALID_PARAMETER;
  } else if (deviceNumber < 0 || static_cast<unsigned>(deviceNumber) >= bench.Devices()) {
    status = FT_DEVICE_NOT_FOUND;
  } else if (static_cast<unsigned>(deviceNumber) != bench.TargetDevice() || bench.Adapter().Unplugged() ||
             bench.OpenDevice()) {
    status = FT_DEVICE_NOT_OPENED;
  } else {
    *handle = AsHandle(bench.Open());
  }
  return Traced(bench, status, "FT_Open", std::to_string(deviceNumber));
}

FT_STATUS ResetDevice(Bench& bench, FT_HANDLE handle) {
  const FT_STATUS status = Check(bench, handle);
  if (status == FT_OK) bench.Adapter().Purge();
  return Traced(bench, status, "FT_ResetDevice");
}

FT_STATUS GetQueueStatus(Bench& bench, FT_HANDLE handle, DWORD* rxBytes) {
  // Each poll is a USB round trip; charging it keeps a host that polls without sleeping
  // from spinning forever on a clock that nothing else moves.
  bench.Clock().Poll();
  FT_STATUS status = Check(bench, handle);
  if (status == FT_OK && rxBytes == nullptr) status = FT_INVALID_PARAMETER;
  if (status == FT_OK) *rxBytes = static_cast<DWORD>(bench.Adapter().Poll(bench.Clock().NowMicros()));
  return Traced(bench, status, "FT_GetQueueStatus", status == FT_OK ? Out(rxBytes) : "-");
}

FT_STATUS Read(Bench& bench, FT_HANDLE handle, void* buffer, DWORD bytesToRead,
               DWORD* bytesReturned) {
  FT_STATUS status = Check(bench, handle);
  if (status == FT_OK && (bytesReturned == nullptr || (buffer == nullptr && bytesToRead > 0))) {
    status = FT_INVALID_PARAMETER;
  }
  DWORD returned = 0;
  if (status == FT_OK) {
    const auto bytes = bench.Adapter().Read(bytesToRead, bench.Clock().NowMicros());
    std::copy(bytes.begin(), bytes.end(), static_cast<std::uint8_t*>(buffer));
    returned = static_cast<DWORD>(bytes.size());
  }
  if (bytesReturned) *bytesReturned = returned;
  ++bench.Stats().reads;
  bench.Stats().bytesRead += returned;
  TraceData(bench, "read", buffer, returned, status);
  return status;
}

FT_STATUS Write(Bench& bench, FT_HANDLE handle, void* buffer, DWORD bytesToWrite,
                DWORD* bytesWritten) {
  FT_STATUS status = Check(bench, handle);
  if (status == FT_OK && (bytesWritten == nullptr || (buffer == nullptr && bytesToWrite > 0))) {
    status = FT_INVALID_PARAMETER;
  }
  if (status == FT_OK) {
    bench.Adapter().Write(std::span(static_cast<const std::uint8_t*>(buffer), bytesToWrite),
                          bench.Clock().NowMicros());
    *bytesWritten = bytesToWrite;
    bench.Stats().bytesWritten += bytesToWrite;
  } else if (bytesWritten) {
    *bytesWritten = 0;
  }
  ++bench.Stats().writes;
  TraceData(bench, "write", buffer, bytesToWrite, status);
  return status;
}

FT_STATUS SetUSBParameters(Bench& bench, FT_HANDLE handle, DWORD inTransferSize,
                           DWORD outTransferSize) {
  FT_STATUS status = Check(bench, handle);
  const auto valid = [](DWORD size) {
    return size >= kTransferSizeStep && size <= kMaxTransferSize && size % kTransferSizeStep == 0;
  };
  if (status == FT_OK && !(valid(inTransferSize) && valid(outTransferSize))) {
    status = FT_INVALID_PARAMETER;
  }
  return Traced(bench, status, "FT_SetUSBParameters", std::to_string(inTransferSize),
                std::to_string(outTransferSize));
}

FT_STATUS SetChars(Bench& bench, FT_HANDLE handle, UCHAR eventChar, UCHAR eventCharEnabled,
                   UCHAR errorChar, UCHAR errorCharEnabled) {
  return Traced(bench, Check(bench, handle), "FT_SetChars", std::to_string(eventChar),
                std::to_string(eventCharEnabled), std::to_string(errorChar),
                std::to_string(errorCharEnabled));
}

FT_STATUS SetTimeouts(Bench& bench, FT_HANDLE handle, DWORD readTimeout, DWORD writeTimeout) {
  return Traced(bench, Check(bench, handle), "FT_SetTimeouts", std::to_string(readTimeout),
                std::to_string(writeTimeout));
}

FT_STATUS SetLatencyTimer(Bench& bench, FT_HANDLE handle, UCHAR latencyMs) {
  FT_STATUS status = Check(bench, handle);
  if (status == FT_OK && latencyMs == 0) status = FT_INVALID_PARAMETER;
  if (status == FT_OK) bench.Adapter().SetLatencyMs(latencyMs);
  return Traced(bench, status, "FT_SetLatencyTimer", std::to_string(latencyMs));
}

FT_STATUS SetBitMode(Bench& bench, FT_HANDLE handle, UCHAR pinMask, UCHAR mode) {
  FT_STATUS status = Check(bench, handle);
  if (status == FT_OK && !bench.Adapter().SetBitMode(mode, bench.Clock().NowMicros())) status = FT_INVALID_PARAMETER;
  return Traced(bench, status, "FT_SetBitMode", std::to_string(pinMask), std::to_string(mode));
}

FT_STATUS Close(Bench& bench, FT_HANDLE handle) {
  const FT_STATUS status = Check(bench, handle);
  if (IsOpen(bench, handle)) bench.Close();
  return Traced(bench, status, "FT_Close");
}

}  // namespace qzsim::d2xx
