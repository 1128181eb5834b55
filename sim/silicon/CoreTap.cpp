#include "CoreTap.h"

namespace qzsim {

CoreTap::CoreTap(EOnce& eonce, Core& core)
    : Tap(kIrWidth, kIrCapture, kBypassInstruction), eonce_(eonce), core_(core) {}

ScanRegister CoreTap::CaptureDr() {
  if (Instruction() == kEOnceInstruction) return eonce_.Capture();
  return {0, 1};  // bypass
}

void CoreTap::UpdateDr(std::uint64_t value) {
  if (Instruction() == kEOnceInstruction) eonce_.Update(value);
}

void CoreTap::UpdateIr() {
  if (Instruction() == kDebugRequestInstruction) core_.RequestDebug();
}

}  // namespace qzsim
