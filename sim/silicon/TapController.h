// The sixteen-state IEEE 1149.1 TAP controller: the state a TMS level on a rising TCK edge
// leads to.
#pragma once

#include <cstdint>

namespace qzsim {

enum class TapState : std::uint8_t {
  TestLogicReset,
  RunTestIdle,
  SelectDrScan,
  CaptureDr,
  ShiftDr,
  Exit1Dr,
  PauseDr,
  Exit2Dr,
  UpdateDr,
  SelectIrScan,
  CaptureIr,
  ShiftIr,
  Exit1Ir,
  PauseIr,
  Exit2Ir,
  UpdateIr,
};

constexpr TapState NextTapState(TapState state, bool tms) {
  using S = TapState;
  switch (state) {
    case S::TestLogicReset: return tms ? S::TestLogicReset : S::RunTestIdle;
    case S::RunTestIdle: return tms ? S::SelectDrScan : S::RunTestIdle;
    case S::SelectDrScan: return tms ? S::SelectIrScan : S::CaptureDr;
    case S::CaptureDr: return tms ? S::Exit1Dr : S::ShiftDr;
    case S::ShiftDr: return tms ? S::Exit1Dr : S::ShiftDr;
    case S::Exit1Dr: return tms ? S::UpdateDr : S::PauseDr;
    case S::PauseDr: return tms ? S::Exit2Dr : S::PauseDr;
    case S::Exit2Dr: return tms ? S::UpdateDr : S::ShiftDr;
    case S::UpdateDr: return tms ? S::SelectDrScan : S::RunTestIdle;
    case S::SelectIrScan: return tms ? S::TestLogicReset : S::CaptureIr;
    case S::CaptureIr: return tms ? S::Exit1Ir : S::ShiftIr;
    case S::ShiftIr: return tms ? S::Exit1Ir : S::ShiftIr;
    case S::Exit1Ir: return tms ? S::UpdateIr : S::PauseIr;
    case S::PauseIr: return tms ? S::Exit2Ir : S::PauseIr;
    case S::Exit2Ir: return tms ? S::UpdateIr : S::ShiftIr;
    case S::UpdateIr: return tms ? S::SelectDrScan : S::RunTestIdle;
  }
  return S::TestLogicReset;
}

const char* TapStateName(TapState state);

}  // namespace qzsim
