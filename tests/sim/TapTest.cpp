#include <gtest/gtest.h>

#include <optional>
#include <utility>
#include <vector>

#include "Tap.h"
#include "TapController.h"

namespace {

using qzsim::NextTapState;
using qzsim::ScanRegister;
using qzsim::TapState;
using S = TapState;

constexpr S kAllStates[] = {
    S::TestLogicReset, S::RunTestIdle, S::SelectDrScan, S::CaptureDr,    S::ShiftDr,   S::Exit1Dr,
    S::PauseDr,        S::Exit2Dr,     S::UpdateDr,     S::SelectIrScan, S::CaptureIr, S::ShiftIr,
    S::Exit1Ir,        S::PauseIr,     S::Exit2Ir,      S::UpdateIr,
};

void ExpectWalk(S from, const std::vector<std::pair<int, S>>& steps) {
  S state = from;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    state = NextTapState(state, steps[i].first != 0);
    EXPECT_EQ(state, steps[i].second) << "step " << i << " reached " << qzsim::TapStateName(state);
  }
}

TEST(TapController, FiveClocksWithTmsHighResetFromEveryState) {
  for (S start : kAllStates) {
    S state = start;
    for (int i = 0; i < 5; ++i) state = NextTapState(state, true);
    EXPECT_EQ(state, S::TestLogicReset) << "from " << qzsim::TapStateName(start);
  }
  EXPECT_EQ(NextTapState(S::TestLogicReset, false), S::RunTestIdle);
  EXPECT_EQ(NextTapState(S::RunTestIdle, false), S::RunTestIdle);
}

TEST(TapController, InstructionPathWithPause) {
  ExpectWalk(S::RunTestIdle, {{1, S::SelectDrScan},
                              {1, S::SelectIrScan},
                              {0, S::CaptureIr},
                              {0, S::ShiftIr},
                              {0, S::ShiftIr},
                              {1, S::Exit1Ir},
                              {0, S::PauseIr},
                              {0, S::PauseIr},
                              {1, S::Exit2Ir},
                              {0, S::ShiftIr},
                              {1, S::Exit1Ir},
                              {1, S::UpdateIr},
                              {0, S::RunTestIdle}});
  ExpectWalk(
      S::CaptureIr,
      {{1, S::Exit1Ir}, {0, S::PauseIr}, {1, S::Exit2Ir}, {1, S::UpdateIr}, {1, S::SelectDrScan}});
  ExpectWalk(S::SelectIrScan, {{1, S::TestLogicReset}});
}

TEST(TapController, DataPathWithPause) {
  ExpectWalk(S::RunTestIdle, {{1, S::SelectDrScan},
                              {0, S::CaptureDr},
                              {0, S::ShiftDr},
                              {0, S::ShiftDr},
                              {1, S::Exit1Dr},
                              {0, S::PauseDr},
                              {1, S::Exit2Dr},
                              {0, S::ShiftDr},
                              {1, S::Exit1Dr},
                              {1, S::UpdateDr},
                              {1, S::SelectDrScan}});
  ExpectWalk(S::CaptureDr, {{1, S::Exit1Dr}, {1, S::UpdateDr}, {0, S::RunTestIdle}});
  ExpectWalk(S::Exit2Dr, {{1, S::UpdateDr}});
}

// A TAP with a 6-bit instruction register and one 12-bit data register.
class ProbeTap : public qzsim::Tap {
 public:
  ProbeTap() : Tap(6, 0x21, 0x3F) {}
  std::uint64_t capture = 0xABC;
  std::vector<std::uint64_t> updates;
  int resets = 0;

 protected:
  ScanRegister CaptureDr() override { return {capture, 12}; }
  void UpdateDr(std::uint64_t value) override { updates.push_back(value); }
  void ResetLogic() override { ++resets; }
};

