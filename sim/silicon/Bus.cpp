#include "Bus.h"

namespace qzsim {

Bus::Bus(const MemoryMap& map, FlashModule& flash, Warnings& warnings)
    : flash_(flash), warnings_(warnings), xRam_(map.xRamWords, 0) {}

bool Bus::InRegisterBlock(Space space, std::uint32_t address) {
  return space == Space::X && address >= FlashModule::kFirstRegister &&
         address <= FlashModule::kLastRegister;
}

std::uint16_t Bus::Read(Space space, std::uint32_t address) const {
  if (space == Space::X && address < xRam_.size()) return xRam_[address];
  if (flash_.BlockAt(space, address)) return flash_.ReadArray(space, address);
  if (InRegisterBlock(space, address)) return flash_.ReadRegister(address).value_or(0);
  return 0;
}

void Bus::Write(Space space, std::uint32_t address, std::uint16_t value) {
  if (space == Space::X && address < xRam_.size()) {
    xRam_[address] = value;
  } else if (flash_.BlockAt(space, address)) {
    flash_.WriteArray(space, address, value);
  } else if (!InRegisterBlock(space, address) || !flash_.WriteRegister(address, value)) {
    warnings_.Count(Warning::UnmappedStore);
  }
}

}  // namespace qzsim
