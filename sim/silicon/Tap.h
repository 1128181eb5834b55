// One TAP: the controller, an instruction register and the data register the instruction
// selects, with the edges of the standard: capture and shift on the rising edge of TCK,
// update and the TDO change on the falling edge.
#pragma once

#include <cstdint>
#include <optional>

#include "TapController.h"

namespace qzsim {

// A data register as it enters the shift path at Capture-DR.
struct ScanRegister {
  std::uint64_t value;
  unsigned width;  // 1..64
};

class Tap {
 public:
  Tap(unsigned irWidth, std::uint32_t irCapture, std::uint32_t resetInstruction);
  virtual ~Tap() = default;
  Tap(const Tap&) = delete;
  Tap& operator=(const Tap&) = delete;

  // Every TAP sees TCK and TMS; only the one in the chain (`linked`) has its shift path
  // between TDI and TDO and acts on capture, shift and update.
  void Rise(bool tms, bool tdi, bool linked);
  void Fall(bool linked);

  // The level driven on TDO since the last falling edge; none outside the Shift states.
  std::optional<bool> Tdo() const { return tdo_; }
  TapState State() const { return state_; }
  std::uint32_t Instruction() const { return instruction_; }
  // The bits the last Update-DR took.
  std::uint64_t LastUpdate() const { return lastUpdate_; }

 protected:
  virtual ScanRegister CaptureDr() = 0;
  virtual void UpdateDr(std::uint64_t value) = 0;
  virtual void UpdateIr() {}
  virtual void ResetLogic() {}

 private:
  static void Shift(std::uint64_t& reg, unsigned width, bool tdi);

  const unsigned irWidth_;
  const std::uint32_t irCapture_;
  const std::uint32_t resetInstruction_;
  TapState state_ = TapState::TestLogicReset;
  std::uint32_t instruction_;
  std::uint64_t irShift_ = 0;
  std::uint64_t drShift_ = 0;
  unsigned drWidth_ = 1;
  std::uint64_t lastUpdate_ = 0;
  std::optional<bool> tdo_;
};

}  // namespace qzsim