// One TCK: the level TDO showed before the rising edge.
std::optional<bool> Clock(ProbeTap& tap, int tms, int tdi, bool linked = true) {
  const auto tdo = tap.Tdo();
  tap.Rise(tms != 0, tdi != 0, linked);
  tap.Fall(linked);
  return tdo;
}

// Shifts `width` bits with TMS low but on the last; returns what TDO gave.
std::uint64_t ShiftBits(ProbeTap& tap, std::uint64_t in, unsigned width) {
  std::uint64_t out = 0;
  for (unsigned bit = 0; bit < width; ++bit) {
    const auto tdo = Clock(tap, bit + 1 == width, (in >> bit) & 1);
    EXPECT_TRUE(tdo.has_value());
    if (tdo.value_or(false)) out |= 1ull << bit;
  }
  return out;
}

TEST(Tap, InstructionScanCapturesShiftsAndUpdates) {
  ProbeTap tap;
  EXPECT_EQ(tap.Instruction(), 0x3Fu);
  for (int tms : {0, 1, 1, 0, 0}) Clock(tap, tms, 0);
  ASSERT_EQ(tap.State(), S::ShiftIr);
  EXPECT_EQ(ShiftBits(tap, 0x15, 6), 0x21u);
  EXPECT_EQ(tap.State(), S::Exit1Ir);
  EXPECT_EQ(tap.Instruction(), 0x3Fu) << "the instruction changes only at Update-IR";
  Clock(tap, 1, 0);
  EXPECT_EQ(tap.Instruction(), 0x15u);
  EXPECT_FALSE(tap.Tdo().has_value()) << "TDO is driven only in the Shift states";
}

TEST(Tap, DataScanThroughPauseDeliversExactlyTheShiftedBits) {
  ProbeTap tap;
  for (int tms : {0, 1, 0, 0}) Clock(tap, tms, 0);
  ASSERT_EQ(tap.State(), S::ShiftDr);
  // Five bits, pause, seven more.
  std::uint64_t out = ShiftBits(tap, 0x1B, 5);  // ends in Exit1-DR
  Clock(tap, 0, 0);                             // Pause-DR
  Clock(tap, 1, 0);                             // Exit2-DR
  Clock(tap, 0, 0);                             // Shift-DR
  out |= ShiftBits(tap, 0x5F, 7) << 5;
  EXPECT_EQ(out, 0xABCu);
  EXPECT_TRUE(tap.updates.empty());
  Clock(tap, 1, 0);
  ASSERT_EQ(tap.updates.size(), 1u);
  EXPECT_EQ(tap.updates[0], 0x5Fu << 5 | 0x1B);
}

TEST(Tap, UnlinkedTapFollowsTmsButNeitherShiftsNorUpdates) {
  ProbeTap tap;
  for (int tms : {0, 1, 0, 0}) EXPECT_FALSE(Clock(tap, tms, 1, false).has_value());
  EXPECT_EQ(tap.State(), S::ShiftDr);
  for (int i = 0; i < 12; ++i) EXPECT_FALSE(Clock(tap, i == 11, 1, false).has_value());
  Clock(tap, 1, 0, false);
  EXPECT_TRUE(tap.updates.empty());
  for (int i = 0; i < 5; ++i) Clock(tap, 1, 0, false);
  EXPECT_EQ(tap.State(), S::TestLogicReset);
  EXPECT_GT(tap.resets, 0) << "Test-Logic-Reset reaches every TAP";
}

TEST(Tap, TestLogicResetRestoresTheResetInstruction) {
  ProbeTap tap;
  for (int tms : {0, 1, 1, 0, 0}) Clock(tap, tms, 0);
  ShiftBits(tap, 0x02, 6);
  Clock(tap, 1, 0);
  ASSERT_EQ(tap.Instruction(), 0x02u);
  for (int i = 0; i < 5; ++i) Clock(tap, 1, 0);
  EXPECT_EQ(tap.Instruction(), 0x3Fu);
}

}  // namespace
