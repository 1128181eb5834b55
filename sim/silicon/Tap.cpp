#include "Tap.h"

namespace qzsim {

Tap::Tap(unsigned irWidth, std::uint32_t irCapture, std::uint32_t resetInstruction)
    : irWidth_(irWidth),
      irCapture_(irCapture),
      resetInstruction_(resetInstruction),
      instruction_(resetInstruction) {}

void Tap::Shift(std::uint64_t& reg, unsigned width, bool tdi) {
  reg = (reg >> 1) | (static_cast<std::uint64_t>(tdi) << (width - 1));
}

void Tap::Rise(bool tms, bool tdi, bool linked) {
  if (linked) {
    switch (state_) {
      case TapState::CaptureIr: irShift_ = irCapture_; break;
      case TapState::ShiftIr: Shift(irShift_, irWidth_, tdi); break;
      case TapState::CaptureDr: {
        const ScanRegister reg = CaptureDr();
        drShift_ = reg.value;
        drWidth_ = reg.width;
        break;
      }
      case TapState::ShiftDr: Shift(drShift_, drWidth_, tdi); break;
      default: break;
    }
  }
  state_ = NextTapState(state_, tms);
}

void Tap::Fall(bool linked) {
  // Test-Logic-Reset is reached through TMS alone, which every TAP sees, linked or not.
  if (state_ == TapState::TestLogicReset) {
    instruction_ = resetInstruction_;
    ResetLogic();
  }
  if (!linked) {
    tdo_.reset();
    return;
  }
  switch (state_) {
    case TapState::UpdateIr:
      instruction_ = static_cast<std::uint32_t>(irShift_ & ((1u << irWidth_) - 1));
      UpdateIr();
      break;
    case TapState::UpdateDr: {
      const std::uint64_t mask = drWidth_ >= 64 ? ~0ull : (1ull << drWidth_) - 1;
      lastUpdate_ = drShift_ & mask;
      UpdateDr(lastUpdate_);
      break;
    }
    default: break;
  }
  if (state_ == TapState::ShiftIr) {
    tdo_ = (irShift_ & 1) != 0;
  } else if (state_ == TapState::ShiftDr) {
    tdo_ = (drShift_ & 1) != 0;
  } else {
    tdo_.reset();
  }
}

}  // namespace qzsim
