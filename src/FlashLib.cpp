#include "FlashLib.h"

#include <algorithm>
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
constexpr EraseBlock Variant1Blocks[] = {{{false, 0x00000, 0x0FFFF}, BankP},
                                         {{false, 0x10000, 0x1FFFF}, BankP},
                                         {{false, 0x20000, 0x20FFF}, BankP},
                                         {{true, 0x2000, 0x2FFF}, BankX}};
constexpr EraseBlock Variant2Blocks[] = {
    {{false, 0x00000, 0x0FFFF}, BankP}, {{false, 0x20000, 0x20FFF}, BankP}, {{true, 0x1000, 0x1FFF}, BankX}};
constexpr TargetVariant Variants[] = {
    {0x01F4601D, {false, 0x00000, 0x1FFFF}, {false, 0x20000, 0x20FFF}, {true, 0x2000, 0x2FFF}, {true, 0x0000, 0x1FFF},
     Variant1Blocks},
    {0x01F4001D, {false, 0x00000, 0x0FFFF}, {false, 0x20000, 0x20FFF}, {true, 0x1000, 0x1FFF}, {true, 0x0000, 0x0FFF},
     Variant2Blocks},
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

// A read-back batch: eight word reads are about 3500 clocks at 1 MHz TCK and an answer of 544
// bytes, which the chip passes on as a full packet of 510 and the rest at the latency timer;
// 8 ms leave the margin that the single reads' waits leave. Their commands fill three quarters
// of byOutputBuffer.
constexpr int WordsPerRead = 8;
constexpr std::uint32_t ReadBackWaitMs = 8;

// Debug-port and core set-up of the initialisation.
constexpr int OcrSetup = 0x20;
constexpr int RequiredOMR = 2;

std::int32_t Bit(int value, int mask) { return (value & mask) ? 1 : 0; }

// Polls FMUSTAT until the status bit under mask reads 1. A command that never gets there, or a
// link that no longer answers, counts as a failed command (ACCERR).
bool PollFMUSTAT(int mask, std::int32_t& flag) {
  const std::uint64_t start = MonotonicMs();
  std::int32_t status = 0;
  for (;;) {
    ReadFMUSTAT();
    if (!TakeDataRead(status)) break;
    flag = Bit(status, mask);
    if (flag == 1) return true;
    if (MonotonicMs() - start >= FlashTimeoutMs) {
      std::puts(" Flash command timeout");
      break;
    }
  }
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
  std::int32_t status = 0;
  if (!TakeDataRead(status)) return false;
  PVIOL = Bit(status, StatusPVIOL);
  ACCERR = Bit(status, StatusACCERR);
  CBEIF = Bit(status, StatusCBEIF);
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
  FlushOutputBuffer();
}

// Writes 0 to a register and reads it back; the protection registers keep the bank in FMCR.
bool ClearsTo0(void (*write)(int), void (*read)()) {
  write(0);
  read();
  std::int32_t value = 0;
  return TakeDataRead(value) && value == 0;
}

}  // namespace

const TargetVariant* VariantOf(int target) {
  if (target < 1 || target > static_cast<int>(std::size(Variants))) return nullptr;
  return &Variants[target - 1];
}

