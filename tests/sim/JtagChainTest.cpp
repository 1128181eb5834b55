#include <gtest/gtest.h>

#include "Bench.h"
#include "D2XX.h"
#include "JtagScript.h"

namespace {

using simtest::Bytes;
using simtest::Transfer;

// Test-Logic-Reset, IR 0x02, 32-bit DR read: the program's IDCODE read.
const Bytes kReadIdcode = {0x4B, 0x04, 0xFF, 0x4B, 0x04, 0x06, 0x3B, 0x06, 0x02, 0x6B, 0x00,
                           0x43, 0x4B, 0x01, 0x01, 0x4B, 0x02, 0x81, 0x2A, 0x07, 0x2A, 0x07,
                           0x2A, 0x07, 0x2A, 0x07, 0x4B, 0x00, 0x43, 0x4B, 0x01, 0x01};

// IR 0x05, then 0x2 into the 4-bit link register: the core TAP replaces the chip-level TAP.
const Bytes kSelectCoreTap = {0x4B, 0x04, 0x06, 0x3B, 0x06, 0x05, 0x6B, 0x00,
                              0x43, 0x4B, 0x01, 0x01, 0x4B, 0x02, 0x81, 0x3B,
                              0x02, 0x02, 0x6B, 0x00, 0x43, 0x4B, 0x01, 0x01};

class JtagChain : public ::testing::Test {
 protected:
  void Configure(qzsim::BenchConfig config) {
    qzsim::ConfigureBench(config);
    handle = simtest::OpenMpsse();
  }
  void SetUp() override { Configure({}); }
  FT_HANDLE handle = nullptr;
};

TEST_F(JtagChain, IdcodeReadAnswersTheInstructionCaptureThenTheIdcode) {
  EXPECT_EQ(Transfer(handle, kReadIdcode), (Bytes{0x02, 0x00, 0x1D, 0x60, 0xF4, 0x01}));

  qzsim::BenchConfig variant2;
  variant2.target = {qzsim::kIdcodeVariant2, 2, {}};
  Configure(variant2);
  EXPECT_EQ(Transfer(handle, kReadIdcode), (Bytes{0x02, 0x00, 0x1D, 0x00, 0xF4, 0x01}));

  qzsim::BenchConfig unknown;
  unknown.target.idcode = 0x02F4601D;
  Configure(unknown);
  EXPECT_EQ(Transfer(handle, kReadIdcode), (Bytes{0x02, 0x00, 0x1D, 0x60, 0xF4, 0x02}));
}

TEST_F(JtagChain, IdcodeCanBeReadWhileTheTargetIsHeldInReset) {
  EXPECT_TRUE(Transfer(handle, {0x80, 0x08, 0x1B}).empty());
  EXPECT_TRUE(qzsim::CurrentBench().Controller().InReset());
  EXPECT_EQ(Transfer(handle, kReadIdcode), (Bytes{0x02, 0x00, 0x1D, 0x60, 0xF4, 0x01}));
  Transfer(handle, {0x80, 0x18, 0x1B});
  EXPECT_FALSE(qzsim::CurrentBench().Controller().InReset());
}

TEST_F(JtagChain, IdcodeIsTheInstructionAfterTestLogicReset) {
  // A bare DR read straight after the TAP reset reads the IDCODE.
  EXPECT_EQ(Transfer(handle, {0x4B, 0x05, 0x1F, 0x4B, 0x02, 0x81, 0x2A, 0x07, 0x2A, 0x07,
                              0x2A, 0x07, 0x2A, 0x07, 0x4B, 0x00, 0x43, 0x4B, 0x01, 0x01}),
            (Bytes{0x1D, 0x60, 0xF4, 0x01}));
}

TEST_F(JtagChain, AllOnesAndUnknownInstructionsSelectOneBitBypass) {
  for (std::uint8_t instruction : {0xFF, 0x33}) {
    simtest::JtagScript script;
    script.Reset();
    const int ir = script.Ir(instruction, 8);
    const int dr = script.Dr(0b1011001, 7);
    const Bytes reply = Transfer(handle, script.Mpsse());
    EXPECT_EQ(script.Captured(reply, ir), 0x01u) << "IR capture value";
    // Bypass captures 0, then shows each TDI bit one clock later.
    EXPECT_EQ(script.Captured(reply, dr), 0b0110010u) << int{instruction};
  }
}

TEST_F(JtagChain, CoreTapTakesOverTheChainAfterTheLinkWrite) {
  EXPECT_EQ(Transfer(handle, kSelectCoreTap).size(), 4u);
  EXPECT_TRUE(qzsim::CurrentBench().Controller().ChipTapState().CoreTapLinked());
  // A 4-bit IR scan now captures the core TAP's 0x1.
  EXPECT_EQ(
      Transfer(handle, {0x4B, 0x04, 0x06, 0x3B, 0x02, 0x06, 0x6B, 0x00, 0x43, 0x4B, 0x01, 0x01}),
      (Bytes{0x20, 0x00}));
  EXPECT_EQ(qzsim::CurrentBench().Controller().CoreTapState().Instruction(), 0x6u);
}

TEST_F(JtagChain, TestLogicResetPutsTheChipLevelTapBack) {
  Transfer(handle, kSelectCoreTap);
  EXPECT_EQ(Transfer(handle, kReadIdcode), (Bytes{0x02, 0x00, 0x1D, 0x60, 0xF4, 0x01}));
  EXPECT_FALSE(qzsim::CurrentBench().Controller().ChipTapState().CoreTapLinked());
}

TEST_F(JtagChain, OnlyTheValue2InTheLinkRegisterHandsOver) {
  simtest::JtagScript script;
  script.Reset().Ir(0x05, 8);
  const int link = script.Dr(0x3, 4);
  const int again = script.Dr(0x0, 4);
  const Bytes reply = Transfer(handle, script.Mpsse());
  EXPECT_EQ(script.Captured(reply, again), 0x3u) << "the link register keeps what was written";
  EXPECT_EQ(script.Captured(reply, link), 0x0u);
  EXPECT_FALSE(qzsim::CurrentBench().Controller().ChipTapState().CoreTapLinked());
}

TEST_F(JtagChain, TdoFloatsHighOutsideTheShiftStates) {
  // Test-Logic-Reset, then three clocks in Run-Test/Idle read back.
  EXPECT_EQ(Transfer(handle, {0x4B, 0x04, 0xFF, 0x6B, 0x02, 0x00}), (Bytes{0xE0}));
}

TEST_F(JtagChain, NoTargetLeavesTdoStuck) {
  for (bool level : {false, true}) {
    qzsim::BenchConfig config;
    config.noTargetTdo = level;
    Configure(config);
    const std::uint8_t all = level ? 0xFF : 0x00;
    const std::uint8_t top = level ? 0x80 : 0x00;
    EXPECT_EQ(Transfer(handle, kReadIdcode),
              (Bytes{static_cast<std::uint8_t>(level ? 0xFE : 0x00), top, all, all, all, all}));
  }
}

}  // namespace
