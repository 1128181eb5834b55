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
}  // namespace tap

// Pulses the target's reset line: the core restarts from reset, out of debug mode.
void ResetCPU();
void ResetTAP();
// The reset pulse with identify() run while the target is held in reset, where the chip-level
// TAP answers whatever the core was doing.
void ResetCPUTAP(void (*identify)());
// Reads the chip-level TAP's 32-bit IDCODE register from Test-Logic-Reset, sending and reading
// at once. False when the read failed or came short.
bool ScanIDCode(std::uint32_t& idcode);
void SendJTAGInsWithRead(int instruction, int size);
void SendJTAGInsNoRead(int instruction, int size);
void GetDataWithWrite(int count, std::int32_t data);
void GetDataNoWrite(int count);
