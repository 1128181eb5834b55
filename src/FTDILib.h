// MPSSE command stream: the adapter's life (found, opened, configured, closed), the command
// buffer, its builders, the send and the read-back. The only module that calls FT_*; each call
// and each of the program's sleeps goes into the trace of --trace (D2XXTrace.h) as it returns.
//
// Every builder appends exactly one MPSSE command to byOutputBuffer and sends nothing;
// FlushOutputBuffer hands everything built so far to the adapter in one FT_Write. Each builder
// also counts the reply bytes its command will make the adapter queue, so a read knows how
// long the whole answer is and never mistakes part of one answer, or a late byte of an earlier
// one, for the value it wants.
//
// The first transfer that fails is latched: from then on nothing is sent or read until the
// operation that started it takes the failure and reports it. Commands after a failure would
// act on a target whose state is no longer known, and no value of a failed read is data.
#pragma once

#include <cstdint>
#include <string>

#include "D2XX.h"

inline constexpr DWORD OutputBufferSize = 4096;
inline constexpr DWORD InputBufferSize = 1024;

// A read fails when the adapter has reported no new byte for this long.
inline constexpr std::uint64_t ReadTimeoutMs = 1000;

// ReadData waits before it polls, so that the adapter has clocked the batch out at 1 MHz TCK
// and queued the whole answer: a program-flash pair's batch is about 3500 clocks, a word read
// for verification about 600.
inline constexpr std::uint32_t ProgramReadWaitMs = 6;
inline constexpr std::uint32_t VerifyReadWaitMs = 4;

// D2XX set-up of the link. Transfers of 64 bytes each way and a 2 ms latency timer keep the
// answer to a read from waiting in the chip; reads never block (time-out 0), writes give up
// after 5 s.
inline constexpr DWORD UsbTransferSize = 64;
inline constexpr DWORD D2xxReadTimeoutMs = 0;
inline constexpr DWORD D2xxWriteTimeoutMs = 5000;
inline constexpr UCHAR LatencyTimerMs = 2;
// The chip needs this long after entering MPSSE mode before it takes commands.
inline constexpr std::uint32_t ModeSettleMs = 50;

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
inline constexpr std::uint8_t SendImmediate = 0x87;
// Not an MPSSE command: the engine answers it with BadCommandEcho followed by the opcode.
inline constexpr std::uint8_t Invalid = 0xAA;
inline constexpr std::uint8_t BadCommandEcho = 0xFA;
}  // namespace mpsse

// Low pin byte (ADBUS): TCK, TDI and TMS outputs, TDO input, and bit 4 the target's reset
// line (0 holds the target in reset). TMS rests high, TCK and TDI low.
namespace pins {
inline constexpr int ResetHeld = 0x08;
inline constexpr int ResetReleased = 0x18;
inline constexpr int Directions = 0x1B;
}  // namespace pins

extern DWORD dwNumDevs;
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

enum class LinkFailure : std::uint8_t {
  None,
  CommandOverflow,  // a batch longer than byOutputBuffer; nothing of it was sent
  WriteFailed,      // FT_Write failed or took fewer bytes than given
  ReadFailed,       // FT_GetQueueStatus or FT_Read failed
  NoAnswer,         // no new byte for ReadTimeoutMs before the whole answer came
  ShortAnswer,      // an answer shorter than the value read from it
};

// True while a failure is latched.
bool LinkFailed();
// The latched failure, which is cleared: the caller reports it.
LinkFailure TakeLinkFailure();

// Adapter bring-up, in this order at start; each says what it did. 0 is success, 1 failure.
int DeviceCheck();
int OpenPort(int deviceNumber = 0);
int ConfigPortParams();
int SyncMPSSE();
void ConfigMPSSEParams();
// Returns the adapter to its default mode and releases it; statuses are not looked at.
void ClosePort();

// Why the last bring-up step failed, for the one line a command prints: the words of the library
// under the driver where it has them, else the driver's status.
std::string DriverFailureText();
// Opening failed because the system refused access to the device (a permission problem).
bool OpenRefusedAccess();
// Opening deviceNumber failed because another program holds it.
bool DeviceInUse(int deviceNumber);

// Lists the D2XX devices, a line each: number, chip type, interface, serial number and
// description, and whether another program has it open. The number of devices, or -1 when
// there is no list.
int ListDevices();

// The program's waits: SleepMs, recorded in the trace with the D2XX calls.
void PauseMs(std::uint32_t ms);

// The wait of every ReadData from now on, in ms: each operation sets it as it starts.
void SetReadWait(std::uint32_t ms);

// How a read learns that its answer is in. FixedWait: ReadData first waits the read wait, long
// enough for any batch to have been clocked out. SendImmediate: the batch a read follows ends by
// asking the chip to pass its answer on at once (0x87), and ReadData takes the counted answer as
// soon as it is complete. The JTAG bits clocked are the same.
enum class ReadMode { FixedWait, SendImmediate };
void SetReadMode(ReadMode mode);

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
// The same for a batch whose answer is read next: with ReadMode::SendImmediate it ends in 0x87.
void FlushForRead();

// Reads the adapter's whole answer to what was sent since the last read into byInputBuffer
// (its tail, if it is longer than the buffer). A failure is latched and leaves ftStatus not
// FT_OK.
void ReadQueuedBytes();

// Waits the set read wait, reads the answer and leaves its last n bytes, the last received most
// significant, in DataRead. After a failed or short answer DataRead is 0 and the failure is
// latched; a failed read also says so on the console.
void ReadData(int n);

// Several values in one answer: each value's command is built, AnswerLength() noted after it,
// and the batch sent with FlushForRead. Reply bytes counted since the last read, sent or built.
DWORD AnswerLength();
// Waits the set read wait and reads the whole answer; false when it failed (latched, and said
// as ReadData says it).
bool ReceiveAnswer();
// The n (1 to 4) bytes of the answer just read that end beforeEnd bytes before its end, the last
// received most significant; false, with the failure latched, when the answer did not hold them.
bool TakeAnswerBytes(DWORD beforeEnd, int n, std::uint32_t& value);

// DataRead of the read just made, when that read is real: false while a failure is latched.
// Callers take a read's value only through this.
bool TakeDataRead(std::int32_t& value);

