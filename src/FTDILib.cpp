#include "FTDILib.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "Platform.h"
#include "QZFlashShared.h"

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

// Appends one command and counts the reply bytes it will make the adapter queue.
void Append(std::initializer_list<int> bytes, DWORD replyBytes) {
  if (dwNumBytesToSend + bytes.size() > OutputBufferSize) {
    // No flow comes near the end of the buffer; sending a cut sequence could leave the
    // flash half commanded, so stop here instead.
    ClearOutputBuffer();
    std::puts(" Command buffer overflow");
    ExitProgram();
  }
  for (int byte : bytes) byOutputBuffer[dwNumBytesToSend++] = static_cast<std::uint8_t>(byte);
  dwNumRepliesBuilt += replyBytes;
}

// A clock count of n bits travels as n - 1.
int Length(unsigned int n) { return static_cast<int>(n - 1); }

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

void ClearOutputBuffer() {
  dwNumBytesToSend = 0;
  dwNumRepliesBuilt = 0;
}

// An empty buffer is not sent: a zero-length USB write would only cost a round trip.
void FlushOutputBuffer() {
  if (dwNumBytesToSend == 0) return;
  ftStatus = FT_Write(ftHandle, byOutputBuffer, dwNumBytesToSend, &dwNumBytesSent);
  // Commands that never left the PC will not be answered.
  if (ftStatus == FT_OK) dwNumRepliesOwed += dwNumRepliesBuilt;
  ClearOutputBuffer();
}

void ReadQueuedBytes() {
  const DWORD expected = dwNumRepliesOwed > 0 ? dwNumRepliesOwed : 1;
  DWORD received = 0;
  dwNumBytesRead = 0;
  std::uint64_t lastByteAt = MonotonicMs();
  for (;;) {
    ftStatus = FT_GetQueueStatus(ftHandle, &dwNumBytesToRead);
    if (ftStatus != FT_OK) break;
    if (dwNumBytesToRead == 0) {
      if (MonotonicMs() - lastByteAt >= ReadTimeoutMs) {
        ftStatus = FT_IO_ERROR;
        break;
      }
      continue;
    }
    // An answer longer than the buffer keeps its tail, which is where every value is.
    DWORD count = dwNumBytesToRead < InputBufferSize ? dwNumBytesToRead : InputBufferSize;
    if (dwNumBytesRead + count > InputBufferSize) {
      DWORD drop = dwNumBytesRead + count - InputBufferSize;
      std::memmove(byInputBuffer, byInputBuffer + drop, dwNumBytesRead - drop);
      dwNumBytesRead -= drop;
    }
    DWORD got = 0;
    ftStatus = FT_Read(ftHandle, byInputBuffer + dwNumBytesRead, count, &got);
    dwNumBytesRead += got;
    received += got;
    if (ftStatus != FT_OK || received >= expected) break;
    if (got > 0) lastByteAt = MonotonicMs();
  }
  dwNumRepliesOwed = 0;
}

void ReadData(int n) {
  DataRead = 0;
  const bool verifying = numeroOpe == 3 || ((numeroOpe == 1 || numeroOpe == 2) && numeroFin == 2);
  SleepMs(verifying ? 4 : 6);
  ReadQueuedBytes();
  if (ftStatus != FT_OK) {
    std::puts(" The Data Reading Failed");
    return;
  }
  if (dwNumBytesRead < static_cast<DWORD>(n)) return;
  std::uint32_t value = 0;
  for (int i = 0; i < n; ++i) value |= std::uint32_t{byInputBuffer[dwNumBytesRead - n + i]} << (8 * i);
  DataRead = static_cast<std::int32_t>(value);
}
