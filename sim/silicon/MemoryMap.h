// Where the two target variants put their memories. Addresses are word addresses.
#pragma once

#include <cstdint>
#include <span>

namespace qzsim {

enum class Space : std::uint8_t { P, X };

enum class FlashKind : std::uint8_t { Program, Boot, Data };

struct FlashBlock {
  Space space;
  std::uint32_t first;
  std::uint32_t words;
  FlashKind kind;

  bool Holds(Space s, std::uint32_t address) const {
    return s == space && address >= first && address - first < words;
  }
  // The FMCR bank whose commands reach this block.
  int Bank() const { return kind == FlashKind::Data ? 1 : 0; }
};

struct MemoryMap {
  std::span<const FlashBlock> flash;
  std::uint32_t xRamWords;  // X RAM from X:0x0000
};

inline constexpr std::uint32_t kIdcodeVariant1 = 0x01F4601D;
inline constexpr std::uint32_t kIdcodeVariant2 = 0x01F4001D;

// variant is 1 or 2.
const MemoryMap& MemoryMapOf(int variant);

}  // namespace qzsim
