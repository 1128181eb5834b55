#include "TAPLib.h"

#include "FTDILib.h"

namespace {

// Reset pulse timings, generous on purpose: a reset circuit on the board may filter or stretch
// the pulse, and the core needs time to start after release before anything is scanned.
constexpr std::uint32_t ResetBeforeMs = 1000;
constexpr std::uint32_t ResetHeldMs = 800;
constexpr std::uint32_t ResetAfterMs = 200;
// The same with the identification inside, while the line is held.
constexpr std::uint32_t IdentifyBeforeMs = 200;
constexpr std::uint32_t IdentifyHeldMs = 500;
constexpr std::uint32_t IdentifyTapResetMs = 1;
constexpr std::uint32_t IdentifyReleaseMs = 200;
constexpr std::uint32_t IdentifyAfterMs = 310;

int ExitWith(int lastBit) { return lastBit ? tap::ExitWithOne : tap::ExitWithZero; }

// Every bit but the last is shifted in Shift-IR; the last travels on the exit clock.
void InstructionScan(int instruction, int size, bool read) {
  const unsigned int bits = size == tap::IR8Bits ? 8 : 4;
  const int lastBit = (instruction >> (bits - 1)) & 1;
  SendTMSCmdDown(5, tap::IdleToShiftIR);
  if (read) {
    SendDataDownandGetDataUp(bits - 1, instruction);
    SendTMSCmdDownandReadUp(1, ExitWith(lastBit));
  } else {
    SendDataDown(bits - 1, instruction);
    SendTMSCmdDown(1, ExitWith(lastBit));
  }
  SendTMSCmdDown(2, tap::ExitToIdle);
}

void SetResetLine(int pins) {
  ConfigADBUS(pins, pins::Directions);
  FlushOutputBuffer();
}

}  // namespace

void ResetCPU() {
  PauseMs(ResetBeforeMs);
  SetResetLine(pins::ResetHeld);
  PauseMs(ResetHeldMs);
  SetResetLine(pins::ResetReleased);
  PauseMs(ResetAfterMs);
}

void ResetTAP() { SendTMSCmdDown(5, tap::ToTestLogicReset); }

void ResetCPUTAP(void (*identify)()) {
  PauseMs(IdentifyBeforeMs);
  SetResetLine(pins::ResetHeld);
  PauseMs(IdentifyHeldMs);
  ResetTAP();
  PauseMs(IdentifyTapResetMs);
  identify();
  PauseMs(IdentifyReleaseMs);
  SetResetLine(pins::ResetReleased);
  PauseMs(IdentifyAfterMs);
}

bool ScanIDCode(std::uint32_t& idcode) {
  ResetTAP();
  SendJTAGInsWithRead(tap::IdcodeInstruction, tap::IR8Bits);
  GetDataNoWrite(4);
  FlushForRead();
  ReadQueuedBytes();
  return TakeAnswerBytes(0, 4, idcode);
}

void SendJTAGInsWithRead(int instruction, int size) { InstructionScan(instruction, size, true); }

void SendJTAGInsNoRead(int instruction, int size) { InstructionScan(instruction, size, false); }

// Bits of data above the register's width are not sent.
void GetDataWithWrite(int count, std::int32_t data) {
  const auto value = static_cast<std::uint32_t>(data);
  SendTMSCmdDown(3, tap::IdleToShiftDR);
  int lastBit;
  if (count == tap::DR4Bits) {
    SendDataDownandGetDataUp(3, static_cast<int>(value & 0xFF));
    lastBit = (value >> 3) & 1;
  } else {
    for (int i = 0; i < count - 1; ++i) SendDataDownandGetDataUp(8, static_cast<int>((value >> (8 * i)) & 0xFF));
    const int top = static_cast<int>((value >> (8 * (count - 1))) & 0xFF);
    SendDataDownandGetDataUp(7, top);
    lastBit = (top >> 7) & 1;
  }
  SendTMSCmdDownandReadUp(1, ExitWith(lastBit));
  SendTMSCmdDown(2, tap::ExitToIdle);
}

// The register is clocked once more than read: the exit clock shifts a bit nobody keeps.
void GetDataNoWrite(int count) {
  SendTMSCmdDown(3, tap::IdleToShiftDR);
  for (int i = 0; i < count; ++i) GetDataUp(8);
  SendTMSCmdDown(1, tap::ExitWithZero);
  SendTMSCmdDown(2, tap::ExitToIdle);
}
