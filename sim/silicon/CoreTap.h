// The core's TAP, in the chain once the chip-level TAP's link register says so: 4-bit
// instruction register, the path to the debug port, and the debug request.
#pragma once

#include <cstdint>

#include "Core.h"
#include "EOnce.h"
#include "Tap.h"

namespace qzsim {

class CoreTap : public Tap {
 public:
  static constexpr unsigned kIrWidth = 4;
  static constexpr std::uint32_t kIrCapture = 0x1;
  static constexpr std::uint32_t kEOnceInstruction = 0x6;
  static constexpr std::uint32_t kDebugRequestInstruction = 0x7;
  static constexpr std::uint32_t kBypassInstruction = 0xF;

  CoreTap(EOnce& eonce, Core& core);

 protected:
  ScanRegister CaptureDr() override;
  void UpdateDr(std::uint64_t value) override;
  void UpdateIr() override;
  void ResetLogic() override { eonce_.RestartScans(); }

 private:
  EOnce& eonce_;
  Core& core_;
};

}  // namespace qzsim
