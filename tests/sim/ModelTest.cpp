// The model of the silicon on its own, from the target's side: the TAP controller, the MPSSE
// engine against a probe on the connector, and the flash module's rules.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Bench.h"
#include "FlashModule.h"
#include "Mpsse.h"
#include "TapController.h"
#include "VirtualAdapter.h"

namespace {

using qzsim::Space;
using Bytes = std::vector<std::uint8_t>;
using S = qzsim::TapState;
constexpr Space P = Space::P;
constexpr Space X = Space::X;

// A run of identical calls that moved nothing is one line with its count; past 256 lines of such
// calls the rest of the stretch is one count, so polling cannot outgrow what the run moves.
TEST(BenchTrace, CallsThatMoveNothingAreCounted) {
  std::ostringstream out;
  qzsim::BenchConfig config;
  config.trace = &out;
  qzsim::Bench bench(config);
  for (int i = 0; i < 3; ++i) bench.Trace("FT_GetQueueStatus 0 status 0", false);
  bench.Trace("read ", false);
  bench.Trace("read ", false);
  bench.Trace("write AA", true);
  for (int i = 0; i < 100000; ++i) bench.Trace(i % 2 ? "sleep 1" : "sleep 2", false);
  bench.Trace("write AA", true);
  bench.Trace("sleep 3", false);
  bench.EndTrace();
  std::string expected = "FT_GetQueueStatus 0 status 0 times 3\nread times 2\nwrite AA\n";
  for (int i = 0; i < 256; ++i) expected += i % 2 ? "sleep 1\n" : "sleep 2\n";
  EXPECT_EQ(out.str(), expected + "omitted 99744\nwrite AA\nsleep 3\n");
}

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
// line; TDO stays high.
class Probe : public qzsim::JtagPins {
 public:
  std::string wire;

