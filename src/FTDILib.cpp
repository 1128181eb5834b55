#include "FTDILib.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

#include "D2XXTrace.h"
#include "Platform.h"

DWORD dwNumDevs = 0;
std::uint8_t byOutputBuffer[OutputBufferSize];
DWORD dwNumBytesToSend = 0;
DWORD dwNumBytesSent = 0;
std::uint8_t byInputBuffer[InputBufferSize];
DWORD dwNumBytesToRead = 0;
DWORD dwNumBytesRead = 0;
std::int32_t DataRead = 0;
FT_HANDLE ftHandle = nullptr;
FT_STATUS ftStatus = FT_OK;
DWORD dwClockDivisor = 0x1D;  // 60 MHz / ((1 + 29) * 2) = 1 MHz TCK
DWORD dwNumRepliesBuilt = 0;
DWORD dwNumRepliesOwed = 0;

namespace {

std::uint32_t readWait = ProgramReadWaitMs;
ReadMode readMode = ReadMode::FixedWait;

LinkFailure latchedFailure = LinkFailure::None;

void Latch(LinkFailure failure) {
  if (latchedFailure == LinkFailure::None) latchedFailure = failure;
}

// Appends one command and counts the reply bytes it will make the adapter queue.
void Append(std::initializer_list<int> bytes, DWORD replyBytes) {
  if (dwNumBytesToSend + bytes.size() > OutputBufferSize) {
    // No flow comes near the end of the buffer; sending a cut sequence could leave the
    // flash half commanded, so the whole batch is dropped instead.
    ClearOutputBuffer();
    std::puts(" Command buffer overflow");
    Latch(LinkFailure::CommandOverflow);
    return;
  }
  for (int byte : bytes) byOutputBuffer[dwNumBytesToSend++] = static_cast<std::uint8_t>(byte);
  dwNumRepliesBuilt += replyBytes;
}

// What one FT_Read may ask for of the queue last reported.
DWORD QueuedBytesThatFit() { return std::min(dwNumBytesToRead, InputBufferSize); }

// A clock count of n bits travels as n - 1.
int Length(unsigned int n) { return static_cast<int>(n - 1); }

// Every D2XX call goes into the trace as it returns.
FT_STATUS Recorded(FT_STATUS status, const char* name, std::initializer_list<long long> arguments = {}) {
  TraceD2XXCall(name, arguments, status);
  return status;
}

FT_STATUS DeviceCount() {
  const FT_STATUS status = FT_CreateDeviceInfoList(&dwNumDevs);
  return Recorded(status, "FT_CreateDeviceInfoList", {dwNumDevs});
}

FT_STATUS QueueStatus() {
  const FT_STATUS status = FT_GetQueueStatus(ftHandle, &dwNumBytesToRead);
  TraceQueueStatus(dwNumBytesToRead, status);
  return status;
}

// A failed read returned nothing, whatever the driver left in its count.
FT_STATUS Read(std::uint8_t* buffer, DWORD count, DWORD* got) {
  const FT_STATUS status = FT_Read(ftHandle, buffer, count, got);
  TraceD2XXData("read", buffer, status == FT_OK ? *got : 0, status);
  return status;
}

FT_STATUS DeviceDetail(DWORD index, DWORD& flags, DWORD& type, char (&serial)[FT_SERIAL_NUMBER_SIZE],
                       char (&description)[FT_DESCRIPTION_SIZE]) {
  DWORD id = 0, location = 0;
  FT_HANDLE handle = nullptr;
  return Recorded(FT_GetDeviceInfoDetail(index, &flags, &type, &id, &location, serial, description, &handle),
                  "FT_GetDeviceInfoDetail", {index});
}

}  // namespace

void SendDataUp(unsigned int n, int data) { Append({mpsse::BitsOutRising, Length(n), data}, 0); }

void SendDataDown(unsigned int n, int data) { Append({mpsse::BitsOutFalling, Length(n), data}, 0); }

void GetDataUp(unsigned int n) { Append({mpsse::BitsInRising, Length(n)}, 1); }

void GetDataDown(unsigned int n) { Append({mpsse::BitsInFalling, Length(n)}, 1); }

void SendDataDownandGetDataUp(unsigned int n, int data) {
  Append({mpsse::BitsOutFallingInRising, Length(n), data}, 1);
}

