#include "QZFlash.h"

#include <cstdio>
#include <cstdlib>

#include "AsmLib.h"
#include "EOnceLib.h"
#include "FTDILib.h"
#include "Platform.h"
#include "SRecordLib.h"
#include "TAPLib.h"

std::int32_t numeroOpe = 0;
std::int32_t numeroFin = 0;
std::int32_t numeroCible = 0;
std::string ChoosenFile;
std::int32_t ErrorFlag = 0;
std::int32_t HeaderFlag = 0;
std::int32_t CBEIF = 0;
std::int32_t CCIF = 0;
std::int32_t PVIOL = 0;
std::int32_t ACCERR = 0;
std::int32_t DIVLD = 0;
DWORD dwNumDevs = 0;
std::int32_t FileNumber = 0;
std::vector<std::string> FileTab(1);

namespace {

constexpr const char* Separator = "\n*************************************************";

constexpr std::uint32_t IdcodeVariant1 = 0x01F4601D;
constexpr std::uint32_t IdcodeVariant2 = 0x01F4001D;

// A flash command that has not finished after this long of polling has failed.
constexpr std::uint64_t FlashTimeoutMs = 5000;

// Flash-module status and command values.
constexpr int StatusCBEIF = 0x80;  // command buffer empty
constexpr int StatusCCIF = 0x40;   // all commands complete
constexpr int StatusPVIOL = 0x20;  // protection violation
constexpr int StatusACCERR = 0x10; // access error
constexpr int Launch = 0x80;       // written to FMUSTAT, starts the command in FMCMD
constexpr int CommandProgram = 0x20;
constexpr int CommandEraseBlock = 0x41;
constexpr int ClockLoaded = 0x80;  // FMCLKD: the divider has been loaded
constexpr int ClockDivider = 0x52;
constexpr int BankP = 0;           // program and boot flash, P memory
constexpr int BankX = 1;           // data flash, X memory

constexpr int RequiredOMR = 2;

std::int32_t Bit(int value, int mask) { return (value & mask) ? 1 : 0; }

// Reads one menu answer: at most 9 characters of a line (the rest waits for the next read),
// accepted when it holds a number in [low, high]. The end of the input ends the run.
std::int32_t ReadAnswer(std::int32_t low, std::int32_t high) {
  char line[10] = {};
  for (;;) {
    if (std::fgets(line, sizeof line, stdin) == nullptr) ExitProgram();
    int value = 0;
    if (std::sscanf(line, "%d", &value) == 1 && value >= low && value <= high) return value;
  }
}

// Polls FMUSTAT until the status bit under mask reads 1. A command that never gets there,
// or a link that no longer answers, counts as a failed command (ACCERR).
bool PollFMUSTAT(int mask, std::int32_t& flag) {
  const std::uint64_t start = MonotonicMs();
  for (;;) {
    ReadFMUSTAT();
    flag = Bit(DataRead, mask);
    if (flag == 1) return true;
    if (ftStatus != FT_OK) break;
    if (MonotonicMs() - start >= FlashTimeoutMs) {
      std::puts(" Flash command timeout");
      break;
    }
  }
  ErrorFlag = 1;
  ACCERR = 1;
  return false;
}

void LoadFlashClock() {
  ReadFMCLKD();
  DIVLD = Bit(DataRead, ClockLoaded);
  if (DIVLD == 0) WriteFMCLKD(ClockDivider);
}

// Writes the command and launches it; the status read that follows carries everything queued
// before it. A protection violation or access error is cleared on the target, the violation
// first, and its flag stays set; the clearing write waits for the next send. True when the
// command was accepted.
bool LaunchCommand(int command) {
  WriteFMCMD(command);
  WriteFMUSTAT(Launch);
  ReadFMUSTAT();
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
void ProgramWords(int bank, bool pMemory, const std::int32_t* addresses, const int* words, int count) {
  if (CBEIF == 0 && !PollFMUSTAT(StatusCBEIF, CBEIF)) return;
  WriteFMCR(bank);
  for (int i = 0; i < count; ++i) {
    if (pMemory)
      WritePFlash(addresses[i], words[i]);
    else
      WriteXFlash(addresses[i], words[i]);
  }
  LaunchCommand(CommandProgram);
  CBEIF = Bit(DataRead, StatusCBEIF);
  FlushOutputBuffer();
}

void ResetFlashFlags() {
  ACCERR = 0;
  PVIOL = 0;
  DIVLD = 0;
  CBEIF = 0;
  CCIF = 0;
}

// The progress display of a pass: a star and a percentage every tenth of the file.
struct Progress {
  std::int32_t countdown = LineCount / 10;
  std::int32_t shown = 0;

  void Step() {
    if (countdown != 0 || shown >= 10) return;
    ClearConsole();
    ++shown;
    for (std::int32_t i = 0; i < shown; ++i) std::putchar('*');
    std::printf("\n %d%c\n", 10 * shown, '%');
    countdown = LineCount / 10;
  }
};

void EndOfFileReached() {
  std::puts(" Unexpected end of SRecord file");
  ErrorFlag = 1;
}

bool IsEndRecord() { return RecordType[1] == '7'; }

// Starts a pass at the first line of ChoosenFile.
Progress StartPass() {
  HeaderFlag = 0;
  ErrorFlag = 0;
  CheckSum = 0;
  SRecordDataSize = 0;
  LineCount = 0;
  MoveSize = 0;
  CountSRecordline();
  return Progress{};
}

// A pass ends after its end record, or early after a line that failed or was refused; only
// the first is a pass over the whole file.
enum class PassState { Going, Complete, Stopped };

PassState AfterLine(bool endRecord, bool lineFailed) {
  const bool refused = HeaderFlag != 1 || lineFailed || ErrorFlag == 1;
  if (!endRecord && !refused) return PassState::Going;
  return endRecord && !refused ? PassState::Complete : PassState::Stopped;
}

void ChooseFile() {
  std::puts(Separator);
  std::puts("\n Choose the file you want to use...");
  FilesList();
  const std::int32_t number = ReadAnswer(1, FileNumber);
  ChoosenFile = FileTab[static_cast<std::size_t>(number)];
  std::printf("\n Choosen File : %s\n", ChoosenFile.c_str());
}

void RefuseUnknownTarget() {
  if (numeroCible == 1 || numeroCible == 2) return;
  std::puts("\n Wrong aim !");
  ExitProgram();
}

void InitialiseOrExit() {
  std::puts(Separator);
  Initialisation();
  if (ErrorFlag == 1) ExitProgram();
}

// A flash that is not erased must not be programmed.
void EraseOrExit() {
  FullErase(numeroCible);
  if (ErrorFlag == 1) {
    std::puts(" Erasing error");
    ExitProgram();
  }
  std::puts("\n Memory has been erased...");
}

void ReportVerification() {
  std::puts(VerifyMemory() == 0 ? "\n Memory error detected" : "\n Verification success");
}

[[noreturn]] void CompleteProgramming() {
  RefuseUnknownTarget();
  for (;;) {
    InitialiseOrExit();
    EraseOrExit();
    WriteMemory();
    std::puts(ErrorFlag == 1 ? "\n Programming failed" : "\n Memory has been rewritten...");
    do {
      std::puts("\n What do you want to do ?");
      std::puts(" 1 - Do it again");
      std::puts(" 2 - Verify the programmed flash");
      std::puts(" 3 - Quit");
      numeroFin = ReadAnswer(1, 3);
      std::printf("\n You asked for number : %d\n", numeroFin);
      if (numeroFin == 2) ReportVerification();
      if (numeroFin == 3) ExitProgram();
    } while (numeroFin == 2);
  }
}

}  // namespace

void QZFlashMain() {
  RaiseTimerResolution();
  std::puts("*********************************************");
  std::puts("        Welcome to QZFlash V1.02");
  std::puts("*********************************************");

  DeviceCheck();
  OpenPort();
  ConfigPortParams();
  SyncMPSSE();
  ConfigMPSSEParams();
  ReadIDCode();

  std::puts(Separator);
  std::puts("\n Choose the operation you would like to do...");
  std::puts(" 1 - Complete programming of the flash");
  std::puts(" 2 - Full erasing of the flash");
  std::puts(" 3 - Verifying the flash");
  numeroOpe = ReadAnswer(1, 3);
  std::printf("\n You asked for number : %d\n", numeroOpe);
  if (numeroOpe != 2) ChooseFile();

  if (numeroOpe == 1) CompleteProgramming();
  RefuseUnknownTarget();
  InitialiseOrExit();
  if (numeroOpe == 2) {
    EraseOrExit();
  } else {
    ReportVerification();
  }
  ExitProgram();
}

int FilesList() {
  std::vector<std::string> names;
  const FolderStatus status = ListFolder(".", names);
  if (status == FolderStatus::OpenFailed) {
    std::puts("\n Wrong path");
    ExitProgram();
  }
  for (const std::string& name : names) {
    ++FileNumber;
    std::printf("\n %d -> '%s'\n", FileNumber, name.c_str());
    FileTab.push_back(name);
  }
  if (status == FolderStatus::CloseFailed) {
    std::puts("\n Closing error");
    ExitProgram();
  }
  return 0;
}

void ExitProgram() {
  ExitDebug();
  std::puts("\n Goodbye ! ");
  std::puts(" Press <Enter> to continue");
  std::fflush(stdout);
  std::getchar();
  FT_SetBitMode(ftHandle, 0x00, FT_BITMODE_RESET);
  FT_Close(ftHandle);
  RestoreTimerResolution();
  std::exit(0);
}

int DeviceCheck() {
  std::puts(" Checking for QZ devices...");
  ftStatus = FT_CreateDeviceInfoList(&dwNumDevs);
  if (ftStatus != FT_OK) {
    std::puts(" Error in getting the number of devices");
    return 1;
  }
  if (dwNumDevs == 0) {
    std::puts(" There are no QZ devices installed");
    return 1;
  }
  std::printf(" %d QZ devices found - The drivers are installed\n", static_cast<int>(dwNumDevs));
  return 0;
}

int OpenPort() {
  std::puts("\n Opening Port...");
  ftStatus = FT_Open(0, &ftHandle);
  if (ftStatus != FT_OK) {
    std::printf(" Opening failed with error %d\n", static_cast<int>(ftStatus));
    return 1;
  }
  return 0;
}

// The status runs on from FT_Open's, so a failed open also fails the configuration.
int ConfigPortParams() {
  std::puts("\n Configuring port for use...");
  ftStatus |= FT_ResetDevice(ftHandle);
  ftStatus |= FT_GetQueueStatus(ftHandle, &dwNumBytesToRead);
  if (ftStatus == FT_OK && dwNumBytesToRead != 0) {
    DWORD count = dwNumBytesToRead < InputBufferSize ? dwNumBytesToRead : InputBufferSize;
    FT_Read(ftHandle, byInputBuffer, count, &dwNumBytesRead);
  }
  ftStatus |= FT_SetUSBParameters(ftHandle, 64, 64);
  ftStatus |= FT_SetChars(ftHandle, 0, 0, 0, 0);
  ftStatus |= FT_SetTimeouts(ftHandle, 0, 5000);
  ftStatus |= FT_SetLatencyTimer(ftHandle, 2);
  ftStatus |= FT_SetBitMode(ftHandle, 0x00, FT_BITMODE_RESET);
  ftStatus |= FT_SetBitMode(ftHandle, 0x00, FT_BITMODE_MPSSE);
  if (ftStatus != FT_OK) {
    std::printf(" Error in configuring the port %d\n", static_cast<int>(ftStatus));
    FT_Close(ftHandle);
    SleepMs(50);
    return 1;
  }
  SleepMs(50);
  return 0;
}

// An MPSSE that is in step answers an unknown opcode with 0xFA and the opcode.
int SyncMPSSE() {
  WrongCode();
  FlushOutputBuffer();
  ReadQueuedBytes();
  for (DWORD i = 0; i + 1 < dwNumBytesRead; ++i)
    if (byInputBuffer[i] == mpsse::BadCommandEcho && byInputBuffer[i + 1] == mpsse::Invalid) return 0;
  std::puts(" Error in synchronizing the port");
  FT_Close(ftHandle);
  return 1;
}

void ConfigMPSSEParams() {
  ClearOutputBuffer();
  TCKMax();
  AdaptativeClockOFF();
  ThreePhasesDataClockOFF();
  ConfigADBUS(tap::PinsResetReleased, tap::PinDirections);
  ConfigACBUS(0x00, 0x00);
  ConfigTCK();
  LoopbackOFF();
  FlushOutputBuffer();
  std::puts(" Configuration of the port is done.");
}

void ReadIDCode() {
  ResetTAP();
  SendJTAGInsWithRead(tap::IdcodeInstruction, tap::IR8Bits);
  GetDataNoWrite(4);
  FlushOutputBuffer();
  ReadQueuedBytes();
  std::uint32_t idcode = 0;
  if (ftStatus == FT_OK && dwNumBytesRead >= 4)
    for (int i = 0; i < 4; ++i) idcode |= std::uint32_t{byInputBuffer[dwNumBytesRead - 4 + i]} << (8 * i);
  if (idcode == IdcodeVariant1)
    numeroCible = 1;
  else if (idcode == IdcodeVariant2)
    numeroCible = 2;
  else
    std::puts("\n Wrong aim... ");
}

void Initialisation() {
  std::puts("\n Initialization of the CPU...");
  ErrorFlag = 0;
  ResetCPU();
  ResetTAP();
  ActivCoreTap();
  ActivEOnceMode();
  ActivDebugMode();
  FlushOutputBuffer();
  ActivEOnceMode();
  ActivEOnceMode();
  ActivEOnceMode();
  ReadOTXRXSR();
  WriteOCR(0x20);
  WriteOMR(RequiredOMR);
  ReadOMR();
  if (DataRead != RequiredOMR) ErrorFlag = 1;
  // Protection is cleared once per bank; FMPROTB with the P-memory bank selected.
  WriteFMCR(BankP);
  WriteFMPROT(0);
  ReadFMPROT();
  if (DataRead != 0) ErrorFlag = 1;
  WriteFMCR(BankP);
  WriteFMPROTB(0);
  ReadFMPROTB();
  if (DataRead != 0) ErrorFlag = 1;
  WriteFMCR(BankX);
  WriteFMPROT(0);
  ReadFMPROT();
  if (DataRead != 0) ErrorFlag = 1;
  std::puts(ErrorFlag == 1 ? " Initialization error" : " Initialization done");
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

// Every block is tried; ErrorFlag tells whether any of them failed.
void FullErase(int target) {
  struct Block {
    std::int32_t address;
    int bank;
  };
  static constexpr Block Variant1[] = {{0x00000, BankP}, {0x10000, BankP}, {0x20000, BankP}, {0x2000, BankX}};
  static constexpr Block Variant2[] = {{0x00000, BankP}, {0x20000, BankP}, {0x1000, BankX}};
  auto eraseAll = [](const auto& blocks) {
    for (const Block& block : blocks) {
      EraseMemory(block.address, block.bank, CommandEraseBlock);
      if (PVIOL == 1 || ACCERR == 1) ErrorFlag = 1;
    }
  };
  if (target == 1)
    eraseAll(Variant1);
  else if (target == 2)
    eraseAll(Variant2);
}

void WriteProgramFlash(std::int32_t address1, int word1, std::int32_t address2, int word2) {
  const std::int32_t addresses[] = {address1, address2};
  const int words[] = {word1, word2};
  ProgramWords(BankP, true, addresses, words, 2);
}

void WriteBootFlash(std::int32_t address, int word) { ProgramWords(BankP, true, &address, &word, 1); }

void WriteDataFlash(std::int32_t address, int word) { ProgramWords(BankX, false, &address, &word, 1); }

void WriteMemory() {
  ResetFlashFlags();
  Progress progress = StartPass();
  LoadFlashClock();

  PassState state = PassState::Going;
  while (state == PassState::Going) {
    if (!ReadSRecordline()) {
      EndOfFileReached();
      state = PassState::Stopped;
      break;
    }
    --progress.countdown;
    const bool accepted = SRecordLineDecode();
    const bool checksumRight = VerifyChecksum() == 1;
    if (!checksumRight) {
      std::puts(" Le checksum est faux!");
    } else if (accepted) {
      WriteSRecordData();
    } else {
      std::puts(" Wrong SRecord format or file");
      ErrorFlag = 1;
    }
    progress.Step();
    state = AfterLine(accepted && IsEndRecord(), !checksumRight);
  }
  PollFMUSTAT(StatusCCIF, CCIF);
  // No later word was there to notice that the last command failed.
  if (ErrorFlag == 0 && (PVIOL == 1 || ACCERR == 1)) {
    std::puts(" Writing error");
    ErrorFlag = 1;
  }
  if (state != PassState::Complete) ErrorFlag = 1;
}

int VerifyMemory() {
  Progress progress = StartPass();
  PassState state = PassState::Going;
  while (state == PassState::Going) {
    CheckSumMemory = 0;
    --progress.countdown;
    if (!ReadSRecordline()) {
      EndOfFileReached();
      return 0;
    }
    const bool accepted = SRecordLineDecode();
    if (accepted) {
      ReadSRecordData();
    } else {
      std::puts(" Wrong SRecord format or file");
      ErrorFlag = 1;
    }
    const bool mismatch = accepted && RecordType[1] == '3' && CheckSum != CheckSumMemory;
    if (mismatch)
      std::printf("\n CheckSum = 0x%x and CheckSumMemory = 0x%x\n", static_cast<unsigned>(CheckSum),
                  static_cast<unsigned>(CheckSumMemory));
    progress.Step();
    state = AfterLine(accepted && IsEndRecord(), mismatch);
  }
  return state == PassState::Complete ? 1 : 0;
}
