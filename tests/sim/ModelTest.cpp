// The model of the silicon on its own, from the target's side: the TAP controller, the MPSSE
// engine against a probe on the connector, and the flash module's rules.
#include <gtest/gtest.h>

#include <bit>
#include <functional>
#include <memory>
#include <span>
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

// "1B 00 00" as bytes.
Bytes Hex(const std::string& hex) {
  Bytes bytes;
  for (std::size_t i = 0; i < hex.size(); i += hex[i] == ' ' ? 1 : 2)
    if (hex[i] != ' ') bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

// Records what the connector sees: TMS and TDI at each rising edge, " r0"/" r1" when the reset
// line changes. TDO shows the bits of `tdo` from bit 0 on, the next one after each falling edge.
class Probe : public qzsim::JtagPins {
 public:
  std::string tms, tdi, resets;
  std::uint32_t tdo = ~0u;
  bool reset = true;

  void SetResetLine(bool high) override { resets += high == reset ? "" : high ? " r1" : " r0", reset = high; }
  void ClockRise(bool tmsLevel, bool tdiLevel) override { tms += char('0' + tmsLevel), tdi += char('0' + tdiLevel); }
  void ClockFall() override { tdo = std::rotr(tdo, 1); }
  bool Tdo() const override { return (tdo & 1) != 0; }
};

// What reaches the target and what the engine answers, each batch from the set-up's pins (TCK,
// TDI, TMS and the reset line outputs, TMS high, TDI low), in one write and cut into three at
// every two bytes. Opcodes 0x10-0x3F: bit 0 writes on the falling edge, 1 bit mode, 2 reads on
// the falling edge, 3 LSB first, 4 writes TDI, 5 reads TDO; 0x4A-0x6F write TMS, bit 7 held on
// TDI. A level written on the rising edge reaches the target a clock late; bits read MSB first
// move up, LSB first down; a pin that is no output is pulled high, TCK then clocks nothing; the
// reset line (bit 4) is low only as an output driven low; loopback reads TDI as it is on the
// edge read; an unknown opcode is echoed and the next byte is an opcode.
TEST(Mpsse, WhatReachesTheTarget) {
  const struct {
    const char* name;
    std::string batch, tms, tdi, answers, resets = "";
    std::uint32_t tdo = ~0u;
    unsigned warnings = 0;
  } cases[] = {
      {"0x1A: a clock late, in time with three-phase", "1B 00 00 1A 02 07 8C 1A 02 02", "1111111", "0011010", ""},
      {"inputs pulled high", "80 00 01 1B 01 00", "11", "11", ""},
      {"TCK an input", "80 18 1A 3B 07 00", "", "", "FF"},
      {"reset line", "80 08 1B 80 18 1B 80 00 0B", "", "", "", " r0 r1"},
      {"bytes MSB first; LSB first, read falling", "31 01 00 A5 0F 3D 01 00 A5 0F", std::string(32, '1'),
       "10100101000011111010010111110000", "AC59359A", "", 0x9A359A35},
      {"3 bits each way", "33 02 C0 3B 02 03", "111111", "110110", "03C0", "", 0x36},
      {"TMS with a read, TMS late", "6B 04 9C 4A 01 01", "0011111", "1111100", "A8", "", 0x35},
      {"pins, loopback", "81 83 82 A5 F0 83 84 81 85 81", "", "", "FCFFAFF8FC"},
      {"loopback", "84 39 00 00 C3 3A 03 05 3E 03 05 85 2A 07", std::string(24, '1'), "110000111101010100000000", "C3B050FF"},
      {"free clocks", "8E 02 8F 01 00 9C 00 00 9D 00 00 94 80 18 3B 9C 00 00 9D 00 00", std::string(35, '1'), std::string(35, '0'), ""},
      {"settings echo nothing, unknown opcodes do", "96 8C 8D 97 8B 8A 87 2A 00 AA 2A 00 AB 00 9E 90 4C 2A 00", "111", "000", "80FAAA80FAABFA00FA9EFA90FA4C80", "", ~0u, 6},
  };
  for (const auto& c : cases) {
    const Bytes batch = Hex("8A 97 8D 80 18 1B 86 1D 00 " + c.batch);
    for (std::size_t first = 0; first <= batch.size(); ++first) for (std::size_t second = first; second <= batch.size(); ++second) {
      SCOPED_TRACE(std::string(c.name) + ", cut at " + std::to_string(first) + " and " + std::to_string(second));
      Probe probe;
      qzsim::Warnings warnings;
      qzsim::Mpsse mpsse(probe, warnings);
      mpsse.Enter(0);
      qzsim::EngineOutput reply;
      probe.tdo = c.tdo;
      const std::span<const std::uint8_t> bytes(batch);
      for (const auto write : {bytes.first(first), bytes.subspan(first, second - first), bytes.subspan(second)}) mpsse.Run(write, 0, reply);
      EXPECT_EQ(probe.tms, c.tms);
      EXPECT_EQ(probe.tdi, c.tdi);
      EXPECT_EQ(qzsim::TraceHex(reply.bytes.data(), reply.bytes.size()), c.answers);
      EXPECT_EQ(probe.resets, c.resets);
      EXPECT_EQ(warnings.Total(), c.warnings);
    }
  }
}

// When the host sees an answer: the bytes a poll at each time finds. A TCK period is
// 60 MHz / ((1 + divisor) x 2), 12 MHz / ((1 + divisor) x 2) with divide-by-5 on (0x8B); a write
// queues behind the clocks of the one before. The chip passes its buffer on at a send-immediate
// (0x87), when 510 bytes fill a packet, or when its latency timer runs out after data came in.
// The batch: 7 TMS clocks, 8 read (the answer, at clock 15), 4 free, 8 written: 27 clocks.
// Three-phase clocking (0x8C) makes a data or TMS bit 1.5 periods. GPIOL1 is wired to nothing,
// pulled high: waiting (0x88/0x89) or clocking (0x94/0x95, 0x9C/0x9D n x 8) until it is high
// ends at once, until it is low lasts 65536 x 8 periods, or n x 8 clocks.
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
      {"three-phase: data and TMS bits 1.5 us", 2, {{0, "8A 8C 861D00 " + batch + "87"}}, {{38, 0}, {39, 1}}},
      {"levels GPIOL1 has: no wait", 2, {{0, "8A 861D00 96 88 94 9C0000 " + batch + "87"}}, {{26, 0}, {27, 1}}},
      {"levels it never has: 524288 periods", 2, {{0, "8A 861D00 89 95 9DFF00 2A07 87"}}, {{1050631, 0}, {1050632, 1}}},
      {"65536 bytes at 30 MHz", 0, {{0, "8A 860000 8F0000 28FFFF 87"}}, {{17476, 65280}, {17477, 65536}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    qzsim::Warnings warnings;
    qzsim::StuckTdo connector(true);
    qzsim::VirtualAdapter adapter(connector, warnings, {});
    adapter.SetBitMode(qzsim::VirtualAdapter::kModeMpsse, 0);
    if (c.latencyMs) adapter.SetLatencyMs(c.latencyMs);
    for (const auto& [arrival, hex] : c.writes) adapter.Write(Hex(hex), arrival);
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
