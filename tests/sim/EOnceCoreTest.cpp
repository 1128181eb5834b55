#include <gtest/gtest.h>

#include "Bench.h"
#include "D2XX.h"
#include "JtagScript.h"
#include "Platform.h"

namespace {

using qzsim::Warning;
using simtest::Bytes;
using simtest::JtagScript;
using simtest::Transfer;

const Bytes kSelectCoreTap = {0x4B, 0x04, 0x06, 0x3B, 0x06, 0x05, 0x6B, 0x00,
                              0x43, 0x4B, 0x01, 0x01, 0x4B, 0x02, 0x81, 0x3B,
                              0x02, 0x02, 0x6B, 0x00, 0x43, 0x4B, 0x01, 0x01};
const Bytes kDebugRequest = {0x4B, 0x04, 0x06, 0x3B, 0x02, 0x07,
                             0x6B, 0x00, 0x43, 0x4B, 0x01, 0x01};
const Bytes kEOnceInstruction = {0x4B, 0x04, 0x06, 0x3B, 0x02, 0x06,
                                 0x6B, 0x00, 0x43, 0x4B, 0x01, 0x01};
// EOnCE command scans: write OPDBR, and write OPDBR then execute.
const Bytes kCollect = {0x4B, 0x02, 0x81, 0x3B, 0x06, 0x04, 0x6B, 0x00, 0x43, 0x4B, 0x01, 0x01};
const Bytes kExecute = {0x4B, 0x02, 0x81, 0x3B, 0x06, 0x44, 0x6B, 0x00, 0x43, 0x4B, 0x01, 0x01};
// Command 0x89 and a 16-bit read: OTX1.
const Bytes kReadOtx1 = {0x4B, 0x02, 0x81, 0x3B, 0x06, 0x89, 0x6B, 0x00, 0x83,
                         0x4B, 0x01, 0x01, 0x4B, 0x02, 0x81, 0x2A, 0x07, 0x2A,
                         0x07, 0x4B, 0x00, 0x43, 0x4B, 0x01, 0x01};

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

class EOnceCore : public ::testing::Test {
 protected:
  void Configure(qzsim::BenchConfig config) {
    qzsim::ConfigureBench(config);
    handle = simtest::OpenMpsse();
  }
  void SetUp() override { Configure({}); }
  void EnterDebugMode() { Transfer(handle, simtest::DebugModeScript().Mpsse()); }
  qzsim::Warnings& Warnings() { return qzsim::CurrentBench().ProtocolWarnings(); }
  std::uint64_t Read(JtagScript& script, int scan) {
    return script.Captured(Transfer(handle, script.Mpsse()), scan);
  }
  std::uint64_t ReadWord(bool programMemory, std::uint32_t address) {
    JtagScript script;
    const int scan = simtest::ReadWord(script, programMemory, address);
    return Read(script, scan);
  }
  void WriteWord(bool programMemory, std::uint32_t address, std::uint16_t value) {
    JtagScript script;
    simtest::WriteWord(script, programMemory, address, value);
    Transfer(handle, script.Mpsse());
  }
  std::uint64_t ReadOsr() {
    JtagScript script;
    const int scan = script.EOnceRead(0x83, 16);
    return Read(script, scan);
  }
  FT_HANDLE handle = nullptr;
};

TEST_F(EOnceCore, Otx1ReadReturnsTheModeCopyOfAnInjectedOmrWrite) {
  // One 16-bit OPDBR scan per word: 0xE41C 0x1234 0x0000 loads 0x1234, 0x8C8C moves it into
  // OMR, 0x869C copies OMR, 0xE77F 0xD6FC 0xFFFF moves the copy into OTX1.
  const Bytes words[] = {
      {0x4B, 0x02, 0x81, 0x3B, 0x07, 0x1C, 0x3B, 0x06, 0xE4, 0x6B, 0x00, 0x83, 0x4B, 0x01, 0x01},
      {0x4B, 0x02, 0x81, 0x3B, 0x07, 0x34, 0x3B, 0x06, 0x12, 0x6B, 0x00, 0x43, 0x4B, 0x01, 0x01},
      {0x4B, 0x02, 0x81, 0x3B, 0x07, 0x00, 0x3B, 0x06, 0x00, 0x6B, 0x00, 0x43, 0x4B, 0x01, 0x01},
      {0x4B, 0x02, 0x81, 0x3B, 0x07, 0x8C, 0x3B, 0x06, 0x8C, 0x6B, 0x00, 0x83, 0x4B, 0x01, 0x01},
      {0x4B, 0x02, 0x81, 0x3B, 0x07, 0x9C, 0x3B, 0x06, 0x86, 0x6B, 0x00, 0x83, 0x4B, 0x01, 0x01},
      {0x4B, 0x02, 0x81, 0x3B, 0x07, 0x7F, 0x3B, 0x06, 0xE7, 0x6B, 0x00, 0x83, 0x4B, 0x01, 0x01},
      {0x4B, 0x02, 0x81, 0x3B, 0x07, 0xFC, 0x3B, 0x06, 0xD6, 0x6B, 0x00, 0x83, 0x4B, 0x01, 0x01},
      {0x4B, 0x02, 0x81, 0x3B, 0x07, 0xFF, 0x3B, 0x06, 0xFF, 0x6B, 0x00, 0x83, 0x4B, 0x01, 0x01},
  };
  const Bytes* commands[] = {&kCollect, &kCollect, &kExecute, &kExecute,
                             &kExecute, &kCollect, &kCollect, &kExecute};
  Bytes stream = Cat({kSelectCoreTap, kDebugRequest, kEOnceInstruction});
  for (int i = 0; i < 8; ++i) stream = Cat({stream, *commands[i], words[i]});
  const Bytes reply = Transfer(handle, Cat({stream, kReadOtx1}));
  ASSERT_GE(reply.size(), 2u);
  EXPECT_EQ(reply[reply.size() - 2], 0x34);
  EXPECT_EQ(reply[reply.size() - 1], 0x12);
  EXPECT_EQ(qzsim::CurrentBench().Controller().CoreState().Omr(), 0x1234);
  EXPECT_EQ(Warnings().Total(), 0u);
}

TEST_F(EOnceCore, PMemoryReadAsTheProgramSendsIt) {
  qzsim::CurrentBench().Controller().Flash().SetCell(qzsim::Space::P, 0x20000, 0xA55A);
  EnterDebugMode();
  // Three EOnCE instruction scans follow every injected instruction.
  const Bytes tail = Cat({kEOnceInstruction, kEOnceInstruction, kEOnceInstruction});
  // 0xE41C 0x0000 0x0002 | 0x81A0 | 0x8068 | 0xE77F 0xD07C 0xFFFF
  const Bytes words[] = {
      {0x4B, 0x02, 0x81, 0x3B, 0x07, 0x1C, 0x3B, 0x06, 0xE4, 0x6B, 0x00, 0x83, 0x4B, 0x01, 0x01},
      {0x4B, 0x02, 0x81, 0x3B, 0x07, 0x00, 0x3B, 0x06, 0x00, 0x6B, 0x00, 0x43, 0x4B, 0x01, 0x01},
      {0x4B, 0x02, 0x81, 0x3B, 0x07, 0x02, 0x3B, 0x06, 0x00, 0x6B, 0x00, 0x43, 0x4B, 0x01, 0x01},
      {0x4B, 0x02, 0x81, 0x3B, 0x07, 0xA0, 0x3B, 0x06, 0x81, 0x6B, 0x00, 0x83, 0x4B, 0x01, 0x01},
      {0x4B, 0x02, 0x81, 0x3B, 0x07, 0x68, 0x3B, 0x06, 0x80, 0x6B, 0x00, 0x83, 0x4B, 0x01, 0x01},
      {0x4B, 0x02, 0x81, 0x3B, 0x07, 0x7F, 0x3B, 0x06, 0xE7, 0x6B, 0x00, 0x83, 0x4B, 0x01, 0x01},
      {0x4B, 0x02, 0x81, 0x3B, 0x07, 0x7C, 0x3B, 0x06, 0xD0, 0x6B, 0x00, 0x83, 0x4B, 0x01, 0x01},
      {0x4B, 0x02, 0x81, 0x3B, 0x07, 0xFF, 0x3B, 0x06, 0xFF, 0x6B, 0x00, 0x83, 0x4B, 0x01, 0x01},
  };
  const Bytes read = Cat({kCollect, words[0], kCollect, words[1], kExecute, words[2], tail,
                          kExecute, words[3], tail,     kExecute, words[4], tail,     kCollect,
                          words[5], kCollect, words[6], kExecute, words[7], tail,     kReadOtx1});
  ASSERT_EQ(read.size(), 385u);
  const Bytes reply = Transfer(handle, read);
  ASSERT_EQ(reply.size(), 68u);
  EXPECT_EQ(reply[66], 0x5A);
  EXPECT_EQ(reply[67], 0xA5);
  EXPECT_EQ(Warnings().Total(), 0u);
}

TEST_F(EOnceCore, OmrWriteThenReadRoundTrips) {
  EnterDebugMode();
  JtagScript script;
  script.Inject({0xE41C, 0x0102, 0x0000}).Inject({0x8C8C});
  script.Inject({0x869C}).Inject({0xE77F, 0xD6FC, 0xFFFF});
  const int omr = script.EOnceRead(0x89, 16);
  script.Inject({0x869D}).Inject({0xE77F, 0xD6FC, 0xFFFF});
  const int sr = script.EOnceRead(0x89, 16);
  const Bytes reply = Transfer(handle, script.Mpsse());
  EXPECT_EQ(script.Captured(reply, omr), 0x0102u);
  EXPECT_EQ(script.Captured(reply, sr), 0x0300u);
}

TEST_F(EOnceCore, TransmitStatusShowsUnreadOtx1) {
  EnterDebugMode();
  JtagScript script;
  const int before = script.EOnceRead(0x86, 8);
  script.Inject({0x869C}).Inject({0xE77F, 0xD6FC, 0xFFFF});
  const int full = script.EOnceRead(0x86, 8);
  script.EOnceRead(0x89, 16);
  const int after = script.EOnceRead(0x86, 8);
  const Bytes reply = Transfer(handle, script.Mpsse());
  EXPECT_EQ(script.Captured(reply, before), 0x00u);
  EXPECT_EQ(script.Captured(reply, full), 0x02u);
  EXPECT_EQ(script.Captured(reply, after), 0x00u);
}

TEST_F(EOnceCore, DebugModeShowsInOsrAndTheExitBitLeavesIt) {
  Transfer(handle, Cat({kSelectCoreTap, kEOnceInstruction}));
  EXPECT_EQ(ReadOsr(), 0x0000u);
  Transfer(handle, Cat({kDebugRequest, kEOnceInstruction}));
  EXPECT_EQ(ReadOsr(), 0x0018u);
  EXPECT_TRUE(qzsim::CurrentBench().Controller().CoreState().InDebug());
  // Command 0xBF: read, exit, no register; no data scan follows.
  Transfer(handle, {0x4B, 0x02, 0x81, 0x3B, 0x06, 0xBF, 0x6B, 0x00, 0x83, 0x4B, 0x01, 0x01});
  EXPECT_EQ(ReadOsr(), 0x0000u);
}

TEST_F(EOnceCore, WordsOutsideDebugModeAreDroppedAndCounted) {
  Transfer(handle, Cat({kSelectCoreTap, kEOnceInstruction}));
  JtagScript script;
  script.Inject({0xE41C, 0x0002, 0x0000}).Inject({0x8C8C});
  Transfer(handle, script.Mpsse());
  EXPECT_EQ(Warnings().Of(Warning::WordsOutsideDebugMode), 2u);
  EXPECT_EQ(qzsim::CurrentBench().Controller().CoreState().Omr(), 0u);
}

TEST_F(EOnceCore, UnknownWordsAndWrongLengthsAreIllegalInstructions) {
  EnterDebugMode();
  JtagScript script;
  script.Inject({0x1234});
  script.Inject({0xE41C, 0x0002});                  // load with its high half missing
  script.Inject({0x8C8C, 0x8C8C, 0x8C8C, 0x8C8C});  // four words collected
  script.Inject({0xE77F, 0xD07C, 0x0000});
  Transfer(handle, script.Mpsse());
  EXPECT_EQ(Warnings().Of(Warning::IllegalInstruction), 4u);
  EXPECT_EQ(Warnings().Total(), 4u);
  EXPECT_EQ(qzsim::CurrentBench().Controller().CoreState().Omr(), 0u);
}

TEST_F(EOnceCore, ExitCommandWhileIdcodeIsLoadedLeavesTheCoreAlone) {
  EnterDebugMode();
  Transfer(handle, {0x4B, 0x04, 0xFF,  // Test-Logic-Reset: IDCODE in the chip-level TAP
                    0x4B, 0x02, 0x81, 0x3B, 0x06, 0xBF, 0x6B, 0x00, 0x83, 0x4B, 0x01, 0x01});
  EXPECT_TRUE(qzsim::CurrentBench().Controller().CoreState().InDebug());
}

TEST_F(EOnceCore, UnknownRegisterSelectTakesNoDataScan) {
  EnterDebugMode();
  JtagScript script;
  script.Dr(0x08, 8);  // no register 0x08
  const int osr = script.EOnceRead(0x83, 16);
  EXPECT_EQ(Read(script, osr), 0x0018u);
  EXPECT_EQ(Warnings().Of(Warning::UnknownEOnceRegister), 1u);
}

TEST_F(EOnceCore, RegistersKeepWhatTheHostWrites) {
  EnterDebugMode();
  JtagScript script;
  script.EOnceWrite(0x01, 0x20, 8).EOnceWrite(0x02, 0xABCDEF, 24).EOnceWrite(0x0B, 0x89ABCDEF, 32);
  script.EOnceWrite(0x0D, 0x4321, 16).EOnceWrite(0x05, 0x5A, 8);
  const int ocr = script.EOnceRead(0x81, 8);
  const int oscntr = script.EOnceRead(0x82, 24);
  const int orx = script.EOnceRead(0x8B, 32);
  const int orx1 = script.EOnceRead(0x8D, 16);
  const int obase = script.EOnceRead(0x85, 8);
  const int otx = script.EOnceRead(0x87, 32);
  const Bytes reply = Transfer(handle, script.Mpsse());
  EXPECT_EQ(script.Captured(reply, ocr), 0x20u);
  EXPECT_EQ(script.Captured(reply, oscntr), 0xABCDEFu);
  EXPECT_EQ(script.Captured(reply, orx), 0x89ABCDEFu);
  EXPECT_EQ(script.Captured(reply, orx1), 0x4321u);
  EXPECT_EQ(script.Captured(reply, obase), 0x5Au);
  EXPECT_EQ(script.Captured(reply, otx), 0u);
}

TEST_F(EOnceCore, ResetLeavesDebugModeAndClearsOmr) {
  EnterDebugMode();
  JtagScript write;
  write.Inject({0xE41C, 0x0002, 0x0000}).Inject({0x8C8C});
  Transfer(handle, write.Mpsse());
  ASSERT_EQ(qzsim::CurrentBench().Controller().CoreState().Omr(), 2u);
  Transfer(handle, {0x80, 0x08, 0x1B, 0x80, 0x18, 0x1B});
  const auto& core = qzsim::CurrentBench().Controller().CoreState();
  EXPECT_FALSE(core.InDebug());
  EXPECT_EQ(core.Omr(), 0u);
}

TEST_F(EOnceCore, DebugRequestDuringResetTakesEffectAtRelease) {
  Transfer(handle, {0x80, 0x08, 0x1B});
  Transfer(handle, simtest::DebugModeScript().Mpsse());
  const auto& core = qzsim::CurrentBench().Controller().CoreState();
  EXPECT_FALSE(core.InDebug());
  Transfer(handle, {0x80, 0x18, 0x1B});
  EXPECT_TRUE(core.InDebug());
}

TEST_F(EOnceCore, MemoryMapOfVariant1) {
  EnterDebugMode();
  WriteWord(false, 0x0100, 0xBEEF);
  WriteWord(false, 0x1FFF, 0x1234);
  EXPECT_EQ(ReadWord(false, 0x0100), 0xBEEFu);
  EXPECT_EQ(ReadWord(false, 0x1FFF), 0x1234u);
  EXPECT_EQ(ReadWord(true, 0x00000), 0xFFFFu) << "erased program flash";
  EXPECT_EQ(ReadWord(true, 0x1FFFF), 0xFFFFu);
  EXPECT_EQ(ReadWord(true, 0x20FFF), 0xFFFFu) << "boot flash";
  EXPECT_EQ(ReadWord(true, 0x21000), 0x0000u) << "unmapped";
  EXPECT_EQ(ReadWord(false, 0x2FFF), 0xFFFFu) << "data flash";
  EXPECT_EQ(ReadWord(false, 0x3000), 0x0000u);
  EXPECT_EQ(ReadWord(false, 0xF413), 0x00C0u) << "FMUSTAT";
  EXPECT_EQ(ReadWord(false, 0xF410), 0xFFFFu) << "FMPROT";
  EXPECT_EQ(Warnings().Total(), 0u);
  WriteWord(false, 0x3000, 1);
  WriteWord(true, 0x30000, 1);
  WriteWord(false, 0xF402, 1);  // a hole among the flash-module registers
  EXPECT_EQ(Warnings().Of(Warning::UnmappedStore), 3u);
}

TEST_F(EOnceCore, MemoryMapOfVariant2) {
  qzsim::BenchConfig config;
  config.target = {qzsim::kIdcodeVariant2, 2, {}};
  Configure(config);
  EnterDebugMode();
  WriteWord(false, 0x0FFF, 0x4321);
  EXPECT_EQ(ReadWord(false, 0x0FFF), 0x4321u);
  EXPECT_EQ(ReadWord(false, 0x1000), 0xFFFFu) << "data flash";
  EXPECT_EQ(ReadWord(false, 0x2000), 0x0000u);
  EXPECT_EQ(ReadWord(true, 0x0FFFF), 0xFFFFu);
  EXPECT_EQ(ReadWord(true, 0x10000), 0x0000u) << "no second program block";
  EXPECT_EQ(ReadWord(true, 0x20000), 0xFFFFu);
  WriteWord(false, 0x2000, 1);
  EXPECT_EQ(Warnings().Of(Warning::UnmappedStore), 1u);
}

TEST_F(EOnceCore, FlashProgrammedThroughInjectedStoresRunsOnTheVirtualClock) {
  EnterDebugMode();
  WriteWord(false, 0xF400, 0x0052);  // FMCLKD
  WriteWord(false, 0xF401, 0x0001);  // FMCR: data flash
  WriteWord(false, 0xF410, 0x0000);  // FMPROT
  JtagScript script;
  simtest::WriteWord(script, false, 0x2010, 0x1234);  // latch
  simtest::WriteWord(script, false, 0xF414, 0x0020);  // FMCMD
  simtest::WriteWord(script, false, 0xF413, 0x0080);  // FMUSTAT: launch
  const int status = simtest::ReadWord(script, false, 0xF413);
  EXPECT_EQ(Read(script, status), 0x0080u);
  EXPECT_EQ(ReadWord(false, 0x2010), 0xFFFFu);
  SleepMs(1);
  EXPECT_EQ(ReadWord(false, 0xF413), 0x00C0u);
  EXPECT_EQ(ReadWord(false, 0x2010), 0x1234u);
  EXPECT_EQ(Warnings().Total(), 0u);
}

}  // namespace
