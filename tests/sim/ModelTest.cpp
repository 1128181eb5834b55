// The model of the silicon on its own, from the target's side: the TAP controller, the MPSSE
// engine against a probe on the connector, the chip through JTAG walks written as pin levels,
// the flash module's rules, the D2XX surface and the state file.
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "FlashModule.h"
#include "FlashState.h"
#include "JtagScript.h"
#include "Mpsse.h"
#include "Platform.h"
#include "TapController.h"

namespace {

using qzsim::Space;
using qzsim::Warning;
using simtest::Bytes;
using simtest::JtagScript;
using simtest::Values;
using S = qzsim::TapState;
constexpr Space P = Space::P;
constexpr Space X = Space::X;

// IEEE 1149.1: every state and where TMS low and TMS high lead.
TEST(TapController, EveryTransition) {
  const S table[][3] = {
      {S::TestLogicReset, S::RunTestIdle, S::TestLogicReset}, {S::RunTestIdle, S::RunTestIdle, S::SelectDrScan},
      {S::SelectDrScan, S::CaptureDr, S::SelectIrScan},       {S::CaptureDr, S::ShiftDr, S::Exit1Dr},
      {S::ShiftDr, S::ShiftDr, S::Exit1Dr},                   {S::Exit1Dr, S::PauseDr, S::UpdateDr},
      {S::PauseDr, S::PauseDr, S::Exit2Dr},                   {S::Exit2Dr, S::ShiftDr, S::UpdateDr},
      {S::UpdateDr, S::RunTestIdle, S::SelectDrScan},         {S::SelectIrScan, S::CaptureIr, S::TestLogicReset},
      {S::CaptureIr, S::ShiftIr, S::Exit1Ir},                 {S::ShiftIr, S::ShiftIr, S::Exit1Ir},
      {S::Exit1Ir, S::PauseIr, S::UpdateIr},                  {S::PauseIr, S::PauseIr, S::Exit2Ir},
      {S::Exit2Ir, S::ShiftIr, S::UpdateIr},                  {S::UpdateIr, S::RunTestIdle, S::SelectDrScan},
  };
  for (const auto& [from, low, high] : table) {
    EXPECT_EQ(qzsim::NextTapState(from, false), low) << qzsim::TapStateName(from);
    EXPECT_EQ(qzsim::NextTapState(from, true), high) << qzsim::TapStateName(from);
  }
}

// Records what the connector sees: "TMS TDI" at each rising edge, "r0"/"r1" for the reset
// line; TDO plays a script, one level per falling edge, then stays.
class Probe : public qzsim::JtagPins {
 public:
  std::string wire;
  std::deque<bool> tdoScript;
  bool tdo = true;