void SendDataUpandGetDataDown(unsigned int n, int data) {
  Append({mpsse::BitsOutRisingInFalling, Length(n), data}, 1);
}

// TMS commands clock data bits 0..6 out on TMS and hold bit 7 on TDI meanwhile, which is how
// the last bit of a shift travels on the clock that leaves the Shift state.
void SendTMSCmdUp(unsigned int n, int data) { Append({mpsse::TmsOutRising, Length(n), data}, 0); }

void SendTMSCmdDown(unsigned int n, int data) { Append({mpsse::TmsOutFalling, Length(n), data}, 0); }

void SendTMSCmdDownandReadUp(unsigned int n, int data) {
  Append({mpsse::TmsOutFallingInRising, Length(n), data}, 1);
}

void ConfigADBUS(int value, int direction) { Append({mpsse::SetLowByte, value, direction}, 0); }

void ConfigACBUS(int value, int direction) { Append({mpsse::SetHighByte, value, direction}, 0); }

void LoopbackOFF() { Append({mpsse::LoopbackOff}, 0); }

void ConfigTCK() {
  Append({mpsse::SetClockDivisor, static_cast<int>(dwClockDivisor & 0xFF),
          static_cast<int>((dwClockDivisor >> 8) & 0xFF)},
         0);
}

void TCKMax() { Append({mpsse::DivideBy5Off}, 0); }

void ThreePhasesDataClockOFF() { Append({mpsse::ThreePhaseOff}, 0); }

void SendFreeClocks(unsigned int n) { Append({mpsse::ClockBitsNoData, Length(n)}, 0); }

void AdaptativeClockOFF() { Append({mpsse::AdaptiveClockOff}, 0); }

void WrongCode() { Append({mpsse::Invalid}, 2); }

bool LinkFailed() { return latchedFailure != LinkFailure::None; }

LinkFailure TakeLinkFailure() {
  const LinkFailure failure = latchedFailure;
  latchedFailure = LinkFailure::None;
  return failure;
}

void ClearOutputBuffer() {
  dwNumBytesToSend = 0;
  dwNumRepliesBuilt = 0;
}

// An empty buffer is not sent: a zero-length USB write would only cost a round trip.
void FlushOutputBuffer() {
  if (dwNumBytesToSend > 0 && !LinkFailed()) {
    ftStatus = FT_Write(ftHandle, byOutputBuffer, dwNumBytesToSend, &dwNumBytesSent);
    // A write the driver took only in part is traced with the bytes that went, which a replay
    // then plays.
    TraceD2XXData("write", byOutputBuffer, ftStatus == FT_OK ? dwNumBytesSent : dwNumBytesToSend, ftStatus);
    // Commands that never left the PC will not be answered.
    if (ftStatus == FT_OK && dwNumBytesSent == dwNumBytesToSend)
      dwNumRepliesOwed += dwNumRepliesBuilt;
    else
      Latch(LinkFailure::WriteFailed);
  }
  ClearOutputBuffer();
}

void FlushForRead() {
  if (readMode == ReadMode::SendImmediate) Append({mpsse::SendImmediate}, 0);
  FlushOutputBuffer();
}

void ReadQueuedBytes() {
  dwNumBytesRead = 0;
  if (LinkFailed()) return;
  const DWORD owed = dwNumRepliesOwed;
  const DWORD expected = owed > 0 ? owed : 1;
  DWORD received = 0;
  std::uint64_t lastByteAt = MonotonicMs();
  for (;;) {
    ftStatus = QueueStatus();
    if (ftStatus != FT_OK) {
      Latch(LinkFailure::ReadFailed);
      break;
    }
    if (dwNumBytesToRead == 0) {
      if (MonotonicMs() - lastByteAt >= ReadTimeoutMs) {
        Latch(LinkFailure::NoAnswer);
        break;
      }
      continue;
    }
    // An answer longer than the buffer keeps its tail, which is where every value is.
    const DWORD count = QueuedBytesThatFit();
    if (dwNumBytesRead + count > InputBufferSize) {
      DWORD drop = dwNumBytesRead + count - InputBufferSize;
      std::memmove(byInputBuffer, byInputBuffer + drop, dwNumBytesRead - drop);
      dwNumBytesRead -= drop;
    }
    DWORD got = 0;
    ftStatus = Read(byInputBuffer + dwNumBytesRead, count, &got);
    dwNumBytesRead += got;
    received += got;
    if (ftStatus != FT_OK) {
      Latch(LinkFailure::ReadFailed);
      break;
    }
    if (received >= expected) break;
    if (got > 0) lastByteAt = MonotonicMs();
  }
  // Bytes still owed by a failed read will arrive, if ever, ahead of the next answer: the next
  // read waits for them too, so that its value is again the tail.
  dwNumRepliesOwed = owed > received ? owed - received : 0;
}

