// The JTAG layer on its own: the TAP controller, one TAP, and the adapter's MPSSE engine
// against a probe on the connector.
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "JtagPins.h"
#include "Mpsse.h"
#include "Tap.h"
#include "TapController.h"
#include "Warnings.h"

namespace {

using qzsim::NextTapState;
using qzsim::TapStateName;
using S = qzsim::TapState;
using Bytes = std::vector<std::uint8_t>;

// IEEE 1149.1: every state and where TMS low and TMS high lead.
TEST(TapController, EveryTransition) {
  const S table[][3] = {
      {S::TestLogicReset, S::RunTestIdle, S::TestLogicReset},
      {S::RunTestIdle, S::RunTestIdle, S::SelectDrScan},
      {S::SelectDrScan, S::CaptureDr, S::SelectIrScan},
      {S::CaptureDr, S::ShiftDr, S::Exit1Dr},
      {S::ShiftDr, S::ShiftDr, S::Exit1Dr},
      {S::Exit1Dr, S::PauseDr, S::UpdateDr},
      {S::PauseDr, S::PauseDr, S::Exit2Dr},
      {S::Exit2Dr, S::ShiftDr, S::UpdateDr},
      {S::UpdateDr, S::RunTestIdle, S::SelectDrScan},
      {S::SelectIrScan, S::CaptureIr, S::TestLogicReset},
      {S::CaptureIr, S::ShiftIr, S::Exit1Ir},
      {S::ShiftIr, S::ShiftIr, S::Exit1Ir},
      {S::Exit1Ir, S::PauseIr, S::UpdateIr},
      {S::PauseIr, S::PauseIr, S::Exit2Ir},
      {S::Exit2Ir, S::ShiftIr, S::UpdateIr},
      {S::UpdateIr, S::RunTestIdle, S::SelectDrScan},
  };
  for (const auto& [from, low, high] : table) {
    EXPECT_EQ(NextTapState(from, false), low) << TapStateName(from) << ", TMS 0";
    EXPECT_EQ(NextTapState(from, true), high) << TapStateName(from) << ", TMS 1";
    S state = from;
    for (int i = 0; i < 5; ++i) state = NextTapState(state, true);
    EXPECT_EQ(state, S::TestLogicReset) << "five TMS-high clocks from " << TapStateName(from);
  }
}

// A TAP with a 6-bit instruction register (capture 0x21, reset instruction 0x3F) and one
// 12-bit data register.
class ProbeTap : public qzsim::Tap {
 public:
  ProbeTap() : Tap(6, 0x21, 0x3F) {}
  std::vector<std::uint64_t> updates;
  int resets = 0;

  // One TCK; returns the level TDO showed before the rising edge.
  std::optional<bool> Clock(int tms, int tdi = 0, bool linked = true) {
    const auto tdo = Tdo();
    Rise(tms != 0, tdi != 0, linked);
    Fall(linked);
    return tdo;
  }
  void Walk(std::initializer_list<int> tms) {
    for (int level : tms) Clock(level);
  }
  // Shifts `width` bits with TMS high on the last; returns what TDO gave.
  std::uint64_t ShiftBits(std::uint64_t in, unsigned width) {
    std::uint64_t out = 0;
    for (unsigned bit = 0; bit < width; ++bit) {
      const auto tdo = Clock(bit + 1 == width, (in >> bit) & 1);
      EXPECT_TRUE(tdo.has_value()) << "bit " << bit;
      if (tdo.value_or(false)) out |= 1ull << bit;
    }
    return out;
  }

