// Core instruction injection: target operations as instruction words handed to the halted
// core through OPDBR.
//
// Each instruction is delivered, then followed by three EOnCE instruction scans, which gives
// the core time to execute it. A read copies the value into OTX1 and reads that register, so
// it sends everything queued before it; four writes only queue their instructions.
#pragma once

#include <cstdint>

namespace core {
inline constexpr int LoadValue = 0xE41C;          // + 32-bit operand: value into the core
inline constexpr int ValueToAddress = 0x81A0;     // the loaded value addresses the next access
inline constexpr int ValueToStoreData = 0x808C;   // the loaded value is the next store's data
inline constexpr int ReadXMemory = 0xF080;
inline constexpr int ReadPMemory = 0x8068;
inline constexpr int StoreXMemory = 0xD000;
inline constexpr int StorePMemory = 0x8360;
inline constexpr int CopyOMR = 0x869C;
inline constexpr int CopySR = 0x869D;
inline constexpr int ValueToOMR = 0x8C8C;
// Three-word moves into OTX1: opcode 0xE77F with the operand's halves 0xD07C / 0xFFFF
// (the word just read) or 0xD6FC / 0xFFFF (the OMR or SR copy).
inline constexpr int MoveToOTX1 = 0xE77F;
inline constexpr std::int32_t ReadWordOperand = static_cast<std::int32_t>(0xFFFFD07Cu);
inline constexpr std::int32_t ModeCopyOperand = static_cast<std::int32_t>(0xFFFFD6FCu);
}  // namespace core

// Flash-module registers, words of X memory.
namespace fm {
inline constexpr std::int32_t FMCLKD = 0xF400;
inline constexpr std::int32_t FMCR = 0xF401;
inline constexpr std::int32_t FMSECH = 0xF403;
inline constexpr std::int32_t FMSECL = 0xF404;
inline constexpr std::int32_t FMPROT = 0xF410;
inline constexpr std::int32_t FMPROTB = 0xF411;
inline constexpr std::int32_t FMUSTAT = 0xF413;
inline constexpr std::int32_t FMCMD = 0xF414;
}  // namespace fm

void ReadOMR();
void WriteOMR(int value);
void ReadSR();
void ReadFMCLKD();
void WriteFMCLKD(int value);
void ReadFMCR();
void WriteFMCR(int value);
void ReadFMSECH();
void WriteFMSECH(int value);
void ReadFMSECL();
void WriteFMSECL(int value);
void ReadFMPROT();
void WriteFMPROT(int value);
void ReadFMPROTB();
void WriteFMPROTB(int value);
void ReadFMUSTAT();
void WriteFMUSTAT(int value);  // queued, not sent
void ReadFMCMD();
void WriteFMCMD(int value);  // queued, not sent
void ReadPFlash(std::int32_t address);
void ReadXFlash(std::int32_t address);
// The same reads queued, not sent: each word ends the answer built so far.
void QueueReadPFlash(std::int32_t address);
void QueueReadXFlash(std::int32_t address);
void WritePFlash(std::int32_t address, int data);  // queued, not sent
void WriteXFlash(std::int32_t address, int data);  // queued, not sent