void ReadData(int n) {
  DataRead = 0;
  std::uint32_t value = 0;
  if (ReceiveAnswer() && TakeAnswerBytes(0, n, value)) DataRead = static_cast<std::int32_t>(value);
}

DWORD AnswerLength() { return dwNumRepliesOwed + dwNumRepliesBuilt; }

bool ReceiveAnswer() {
  if (LinkFailed()) return false;
  if (readMode == ReadMode::FixedWait) PauseMs(readWait);
  ReadQueuedBytes();
  if (!LinkFailed()) return true;
  std::puts(" The Data Reading Failed");
  return false;
}

bool TakeAnswerBytes(DWORD beforeEnd, int n, std::uint32_t& value) {
  if (LinkFailed()) return false;
  if (dwNumBytesRead < beforeEnd + static_cast<DWORD>(n)) {
    Latch(LinkFailure::ShortAnswer);
    return false;
  }
  value = 0;
  for (int i = 0; i < n; ++i)
    value |= std::uint32_t{byInputBuffer[dwNumBytesRead - beforeEnd - n + i]} << (8 * i);
  return true;
}

bool TakeDataRead(std::int32_t& value) {
  if (LinkFailed()) return false;
  value = DataRead;
  return true;
}

void SetReadWait(std::uint32_t ms) { readWait = ms; }

void PauseMs(std::uint32_t ms) {
  TraceSleep(ms);
  SleepMs(ms);
}

void SetReadMode(ReadMode mode) { readMode = mode; }

int DeviceCheck() {
  std::puts(" Checking for QZ devices...");
  ftStatus = DeviceCount();
  if (ftStatus != FT_OK) {
    std::puts(" Error in getting the number of devices");
    return 1;
  }
  if (dwNumDevs == 0) {
    std::puts(" There are no QZ devices installed");
    return 1;
  }
  std::printf(" %d QZ devices found - The drivers are installed\n", static_cast<int>(dwNumDevs));
  return 0;
}

int OpenPort(int deviceNumber) {
  std::puts("\n Opening Port...");
  ftStatus = Recorded(FT_Open(deviceNumber, &ftHandle), "FT_Open", {deviceNumber});
  if (ftStatus != FT_OK) {
    std::printf(" Opening failed with error %d\n", static_cast<int>(ftStatus));
    return 1;
  }
  return 0;
}

// The status runs on from FT_Open's, so a failed open also fails the configuration.
int ConfigPortParams() {
  std::puts("\n Configuring port for use...");
  ftStatus |= Recorded(FT_ResetDevice(ftHandle), "FT_ResetDevice");
  ftStatus |= QueueStatus();
  if (ftStatus == FT_OK && dwNumBytesToRead != 0) Read(byInputBuffer, QueuedBytesThatFit(), &dwNumBytesRead);
  ftStatus |= Recorded(FT_SetUSBParameters(ftHandle, UsbTransferSize, UsbTransferSize), "FT_SetUSBParameters",
                       {UsbTransferSize, UsbTransferSize});
  ftStatus |= Recorded(FT_SetChars(ftHandle, 0, 0, 0, 0), "FT_SetChars", {0, 0, 0, 0});
  ftStatus |= Recorded(FT_SetTimeouts(ftHandle, D2xxReadTimeoutMs, D2xxWriteTimeoutMs), "FT_SetTimeouts",
                       {D2xxReadTimeoutMs, D2xxWriteTimeoutMs});
  ftStatus |= Recorded(FT_SetLatencyTimer(ftHandle, LatencyTimerMs), "FT_SetLatencyTimer", {LatencyTimerMs});
  ftStatus |= Recorded(FT_SetBitMode(ftHandle, 0x00, FT_BITMODE_RESET), "FT_SetBitMode", {0x00, FT_BITMODE_RESET});
  ftStatus |= Recorded(FT_SetBitMode(ftHandle, 0x00, FT_BITMODE_MPSSE), "FT_SetBitMode", {0x00, FT_BITMODE_MPSSE});
  const bool failed = ftStatus != FT_OK;
  if (failed) {
    std::printf(" Error in configuring the port %d\n", static_cast<int>(ftStatus));
    Recorded(FT_Close(ftHandle), "FT_Close");
  }
  PauseMs(ModeSettleMs);
  return failed ? 1 : 0;
}