 protected:
  qzsim::ScanRegister CaptureDr() override { return {0xABC, 12}; }
  void UpdateDr(std::uint64_t value) override { updates.push_back(value); }
  void ResetLogic() override { ++resets; }
};

TEST(Tap, ScansCaptureShiftAndUpdateOnTheirEdgesInTheChainOnly) {
  ProbeTap tap;
  tap.Walk({0, 1, 1, 0, 0});
  ASSERT_EQ(tap.State(), S::ShiftIr);
  EXPECT_EQ(tap.ShiftBits(0x35, 6), 0x21u);  // 0x35: the top bit must survive the update
  EXPECT_EQ(tap.Instruction(), 0x3Fu) << "the instruction changes only at Update-IR";
  tap.Clock(1);
  EXPECT_EQ(tap.Instruction(), 0x35u);
  EXPECT_FALSE(tap.Tdo().has_value()) << "TDO is driven only in the Shift states";

  // Data: five bits, Pause-DR, seven more; one update with exactly the bits shifted in.
  tap.Walk({1, 0, 0});
  std::uint64_t out = tap.ShiftBits(0x1B, 5);
  tap.Walk({0, 1, 0});
  out |= tap.ShiftBits(0x5F, 7) << 5;
  EXPECT_EQ(out, 0xABCu);
  EXPECT_TRUE(tap.updates.empty());
  tap.Clock(1);
  EXPECT_EQ(tap.updates, (std::vector<std::uint64_t>{0x5Fu << 5 | 0x1B}));

  tap.Walk({1, 1, 1, 1, 1});
  EXPECT_EQ(tap.Instruction(), 0x3Fu) << "Test-Logic-Reset restores the reset instruction";

  // Out of the chain a TAP follows TMS, but neither drives TDO nor shifts nor updates.
  ProbeTap unlinked;
  for (int tms : {0, 1, 0, 0, 0, 1, 1}) EXPECT_FALSE(unlinked.Clock(tms, 1, false).has_value());
  EXPECT_EQ(unlinked.State(), S::UpdateDr);
  EXPECT_TRUE(unlinked.updates.empty());
  for (int tms : {1, 1, 1}) unlinked.Clock(tms, 0, false);
  EXPECT_GT(unlinked.resets, 0) << "Test-Logic-Reset reaches every TAP";
}

// Records what the connector sees: "TMS TDI" at each rising edge, "r0"/"r1" for the reset
// line; TDO plays a script, one level per falling edge.
class Probe : public qzsim::JtagPins {
 public:
  std::string wire;
  int falls = 0;
  std::deque<bool> tdoScript;
  bool tdo = true;

  void SetResetLine(bool high) override { wire += high ? " r1" : " r0"; }
  void ClockRise(bool tms, bool tdi) override { wire += {' ', char('0' + tms), char('0' + tdi)}; }
  void ClockFall() override {
    ++falls;
    if (!tdoScript.empty()) {
      tdo = tdoScript.front();
      tdoScript.pop_front();
    }
  }
  bool Tdo() const override { return tdo; }
};

class MpsseTest : public ::testing::Test {
 protected:
  // Clock set-up and pins: TCK, TDI, TMS and the reset line outputs, TMS high.
  MpsseTest() : mpsse(probe, warnings) {
    mpsse.Enter();
    EXPECT_EQ(Run({0x8A, 0x97, 0x8D, 0x80, 0x18, 0x1B, 0x86, 0x1D, 0x00}), Bytes{});
  }
  Bytes Run(const Bytes& bytes) {
    Bytes reply;
    mpsse.Run(bytes, reply);
    return reply;
  }

