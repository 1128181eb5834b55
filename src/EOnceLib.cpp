#include "EOnceLib.h"

#include "FTDILib.h"
#include "TAPLib.h"

namespace {

void QueueRead(int select, int bytes) {
  GetDataWithWrite(1, eonce::Read | select);
  GetDataNoWrite(bytes);
}

void ReadRegister(int select, int bytes) {
  QueueRead(select, bytes);
  FlushForRead();
  // The register's bits are the last bytes of the answer; the command scan's come before.
  ReadData(bytes);
}

void WriteRegister(int select, int bytes, int value) {
  GetDataWithWrite(1, select);
  GetDataWithWrite(bytes, value);
  FlushOutputBuffer();
}

// A command with no register: no data scan follows.
void Command(int command) {
  GetDataWithWrite(1, command);
  FlushOutputBuffer();
}

}  // namespace

void ActivCoreTap() {
  SendJTAGInsWithRead(tap::LinkInstruction, tap::IR8Bits);
  GetDataWithWrite(tap::DR4Bits, eonce::LinkCoreTap);
}

void ActivEOnceMode() { SendJTAGInsWithRead(eonce::EOnceInstruction, tap::IR4Bits); }

void ActivDebugMode() { SendJTAGInsWithRead(eonce::DebugRequestInstruction, tap::IR4Bits); }

void WaitForCore() {
  ActivEOnceMode();
  ActivEOnceMode();
  ActivEOnceMode();
}

void ReadOCR() { ReadRegister(eonce::OCR, 1); }
void WriteOCR(int value) { WriteRegister(eonce::OCR, 1, value); }
void ReadOSCNTR() { ReadRegister(eonce::OSCNTR, 3); }
void WriteOSCNTR(int value) { WriteRegister(eonce::OSCNTR, 3, value); }
void ReadOSR() { ReadRegister(eonce::OSR, 2); }
void ReadOBASE() { ReadRegister(eonce::OBASE, 1); }
void ReadOTXRXSR() { ReadRegister(eonce::OTXRXSR, 1); }
void WriteOTXRXSR(int value) { WriteRegister(eonce::OTXRXSR, 1, value); }
void ReadOTX() { ReadRegister(eonce::OTX, 4); }
void ReadOTX1() { ReadRegister(eonce::OTX1, 2); }
void QueueReadOTX1() { QueueRead(eonce::OTX1, 2); }
void WriteORX(int value) { WriteRegister(eonce::ORX, 4, value); }
void WriteORX1(int value) { WriteRegister(eonce::ORX1, 2, value); }

// The core executes the word once the scan with the execute bit reaches it.
void WriteOPDBR(int word) {
  GetDataWithWrite(1, eonce::Execute | eonce::OPDBR);
  GetDataWithWrite(2, word);
}

// A three-word instruction: the opcode and the operand's low half are collected, and the
// high half, sent with the execute bit, starts it.
void WriteOPDBR2WORDS(int word, std::int32_t operand) {
  GetDataWithWrite(1, eonce::OPDBR);
  GetDataWithWrite(2, word);
  GetDataWithWrite(1, eonce::OPDBR);
  GetDataWithWrite(2, operand);
  GetDataWithWrite(1, eonce::Execute | eonce::OPDBR);
  GetDataWithWrite(2, operand >> 16);
}

void NoRegister() { Command(eonce::Read | eonce::NoRegister); }

void ExitDebug() { Command(eonce::Read | eonce::Exit | eonce::NoRegister); }