// An MPSSE that is in step answers an unknown opcode with 0xFA and the opcode.
int SyncMPSSE() {
  WrongCode();
  FlushOutputBuffer();
  ReadQueuedBytes();
  for (DWORD i = 0; i + 1 < dwNumBytesRead; ++i)
    if (byInputBuffer[i] == mpsse::BadCommandEcho && byInputBuffer[i + 1] == mpsse::Invalid) return 0;
  std::puts(" Error in synchronizing the port");
  Recorded(FT_Close(ftHandle), "FT_Close");
  return 1;
}

// TCK at 60 MHz / ((1 + 29) * 2) = 1 MHz, target out of reset, TMS high.
void ConfigMPSSEParams() {
  ClearOutputBuffer();
  TCKMax();
  AdaptativeClockOFF();
  ThreePhasesDataClockOFF();
  ConfigADBUS(pins::ResetReleased, pins::Directions);
  ConfigACBUS(0x00, 0x00);
  ConfigTCK();
  LoopbackOFF();
  FlushOutputBuffer();
  std::puts(" Configuration of the port is done.");
}

std::string DriverFailureText() {
  const DriverError error = LastDriverError();
  return error.text.empty() ? "error " + std::to_string(ftStatus) : error.text;
}

bool OpenRefusedAccess() { return LastDriverError().accessDenied; }

// The driver flags a device another program has open.
bool DeviceInUse(int deviceNumber) {
  if (LastDriverError().busy) return true;
  DWORD flags = 0, type = 0;
  char serial[FT_SERIAL_NUMBER_SIZE] = {};
  char description[FT_DESCRIPTION_SIZE] = {};
  return DeviceDetail(static_cast<DWORD>(deviceNumber), flags, type, serial, description) == FT_OK &&
         (flags & FT_FLAGS_OPENED) != 0;
}

void ClosePort() {
  Recorded(FT_SetBitMode(ftHandle, 0x00, FT_BITMODE_RESET), "FT_SetBitMode", {0x00, FT_BITMODE_RESET});
  Recorded(FT_Close(ftHandle), "FT_Close");
}

namespace {

const char* ChipName(DWORD type) {
  switch (type) {
    case FT_DEVICE_2232H:
      return "FT2232H";
    case FT_DEVICE_4232H:
      return "FT4232H";
    case FT_DEVICE_232H:
      return "FT232H";
    default:
      return "other";
  }
}

// The driver ends the description of a multi-interface chip's device in its interface letter.
char InterfaceLetter(DWORD type, const std::string& description) {
  const bool multi = type == FT_DEVICE_2232H || type == FT_DEVICE_4232H;
  const std::size_t size = description.size();
  if (multi && size >= 2 && description[size - 2] == ' ') return description[size - 1];
  return multi ? '?' : 'A';
}

const char* OrDash(const char* text) { return *text == '\0' ? "-" : text; }

}  // namespace

int ListDevices() {
  ftStatus = DeviceCount();
  if (ftStatus != FT_OK) return -1;
  for (DWORD i = 0; i < dwNumDevs; ++i) {
    DWORD flags = 0, type = 0;
    char serial[FT_SERIAL_NUMBER_SIZE] = {};
    char description[FT_DESCRIPTION_SIZE] = {};
    ftStatus = DeviceDetail(i, flags, type, serial, description);
    serial[sizeof serial - 1] = '\0';
    description[sizeof description - 1] = '\0';
    if (ftStatus != FT_OK) {
      std::printf("%u  no details (error %u)\n", static_cast<unsigned>(i), static_cast<unsigned>(ftStatus));
      continue;
    }
    std::printf("%u  %s  %c  %s  %s%s\n", static_cast<unsigned>(i), ChipName(type), InterfaceLetter(type, description),
                OrDash(serial), OrDash(description), (flags & FT_FLAGS_OPENED) ? "  (in use)" : "");
  }
  return static_cast<int>(dwNumDevs);
}
