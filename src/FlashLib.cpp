#include "FlashLib.h"

#include <cstdio>
#include <iterator>

#include "AsmLib.h"
#include "EOnceLib.h"
#include "FTDILib.h"
#include "Platform.h"
#include "TAPLib.h"

std::int32_t numeroCible = 0;
std::int32_t ErrorFlag = 0;
std::int32_t CBEIF = 0;
std::int32_t CCIF = 0;
std::int32_t PVIOL = 0;
std::int32_t ACCERR = 0;
std::int32_t DIVLD = 0;

namespace {

// The two variants share the boot flash and the instruction set; program flash, data flash and
// the IDCODE tell them apart.
constexpr EraseBlock Variant1Blocks[] = {{0x00000, BankP}, {0x10000, BankP}, {0x20000, BankP}, {0x2000, BankX}};
constexpr EraseBlock Variant2Blocks[] = {{0x00000, BankP}, {0x20000, BankP}, {0x1000, BankX}};
constexpr TargetVariant Variants[] = {
    {0x01F4601D, {false, 0x00000, 0x1FFFF}, {false, 0x20000, 0x20FFF}, {true, 0x2000, 0x2FFF}, Variant1Blocks},
    {0x01F4001D, {false, 0x00000, 0x0FFFF}, {false, 0x20000, 0x20FFF}, {true, 0x1000, 0x1FFF}, Variant2Blocks},
};

// A flash command that has not finished after this long of polling has failed.
constexpr std::uint64_t FlashTimeoutMs = 5000;

// Flash-module status bits, and what FMUSTAT and FMCLKD take.
constexpr int StatusCBEIF = 0x80;
constexpr int StatusCCIF = 0x40;
constexpr int StatusPVIOL = 0x20;   // written back, clears the flag
constexpr int StatusACCERR = 0x10;  // written back, clears the flag
constexpr int Launch = 0x80;        // starts the command in FMCMD
constexpr int ClockLoaded = 0x80;
// Divides the core clock down to the flash module's timing clock.
constexpr int ClockDivider = 0x52;

// Debug-port and core set-up of the initialisation.
constexpr int OcrSetup = 0x20;
constexpr int RequiredOMR = 2;

std::int32_t Bit(int value, int mask) { return (value & mask) ? 1 : 0; }

// Polls FMUSTAT until the status bit under mask reads 1. A command that never gets there, or a
// link that no longer answers, counts as a failed command (ACCERR).
bool PollFMUSTAT(int mask, std::int32_t& flag) {
  const std::uint64_t start = MonotonicMs();
  for (;;) {
    ReadFMUSTAT();
    if (LinkFailed()) break;
    flag = Bit(DataRead, mask);
    if (flag == 1) return true;
    if (MonotonicMs() - start >= FlashTimeoutMs) {
      std::puts(" Flash command timeout");
      break;
    }
  }
  ErrorFlag = 1;
  ACCERR = 1;
  return false;
}

// Writes the command and launches it; the status read that follows carries everything queued
// before it. A protection violation or access error is cleared on the target, the violation
// first, and its flag stays set; the clearing write waits for the next send. True when the
// command was accepted.
bool LaunchCommand(int command) {
  WriteFMCMD(command);
  WriteFMUSTAT(Launch);
  ReadFMUSTAT();
  if (LinkFailed()) return false;
  PVIOL = Bit(DataRead, StatusPVIOL);
  ACCERR = Bit(DataRead, StatusACCERR);
  if (PVIOL == 1)
    WriteFMUSTAT(StatusPVIOL);
  else if (ACCERR == 1)
    WriteFMUSTAT(StatusACCERR);
  return PVIOL == 0 && ACCERR == 0;
}

// The cycle shared by the word writers: the array writes, the command and the launch go out
// with the status read that follows them, in one USB write.
void ProgramWords(int bank, const std::int32_t* addresses, const int* words, int count) {
  if (CBEIF == 0 && !PollFMUSTAT(StatusCBEIF, CBEIF)) return;
  WriteFMCR(bank);
  for (int i = 0; i < count; ++i) {
    if (bank == BankX)
      WriteXFlash(addresses[i], words[i]);
    else
      WritePFlash(addresses[i], words[i]);
  }
  LaunchCommand(CommandProgram);
  if (!LinkFailed()) CBEIF = Bit(DataRead, StatusCBEIF);
  FlushOutputBuffer();
}

// Writes 0 to a register and reads it back; the protection registers keep the bank in FMCR.
bool ClearsTo0(void (*write)(int), void (*read)()) {
  write(0);
  read();
  return !LinkFailed() && DataRead == 0;
}

}  // namespace

const TargetVariant* VariantOf(int target) {
  if (target < 1 || target > static_cast<int>(std::size(Variants))) return nullptr;
  return &Variants[target - 1];
}

Outcome BringUp(int deviceNumber) {
  DeviceCheck();
  if (dwNumDevs > 0 && static_cast<DWORD>(deviceNumber) >= dwNumDevs)
    std::printf(" There is no QZ device number %d\n", deviceNumber);
  OpenPort(deviceNumber);
  ConfigPortParams();
  SyncMPSSE();
  ConfigMPSSEParams();
  ReadIDCode();
  return VariantOf(numeroCible) ? Outcome::Done : Outcome::LinkLost;
}