Outcome BringUp(int deviceNumber, bool stopAtFailure, std::string& failure) {
  failure.clear();
  const auto stops = [&](std::string why) {
    if (failure.empty()) failure = std::move(why);
    return stopAtFailure;
  };
  const std::string adapter = "adapter " + std::to_string(deviceNumber);
  if (DeviceCheck() != 0 &&
      stops(ftStatus == FT_OK ? "no adapter found" : "the adapters cannot be listed: " + DriverFailureText()))
    return Outcome::LinkLost;
  if (static_cast<DWORD>(deviceNumber) >= dwNumDevs && dwNumDevs > 0) {
    std::printf(" There is no QZ device number %d\n", deviceNumber);
    if (stops(adapter + " does not exist (" + std::to_string(dwNumDevs) + " found)")) return Outcome::LinkLost;
  }
  if (OpenPort(deviceNumber) != 0) {
    const std::string why = DriverFailureText();
    if (stops(OpenRefusedAccess() ? "no permission to open the adapter: " + why +
                                        "; a udev rule grants it (README, \"Access rights (udev)\")"
              : DeviceInUse(deviceNumber) ? adapter + " is in use"
                                          : adapter + " cannot be opened: " + why))
      return Outcome::LinkLost;
  }
  if (ConfigPortParams() != 0 && stops(adapter + " cannot be configured: " + DriverFailureText()))
    return Outcome::LinkLost;
  if (SyncMPSSE() != 0 && stops(adapter + " does not answer as an MPSSE engine")) return Outcome::LinkLost;
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

void ChooseReadWait(ReadWork work) {
  switch (work) {
    case ReadWork::Programming:
      SetReadWait(ProgramReadWaitMs);
      break;
    case ReadWork::Verifying:
      SetReadWait(VerifyReadWaitMs);
      break;
    case ReadWork::ReadingBack:
      SetReadWait(ReadBackWaitMs);
      break;
  }
}

void UseFastReads(bool fast) { SetReadMode(fast ? ReadMode::SendImmediate : ReadMode::FixedWait); }

Outcome Initialisation() {
  std::puts("\n Initialization of the CPU...");
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
  std::int32_t omr = 0;
  bool confirmed = TakeDataRead(omr) && omr == RequiredOMR;
  // Protection is cleared once per bank; FMPROTB with the P-memory bank selected. Every check
  // runs, so that all of them reach the target even after one failed.
  WriteFMCR(BankP);
  confirmed &= ClearsTo0(WriteFMPROT, ReadFMPROT);
  WriteFMCR(BankP);
  confirmed &= ClearsTo0(WriteFMPROTB, ReadFMPROTB);
  WriteFMCR(BankX);
  confirmed &= ClearsTo0(WriteFMPROT, ReadFMPROT);
  const Outcome outcome = Conclude(confirmed ? Outcome::Done : Outcome::Failed);
  std::puts(outcome == Outcome::Done ? " Initialization done" : " Initialization error");
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
  std::int32_t clock = 0;
  if (!TakeDataRead(clock)) return;
  DIVLD = Bit(clock, ClockLoaded);
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

namespace {

// Every chosen block is tried, unless the link failed; a failed one fails the whole.
Outcome EraseBlocks(int target, const std::vector<bool>* chosen) {
  const TargetVariant* variant = VariantOf(target);
  bool failed = variant == nullptr;
  for (std::size_t k = 0; variant && k < variant->eraseBlocks.size(); ++k) {
    const EraseBlock& block = variant->eraseBlocks[k];
    const bool erase = chosen == nullptr || (k < chosen->size() && (*chosen)[k]);
    if (chosen) std::printf(" %s %s\n", erase ? "Erasing" : "Keeping", Describe(block.words).c_str());
    if (!erase) continue;
    EraseMemory(block.words.first, block.bank, CommandEraseBlock);
    failed |= PVIOL == 1 || ACCERR == 1;
    if (LinkFailed()) break;
  }
  return Conclude(failed ? Outcome::Failed : Outcome::Done);
}

}  // namespace

Outcome FullErase(int target) { return EraseBlocks(target, nullptr); }

Outcome EraseChosenBlocks(int target, const std::vector<bool>& erase) { return EraseBlocks(target, &erase); }

std::string Describe(const MemoryRegion& region) {
  char text[32];
  std::snprintf(text, sizeof text, "%c:0x%05X-0x%05X", region.xMemory ? 'X' : 'P', static_cast<unsigned>(region.first),
                static_cast<unsigned>(region.last));
  return text;
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
  std::int32_t value = 0;
  if (!TakeDataRead(value)) return false;
  word = static_cast<std::uint16_t>(value);
  return true;
}

bool ReadFlashWords(bool xMemory, std::int32_t first, std::span<std::uint16_t> words) {
  for (std::size_t done = 0; done < words.size();) {
    const std::size_t batch = std::min(words.size() - done, std::size_t{WordsPerRead});
    DWORD ends[WordsPerRead] = {};
    for (std::size_t k = 0; k < batch; ++k) {
      const std::int32_t address = first + static_cast<std::int32_t>(done + k);
      if (xMemory)
        QueueReadXFlash(address);
      else
        QueueReadPFlash(address);
      ends[k] = AnswerLength();
    }
    const DWORD length = AnswerLength();
    FlushForRead();
    if (!ReadAnswer()) return false;
    for (std::size_t k = 0; k < batch; ++k) {
      std::uint32_t value = 0;
      if (!TakeAnswerBytes(length - ends[k], 2, value)) return false;
      words[done + k] = static_cast<std::uint16_t>(value);
    }
    done += batch;
  }
  return true;
}

Outcome Conclude(Outcome found) {
  Outcome outcome = found;
  switch (TakeLinkFailure()) {
    case LinkFailure::None:
      break;
    case LinkFailure::CommandOverflow:
      // Our own batch was too long: the adapter is still there.
      if (outcome == Outcome::Done) outcome = Outcome::Failed;
      break;
    default:
      std::puts(" The adapter was lost");
      outcome = Outcome::LinkLost;
  }
  ErrorFlag = outcome == Outcome::Done ? 0 : 1;
  return outcome;
}

void ReleaseTarget() {
  // A failure nobody took must not keep the core in debug mode.
  TakeLinkFailure();
  ExitDebug();
}

void ReleaseAdapter() { ClosePort(); }