  void SetResetLine(bool high) override { wire += high ? " r1" : " r0"; }
  void ClockRise(bool tms, bool tdi) override { wire += {' ', char('0' + tms), char('0' + tdi)}; }
  void ClockFall() override {
    if (tdoScript.empty()) return;
    tdo = tdoScript.front();
    tdoScript.pop_front();
  }
  bool Tdo() const override { return tdo; }
};

// What reaches the target, write by write, each case from the set-up's pins (TCK, TDI, TMS and
// the reset line outputs, TMS high); "=XX" is a reply byte. Data go LSB first; 0x1A changes TDI
// on the rising edge, so the target sees it a clock late; a TMS command holds bit 7 on TDI; a
// pin that is no output is pulled high, TCK then clocks nothing; the reset line (bit 4) is low
// only as an output driven low; read bits enter the reply byte at the top; an unknown opcode is
// echoed and the rest of its write dropped; a command cut by the end of a write runs when its
// bytes arrive.
TEST(Mpsse, WhatReachesTheTarget) {
  const struct {
    const char* name;
    std::vector<Bytes> writes;
    std::string wire;
    std::deque<bool> tdo = {};
  } cases[] = {
      {"0x1B: LSB first, TMS kept", {{0x1B, 0x02, 0x05}}, " 11 10 11"},
      {"0x1A: a clock late", {{0x1B, 0x00, 0x00}, {0x1A, 0x02, 0x07}}, " 10 10 11 11"},
      {"0x4B: TDI bit 7, TMS kept", {{0x4B, 0x04, 0x86}, {0x1B, 0x00, 0x00}}, " 01 11 11 01 01 00"},
      {"inputs pulled high", {{0x80, 0x00, 0x01, 0x1B, 0x01, 0x00}}, " r1 11 11"},
      {"TCK an input", {{0x80, 0x18, 0x1A, 0x3B, 0x07, 0x00}}, " r1 =FF"},
      {"reset line", {{0x80, 0x08, 0x1B}, {0x80, 0x18, 0x1B}, {0x80, 0x00, 0x0B}}, " r0 r1 r1"},
      {"reads from the top", {{0x2A, 0x02}, {0x3B, 0x03, 0xFF}}, " 10 10 10 =A0 11 11 11 11 =50",
       {false, true, true, false, true, false, false, false}},
      {"bad command", {{0xAA, 0x1B, 0x07, 0xFF}, {0x1B, 0x00, 0x01, 0x84, 0x1B}}, " =FA =AA 11 =FA =84"},
      {"command cut", {{0x3B, 0x07}, {0x55, 0x2A}, {0x00}}, " 11 10 11 10 11 10 11 10 =FF 10 =80"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Probe probe;
    qzsim::Warnings warnings;
    qzsim::Mpsse mpsse(probe, warnings);
    mpsse.Enter();
    Bytes reply;
    mpsse.Run(Bytes{0x8A, 0x97, 0x8D, 0x80, 0x18, 0x1B, 0x86, 0x1D, 0x00}, reply);
    probe.wire.clear();
    probe.tdoScript = c.tdo;
    for (const Bytes& write : c.writes) {
      reply.clear();
      mpsse.Run(write, reply);
      for (std::uint8_t byte : reply) {
        char text[8];
        std::snprintf(text, sizeof text, " =%02X", byte);
        probe.wire += text;
      }
    }
    EXPECT_EQ(probe.wire, c.wire);
    EXPECT_EQ(warnings.Total(), std::string(c.name) == "bad command" ? 2u : 0u);
  }
}

using Silicon = simtest::BenchTest;

// The program's IDCODE read: Test-Logic-Reset, IR 0x02, 32-bit DR read. The reply is the IR
// capture (0x01) in two bytes, then the IDCODE, also with the target held in reset.
TEST_F(Silicon, IdcodeRead) {
  const Bytes readIdcode = {0x4B, 0x04, 0xFF, 0x4B, 0x04, 0x06, 0x3B, 0x06, 0x02, 0x6B, 0x00,
                            0x43, 0x4B, 0x01, 0x01, 0x4B, 0x02, 0x81, 0x2A, 0x07, 0x2A, 0x07,
                            0x2A, 0x07, 0x2A, 0x07, 0x4B, 0x00, 0x43, 0x4B, 0x01, 0x01};
  const Bytes variant1 = {0x02, 0x00, 0x1D, 0x60, 0xF4, 0x01};
  struct Case {
    const char* name;
    qzsim::BenchConfig config;
    Bytes before, reply;
  } cases[] = {
      {"variant 1", {}, {}, variant1},
      {"variant 2", {}, {}, {0x02, 0x00, 0x1D, 0x00, 0xF4, 0x01}},
      {"held in reset", {}, {0x80, 0x08, 0x1B}, variant1},
      {"no target, TDO stuck at 0", {}, {}, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {"no target, TDO stuck at 1", {}, {}, {0xFE, 0x80, 0xFF, 0xFF, 0xFF, 0xFF}},
  };
  cases[1].config.target = {qzsim::kIdcodeVariant2, 2, {}};
  cases[3].config.noTargetTdo = false;
  cases[4].config.noTargetTdo = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Configure(c.config);
    Send(c.before);
    EXPECT_EQ(Send(readIdcode), c.reply);
  }
}

// A halted core through the EOnCE: OMR and SR copies, words of both memories, OTXRXSR showing
// an unread OTX1, stores to nowhere counted; nothing executes outside debug mode.
TEST_F(Silicon, TheCoreRunsInjectedInstructionsInDebugModeOnly) {
  JtagScript script;
  script.Reset().LinkCoreTap(0x6).Inject({0xE41C, 0x0003, 0x0000}).Inject({0x8C8C});  // dropped
  script.Reset().LinkCoreTap(0x7).Ir(0x6, 4);  // debug request, then EOnCE
  script.Inject({0xE41C, 0x0002, 0x0000}).Inject({0x8C8C}).Inject({0x869C}).Inject({0xE77F, 0xD6FC, 0xFFFF});
  script.EOnceRead(0x86, 8).EOnceRead(0x89, 16).EOnceRead(0x86, 8);
  script.Inject({0x869D}).Inject({0xE77F, 0xD6FC, 0xFFFF}).EOnceRead(0x89, 16);
  script.WriteWord(false, 0x0100, 0xBEEF).ReadWord(false, 0x0100).ReadWord(true, 0x20000);
  script.ReadWord(false, 0x2FFF).ReadWord(false, 0x3000).WriteWord(false, 0x3000, 1);
  Chip().Flash().SetCell(P, 0x20000, 0xA55A);
  EXPECT_EQ(Reads(script), (Values{0x02, 0x0002, 0x00, 0x0300, 0xBEEF, 0xA55A, 0xFFFF, 0x0000}));
  EXPECT_EQ(Warnings().Of(Warning::WordsOutsideDebugMode), 2u);
  EXPECT_EQ(Warnings().Of(Warning::UnmappedStore), 1u);
  EXPECT_EQ(Warnings().Total(), 3u);
}

// A program command launched through injected stores: the word changes 1 ms later, on the
// virtual clock, and only its ones turn to zeros.
TEST_F(Silicon, FlashProgramsOnTheVirtualClockAndOnlyClearsBits) {
  Chip().Flash().SetCell(P, 0x0010, 0xF0F0);
  JtagScript script = simtest::DebugModeScript();
  script.WriteWord(false, 0xF400, 0x0052).WriteWord(false, 0xF410, 0x0000);  // FMCLKD, FMPROT
  script.WriteWord(true, 0x0010, 0x1234).WriteWord(false, 0xF414, 0x0020).WriteWord(false, 0xF413, 0x0080);
  EXPECT_EQ(Reads(script.ReadWord(false, 0xF413).ReadWord(true, 0x0010)), (Values{0x80, 0xF0F0}));
  SleepMs(1);
  EXPECT_EQ(Reads(JtagScript().ReadWord(false, 0xF413).ReadWord(true, 0x0010)), (Values{0xC0, 0x1030}));
  EXPECT_EQ(Warnings().Total(), 0u);
}

class Flash : public ::testing::Test {
 public:
  void SetUp() override { flash = std::make_unique<qzsim::FlashModule>(qzsim::MemoryMapOf(1), qzsim::FlashFaults{}); }
  std::uint16_t Status() { return flash->ReadRegister(0xF413).value(); }
  Flash& Set(std::uint32_t address, std::uint16_t value) {
    EXPECT_TRUE(flash->WriteRegister(address, value)) << std::hex << address;
    return *this;
  }
  Flash& Clocked() { return Set(0xF400, 0x52); }
  // Every bank unprotected, `bank` selected.
  Flash& Ready(std::uint16_t bank) { return Clocked().Set(0xF410, 0).Set(0xF411, 0).Set(0xF401, 1).Set(0xF410, 0).Set(0xF401, bank); }
  Flash& Latch(Space space, std::uint32_t address, std::uint16_t data = 0) {
    flash->WriteArray(space, address, data);
    return *this;
  }
  Flash& Command(std::uint16_t command) { return Set(0xF414, command).Set(0xF413, 0x80); }
  Flash& Program(Space space, std::uint32_t address, std::uint16_t data = 0) { return Latch(space, address, data).Command(0x20); }
  Flash& Wait(std::uint64_t micros) {
    flash->AdvanceTo(now += micros);
    return *this;
  }

  std::unique_ptr<qzsim::FlashModule> flash;
  std::uint64_t now = 0;
};

// A program command takes 1 ms, a block erase 20 ms; a second command waits in a one-deep
// buffer: CBEIF (0x80) is 0 while it is full, CCIF (0x40) while anything runs.
TEST_F(Flash, CommandsRunOneAtATimeBehindAOneDeepBuffer) {
  Ready(0).Program(P, 0x0010, 0xF0F0);
  EXPECT_EQ(Status(), 0x0080);
  EXPECT_EQ(Program(P, 0x0010, 0x00FF).Status(), 0x0000);
  EXPECT_EQ(Wait(1000).Status(), 0x0080);
  EXPECT_EQ(flash->Cell(P, 0x0010), 0xF0F0);
  EXPECT_EQ(Wait(1000).Status(), 0x00C0);
  EXPECT_EQ(flash->Cell(P, 0x0010), 0x00F0);
  Latch(P, 0x10123).Command(0x41);  // the second block of program flash
  EXPECT_EQ(Wait(19999).Status(), 0x0080);
  EXPECT_EQ(Wait(1).Status(), 0x00C0);
  EXPECT_EQ(flash->Cell(P, 0x0010), 0x00F0);
  Program(P, 0x10000).Wait(1000).Latch(P, 0x0005).Command(0x41).Wait(20000);
  EXPECT_EQ(flash->Cell(P, 0x0010), 0xFFFF);
  EXPECT_EQ(flash->Cell(P, 0x10000), 0x0000);
}

// Each cause of ACCERR (0x10) and PVIOL (0x20): the flag, no command run, each flag cleared by
// its own bit.
TEST_F(Flash, MisuseSetsAccerrOrPviolAndChangesNothing) {
  const struct {
    std::string name;
    std::uint16_t flag;
    std::function<void(Flash&)> steps;
  } cases[] = {
      {"no divider", 0x10, [](Flash& f) { f.Set(0xF410, 0).Program(P, 0x10); }},
      {"program flash, bank 1", 0x10, [](Flash& f) { f.Ready(1).Program(P, 0x10); }},
      {"data flash, bank 0", 0x10, [](Flash& f) { f.Ready(0).Program(X, 0x2010); }},
      {"third word", 0x10, [](Flash& f) { f.Ready(0).Latch(P, 0xE).Latch(P, 0xF).Program(P, 0x10); }},
      {"gap between words", 0x10, [](Flash& f) { f.Ready(0).Latch(P, 0xE).Program(P, 0x10); }},
      {"two boot words", 0x10, [](Flash& f) { f.Ready(0).Latch(P, 0x20010).Program(P, 0x20011); }},
      {"FMCMD without a latch", 0x10, [](Flash& f) { f.Ready(0).Command(0x20); }},
      {"launch without FMCMD", 0x10, [](Flash& f) { f.Ready(0).Latch(P, 0x10).Set(0xF413, 0x80); }},
      {"unknown command", 0x10, [](Flash& f) { f.Ready(0).Latch(P, 0x10).Command(0x05); }},
      {"buffer full", 0x10, [](Flash& f) { f.Ready(0).Program(P, 0x100).Program(P, 0x101).Latch(P, 0x10); }},
      {"program flash protected", 0x20, [](Flash& f) { f.Clocked().Set(0xF411, 0).Program(P, 0x10); }},
      {"boot flash protected", 0x20, [](Flash& f) { f.Clocked().Set(0xF410, 0).Program(P, 0x20010); }},
      {"data flash protected", 0x20,
       [](Flash& f) { f.Clocked().Set(0xF410, 0).Set(0xF411, 0).Set(0xF401, 1).Program(X, 0x2010); }},
  };
  for (const auto& misuse : cases) {
    SCOPED_TRACE(misuse.name);
    SetUp();
    misuse.steps(*this);
    EXPECT_EQ(Wait(100000).Status(), 0x00C0 | misuse.flag);
    for (const auto& [space, address] : {std::pair{P, 0x000Eu}, {P, 0x0010u}, {P, 0x20010u}, {X, 0x2010u}})
      EXPECT_EQ(flash->Cell(space, address), 0xFFFF);
    EXPECT_EQ(Set(0xF413, 0x30 ^ misuse.flag).Status(), 0x00C0 | misuse.flag);
    EXPECT_EQ(Set(0xF413, misuse.flag).Status(), 0x00C0);
  }
}

// A closed, never-opened or unplugged adapter moves nothing; only the target's device opens.
TEST(VirtualD2XX, DeadHandlesMoveNothing) {
  qzsim::BenchConfig config;
  config.devices = 3;
  config.targetDevice = 1;
  config.adapter.unplugAfterWrites = 2;
  qzsim::ConfigureBench(config);
  FT_HANDLE handle = nullptr;
  EXPECT_NE(FT_Open(0, &handle), FT_OK);
  ASSERT_EQ(FT_Open(1, &handle), FT_OK);
  EXPECT_NE(FT_Open(1, &handle), FT_OK) << "open already";
  Bytes bytes{0xAA};
  DWORD count = 0;
  EXPECT_EQ(FT_SetBitMode(handle, 0, 0x02), FT_OK);
  EXPECT_EQ(FT_Write(handle, bytes.data(), 1, &count), FT_OK);
  EXPECT_EQ(FT_Write(handle, bytes.data(), 1, &count), FT_OK);  // unplugged after it
  for (FT_HANDLE dead : {handle, FT_HANDLE(&count)}) {
    count = 77;
    EXPECT_NE(FT_Write(dead, bytes.data(), 1, &count), FT_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_NE(FT_GetQueueStatus(dead, &count), FT_OK);
    EXPECT_NE(FT_Read(dead, bytes.data(), 1, &count), FT_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(bytes, Bytes{0xAA});
  }
  EXPECT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
  EXPECT_EQ(count, 2u) << "one device fewer";
}

// Rows of eight words at multiples of eight, erased rows left out, load back; rows of any length
// load at any address; a bad row says which line.
TEST(FlashState, RowsSaveAndLoadBack) {
  qzsim::FlashModule flash(qzsim::MemoryMapOf(1), {});
  std::istringstream in("# by hand\n\nP 1FFFC: 1 22 333 4444\n  X 2FFF:   abcd\n");
  EXPECT_EQ(qzsim::LoadFlashState(flash, in), "");
  std::ostringstream out;
  qzsim::SaveFlashState(flash, out);
  EXPECT_EQ(out.str(),
            "# qzflash-sim flash state: space, word address, eight words; erased rows left out\n"
            "P 1FFF8: FFFF FFFF FFFF FFFF 0001 0022 0333 4444\n"
            "X 02FF8: FFFF FFFF FFFF FFFF FFFF FFFF FFFF ABCD\n");
  std::istringstream bad("# ok\nP 0FFFF: 0000\nX 03000: 0000\n");
  EXPECT_EQ(qzsim::LoadFlashState(flash, bad), "line 3: X:03000 is not flash of this target");
}

}  // namespace
