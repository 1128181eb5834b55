#include "TAPLib.h"

#include "FTDILib.h"
#include "Platform.h"
#include "QZFlashShared.h"

namespace {

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

void PulseReset(std::uint32_t beforeMs, std::uint32_t heldMs, std::uint32_t afterMs) {
  SleepMs(beforeMs);
  ConfigADBUS(tap::PinsResetHeld, tap::PinDirections);
  FlushOutputBuffer();
  SleepMs(heldMs);
  ConfigADBUS(tap::PinsResetReleased, tap::PinDirections);
  FlushOutputBuffer();
  SleepMs(afterMs);
}

}  // namespace

void ResetCPU() { PulseReset(1000, 800, 200); }

void ResetTAP() { SendTMSCmdDown(5, tap::ToTestLogicReset); }

// The target is identified while it is held in reset.
void ResetCPUTAP() {
  SleepMs(200);
  ConfigADBUS(tap::PinsResetHeld, tap::PinDirections);
  FlushOutputBuffer();
  SleepMs(500);
  ResetTAP();
  SleepMs(1);
  ReadIDCode();
  SleepMs(200);
  ConfigADBUS(tap::PinsResetReleased, tap::PinDirections);
  FlushOutputBuffer();
  SleepMs(310);
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
