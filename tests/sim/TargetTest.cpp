// The chip behind the D2XX functions: its JTAG chain, the EOnCE debug port, the core and its
// memories, driven with literal byte strings and with JtagScript.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "Bench.h"
#include "JtagScript.h"
#include "Platform.h"

namespace {

using qzsim::Warning;
using simtest::Bytes;
using simtest::JtagScript;
using simtest::Values;

// Test-Logic-Reset, IR 0x02, 32-bit DR read: the program's IDCODE read.
const Bytes kReadIdcode = {0x4B, 0x04, 0xFF, 0x4B, 0x04, 0x06, 0x3B, 0x06, 0x02, 0x6B, 0x00,
                           0x43, 0x4B, 0x01, 0x01, 0x4B, 0x02, 0x81, 0x2A, 0x07, 0x2A, 0x07,
                           0x2A, 0x07, 0x2A, 0x07, 0x4B, 0x00, 0x43, 0x4B, 0x01, 0x01};

// IR 0x05, then 0x2 into the 4-bit link register: the core TAP replaces the chip-level TAP.
const Bytes kSelectCoreTap = {0x4B, 0x04, 0x06, 0x3B, 0x06, 0x05, 0x6B, 0x00,
                              0x43, 0x4B, 0x01, 0x01, 0x4B, 0x02, 0x81, 0x3B,
                              0x02, 0x02, 0x6B, 0x00, 0x43, 0x4B, 0x01, 0x01};

using JtagChain = simtest::BenchTest;

// The reply is the IR capture (0x01) in two bytes, then the IDCODE.
TEST_F(JtagChain, IdcodeRead) {
  const Bytes variant1 = {0x02, 0x00, 0x1D, 0x60, 0xF4, 0x01};
  struct {
    const char* name;
    qzsim::BenchConfig config;
    Bytes before, reply;
  } cases[] = {
      {"variant 1", {}, {}, variant1},
      {"variant 2", {}, {}, {0x02, 0x00, 0x1D, 0x00, 0xF4, 0x01}},
      {"IDCODE given", {}, {}, {0x02, 0x00, 0x1D, 0x60, 0xF4, 0x02}},
      {"target held in reset", {}, {0x80, 0x08, 0x1B}, variant1},
      {"Test-Logic-Reset takes the core TAP out of the chain", {}, kSelectCoreTap, variant1},
      {"no target, TDO stuck at 0", {}, {}, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {"no target, TDO stuck at 1", {}, {}, {0xFE, 0x80, 0xFF, 0xFF, 0xFF, 0xFF}},
  };
  cases[1].config.target = {qzsim::kIdcodeVariant2, 2, {}};
  cases[2].config.target.idcode = 0x02F4601D;
  cases[5].config.noTargetTdo = false;
  cases[6].config.noTargetTdo = true;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Configure(c.config);
    Send(c.before);
    EXPECT_EQ(Send(kReadIdcode), c.reply);
  }
}

TEST_F(JtagChain, ChipTapInstructions) {
  // All ones and unknown instructions select bypass: it captures 0, then shows each TDI bit
  // one clock later. The core TAP, out of the chain, takes none of it (0x7: debug request).
  for (std::uint8_t instruction : {0xFF, 0x73}) {
    const JtagScript script = JtagScript().Reset().Ir(instruction, 8, true).Dr(0b1011001, 7, true);
    EXPECT_EQ(Reads(script), (Values{0x01, 0b0110010})) << int{instruction};
  }
  EXPECT_FALSE(Chip().CoreState().InDebug());
  // Test-Logic-Reset restores IDCODE: a bare DR read gives it.
  EXPECT_EQ(Send({0x4B, 0x05, 0x1F, 0x4B, 0x02, 0x81, 0x2A, 0x07, 0x2A, 0x07,
                  0x2A, 0x07, 0x2A, 0x07, 0x4B, 0x00, 0x43, 0x4B, 0x01, 0x01}),
            (Bytes{0x1D, 0x60, 0xF4, 0x01}));
  // TDO floats high outside the Shift states: Test-Logic-Reset, three clocks in Run-Test/Idle.
  EXPECT_EQ(Send({0x4B, 0x04, 0xFF, 0x6B, 0x02, 0x00}), (Bytes{0xE0}));
}

TEST_F(JtagChain, OnlyTheValue2InTheLinkRegisterHandsTheChainToTheCoreTap) {
  // The link register keeps what was written.
  EXPECT_EQ(Reads(JtagScript().Reset().Ir(0x05, 8).Dr(0x3, 4, true).Dr(0x0, 4, true)),
            (Values{0x0, 0x3}));
  EXPECT_FALSE(Chip().ChipTapState().CoreTapLinked());
  EXPECT_EQ(Send(kSelectCoreTap), (Bytes{0x02, 0x00, 0x00, 0x00}));
  // A 4-bit IR scan now captures the core TAP's 0x1.
  EXPECT_EQ(Send({0x4B, 0x04, 0x06, 0x3B, 0x02, 0x06, 0x6B, 0x00, 0x43, 0x4B, 0x01, 0x01}),
            (Bytes{0x20, 0x00}));
}

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
// 16-bit OPDBR data scans, one per instruction word.
enum { kE41C, k1234, k0000, k8C8C, k869C, kE77F, kD6FC, kFFFF };
const Bytes kWord[] = {
    {0x4B, 0x02, 0x81, 0x3B, 0x07, 0x1C, 0x3B, 0x06, 0xE4, 0x6B, 0x00, 0x83, 0x4B, 0x01, 0x01},
    {0x4B, 0x02, 0x81, 0x3B, 0x07, 0x34, 0x3B, 0x06, 0x12, 0x6B, 0x00, 0x43, 0x4B, 0x01, 0x01},
    {0x4B, 0x02, 0x81, 0x3B, 0x07, 0x00, 0x3B, 0x06, 0x00, 0x6B, 0x00, 0x43, 0x4B, 0x01, 0x01},
    {0x4B, 0x02, 0x81, 0x3B, 0x07, 0x8C, 0x3B, 0x06, 0x8C, 0x6B, 0x00, 0x83, 0x4B, 0x01, 0x01},
    {0x4B, 0x02, 0x81, 0x3B, 0x07, 0x9C, 0x3B, 0x06, 0x86, 0x6B, 0x00, 0x83, 0x4B, 0x01, 0x01},
    {0x4B, 0x02, 0x81, 0x3B, 0x07, 0x7F, 0x3B, 0x06, 0xE7, 0x6B, 0x00, 0x83, 0x4B, 0x01, 0x01},
    {0x4B, 0x02, 0x81, 0x3B, 0x07, 0xFC, 0x3B, 0x06, 0xD6, 0x6B, 0x00, 0x83, 0x4B, 0x01, 0x01},
    {0x4B, 0x02, 0x81, 0x3B, 0x07, 0xFF, 0x3B, 0x06, 0xFF, 0x6B, 0x00, 0x83, 0x4B, 0x01, 0x01},
};

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// One instruction as the program feeds it: a collect for each word but the last, an execute
// for the last, then three EOnCE instruction scans.
Bytes Instruction(std::initializer_list<int> words) {
  Bytes out;
  std::size_t left = words.size();
  for (int word : words) out = Cat({out, --left == 0 ? kExecute : kCollect, kWord[word]});
  return Cat({out, kEOnceInstruction, kEOnceInstruction, kEOnceInstruction});
}

using EOnceCore = simtest::BenchTest;

// Debug mode; 0x1234 into OMR, OMR copied, the copy moved into OTX1, OTX1 read.
TEST_F(EOnceCore, InjectedInstructionsAsTheProgramSendsThem) {
  const Bytes reply = Send(Cat(
      {kSelectCoreTap, kDebugRequest, kEOnceInstruction, Instruction({kE41C, k1234, k0000}),
       Instruction({k8C8C}), Instruction({k869C}), Instruction({kE77F, kD6FC, kFFFF}), kReadOtx1}));
  ASSERT_EQ(reply.size(), 76u) << "one byte per read command, nothing else";
  EXPECT_EQ(Bytes(reply.end() - 2, reply.end()), (Bytes{0x34, 0x12}));
  EXPECT_EQ(Warnings().Total(), 0u);
}

// OTXRXSR shows an unread OTX1 (here the SR copy); OCR, OSCNTR, ORX, ORX1 and OBASE keep a
// write of their width, OTX reads 0; illegal words and unknown registers change nothing.
TEST_F(EOnceCore, DebugPortRegistersAndProtocolErrors) {
  JtagScript script = simtest::DebugModeScript();
  script.EOnceRead(0x86, 8).Inject({0x869D}).Inject({0xE77F, 0xD6FC, 0xFFFF});
  script.EOnceRead(0x86, 8).EOnceRead(0x89, 16).EOnceRead(0x86, 8);
  script.EOnceRead(0x89, 16).EOnceRead(0x86, 8);
  script.EOnceWrite(0x01, 0x20, 8).EOnceWrite(0x02, 0xABCDEF, 24).EOnceWrite(0x0B, 0x89ABCDEF, 32);
  script.EOnceWrite(0x0D, 0x4321, 16).EOnceWrite(0x05, 0x5A, 8).EOnceWrite(0x07, 0x12345678, 32);
  script.EOnceRead(0x81, 8).EOnceRead(0x82, 24).EOnceRead(0x8B, 32);
  script.EOnceRead(0x8D, 16).EOnceRead(0x85, 8).EOnceRead(0x87, 32);
  script.Inject({0x1234}).Inject({0xE41C, 0x0002});  // unknown; a load missing its high half
  script.Inject({0x8C8C, 0x8C8C, 0x8C8C, 0x8C8C}).Inject({0xE77F, 0xD07C, 0x0000});
  script.Dr(0x08, 8).EOnceRead(0x83, 16);  // no register 0x08: no data scan follows
  EXPECT_EQ(Reads(script), (Values{0x00, 0x02, 0x0300, 0x00, 0x0300, 0x00, 0x20, 0xABCDEF,
                                   0x89ABCDEF, 0x4321, 0x5A, 0, 0x0018}));
  EXPECT_EQ(Warnings().Of(Warning::IllegalInstruction), 4u);
  EXPECT_EQ(Warnings().Of(Warning::UnknownEOnceRegister), 1u);
  EXPECT_EQ(Warnings().Total(), 5u);
  EXPECT_EQ(Chip().CoreState().Omr(), 0u);
}

TEST_F(EOnceCore, DebugModeComesWithTheRequestAndGoesWithTheExitBitOrAReset) {
  JtagScript script;
  script.Reset().LinkCoreTap(0x6).EOnceRead(0x83, 16);       // OSR
  script.Inject({0xE41C, 0x0002, 0x0000}).Inject({0x8C8C});  // dropped: no debug mode
  script.LinkCoreTap(0x7).Ir(0x6, 4);
  script.EOnceRead(0x83, 16).Dr(0x83, 8);  // the last command left without its data scan
  // Read-exit (0xBF) while IDCODE is loaded reaches the chip-level TAP, not EOnCE.
  script.Reset().Walk({0}).Dr(0xBF, 8);
  // After Test-Logic-Reset the next scan is a command: OTXRXSR.
  script.LinkCoreTap(0x6).EOnceRead(0x86, 8).EOnceRead(0x83, 16).Dr(0xBF, 8);
  script.EOnceRead(0x83, 16);
  EXPECT_EQ(Reads(script), (Values{0x0000, 0x0018, 0x00, 0x0018, 0x0000}));
  EXPECT_EQ(Warnings().Of(Warning::WordsOutsideDebugMode), 2u);
  EXPECT_EQ(Warnings().Total(), 2u);
  EXPECT_EQ(Chip().CoreState().Omr(), 0u);

  // A reset leaves debug mode, clears OMR and resets the flash module; a debug request during
  // the reset takes effect at the release.
  Send(simtest::DebugModeScript().Inject({0xE41C, 0x0002, 0x0000}).Inject({0x8C8C}).Mpsse());
  ASSERT_EQ(Chip().CoreState().Omr(), 2u);
  ASSERT_TRUE(Chip().Flash().WriteRegister(0xF410, 0x0000));  // FMPROT
  Send({0x80, 0x08, 0x1B, 0x80, 0x18, 0x1B});
  EXPECT_FALSE(Chip().CoreState().InDebug());
  EXPECT_EQ(Chip().CoreState().Omr(), 0u);
  EXPECT_EQ(Chip().Flash().ReadRegister(0xF410).value_or(0), 0xFFFF);
  Send({0x80, 0x08, 0x1B});
  Send(simtest::DebugModeScript().Mpsse());
  EXPECT_FALSE(Chip().CoreState().InDebug());
  Send({0x80, 0x18, 0x1B});
  EXPECT_TRUE(Chip().CoreState().InDebug());
}

// "S:ADDR=VALUE ...", S being P or X, in hexadecimal.
std::vector<std::tuple<bool, std::uint32_t, std::uint16_t>> Words(const char* text) {
  std::vector<std::tuple<bool, std::uint32_t, std::uint16_t>> words;
  std::istringstream in(text);
  char space, colon, equals;
  std::uint32_t address, value;
  while (in >> space >> colon >> std::hex >> address >> equals >> value) {
    words.emplace_back(space == 'P', address, static_cast<std::uint16_t>(value));
  }
  return words;
}

TEST_F(EOnceCore, MemoryMapsThroughInjectedLoadsAndStores) {
  const struct {
    int variant;
    const char* ram;       // stored, then read back below
    const char* reads;     // FFFF: erased flash, 0000: unmapped
    const char* unmapped;  // stores counted as warnings
  } maps[] = {
      {1, "X:0100=BEEF X:1FFF=1234",
       "X:0100=BEEF X:1FFF=1234 P:00000=FFFF P:1FFFF=FFFF P:20000=A55A P:20FFF=FFFF P:21000=0 "
       "X:2FFF=FFFF X:3000=0000 X:F413=00C0 X:F410=FFFF",
       "X:3000=1 P:30000=1 X:F402=1"},
      {2, "X:0FFF=4321",
       "X:0FFF=4321 X:1000=FFFF X:2000=0000 P:0FFFF=FFFF P:10000=0000 P:20000=A55A", "X:2000=1"},
  };
  for (const auto& map : maps) {
    SCOPED_TRACE(map.reads);
    qzsim::BenchConfig config;
    config.target.variant = map.variant;
    Configure(config);
    Chip().Flash().SetCell(qzsim::Space::P, 0x20000, 0xA55A);
    JtagScript script = simtest::DebugModeScript();
    Values expected;
    for (auto [p, address, value] : Words(map.ram)) script.WriteWord(p, address, value);
    for (auto [p, address, value] : Words(map.reads)) {
      script.ReadWord(p, address);
      expected.push_back(value);
    }
    for (auto [p, address, value] : Words(map.unmapped)) script.WriteWord(p, address, value);
    EXPECT_EQ(Reads(script), expected);
    EXPECT_EQ(Warnings().Of(Warning::UnmappedStore), Words(map.unmapped).size());
    EXPECT_EQ(Warnings().Total(), Words(map.unmapped).size());
  }
}

TEST_F(EOnceCore, FlashProgrammedThroughInjectedStoresRunsOnTheVirtualClock) {
  JtagScript script = simtest::DebugModeScript();
  script.WriteWord(false, 0xF400, 0x0052);  // FMCLKD
  script.WriteWord(false, 0xF410, 0x0000);  // FMPROT, program flash
  script.WriteWord(true, 0x0010, 0x1234);   // latch
  script.WriteWord(false, 0xF414, 0x0020);  // FMCMD
  script.WriteWord(false, 0xF413, 0x0080);  // FMUSTAT: launch
  EXPECT_EQ(Reads(script.ReadWord(false, 0xF413).ReadWord(true, 0x0010)), (Values{0x80, 0xFFFF}));
  SleepMs(1);
  JtagScript later;
  EXPECT_EQ(Reads(later.ReadWord(false, 0xF413).ReadWord(true, 0x0010)), (Values{0xC0, 0x1234}));
  EXPECT_EQ(Warnings().Total(), 0u);
}

}  // namespace
