#include "ChipTap.h"

namespace qzsim {

ChipTap::ChipTap(std::uint32_t idcode)
    : Tap(kIrWidth, kIrCapture, kIdcodeInstruction), idcode_(idcode) {}

ScanRegister ChipTap::CaptureDr() {
  switch (Instruction()) {
    case kIdcodeInstruction: return {idcode_, 32};
    case kLinkInstruction: return {link_, kLinkWidth};
    default: return {0, 1};  // bypass
  }
}

void ChipTap::UpdateDr(std::uint64_t value) {
  if (Instruction() == kLinkInstruction) link_ = static_cast<std::uint32_t>(value);
}

}  // namespace qzsim
