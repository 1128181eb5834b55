// EOnCE register access through the core's TAP, and feeding core instruction words to OPDBR.
//
// An access is an 8-bit command scan then, for a register with data, one data scan as wide as
// the register. Reads and ordinary writes send; instruction feeding and instruction selection
// only append, so whole instruction sequences leave the PC in one write.
#pragma once

#include <cstdint>

namespace eonce {
// Command byte: bit 7 read, bit 6 execute the instruction in OPDBR, bit 5 leave debug mode,
// bits 4..0 register select.
inline constexpr int Read = 0x80;
inline constexpr int Execute = 0x40;
inline constexpr int Exit = 0x20;

inline constexpr int OCR = 0x01;      // 8 bits
inline constexpr int OSCNTR = 0x02;   // 24 bits
inline constexpr int OSR = 0x03;      // 16 bits
inline constexpr int OPDBR = 0x04;    // 16 bits, one instruction word per scan
inline constexpr int OBASE = 0x05;    // 8 bits
inline constexpr int OTXRXSR = 0x06;  // 8 bits
inline constexpr int OTX = 0x07;      // 32 bits
inline constexpr int OTX1 = 0x09;     // 16 bits, carries every value the core hands back
inline constexpr int ORX = 0x0B;      // 32 bits
inline constexpr int ORX1 = 0x0D;     // 16 bits
inline constexpr int NoRegister = 0x1F;

// Core TAP instructions (4-bit instruction register).
inline constexpr int EOnceInstruction = 0x6;
inline constexpr int DebugRequestInstruction = 0x7;

// Written into the chip-level link register, it puts the core's TAP into the chain.
inline constexpr int LinkCoreTap = 0x2;
}  // namespace eonce

void ActivCoreTap();
void ActivEOnceMode();
void ActivDebugMode();
// Three EOnCE instruction scans in a row: nothing tells the host when the core has acted on
// what it was just handed (an instruction, the debug request), so it is given that long.
void WaitForCore();

void ReadOCR();
void WriteOCR(int value);
void ReadOSCNTR();
void WriteOSCNTR(int value);
void ReadOSR();
void WriteOPDBR(int word);
void WriteOPDBR2WORDS(int word, std::int32_t operand);
void ReadOBASE();
void ReadOTXRXSR();
void WriteOTXRXSR(int value);
void ReadOTX();
void ReadOTX1();
// The same scans, queued: the value ends the answer built so far.
void QueueReadOTX1();
void WriteORX(int value);
void WriteORX1(int value);
void NoRegister();
void ExitDebug();
