#include "AsmLib.h"

#include "EOnceLib.h"
#include "FTDILib.h"

namespace {

void Inject(int word) {
  WriteOPDBR(word);
  WaitForCore();
}

void Inject(int word, std::int32_t operand) {
  WriteOPDBR2WORDS(word, operand);
  WaitForCore();
}

void QueueReadMemory(int readInstruction, std::int32_t address) {
  Inject(core::LoadValue, address);
  Inject(core::ValueToAddress);
  Inject(readInstruction);
  Inject(core::MoveToOTX1, core::ReadWordOperand);
  QueueReadOTX1();
}

void ReadMemory(int readInstruction, std::int32_t address) {
  QueueReadMemory(readInstruction, address);
  FlushForRead();
  ReadData(2);
}

void QueueStore(int storeInstruction, std::int32_t address, int data) {
  Inject(core::LoadValue, address);
  Inject(core::ValueToAddress);
  Inject(core::LoadValue, data);
  Inject(core::ValueToStoreData);
  Inject(storeInstruction);
}

void ReadRegister(std::int32_t address) { ReadMemory(core::ReadXMemory, address); }

void WriteRegister(std::int32_t address, int value) {
  QueueStore(core::StoreXMemory, address, value);
  FlushOutputBuffer();
}

void ReadModeCopy(int copyInstruction) {
  Inject(copyInstruction);
  Inject(core::MoveToOTX1, core::ModeCopyOperand);
  ReadOTX1();
}

}  // namespace

void ReadOMR() { ReadModeCopy(core::CopyOMR); }

void WriteOMR(int value) {
  Inject(core::LoadValue, value);
  Inject(core::ValueToOMR);
  FlushOutputBuffer();
}

void ReadSR() { ReadModeCopy(core::CopySR); }

void ReadFMCLKD() { ReadRegister(fm::FMCLKD); }
void WriteFMCLKD(int value) { WriteRegister(fm::FMCLKD, value); }
void ReadFMCR() { ReadRegister(fm::FMCR); }
void WriteFMCR(int value) { WriteRegister(fm::FMCR, value); }
void ReadFMSECH() { ReadRegister(fm::FMSECH); }
void WriteFMSECH(int value) { WriteRegister(fm::FMSECH, value); }
void ReadFMSECL() { ReadRegister(fm::FMSECL); }
void WriteFMSECL(int value) { WriteRegister(fm::FMSECL, value); }
void ReadFMPROT() { ReadRegister(fm::FMPROT); }
void WriteFMPROT(int value) { WriteRegister(fm::FMPROT, value); }
void ReadFMPROTB() { ReadRegister(fm::FMPROTB); }
void WriteFMPROTB(int value) { WriteRegister(fm::FMPROTB, value); }
void ReadFMUSTAT() { ReadRegister(fm::FMUSTAT); }
void ReadFMCMD() { ReadRegister(fm::FMCMD); }

// The launch and the command ride along with the status read that follows them.
void WriteFMUSTAT(int value) { QueueStore(core::StoreXMemory, fm::FMUSTAT, value); }
void WriteFMCMD(int value) { QueueStore(core::StoreXMemory, fm::FMCMD, value); }

void ReadPFlash(std::int32_t address) { ReadMemory(core::ReadPMemory, address); }
void ReadXFlash(std::int32_t address) { ReadMemory(core::ReadXMemory, address); }
void QueueReadPFlash(std::int32_t address) { QueueReadMemory(core::ReadPMemory, address); }
void QueueReadXFlash(std::int32_t address) { QueueReadMemory(core::ReadXMemory, address); }
void WritePFlash(std::int32_t address, int data) { QueueStore(core::StorePMemory, address, data); }
void WriteXFlash(std::int32_t address, int data) { QueueStore(core::StoreXMemory, address, data); }
