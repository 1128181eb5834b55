// JTAG scans and the target's reset line, built on the MPSSE commands of FTDILib.
//
// Scans only append to the command buffer; every scan starts and ends in Run-Test/Idle, so
// scans follow one another without further TAP walking. Only the reset pulses send.
#pragma once

#include <cstdint>

namespace tap {
// TMS command data bytes: bits 0..n-1 are the TMS levels, bit 7 the level held on TDI.
inline constexpr int ToTestLogicReset = 0xFF;  // 5 clocks, TMS 1,1,1,1,1
inline constexpr int IdleToShiftIR = 0x06;     // 5 clocks, TMS 0,1,1,0,0
inline constexpr int IdleToShiftDR = 0x81;     // 3 clocks, TMS 1,0,0
inline constexpr int ExitWithOne = 0x83;       // 1 clock, TMS 1, last bit 1 on TDI
inline constexpr int ExitWithZero = 0x43;      // 1 clock, TMS 1, last bit 0 on TDI
inline constexpr int ExitToIdle = 0x01;        // 2 clocks, TMS 1,0: Exit1, Update, Run-Test/Idle

// Size codes of an instruction scan.
inline constexpr int IR8Bits = 0;  // chip-level TAP
inline constexpr int IR4Bits = 1;  // core TAP

// Byte count of a data scan for the 4-bit link register; 1 to 4 mean 8 to 32 bits.
inline constexpr int DR4Bits = 5;

// Chip-level TAP instructions.
inline constexpr int IdcodeInstruction = 0x02;
inline constexpr int LinkInstruction = 0x05;

// Low pin byte: TMS high, TCK and TDI low; bit 4 is the target's reset line (0 holds reset).
inline constexpr int PinsResetHeld = 0x08;
inline constexpr int PinsResetReleased = 0x18;
inline constexpr int PinDirections = 0x1B;
}  // namespace tap

void ResetCPU();
void ResetTAP();
void ResetCPUTAP();
void SendJTAGInsWithRead(int instruction, int size);
void SendJTAGInsNoRead(int instruction, int size);
void GetDataWithWrite(int count, std::int32_t data);
void GetDataNoWrite(int count);
