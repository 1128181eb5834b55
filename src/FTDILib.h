// MPSSE command stream: the command buffer, its builders, the send and the read-back.
//
// Every builder appends exactly one MPSSE command to byOutputBuffer and sends nothing;
// FlushOutputBuffer hands everything built so far to the adapter in one FT_Write. Each builder
// also counts the reply bytes its command will make the adapter queue, so a read knows how
// long the whole answer is and never mistakes part of one answer, or a late byte of an earlier
// one, for the value it wants.
#pragma once

#include <cstdint>

#include "D2XX.h"

inline constexpr DWORD OutputBufferSize = 4096;
inline constexpr DWORD InputBufferSize = 1024;

// A read fails when the adapter has reported no new byte for this long.
inline constexpr std::uint64_t ReadTimeoutMs = 1000;

// MPSSE opcodes (FTDI's published command set). Data and TMS commands shift LSB first.
namespace mpsse {
inline constexpr std::uint8_t BitsOutRising = 0x1A;
inline constexpr std::uint8_t BitsOutFalling = 0x1B;
inline constexpr std::uint8_t BitsInRising = 0x2A;
inline constexpr std::uint8_t BitsInFalling = 0x2E;
inline constexpr std::uint8_t BitsOutFallingInRising = 0x3B;
inline constexpr std::uint8_t BitsOutRisingInFalling = 0x3E;
inline constexpr std::uint8_t TmsOutRising = 0x4A;
inline constexpr std::uint8_t TmsOutFalling = 0x4B;
inline constexpr std::uint8_t TmsOutFallingInRising = 0x6B;
inline constexpr std::uint8_t SetLowByte = 0x80;
inline constexpr std::uint8_t SetHighByte = 0x82;
inline constexpr std::uint8_t LoopbackOff = 0x85;
inline constexpr std::uint8_t SetClockDivisor = 0x86;
inline constexpr std::uint8_t DivideBy5Off = 0x8A;
inline constexpr std::uint8_t ThreePhaseOff = 0x8D;
inline constexpr std::uint8_t ClockBitsNoData = 0x8E;
inline constexpr std::uint8_t AdaptiveClockOff = 0x97;
// Not an MPSSE command: the engine answers it with BadCommandEcho followed by the opcode.
inline constexpr std::uint8_t Invalid = 0xAA;
inline constexpr std::uint8_t BadCommandEcho = 0xFA;
}  // namespace mpsse

extern std::uint8_t byOutputBuffer[OutputBufferSize];
extern DWORD dwNumBytesToSend;
extern DWORD dwNumBytesSent;
extern std::uint8_t byInputBuffer[InputBufferSize];
extern DWORD dwNumBytesToRead;
extern DWORD dwNumBytesRead;
extern std::int32_t DataRead;
extern FT_HANDLE ftHandle;
extern FT_STATUS ftStatus;
extern DWORD dwClockDivisor;

// Reply bytes of the commands in byOutputBuffer, and of those sent since the last read.
extern DWORD dwNumRepliesBuilt;
extern DWORD dwNumRepliesOwed;

// Builders: one MPSSE command each. A count n (1 to 8 bits) travels as n - 1.
void SendDataUp(unsigned int n, int data);
void SendDataDown(unsigned int n, int data);
void GetDataUp(unsigned int n);
void GetDataDown(unsigned int n);
void SendDataDownandGetDataUp(unsigned int n, int data);
void SendDataUpandGetDataDown(unsigned int n, int data);
void SendTMSCmdUp(unsigned int n, int data);
void SendTMSCmdDown(unsigned int n, int data);
void SendTMSCmdDownandReadUp(unsigned int n, int data);
void ConfigADBUS(int value, int direction);
void ConfigACBUS(int value, int direction);
void LoopbackOFF();
void ConfigTCK();
void TCKMax();
void ThreePhasesDataClockOFF();
void SendFreeClocks(unsigned int n);
void AdaptativeClockOFF();
void WrongCode();

// Drops everything built and not yet sent.
void ClearOutputBuffer();

// Sends everything built since the last send in one FT_Write and empties the buffer.
// Nothing is sent when nothing was built.
void FlushOutputBuffer();

// Reads the adapter's whole answer to what was sent since the last read into byInputBuffer
// (its tail, if it is longer than the buffer). A timeout leaves ftStatus not FT_OK.
void ReadQueuedBytes();

// Waits the time the operation prescribes, reads the answer and leaves its last n bytes,
// the last received most significant, in DataRead (0 after a failed or short answer).
void ReadData(int n);
