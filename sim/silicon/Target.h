// The controller as seen from its JTAG connector: the chain of the chip-level TAP and the
// core's TAP, the reset line, and behind them the debug port, the core, its memories and the
// flash module.
#pragma once

#include <cstdint>

#include "Bus.h"
#include "ChipTap.h"
#include "Core.h"
#include "CoreTap.h"
#include "EOnce.h"
#include "FlashModule.h"
#include "JtagPins.h"
#include "MemoryMap.h"
#include "Warnings.h"

namespace qzsim {

struct TargetConfig {
  std::uint32_t idcode = kIdcodeVariant1;
  int variant = 1;  // memory map, 1 or 2
  FlashFaults flashFaults;
};

class Target : public JtagPins {
 public:
  Target(const TargetConfig& config, Warnings& warnings);

  void SetResetLine(bool high) override;
  void ClockRise(bool tms, bool tdi) override;
  void ClockFall() override;
  // Pulled high when no TAP drives it.
  bool Tdo() const override;

  // Lets the flash module's commands run up to this time of the virtual clock.
  void AdvanceTo(std::uint64_t nowMicros) override { flash_.AdvanceTo(nowMicros); }

  FlashModule& Flash() { return flash_; }
  const Core& CoreState() const { return core_; }
  const ChipTap& ChipTapState() const { return chipTap_; }
  const CoreTap& CoreTapState() const { return coreTap_; }
  bool InReset() const { return inReset_; }

 private:
  FlashModule flash_;
  Bus bus_;
  Core core_;
  EOnce eonce_;
  ChipTap chipTap_;
  CoreTap coreTap_;
  bool inReset_ = false;
};

}  // namespace qzsim