  Probe probe;
  qzsim::Warnings warnings;
  qzsim::Mpsse mpsse;
};

// What reaches the target, write by write, TDO high, each case from the set-up's pins; "=XX"
// is a reply byte. 0x1A changes TDI on the rising edge, so the target sees it a clock late; a
// TMS command holds bit 7 on TDI; a pin that is no output is pulled high, TCK then clocks
// nothing; the reset line (bit 4) is low only as an output driven low; an unknown opcode is
// echoed and the rest of its write dropped; a command cut by the end of a write runs when its
// bytes arrive.
TEST_F(MpsseTest, WhatReachesTheTarget) {
  const struct {
    const char* name;
    std::vector<Bytes> writes;
    std::string wire;
  } cases[] = {
      {"0x1B: LSB first, TMS kept", {{0x1B, 0x02, 0x05}}, " 11 10 11"},
      {"0x1A: a clock late", {{0x1B, 0x00, 0x00}, {0x1A, 0x02, 0x07}}, " 10 10 11 11"},
      {"0x4B: TDI bit 7, TMS kept", {{0x4B, 0x04, 0x86}, {0x1B, 0x00, 0x00}}, " 01 11 11 01 01 00"},
      {"0x4B: seven clocks at most", {{0x4B, 0x07, 0x7F}}, " 10 10 10 10 10 10 10"},
      {"inputs pulled high", {{0x80, 0x00, 0x01, 0x1B, 0x01, 0x00}}, " r1 11 11"},
      {"TCK an input", {{0x80, 0x18, 0x1A, 0x3B, 0x07, 0x00}}, " r1 =FF"},
      {"reset line", {{0x80, 0x08, 0x1B}, {0x80, 0x18, 0x1B}, {0x80, 0x00, 0x0B}}, " r0 r1 r1"},
      {"bad command",
       {{0xAA, 0x1B, 0x07, 0xFF}, {0x1B, 0x00, 0x01, 0x84, 0x1B}},
       " =FA =AA 11 =FA =84"},
      {"command cut", {{0x3B, 0x07}, {0x55, 0x2A}, {0x00}}, " 11 10 11 10 11 10 11 10 =FF 10 =80"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    probe.wire.clear();
    for (const Bytes& write : c.writes) {
      for (std::uint8_t byte : Run(write)) {
        char text[8];
        std::snprintf(text, sizeof text, " =%02X", byte);
        probe.wire += text;
      }
    }
    EXPECT_EQ(probe.wire, c.wire);
    Run({0x80, 0x18, 0x1B});
  }
  EXPECT_EQ(warnings.Of(qzsim::Warning::BadCommandEcho), 2u);
}

TEST_F(MpsseTest, ReadsFillTheReplyByteFromTheTopOneByteEach) {
  probe.tdoScript = {false, true, true, false, true, false, false, false};
  EXPECT_EQ(Run({0x2A, 0x02}), (Bytes{0xA0}));  // 1, 0, 1 in bits 5, 6, 7
  EXPECT_EQ(Run({0x6B, 0x00, 0x03}), (Bytes{0x80}));
  EXPECT_EQ(Run({0x3B, 0x03, 0xFF}), (Bytes{0x20}));  // 0, 1, 0, 0 in bits 4 to 7
  probe.tdo = true;
  EXPECT_EQ(Run({0x3E, 0x07, 0x00}), (Bytes{0xFF}));
  probe.tdoScript = {false, false, false, false, false, false, false, false};
  EXPECT_EQ(Run({0x2E, 0x07}), (Bytes{0x01})) << "only the first bit was high";
  probe.falls = 0;
  probe.tdo = true;
  EXPECT_EQ(Run({0x2A, 0x07, 0x1B, 0x07, 0x00, 0x3B, 0x07, 0x00, 0x6B, 0x06, 0x00, 0x8E, 0x07}),
            (Bytes{0xFF, 0xFF, 0xFE}));
  EXPECT_EQ(probe.falls, 8 + 8 + 8 + 7 + 8);
}

TEST_F(MpsseTest, EnteringMpsseModeStartsTheClockSetUpOverAndEarlyScansAreCounted) {
  EXPECT_DOUBLE_EQ(mpsse.Clock().TckHz(), 1e6) << "divisor 0x1D, divide-by-5 off";
  mpsse.Enter();
  EXPECT_EQ(mpsse.LowDirections(), 0);
  Run({0x80, 0x18, 0x1B, 0x4B, 0x04, 0xFF, 0x2A, 0x07});
  Run({0x8A, 0x97, 0x8D, 0x86, 0x1D, 0x00, 0x4B, 0x04, 0xFF});
  EXPECT_EQ(warnings.Of(qzsim::Warning::ScanBeforeClockSetup), 2u);
}

}  // namespace
