// The chip-level TAP, first in the chain after Test-Logic-Reset: 8-bit instruction register,
// IDCODE, and the link register that hands the chain over to the core's TAP.
#pragma once

#include <cstdint>

#include "Tap.h"

namespace qzsim {

class ChipTap : public Tap {
 public:
  static constexpr unsigned kIrWidth = 8;
  static constexpr std::uint32_t kIrCapture = 0x01;
  static constexpr std::uint32_t kIdcodeInstruction = 0x02;
  static constexpr std::uint32_t kLinkInstruction = 0x05;
  static constexpr unsigned kLinkWidth = 4;
  static constexpr std::uint32_t kLinkCoreTap = 0x2;

  explicit ChipTap(std::uint32_t idcode);

  // True once 0x2 has been written into the link register, until Test-Logic-Reset.
  bool CoreTapLinked() const { return link_ == kLinkCoreTap; }

 protected:
  ScanRegister CaptureDr() override;
  void UpdateDr(std::uint64_t value) override;
  void ResetLogic() override { link_ = 0; }

 private:
  const std::uint32_t idcode_;
  std::uint32_t link_ = 0;
};

}  // namespace qzsim