Outcome ListAdapters() {
  const int devices = ListDevices();
  if (devices > 0) return Outcome::Done;
  std::puts(devices == 0 ? " There are no QZ devices installed" : " Error in getting the number of devices");
  return Outcome::LinkLost;
}

void ReadIDCode() {
  std::uint32_t idcode = 0;
  const bool read = ScanIDCode(idcode);
  // Whatever failed since the bring-up began ends here: the target is then not recognised.
  TakeLinkFailure();
  for (int target = 1; read && VariantOf(target); ++target) {
    if (VariantOf(target)->idcode == idcode) {
      numeroCible = target;
      return;
    }
  }
  std::puts("\n Wrong aim... ");
}

void ChooseReadWait(bool verifying) { ReadWait = verifying ? VerifyReadWaitMs : ProgramReadWaitMs; }

Outcome Initialisation() {
  std::puts("\n Initialization of the CPU...");
  ErrorFlag = 0;
  ResetCPU();
  ResetTAP();
  ActivCoreTap();
  ActivEOnceMode();
  ActivDebugMode();
  FlushOutputBuffer();
  WaitForCore();
  ReadOTXRXSR();
  WriteOCR(OcrSetup);
  WriteOMR(RequiredOMR);
  ReadOMR();
  bool confirmed = !LinkFailed() && DataRead == RequiredOMR;
  // Protection is cleared once per bank; FMPROTB with the P-memory bank selected. Every check
  // runs, so that all of them reach the target even after one failed.
  WriteFMCR(BankP);
  confirmed &= ClearsTo0(WriteFMPROT, ReadFMPROT);
  WriteFMCR(BankP);
  confirmed &= ClearsTo0(WriteFMPROTB, ReadFMPROTB);
  WriteFMCR(BankX);
  confirmed &= ClearsTo0(WriteFMPROT, ReadFMPROT);
  const Outcome outcome = Conclude(!confirmed);
  ErrorFlag = outcome == Outcome::Done ? 0 : 1;
  std::puts(ErrorFlag == 1 ? " Initialization error" : " Initialization done");
  return outcome;
}

void ResetFlashFlags() {
  ACCERR = 0;
  PVIOL = 0;
  DIVLD = 0;
  CBEIF = 0;
  CCIF = 0;
}

void LoadFlashClock() {
  ReadFMCLKD();
  if (LinkFailed()) return;
  DIVLD = Bit(DataRead, ClockLoaded);
  if (DIVLD == 0) WriteFMCLKD(ClockDivider);
}

void EraseMemory(std::int32_t address, int bank, int command) {
  ResetFlashFlags();
  LoadFlashClock();
  if (!PollFMUSTAT(StatusCBEIF, CBEIF)) return;
  WriteFMCR(bank);
  // The array write only latches the block's address; the erase ignores the data.
  if (bank == BankP)
    WritePFlash(address, 0);
  else if (bank == BankX)
    WriteXFlash(address, 0);
  if (LaunchCommand(command)) PollFMUSTAT(StatusCCIF, CCIF);
}

// Every block is tried, unless the link failed; a failed one fails the whole.
Outcome FullErase(int target) {
  const TargetVariant* variant = VariantOf(target);
  bool failed = variant == nullptr;
  if (variant) {
    for (const EraseBlock& block : variant->eraseBlocks) {
      EraseMemory(block.address, block.bank, CommandEraseBlock);
      failed |= PVIOL == 1 || ACCERR == 1;
      if (LinkFailed()) break;
    }
  }
  const Outcome outcome = Conclude(failed);
  if (outcome != Outcome::Done) ErrorFlag = 1;
  return outcome;
}

void WriteProgramFlash(std::int32_t address1, int word1, std::int32_t address2, int word2) {
  const std::int32_t addresses[] = {address1, address2};
  const int words[] = {word1, word2};
  ProgramWords(BankP, addresses, words, 2);
}

void WriteBootFlash(std::int32_t address, int word) { ProgramWords(BankP, &address, &word, 1); }

void WriteDataFlash(std::int32_t address, int word) { ProgramWords(BankX, &address, &word, 1); }

bool WaitForFlashIdle() { return PollFMUSTAT(StatusCCIF, CCIF); }

bool FlashCommandFailed() { return PVIOL == 1 || ACCERR == 1 || LinkFailed(); }

bool ReadFlashWord(bool xMemory, std::int32_t address, std::uint16_t& word) {
  if (xMemory)
    ReadXFlash(address);
  else
    ReadPFlash(address);
  if (LinkFailed()) return false;
  word = static_cast<std::uint16_t>(DataRead);
  return true;
}

Outcome Conclude(bool failed) {
  if (TakeLinkFailure() != LinkFailure::None) return Outcome::LinkLost;
  return failed ? Outcome::Failed : Outcome::Done;
}

void ReleaseTarget() {
  // A failure nobody took must not keep the core in debug mode.
  TakeLinkFailure();
  ExitDebug();
}

void ReleaseAdapter() { ClosePort(); }
