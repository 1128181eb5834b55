// The core's view of its two memory spaces: X RAM, the flash arrays, and the flash module's
// registers among the X-memory peripherals.
#pragma once

#include <cstdint>
#include <vector>

#include "FlashModule.h"
#include "MemoryMap.h"
#include "Warnings.h"

namespace qzsim {

class Bus {
 public:
  Bus(const MemoryMap& map, FlashModule& flash, Warnings& warnings);

  // Unmapped words read 0.
  std::uint16_t Read(Space space, std::uint32_t address) const;
  // A store to flash is an array write to the flash module; unmapped stores are dropped.
  void Write(Space space, std::uint32_t address, std::uint16_t value);

 private:
  static bool InRegisterBlock(Space space, std::uint32_t address);

  FlashModule& flash_;
  Warnings& warnings_;
  std::vector<std::uint16_t> xRam_;
};

}  // namespace qzsim