  void SetResetLine(bool high) override { wire += high ? " r1" : " r0"; }
  void ClockRise(bool tms, bool tdi) override { wire += {' ', char('0' + tms), char('0' + tdi)}; }
  void ClockFall() override {}
  bool Tdo() const override { return true; }
};

// What reaches the target, write by write, each case from the set-up's pins (TCK, TDI, TMS and
// the reset line outputs, TMS high); "=XX" is a reply byte. Data go LSB first; 0x1A changes TDI
// on the rising edge, so the target sees it a clock late; a pin that is no output is pulled
// high, TCK then clocks nothing; the reset line (bit 4) is low only as an output driven low; read
// bits enter the reply byte at the top; an unknown opcode is echoed and the rest of its write
// dropped; a command cut by the end of a write runs when its bytes arrive. The commands the
// program sends reach the model end to end, through every qzflash-sim run.
TEST(Mpsse, WhatReachesTheTarget) {
  const struct {
    const char* name;
    std::vector<Bytes> writes;
    std::string wire;
  } cases[] = {
      {"0x1A: a clock late", {{0x1B, 0x00, 0x00}, {0x1A, 0x02, 0x07}}, " 10 10 11 11"},
      {"inputs pulled high", {{0x80, 0x00, 0x01, 0x1B, 0x01, 0x00}}, " r1 11 11"},
      {"TCK an input", {{0x80, 0x18, 0x1A, 0x3B, 0x07, 0x00}}, " r1 =FF"},
      {"reset line", {{0x80, 0x08, 0x1B}, {0x80, 0x18, 0x1B}, {0x80, 0x00, 0x0B}}, " r0 r1 r1"},
      {"bad command", {{0xAA, 0x1B, 0x07, 0xFF}, {0x1B, 0x00, 0x01, 0x84, 0x1B}}, " =FAAA 11 =FA84"},
      {"command cut", {{0x3B, 0x07}, {0x55, 0x2A}, {0x00}}, " 11 10 11 10 11 10 11 10 =FF 10 =80"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Probe probe;
    qzsim::Warnings warnings;
    qzsim::Mpsse mpsse(probe, warnings);
    mpsse.Enter(0);
    qzsim::EngineOutput reply;
    mpsse.Run(Bytes{0x8A, 0x97, 0x8D, 0x80, 0x18, 0x1B, 0x86, 0x1D, 0x00}, 0, reply);
    probe.wire.clear();
    for (const Bytes& write : c.writes) {
      reply.Clear();
      mpsse.Run(write, 0, reply);
      if (!reply.bytes.empty()) probe.wire += " =" + qzsim::TraceHex(reply.bytes.data(), reply.bytes.size());
    }
    EXPECT_EQ(probe.wire, c.wire);
    EXPECT_EQ(warnings.Total(), std::string(c.name) == "bad command" ? 2u : 0u);
  }
}

// When the host sees an answer: the bytes a poll at each time finds. A TCK period is
// 60 MHz / ((1 + divisor) x 2), 12 MHz / ((1 + divisor) x 2) with divide-by-5 on (0x8B); a write
// queues behind the clocks of the one before. The chip passes its buffer on at a send-immediate
// (0x87), when 510 bytes fill a packet, or when its latency timer runs out after data came in.
// The batch: 7 TMS clocks, 8 read (the answer, at clock 15), 4 free, 8 written: 27 clocks.
TEST(VirtualAdapter, AnswersComeWhenClockedAndPassedOn) {
  const std::string batch = "4B0600 2A07 8E03 1B0700 ";
  const std::string reads510 = [] { std::string r; for (int i = 0; i < 510; ++i) r += "2A07"; return r; }();
  const struct { const char* name; std::uint8_t latencyMs; std::vector<std::pair<std::uint64_t, std::string>> writes;
                 std::vector<std::pair<std::uint64_t, std::size_t>> seen; } cases[] = {
      {"1 MHz", 2, {{0, "8A 861D00 " + batch + "87"}}, {{26, 0}, {27, 1}}},
      {"5 MHz: 5.4 us", 2, {{0, "8A 860500 " + batch + "87"}}, {{5, 0}, {6, 1}}},
      {"divide-by-5: 200 kHz", 2, {{0, "8A 8B 861D00 " + batch + "87"}}, {{134, 0}, {135, 1}}},
      {"latency 2 ms", 2, {{0, "8A 861D00 " + batch}}, {{2014, 0}, {2015, 1}}},
      {"send-immediate before the answer", 2, {{0, "8A 861D00 87 " + batch}}, {{2014, 0}, {2015, 1}}},
      {"behind the write before", 2, {{0, "8A 861D00 " + batch}, {10, "2A07 87"}}, {{34, 0}, {35, 2}}},
      {"a full packet", 0, {{0, "8A 861D00 " + reads510 + "2A07"}}, {{4079, 0}, {4080, 510}, {20087, 510}, {20088, 511}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    qzsim::Warnings warnings;
    qzsim::StuckTdo connector(true);
    qzsim::VirtualAdapter adapter(connector, warnings, {});
    adapter.SetBitMode(qzsim::VirtualAdapter::kModeMpsse, 0);
    if (c.latencyMs) adapter.SetLatencyMs(c.latencyMs);
    for (const auto& [arrival, hex] : c.writes) {
      Bytes bytes;
      for (std::size_t i = 0; i < hex.size(); i += hex[i] == ' ' ? 1 : 2)
        if (hex[i] != ' ') bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
      adapter.Write(bytes, arrival);
    }
    for (const auto& [time, count] : c.seen) EXPECT_EQ(adapter.Poll(time), count) << time << " us";
    EXPECT_EQ(warnings.Total(), 0u);
  }
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
  Flash& Latch(Space space, std::uint32_t address, std::uint16_t data = 0) { return flash->WriteArray(space, address, data), *this; }
  Flash& Command(std::uint16_t command) { return Set(0xF414, command).Set(0xF413, 0x80); }
  Flash& Program(Space space, std::uint32_t address, std::uint16_t data = 0) { return Latch(space, address, data).Command(0x20); }
  Flash& Wait(std::uint64_t micros) { return flash->AdvanceTo(now += micros), *this; }

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
  qzsim::FlashFaults stuck;
  stuck.protectionStuck = true;
  const struct { std::string name; std::uint16_t flag; std::function<void(Flash&)> steps; } cases[] = {
      {"no divider", 0x10, [](Flash& f) { f.Set(0xF410, 0).Program(P, 0x10); }},
      {"program flash, bank 1", 0x10, [](Flash& f) { f.Ready(1).Program(P, 0x10); }},
      {"third word", 0x10, [](Flash& f) { f.Ready(0).Latch(P, 0xE).Latch(P, 0xF).Program(P, 0x10); }},
      {"FMCMD without a latch", 0x10, [](Flash& f) { f.Ready(0).Command(0x20); }},
      {"unknown command", 0x10, [](Flash& f) { f.Ready(0).Latch(P, 0x10).Command(0x05); }},
      {"buffer full", 0x10, [](Flash& f) { f.Ready(0).Program(P, 0x100).Program(P, 0x101).Latch(P, 0x10); }},
      {"program flash protected", 0x20, [](Flash& f) { f.Clocked().Set(0xF411, 0).Program(P, 0x10); }},
      {"boot flash protected", 0x20, [](Flash& f) { f.Clocked().Set(0xF410, 0).Program(P, 0x20010); }},
      {"data flash protected", 0x20, [](Flash& f) { f.Clocked().Set(0xF410, 0).Set(0xF411, 0).Set(0xF401, 1).Program(X, 0x2010); }},
      {"program flash, bank 1 unprotected", 0x20, [](Flash& f) { f.Clocked().Set(0xF411, 0).Set(0xF401, 1).Set(0xF410, 0).Set(0xF401, 0).Program(P, 0x10); }},
      {"bank 2", 0x10, [](Flash& f) { f.Ready(2).Program(P, 0x10); }},
      {"divider lost by reset", 0x10, [](Flash& f) { f.Clocked().flash->Reset(); f.Set(0xF410, 0).Program(P, 0x10); }},
      {"protection stuck", 0x20, [&stuck](Flash& f) { f.flash = std::make_unique<qzsim::FlashModule>(qzsim::MemoryMapOf(1), stuck); f.Ready(0).Program(P, 0x20010); }},
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

// Read-backs after writes, then after a reset: FMCLKD takes its first write only, DIVLD (0x80)
// telling so; FMCR keeps bits 0-1 and picks the bank whose FMPROT is read and written (banks 2
// and 3 have none); FMPROT and FMPROTB can be lowered, never raised.
TEST_F(Flash, RegistersReadBack) {
  const struct { std::vector<std::pair<std::uint32_t, std::uint16_t>> writes; std::uint32_t read; std::uint16_t value, afterReset; } cases[] = {
      {{{0xF400, 0x152}, {0xF400, 0x13}}, 0xF400, 0x00D2, 0x0000},
      {{{0xF401, 0x07}}, 0xF401, 0x0003, 0x0000},
      {{{0xF410, 0x00FF}, {0xF410, 0xFF0F}}, 0xF410, 0x000F, 0xFFFF},
      {{{0xF410, 0}, {0xF401, 1}}, 0xF410, 0xFFFF, 0xFFFF},
      {{{0xF401, 1}, {0xF410, 0x1234}, {0xF401, 0}, {0xF410, 0x00FF}, {0xF401, 1}}, 0xF410, 0x1234, 0xFFFF},
      {{{0xF401, 3}, {0xF410, 0}, {0xF401, 0}}, 0xF410, 0xFFFF, 0xFFFF},
      {{{0xF401, 2}}, 0xF410, 0x0000, 0xFFFF},
      {{{0xF410, 0}, {0xF411, 0x0F0F}, {0xF411, 0xFFF0}}, 0xF411, 0x0F00, 0xFFFF},
  };
  for (const auto& c : cases) {
    SetUp();
    for (const auto& [address, value] : c.writes) Set(address, value);
    EXPECT_EQ(flash->ReadRegister(c.read), c.value) << std::hex << c.read << " after " << c.writes.size();
    flash->Reset();
    EXPECT_EQ(flash->ReadRegister(c.read), c.afterReset) << std::hex << c.read << " after " << c.writes.size();
  }
}

}  // namespace
